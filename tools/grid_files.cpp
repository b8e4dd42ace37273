// The maps of --grids: what each holds, its values read column by column,
// and the files written side by side; the heatmaps of --heatmaps likewise.
#include "tools/grid_files.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include <nlohmann/json.hpp>

#include "front_end/baseline.h"
#include "front_end/npy_file.h"
#include "tools/estimate.h"
#include "tools/heatmap.h"
#include "front_end/output_file.h"
#include "front_end/progress.h"
#include "tools/report.h"

namespace {

// Tile columns read and written at once.
constexpr int COLUMNS_PER_WRITE = 64;
constexpr int JSON_INDENT = 2;
// Raised whenever a field of grids.json or a map changes its meaning.
constexpr int GRIDS_FORMAT_VERSION = 1;

using TYPE = CONGESTION::RESOURCE_TYPE;

struct TILE_GRID {
    std::string name;  // the file's stem
    std::string description;
    TILE_COLUMNS read_columns;
};

std::string get_lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// A map of per-tile values of the estimator.
template <typename GET>
TILE_GRID get_estimator_grid(const std::string& name, const std::string& description, int ny, const GET& get)
{
    return {name, description,
            [ny, get](int first_x, int end_x, float* out) { fill_tile_columns(ny, first_x, end_x, out, get); }};
}

// A map of values held row by row (index y * nx + x) by `owner` or by
// something that outlives the map.
template <typename VALUES>
TILE_GRID get_held_grid(const std::string& name, const std::string& description, int nx, int ny, const VALUES* values,
                        std::shared_ptr<const void> owner = nullptr)
{
    return {name, description, [nx, ny, values, owner](int first_x, int end_x, float* out) {
                fill_tile_columns(ny, first_x, end_x, out,
                                  [&](int x, int y) { return (*values)[static_cast<std::size_t>(y) * nx + x]; });
            }};
}

std::vector<TILE_GRID> get_grids(const ESTIMATE_RUN& run)
{
    const CONGESTION& estimator = run.get_estimator();
    const DESIGN& design = run.get_design();
    const int nx = design.nx;
    const int ny = design.ny;
    std::vector<TILE_GRID> grids;
    for (int t = 0; t < CONGESTION::NUM_RESOURCE_TYPES; ++t) {
        const auto type = static_cast<TYPE>(t);
        const std::string word = get_lower(get_type_word(type));
        const CONGESTION* e = &estimator;
        grids.push_back(get_estimator_grid("supply_" + word, "supply", ny,
                                           [e, type](int x, int y) { return e->get_supply(x, y, type); }));
        grids.push_back(get_estimator_grid("demand_" + word, "demand before smoothing", ny,
                                           [e, type](int x, int y) { return e->get_demand(x, y, type); }));
        grids.push_back(get_estimator_grid("smooth_demand_" + word, "smoothed demand", ny,
                                           [e, type](int x, int y) { return e->get_smooth_demand(x, y, type); }));
        grids.push_back(get_estimator_grid("utilization_" + word,
                                           "demand before smoothing over supply, 0 without supply", ny,
                                           [e, type](int x, int y) { return e->get_util(x, y, type); }));
        grids.push_back(
            {"smoothed_utilization_" + word, "smoothed demand over supply, NaN without supply (the heatmaps' values)",
             [&run, type](int first_x, int end_x, float* out) { run.read_utilization({type}, first_x, end_x, out); }});
        grids.push_back(
            get_estimator_grid("overflow_" + word, "smoothed demand minus supply, not below 0", ny,
                               [e, type](int x, int y) { return e->get_apl_style_congestion(x, y, type); }));
    }
    if (design.has_routed) {
        const std::vector<const char*> columns = get_routed_column_names(design.form);
        for (std::size_t column = 0; column < columns.size(); ++column)
            grids.push_back(get_held_grid(std::string("routed_") + columns[column],
                                          std::string("routed usage, column ") + columns[column] + " of routed.txt", nx,
                                          ny, &design.routed[column]));
    }
    const auto baseline = std::make_shared<const BASELINE>(compute_baseline(design, run.get_nets()));
    grids.push_back(get_held_grid("baseline_horizontal", "the baseline's horizontal wire demand", nx, ny,
                                  &baseline->horizontal, baseline));
    grids.push_back(get_held_grid("baseline_vertical", "the baseline's vertical wire demand", nx, ny,
                                  &baseline->vertical, baseline));
    grids.push_back(get_held_grid("baseline_lab_input", "the baseline's Lab Input demand: pins of the estimated nets",
                                  nx, ny, &baseline->pins, baseline));
    return grids;
}

// Writes the values, float32 little-endian, after the header.
void write_npy(const std::string& path, int nx, int ny, const TILE_GRID& grid)
{
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!file)
        throw OUTPUT_ERROR(std::strerror(errno));
    const std::string header = get_npy_header(nx, ny);
    std::fwrite(header.data(), 1, header.size(), file.get());
    std::vector<float> values;
    std::vector<unsigned char> bytes;
    for (int first_x = 0; first_x < nx; first_x += COLUMNS_PER_WRITE) {
        const int end_x = std::min(nx, first_x + COLUMNS_PER_WRITE);
        values.resize(static_cast<std::size_t>(end_x - first_x) * ny);
        grid.read_columns(first_x, end_x, values.data());
        bytes.resize(values.size() * sizeof(float));
        for (std::size_t i = 0; i < values.size(); ++i) {
            std::uint32_t bits = 0;
            std::memcpy(&bits, &values[i], sizeof bits);
            for (std::size_t byte = 0; byte < sizeof bits; ++byte)
                bytes[i * sizeof bits + byte] = static_cast<unsigned char>(bits >> (8 * byte));
        }
        std::fwrite(bytes.data(), 1, bytes.size(), file.get());
    }
    const bool written = std::ferror(file.get()) == 0;
    if (std::fclose(file.release()) != 0 || !written)
        throw OUTPUT_ERROR(std::strerror(errno));
}

}  // namespace

void stage_grids(OUTPUT_SET& outputs, const std::string& dir, const ESTIMATE_RUN& run, PROGRESS* progress)
{
    const DESIGN& design = run.get_design();
    const std::vector<TILE_GRID> grids = get_grids(run);
    if (progress != nullptr)
        progress->begin("grids", static_cast<int>(grids.size()));
    outputs.create_folder(dir);
    const std::string label = "the grids in " + dir;
    std::vector<std::string> paths;
    nlohmann::json index = {
        {"format_version", GRIDS_FORMAT_VERSION}, {"design", design.name}, {"nx", design.nx}, {"ny", design.ny}};
    nlohmann::json entries = nlohmann::json::array();
    for (const TILE_GRID& grid : grids) {
        const std::string file = grid.name + ".npy";
        paths.push_back((std::filesystem::path(dir) / file).string());
        entries.push_back({{"name", grid.name},
                           {"file", file},
                           {"dtype", "float32"},
                           {"shape", {design.nx, design.ny}},
                           {"axes", {"x", "y"}},
                           {"description", grid.description}});
    }
    index["grids"] = entries;
    outputs.stage_each(paths, label, [&](std::size_t i, const std::string& file) {
        write_npy(file, design.nx, design.ny, grids[i]);
        if (progress != nullptr)
            progress->add_step();
    });
    outputs.stage_text((std::filesystem::path(dir) / GRIDS_INDEX).string(), label, index.dump(JSON_INDENT) + "\n");
}

void stage_heatmaps(OUTPUT_SET& outputs, const std::string& dir, const ESTIMATE_RUN& run, HEATMAP_SCALE scale,
                    PROGRESS* progress)
{
    outputs.create_folder(dir);
    std::vector<std::string> paths;
    for (const std::string& stem : run.get_heatmap_stems())
        paths.push_back((std::filesystem::path(dir) / (stem + ".png")).string());
    const REPORT& report = run.get_report();
    if (progress != nullptr)
        progress->begin("heatmaps", static_cast<int>(paths.size()));
    outputs.stage_each(paths, "the heatmaps in " + dir, [&](std::size_t i, const std::string& file) {
        write_heatmap_png(file, report.nx, report.ny, run.get_heatmap(static_cast<int>(i)), scale);
        if (progress != nullptr)
            progress->add_step();
    });
}
