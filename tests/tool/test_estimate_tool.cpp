// End-to-end runs of congestion-estimate on the bundled design: outputs,
// agreement with an estimate made in this process, heatmaps, bad input, and
// what the tool writes where a path already holds something (a symbolic link,
// a FIFO, its own standard output, a full device, a folder in the way).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <set>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <tbb/global_control.h>
#include <tbb/task_arena.h>

#include "front_end/baseline.h"
#include "front_end/design_reader.h"
#include "front_end/npy_file.h"
#include "tool_test_support.h"
#include "tools/estimate.h"
#include "tools/heatmap.h"
#include "front_end/progress.h"
#include "tools/report.h"

namespace {

namespace fs = std::filesystem;

constexpr int EXIT_OUTPUT_FAILED = 1;
constexpr int EXIT_BAD_INPUT = 2;
constexpr int EXIT_UNROUTABLE = 3;
constexpr const char* PNG_SIGNATURE = "\x89PNG\r\n\x1a\n";
constexpr const char* HEATMAP_STEMS[] = {"horizontal_left", "horizontal_right", "vertical_up", "vertical_down",
                                         "horizontal",      "vertical",         "lab_input"};
constexpr int MANY_THREADS = 4096;

PROGRAM_RESULT run_tool(const std::vector<std::string>& args, const fs::path& dir, const std::string& stdout_path = "")
{
    return run_program(ESTIMATE_TOOL, args, dir, stdout_path);
}

bool starts_with(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The cells of a table's line: the text between runs of two spaces or more.
std::vector<std::string> split_cells(const std::string& line)
{
    std::vector<std::string> cells;
    for (size_t at = line.find_first_not_of(' '); at != std::string::npos;) {
        size_t end = line.find("  ", at);
        cells.push_back(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
        at = end == std::string::npos ? end : line.find_first_not_of(' ', end);
    }
    return cells;
}

// The line of `text` that starts with `start`, "" when there is none.
std::string find_line(const std::string& text, const std::string& start)
{
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (starts_with(line, start))
            return line;
    return "";
}

// Whether `text` is a time as the progress lines give it: "12.3 s".
bool is_seconds(const std::string& text)
{
    const size_t point = text.find('.');
    return point != std::string::npos && point > 0 && text.size() == point + 4 &&
           text.compare(point + 2, 2, " s") == 0 &&
           std::all_of(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(point), ::isdigit) &&
           std::isdigit(static_cast<unsigned char>(text[point + 1])) != 0;
}

// The cookie of a JSON report, "" when the text is not one.
std::string get_cookie(const std::string& text)
{
    const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    return json.is_object() ? json.value("cookie", "") : "";
}

// One run of the tool with every output and one estimate with the default
// options made here, under a thread limit above the machine's cores, made
// once for the tests that read them.
struct SAMPLE_RUN {
    SCRATCH_DIR dir;
    PROGRAM_RESULT result;
    nlohmann::json json;
    DESIGN design = read_design(SAMPLE_DESIGN);
    ESTIMATE_RUN run{design, ESTIMATE_OPTIONS(), 0.0};

    SAMPLE_RUN()
    {
        const fs::path path = dir.get_path();
        result = run_tool({SAMPLE_DESIGN, "--json", (path / "report.json").string(), "--heatmaps",
                           (path / "heatmaps").string(), "--grids", (path / "grids").string(), "--dump",
                           (path / "grids.txt").string(), "--dump-netlist", (path / "nets.txt").string()},
                          path);
        json = nlohmann::json::parse(read_text(path / "report.json"), nullptr, false);
        const tbb::global_control limit(tbb::global_control::max_allowed_parallelism, MANY_THREADS);
        run.run();
    }
};

const SAMPLE_RUN& sample()
{
    static const SAMPLE_RUN run;
    return run;
}

// The run succeeds and writes every output completely. The JSON's figures
// are the library's answers to its queries on the same estimate; the text
// report holds them, and both the cookie of the tool's own estimator.
TEST(SampleRun, WritesEveryOutputAndTheReportsHoldTheLibrarysFiguresAndTheCookie)
{
    const SAMPLE_RUN& s = sample();
    ASSERT_EQ(s.result.exit_code, 0) << s.result.err;
    EXPECT_EQ(s.result.err, "");
    ASSERT_FALSE(s.json.is_discarded());
    const fs::path dir = s.dir.get_path();
    for (const char* stem : HEATMAP_STEMS)
        EXPECT_TRUE(starts_with(read_text(dir / "heatmaps" / (std::string(stem) + ".png")), PNG_SIGNATURE)) << stem;
    EXPECT_TRUE(starts_with(read_text(dir / "grids.txt"), "TOTAL UTILIZATION VALUES for H and V\n"));
    const CONGESTION& estimator = s.run.get_estimator();
    const ESTIMATE_OPTIONS options;
    const std::string& text = s.result.out;
    EXPECT_TRUE(starts_with(text, "design picorv32_ex, grid 34 x 34 tiles\n"));
    // Lab Input demand is one per load pin; the defaults estimate without the routing result.
    EXPECT_EQ(s.json["nets"]["load_pins"].get<float>(), estimator.get_total_demand(CONGESTION::LAB_INPUT));
    EXPECT_NE(text.find(", wire length hpwl, peak window 1,"), std::string::npos);
    ASSERT_EQ(s.json["resources"].size(), static_cast<size_t>(CONGESTION::NUM_RESOURCE_TYPES));
    for (int t = 0; t < CONGESTION::NUM_RESOURCE_TYPES; ++t) {
        const nlohmann::json& resource = s.json["resources"][t];
        const auto type = static_cast<CONGESTION::RESOURCE_TYPE>(t);
        EXPECT_EQ(resource["name"], CONGESTION::get_string_for_resource_type(type));
        EXPECT_EQ(resource["total_demand"].get<float>(), estimator.get_total_demand(type));
        EXPECT_EQ(resource["total_overflow"].get<float>(), estimator.get_total_apl_style_congestion(type));
        const auto [peak, tile] = estimator.get_peak_utilization(options.peak_dim, type, false);
        EXPECT_EQ(resource["peak_utilization"].get<float>(), peak);
        EXPECT_EQ(resource["peak_tile"], (std::vector<int>{tile.x, tile.y}));
        // Each resource's line: its total demand with 6 significant digits.
        const std::vector<std::string> cells = split_cells(find_line(text, resource["name"].get<std::string>()));
        char demand[32];
        std::snprintf(demand, sizeof demand, "%.6g", resource["total_demand"].get<double>());
        ASSERT_GE(cells.size(), 2u) << resource["name"];
        EXPECT_EQ(cells[1], demand);
    }
    EXPECT_EQ(s.json["avg_chip_utilization"]["above_0"].get<float>(), estimator.get_avg_chip_utilization(0.0f));
    EXPECT_EQ(s.json["avg_chip_utilization"]["above_1"].get<float>(), estimator.get_avg_chip_utilization(1.0f));
    const nlohmann::json& ace = s.json["routability"]["ace"];
    ASSERT_EQ(ace.size(), ACE_PERCENTS.size());
    for (std::size_t i = 0; i < ACE_PERCENTS.size(); ++i) {
        EXPECT_EQ(ace[i]["percent"].get<double>(), ACE_PERCENTS[i]);
        EXPECT_EQ(ace[i]["value"].get<double>(), s.run.get_report().ace[i]);
    }
    EXPECT_EQ(s.json["routability"]["tiles_over_100_percent"], s.run.get_report().tiles_over_capacity);
    EXPECT_TRUE(s.json["format_version"].is_number_integer());
    char hex[sizeof "0123456789abcdef"];
    std::snprintf(hex, sizeof hex, "%016llx", s.run.get_estimator().get_cookie());
    EXPECT_EQ(s.json["cookie"], hex);
    EXPECT_NE(text.find(std::string("\nestimator cookie: ") + hex + "\n"), std::string::npos);
    // The netlist dump starts with the number of nets handed to it.
    const std::vector<std::string> nets = read_lines(dir / "nets.txt");
    ASSERT_EQ(nets.size(), s.json["nets"]["estimated"].get<size_t>() + 1);
    EXPECT_EQ(nets[0], std::to_string(nets.size() - 1));
}

// A panel's values, index y * nx + x.
std::vector<float> read_panel(const HEATMAP_PANEL& panel, int nx, int ny)
{
    std::vector<float> columns(static_cast<size_t>(nx) * ny);
    panel.read_columns(0, nx, columns.data());
    std::vector<float> values(columns.size());
    for (int x = 0; x < nx; ++x)
        for (int y = 0; y < ny; ++y)
            values[static_cast<size_t>(y) * nx + x] = columns[static_cast<size_t>(x) * ny + y];
    return values;
}

// The percentile rank of values[i] among `values`, counted: the share of the
// others below it, ties counted half.
double count_percentile(const std::vector<double>& values, size_t i)
{
    double below = 0.0;
    for (size_t j = 0; j < values.size(); ++j)
        below += j == i ? 0.0 : values[j] < values[i] ? 1.0 : values[j] == values[i] ? 0.5 : 0.0;
    return below / static_cast<double>(values.size() - 1);
}

// The smoothed peaks are the largest values of the single-type heatmaps; the
// routed panel of a heatmap is routed usage over the map's supply; the rank
// panel is the estimate's percentile rank minus routed usage's among the
// tiles with supply; the threads are those that could run.
TEST(SampleRun, HeatmapsShowTheSmoothedPeaksRoutedUsageAndRankDifferences)
{
    const SAMPLE_RUN& s = sample();
    const REPORT& report = s.run.get_report();
    const DESIGN& design = s.design;
    const CONGESTION& estimator = s.run.get_estimator();
    EXPECT_EQ(report.threads, tbb::this_task_arena::max_concurrency());
    const std::vector<std::string> stems = s.run.get_heatmap_stems();
    ASSERT_EQ(stems, std::vector<std::string>(std::begin(HEATMAP_STEMS), std::end(HEATMAP_STEMS)));
    for (const TYPE_FIGURES& figures : report.types) {
        const int map = figures.type == CONGESTION::LAB_INPUT ? 6 : figures.type;
        const std::vector<float> values = read_panel(s.run.get_heatmap(map).panels[0], design.nx, design.ny);
        float largest = 0.0f;
        for (float value : values)
            largest = std::isnan(value) ? largest : std::max(largest, value);
        EXPECT_EQ(figures.smoothed_peak_utilization, largest) << stems[map];
        const CONGESTION::LOC tile = figures.smoothed_peak_tile;
        EXPECT_EQ(values[design.get_tile_index(tile.x, tile.y)], largest) << stems[map];
    }

    const HEATMAP horizontal = s.run.get_heatmap(4);
    ASSERT_EQ(horizontal.panels.size(), 3u);
    EXPECT_EQ(horizontal.panels[2].kind, PANEL_KIND::RANK_DIFFERENCE);
    const std::vector<float> routed = read_panel(horizontal.panels[1], design.nx, design.ny);
    const std::vector<float> difference = read_panel(horizontal.panels[2], design.nx, design.ny);
    std::vector<size_t> tiles;
    std::vector<double> estimate_demand, routed_usage;
    for (size_t tile = 0; tile < design.get_num_tiles(); ++tile) {
        const int x = static_cast<int>(tile % design.nx), y = static_cast<int>(tile / design.nx);
        const float supply = estimator.get_supply(x, y, CONGESTION::HORIZONTAL_LEFT) +
                             estimator.get_supply(x, y, CONGESTION::HORIZONTAL_RIGHT);
        if (supply > 0.0f) {
            EXPECT_EQ(routed[tile], static_cast<float>(design.routed[ROUTED_H_ALL][tile]) / supply) << x << "," << y;
            tiles.push_back(tile);
            estimate_demand.push_back(0.0 + estimator.get_smooth_demand(x, y, CONGESTION::HORIZONTAL_LEFT) +
                                      estimator.get_smooth_demand(x, y, CONGESTION::HORIZONTAL_RIGHT));
            routed_usage.push_back(design.routed[ROUTED_H_ALL][tile]);
        } else {
            EXPECT_TRUE(std::isnan(routed[tile]) && std::isnan(difference[tile])) << x << "," << y;
        }
    }
    ASSERT_GT(tiles.size(), 100u);
    for (size_t i = 0; i < tiles.size(); ++i)
        EXPECT_NEAR(difference[tiles[i]], count_percentile(estimate_demand, i) - count_percentile(routed_usage, i),
                    1e-6)
            << tiles[i];
}

// Writes `folder`'s tiles.txt again with every wire supply 0 (the columns
// after the kind but the last, lab_in), and removes routed.txt, whose usage
// could not exceed that supply.
void remove_wire_supply(const fs::path& folder)
{
    fs::remove(folder / "routed.txt");
    std::vector<std::string> tiles = read_lines(folder / "tiles.txt");
    for (std::size_t i = 2; i < tiles.size(); ++i) {
        std::istringstream fields(tiles[i]);
        std::vector<std::string> cells{std::istream_iterator<std::string>(fields), {}};
        tiles[i].clear();
        for (std::size_t c = 0; c < cells.size(); ++c)
            tiles[i] += (c == 0 ? "" : " ") + (c > 2 && c + 1 < cells.size() ? std::string("0") : cells[c]);
    }
    write_lines(folder / "tiles.txt", tiles);
}

// Without routed truth, timings or wire supply (every tile's h4, h12, v4 and
// v12 set to 0; routed usage cannot exceed that supply, so routed.txt goes),
// and with a doubtful algorithm switch: no accuracy figures, no phase times,
// two warnings, and nets that need wires do not route.
TEST(EstimateTool, WithoutRoutedTruthTimingsOrWireSupply)
{
    SCRATCH_DIR dir;
    const fs::path design = dir.get_path() / "design";
    copy_sample_design(design);
    remove_wire_supply(design);
    const fs::path json = dir.get_path() / "report.json";
    const std::vector<std::string> args = {design.string(), "--model",    "bbox",         "--window",
                                           "4,2",           "--uniform",  "--policy",     "overflow",
                                           "--supply",      "full",       "--no-timings", "--fail-if-unroutable",
                                           "--json",        json.string()};
    const PROGRAM_RESULT result =
        wait_program(start_program(ESTIMATE_TOOL, args, dir.get_path(), {"congestion_use_orig=maybe"}), dir.get_path());
    ASSERT_EQ(result.exit_code, EXIT_UNROUTABLE) << result.err;
    EXPECT_EQ(result.err,
              "congestion-estimate: warning: congestion_use_orig=maybe is neither on (1, on, true, yes) "
              "nor off (0, off, false, no); the new smoothing algorithm is used.\n"
              "congestion-estimate: warning: no tile of " +
                  (design / "tiles.txt").string() +
                  " has wire supply (h4, h12, v4 and v12 are 0 everywhere), so the wire utilization "
                  "figures mean nothing.\n");
    EXPECT_NE(result.out.find("no routed.txt: no accuracy figures"), std::string::npos);
    EXPECT_EQ(result.out.find("phase "), std::string::npos);
    EXPECT_EQ(find_line(result.out, "verdict: "),
              "verdict: does not route (no tile has wire supply, and the nets need wires)");
    const nlohmann::json report = nlohmann::json::parse(read_text(json));
    EXPECT_EQ(report["routability"]["verdict"], "does not route");
    for (const char* none : {"min_supply_scale", "figure", "predicted_min_tracks", "tracks"})
        EXPECT_TRUE(report["routability"][none].is_null()) << none;
    EXPECT_EQ(report["routability"]["margin"], -1.0);
    EXPECT_TRUE(report["accuracy"].is_null());
    EXPECT_FALSE(report.contains("phases"));
    EXPECT_EQ(report["settings"], nlohmann::json::parse(R"({"chunks": 16, "model": "bbox", "peak_window": 1,
        "policy": "overflow", "supply": "full", "uniform": true, "window": [4, 2], "wirelength": "hpwl"})"));
}

// Every map of --grids is an (nx, ny) .npy file (its header as the header
// writer's own test checks it), named in grids.json under "grids", and bit
// for bit the estimator's answers at each tile, the routed usage of the
// design, or the baseline.
TEST(SampleRun, GridsHoldTheEstimatorsMapsBitForBit)
{
    const SAMPLE_RUN& s = sample();
    const DESIGN& design = s.design;
    const CONGESTION& e = s.run.get_estimator();
    const BASELINE baseline = compute_baseline(design, s.run.get_nets());
    const fs::path folder = s.dir.get_path() / "grids";
    const nlohmann::json index = nlohmann::json::parse(read_text(folder / "grids.json"));
    EXPECT_EQ(index["nx"], design.nx);
    EXPECT_EQ(index["ny"], design.ny);
    // The expected value of a map at a tile, by the map's name.
    using VALUE = std::function<float(int, int)>;
    std::map<std::string, VALUE> expected;
    for (int t = 0; t < CONGESTION::NUM_RESOURCE_TYPES; ++t) {
        const auto type = static_cast<CONGESTION::RESOURCE_TYPE>(t);
        std::string word = CONGESTION::get_string_for_resource_type(type);
        std::transform(word.begin(), word.end(), word.begin(), [](char c) { return c == ' ' ? '_' : std::tolower(c); });
        expected["supply_" + word] = [&e, type](int x, int y) { return e.get_supply(x, y, type); };
        expected["demand_" + word] = [&e, type](int x, int y) { return e.get_demand(x, y, type); };
        expected["smooth_demand_" + word] = [&e, type](int x, int y) { return e.get_smooth_demand(x, y, type); };
        expected["utilization_" + word] = [&e, type](int x, int y) { return e.get_util(x, y, type); };
        expected["overflow_" + word] = [&e, type](int x, int y) { return e.get_apl_style_congestion(x, y, type); };
        expected["smoothed_utilization_" + word] = [&e, type](int x, int y) {
            const float supply = e.get_supply(x, y, type);
            return supply > 0.0f ? e.get_smooth_demand(x, y, type) / supply : std::numeric_limits<float>::quiet_NaN();
        };
    }
    const std::vector<const char*> columns = get_routed_column_names(design.form);
    for (std::size_t c = 0; c < columns.size(); ++c)
        expected[std::string("routed_") + columns[c]] = [&design, c](int x, int y) {
            return static_cast<float>(design.routed[c][design.get_tile_index(x, y)]);
        };
    for (const auto& [name, values] :
         {std::pair{"baseline_horizontal", &baseline.horizontal}, std::pair{"baseline_vertical", &baseline.vertical}})
        expected[name] = [&design, values = values](int x, int y) {
            return static_cast<float>((*values)[design.get_tile_index(x, y)]);
        };
    expected["baseline_lab_input"] = [&](int x, int y) {
        return static_cast<float>(baseline.pins[design.get_tile_index(x, y)]);
    };

    std::set<std::string> listed;
    for (const nlohmann::json& grid : index["grids"]) {
        const std::string name = grid["name"];
        listed.insert(name);
        ASSERT_EQ(expected.count(name), 1u) << name;
        const std::string bytes = read_text(folder / grid["file"].get<std::string>());
        const NPY_HEADER header = parse_npy_header(bytes);
        EXPECT_EQ(header.shape, (std::vector<long long>{design.nx, design.ny})) << name;
        ASSERT_EQ(bytes.size(), header.data_offset + design.get_num_tiles() * sizeof(float)) << name;
        int differing = 0;
        for (int x = 0; x < design.nx; ++x)
            for (int y = 0; y < design.ny; ++y) {
                float value = 0.0f;
                std::memcpy(&value,
                            bytes.data() + header.data_offset + (static_cast<std::size_t>(x) * design.ny + y) * 4,
                            sizeof value);
                const float want = expected[name](x, y);
                differing += std::memcmp(&value, &want, sizeof value) != 0;
            }
        EXPECT_EQ(differing, 0) << name;
    }
    EXPECT_EQ(listed.size(), expected.size());
}

// The accuracy rows: the estimate of some types against the routed usage of
// the same directions, in the directional design's columns (right 0, left 1,
// up 2, down 3, lab_in 4), and the baseline's sum on that design (its nets'
// widths 1, 1, 3, 0 and heights 0, 1, 0, 2, and their 9 pins, all in tiles
// with wire supply).
struct ACCURACY_CASE {
    const char* estimate;
    const char* truth;
    std::vector<CONGESTION::RESOURCE_TYPE> types;
    std::vector<int> columns;
    double directional_baseline_sum;
};
const ACCURACY_CASE ACCURACY_ROWS[] = {
    {"HORIZONTAL_LEFT", "left", {CONGESTION::HORIZONTAL_LEFT}, {1}, 5.0},
    {"HORIZONTAL_RIGHT", "right", {CONGESTION::HORIZONTAL_RIGHT}, {0}, 5.0},
    {"VERTICAL_UP", "up", {CONGESTION::VERTICAL_UP}, {2}, 3.0},
    {"VERTICAL_DOWN", "down", {CONGESTION::VERTICAL_DOWN}, {3}, 3.0},
    {"H (left+right)", "right+left", {CONGESTION::HORIZONTAL_LEFT, CONGESTION::HORIZONTAL_RIGHT}, {0, 1}, 5.0},
    {"V (up+down)", "up+down", {CONGESTION::VERTICAL_UP, CONGESTION::VERTICAL_DOWN}, {2, 3}, 3.0},
    {"all wires",
     "right+left+up+down",
     {CONGESTION::HORIZONTAL_LEFT, CONGESTION::HORIZONTAL_RIGHT, CONGESTION::VERTICAL_UP, CONGESTION::VERTICAL_DOWN},
     {0, 1, 2, 3},
     8.0},
    {"LAB_INPUT", "lab_in", {CONGESTION::LAB_INPUT}, {4}, 9.0},
};

// Each accuracy row's estimate sum is the smoothed demand of its types over
// the tiles with wire supply, summed here tile by tile.
TEST(SampleRun, AccuracySumsAreTheSmoothedDemandOverTilesWithSupply)
{
    const SAMPLE_RUN& s = sample();
    const std::vector<ACCURACY_ROW>& rows = s.run.get_report().accuracy;
    ASSERT_EQ(rows.size(), std::size(ACCURACY_ROWS));
    for (std::size_t r = 0; r < rows.size(); ++r) {
        double sum = 0.0;
        for (std::size_t tile = 0; tile < s.design.get_num_tiles(); ++tile) {
            if (!s.design.has_wire_supply(tile))
                continue;
            double tile_sum = 0.0;
            for (CONGESTION::RESOURCE_TYPE type : ACCURACY_ROWS[r].types)
                tile_sum += s.run.get_estimator().get_smooth_demand(static_cast<int>(tile % s.design.nx),
                                                                    static_cast<int>(tile / s.design.nx), type);
            sum += tile_sum;
        }
        EXPECT_EQ(rows[r].estimate_sum, sum) << rows[r].estimate;
        EXPECT_EQ(s.json["accuracy"]["rows"][r]["sums"]["estimate"].get<double>(), sum) << rows[r].estimate;
    }
}

// A bad run exits with `code` and one sentence, prints no report and leaves
// no output behind (here, its heatmaps).
void expect_refused(std::vector<std::string> args, const SCRATCH_DIR& dir, int code, const std::string& sentence)
{
    const fs::path maps = dir.get_path() / "maps";
    args.insert(args.end(), {"--heatmaps", maps.string()});
    const PROGRAM_RESULT result = run_tool(args, dir.get_path());
    EXPECT_EQ(result.exit_code, code) << result.err;
    EXPECT_EQ(result.err, "congestion-estimate: " + sentence + "\n");
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(fs::exists(maps));
}

TEST(EstimateTool, RefusesBadInputWithOneSentence)
{
    SCRATCH_DIR dir;
    const std::string absent = (dir.get_path() / "absent").string();
    const std::pair<std::vector<std::string>, std::string> bad_arguments[] = {
        {{absent}, absent + ": is not a design folder (no such directory)."},
        {{}, "no design folder given (see --help)."},
        {{SAMPLE_DESIGN, "--window", "0,x"}, "the value 0 of --window is not between 1 and 255 (see --help)."},
        {{SAMPLE_DESIGN, "--model", "maze"}, "the value 'maze' of --model is not path or bbox (see --help)."},
        {{SAMPLE_DESIGN, "--frobnicate"}, "unrecognised option '--frobnicate' (see --help)."},
        {{SAMPLE_DESIGN, "--json", "--no-timings"},
         "the value '--no-timings' of --json is not a file name "
         "(write ./--no-timings for a file of that name) (see --help)."},
        {{SAMPLE_DESIGN, "--grids", "-"}, "--grids needs a folder, not standard output (see --help)."},
        {{SAMPLE_DESIGN, "--window", "3,1,2"},
         "the value '3,1,2' of --window is not two numbers PARALLEL,PERPENDICULAR (see --help)."},
        {{SAMPLE_DESIGN "/tiles.txt"},
         SAMPLE_DESIGN "/tiles.txt: is a file, not a design folder (a folder holding tiles.txt and nets.txt)."},
        {{SAMPLE_DESIGN, "--json", "-", "--dump", "/dev/stdout"},
         "--json and --dump name the same output /dev/stdout (see --help)."},
    };
    for (const auto& [args, sentence] : bad_arguments)
        expect_refused(args, dir, EXIT_BAD_INPUT, sentence);
    // An output that cannot be written is refused before any work, with the
    // system's reason: a folder the user may not write (the superuser may
    // write any folder but those of the kernel's own file systems).
    expect_refused({SAMPLE_DESIGN, "--json", absent + "/r.json"}, dir, EXIT_OUTPUT_FAILED,
                   "cannot write " + absent + "/r.json: the directory " + absent + " does not exist.");
    const fs::path closed = ::geteuid() == 0 ? fs::path("/sys") : dir.get_path() / "closed";
    fs::create_directories(closed);
    fs::permissions(closed, fs::perms::owner_read | fs::perms::owner_exec, fs::perm_options::replace);
    const int probe = ::open((closed / "probe").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_LT(probe, 0) << closed << " takes new files";
    const std::string reason = std::strerror(errno);
    expect_refused({SAMPLE_DESIGN, "--json", (closed / "r.json").string()}, dir, EXIT_OUTPUT_FAILED,
                   "cannot write " + (closed / "r.json").string() + ": " + reason + ".");

    // Placed only: every routed length unknown, and flag 4 never set.
    const fs::path design = dir.get_path() / "design";
    copy_sample_design(design);
    std::vector<std::string> nets = read_lines(design / "nets.txt");
    for (std::size_t line = 2; line < nets.size(); ++line) {
        std::istringstream fields(nets[line]);
        std::vector<std::string> words(std::istream_iterator<std::string>(fields), {});
        words[2] = std::to_string(std::stoi(words[2]) & ~NET_FLAG_NO_SPAN_WIRE);
        words[8] = words[9] = words[10] = "-1";
        nets[line] = words[0];
        for (std::size_t word = 1; word < words.size(); ++word)
            nets[line] += " " + words[word];
    }
    write_lines(design / "nets.txt", nets);
    expect_refused({design.string(), "--wirelength", "oracle"}, dir, EXIT_BAD_INPUT,
                   "--wirelength oracle needs the routed lengths of nets.txt, but " + design.string() +
                       " was placed and not routed (see --help).");
}

// On a terminal the tool shows each phase on a line of its own with its
// time, a phase of steps with their count, and the time is the one the
// report gives the phase; --quiet shows nothing, as does a standard error
// that is no terminal (every other test). --version names the library's
// version, --help the exit statuses.
TEST(ToolFeedback, ProgressOnATerminalOnlyTheVersionAndTheExitStatuses)
{
    const SCRATCH_DIR dir;
    const std::string maps = (dir.get_path() / "maps").string();
    const std::string grids = (dir.get_path() / "grids").string();
    const std::string json = (dir.get_path() / "report.json").string();
    const PROGRAM_RESULT shown = run_program_on_terminal(
        ESTIMATE_TOOL, {SAMPLE_DESIGN, "--heatmaps", maps, "--grids", grids, "--json", json}, dir.get_path());
    ASSERT_EQ(shown.exit_code, 0) << shown.err;
    EXPECT_TRUE(starts_with(shown.out, "design picorv32_ex")) << shown.out;
    // The time on a phase's last line (after its steps, if it counts any),
    // "" when it has no line.
    const auto get_shown_time = [&](const std::string& phase) {
        const std::string start = "\rcongestion-estimate: " + phase + " ";
        const size_t at = shown.err.find(start);
        const size_t end = shown.err.find("\x1b[K\n", at);
        if (at == std::string::npos || end == std::string::npos)
            return std::string();
        const size_t time = shown.err.rfind(' ', shown.err.rfind(' ', end - 1) - 1) + 1;
        return shown.err.substr(time, end - time);
    };
    EXPECT_TRUE(is_seconds(get_shown_time("writing outputs"))) << shown.err;
    // The steps of a phase count from 0: each counted phase ends with all done.
    for (const std::string counted : {"heatmaps", "grids"}) {
        const std::string start = "\rcongestion-estimate: " + counted + " ";
        const size_t at = shown.err.rfind(start) + start.size();
        const std::string steps = shown.err.substr(at, shown.err.find(' ', at) - at);
        EXPECT_EQ(steps.substr(0, steps.find('/')), steps.substr(steps.find('/') + 1)) << shown.err;
    }
    std::vector<std::string> phases;
    const nlohmann::json report = nlohmann::json::parse(read_text(json));
    for (const nlohmann::json& phase : report["phases"]) {
        const std::string name = phase["phase"];
        phases.push_back(name);
        char time[32];
        std::snprintf(time, sizeof time, "%.1f s", phase["ms"].get<double>() / 1000.0);
        EXPECT_EQ(get_shown_time(name), time) << name << " in " << shown.err;
    }
    EXPECT_EQ(phases, (std::vector<std::string>{"read design", "create estimator", "set supply", "smooth wire supply",
                                                "wire demand", "lab input demand", "smooth wire demand",
                                                "smooth lab input demand", "update congestion", "queries",
                                                "baseline and accuracy", "heatmaps", "grids"}));
    const PROGRAM_RESULT quiet = run_program_on_terminal(ESTIMATE_TOOL, {SAMPLE_DESIGN, "-q"}, dir.get_path());
    EXPECT_EQ(quiet.exit_code, 0);
    EXPECT_EQ(quiet.err, "");

    // A long phase's line is rewritten in place until it ends.
    std::ostringstream lines;
    {
        PROGRESS progress(true, "tool", lines);
        progress.begin("heatmaps", 7);
        progress.add_step();
        progress.update();
        progress.add_step();
    }
    const std::string line = lines.str();
    const std::string start = "\rtool: heatmaps 1/7 ... ";
    const std::string end = "\x1b[K\n";
    EXPECT_TRUE(starts_with(line, start) && line.size() > start.size() + end.size() &&
                line.compare(line.size() - end.size(), end.size(), end) == 0 &&
                is_seconds(line.substr(start.size(), line.size() - start.size() - end.size())))
        << lines.str();

    EXPECT_EQ(run_tool({"--version"}, dir.get_path()).out,
              "congestion-estimate (congestion library " CONGESTION_VERSION ")\n");
    const std::string help = run_tool({"--help"}, dir.get_path()).out;
    for (int status : {0, EXIT_OUTPUT_FAILED, EXIT_BAD_INPUT})
        EXPECT_NE(help.find("\n  " + std::to_string(status) + "  "), std::string::npos) << status;
}

// Every file under `dir` with its size and a hash of its content, and every
// folder ("folder").
std::vector<std::pair<std::string, std::string>> get_tree(const fs::path& dir)
{
    std::vector<std::pair<std::string, std::string>> tree;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const std::string content = entry.is_directory() ? "" : read_text(entry.path());
        tree.emplace_back(entry.path().lexically_relative(dir).string(),
                          entry.is_directory() ? "folder"
                                               : std::to_string(content.size()) + " bytes, hash " +
                                                     std::to_string(std::hash<std::string>()(content)));
    }
    std::sort(tree.begin(), tree.end());
    return tree;
}

// Every name under `dir`, relative to it, sorted.
std::vector<std::string> list_tree(const fs::path& dir)
{
    std::vector<std::string> names;
    for (const auto& [name, content] : get_tree(dir))
        names.push_back(name);
    return names;
}

// Runs the tool on the sample design with every output, the shim preloaded
// with `shim` (its settings, "NAME=VALUE"). The outputs lie in `out`,
// which holds an old report and a heatmap folder with an old image beside a
// file of the user's; the grids folder is made by the run. Temporary files
// go to `temporary`.
PROGRAM_RESULT run_interrupted(const SCRATCH_DIR& dir, const fs::path& out, const fs::path& temporary,
                               std::vector<std::string> shim, std::vector<std::string> more = {})
{
    std::vector<std::string> args = {SAMPLE_DESIGN};
    const std::pair<const char*, const char*> outputs[] = {
        {"--json", "r.json"}, {"--heatmaps", "maps"}, {"--grids", "grids"}, {"--dump", "dump.txt"}};
    for (const auto& [option, name] : outputs)
        args.insert(args.end(), {option, (out / name).string()});
    args.insert(args.end(), more.begin(), more.end());
    shim.push_back(std::string("LD_PRELOAD=") + INTERRUPT_SHIM);
    shim.push_back("TMPDIR=" + temporary.string());
    // AddressSanitizer's runtime wants to come first in the process; the
    // shim intercepts only what its runtime passes on.
    if (std::string(SANITIZERS).find("address") != std::string::npos) {
        const char* options = std::getenv("ASAN_OPTIONS");
        shim.push_back(std::string("ASAN_OPTIONS=") + (options != nullptr ? options : "") +
                       ":verify_asan_link_order=0");
    }
    return wait_program(start_program(ESTIMATE_TOOL, args, dir.get_path(), shim), dir.get_path());
}

// An interruption while any output is being staged (the JSON report, the
// grid dump, a heatmap, a grid or the grids' index, the text report for
// standard output in the temporary folder), with the file about to be
// created when the interruption comes: the outputs are as they were before
// the run, nothing temporary stays, the exit status is 128 + the signal's
// number and one line says that no output was written.
TEST(ToolOutputs, AnInterruptionLeavesTheOutputsAsTheyWereOrSaysWhatWasWritten)
{
    const SCRATCH_DIR dir;
    const fs::path out = dir.get_path() / "out";
    const fs::path temporary = dir.get_path() / "tmp";
    fs::create_directories(out / "maps");
    fs::create_directories(temporary);
    write_lines(out / "r.json", {"the old report"});
    write_lines(out / "maps" / "vertical_up.png", {"an old image"});
    write_lines(out / "maps" / "notes.txt", {"the user's"});
    const std::vector<std::pair<std::string, std::string>> before = get_tree(dir.get_path());
    const std::pair<std::string, int> cases[] = {
        {"/.r.json.tmp", SIGINT},          {"/.dump.txt.tmp", SIGINT},
        {"/.vertical_up.png.tmp", SIGINT}, {"/.demand_vertical_up.npy.tmp", SIGTERM},
        {"/.grids.json.tmp", SIGINT},      {(temporary / "congestion-estimate.").string(), SIGINT},
    };
    for (const auto& [file, signal] : cases) {
        const PROGRAM_RESULT result = run_interrupted(
            dir, out, temporary,
            {"CONGESTION_INTERRUPT_AT=" + file, "CONGESTION_INTERRUPT_SIGNAL=" + std::to_string(signal)});
        EXPECT_EQ(result.exit_code, 128 + signal) << file << ": " << result.err;
        EXPECT_EQ(result.err, std::string("congestion-estimate: interrupted by ") +
                                  (signal == SIGINT ? "SIGINT" : "SIGTERM") + "; no output was written.\n")
            << file;
        EXPECT_EQ(result.out, "") << file;
        EXPECT_EQ(get_tree(dir.get_path()), before) << file;
    }

    // An interruption once the files are in place, while the streams are
    // written, says which outputs were written; one after every output says
    // so. Both exit as interrupted.
    const SAMPLE_RUN& s = sample();
    const PROGRAM_RESULT streams =
        run_interrupted(dir, out, temporary, {"CONGESTION_INTERRUPT_AT=/dev/null"}, {"--dump-netlist", "/dev/null"});
    EXPECT_EQ(streams.exit_code, 128 + SIGINT) << streams.err;
    EXPECT_EQ(streams.err, "congestion-estimate: interrupted by SIGINT; already written: the heatmaps in " +
                               (out / "maps").string() + ", the grids in " + (out / "grids").string() + ", " +
                               (out / "r.json").string() + ", " + (out / "dump.txt").string() +
                               " and the report on standard output; the others were not written.\n");
    EXPECT_EQ(get_cookie(read_text(out / "r.json")), s.json.value("cookie", ""));

    fs::remove_all(out);
    fs::create_directories(out);
    const PROGRAM_RESULT done = run_interrupted(dir, out, temporary, {"CONGESTION_INTERRUPT_AT_EXIT=1"});
    EXPECT_EQ(done.exit_code, 128 + SIGINT) << done.err;
    EXPECT_EQ(done.err, "congestion-estimate: interrupted by SIGINT; every output was written.\n");
    EXPECT_EQ(get_cookie(read_text(out / "r.json")), s.json.value("cookie", ""));
    EXPECT_TRUE(fs::is_regular_file(out / "grids" / "grids.json"));
    EXPECT_TRUE(fs::is_empty(temporary));
}

// A symbolic link is followed and the file it replaces keeps its
// permissions; streams are written directly.
TEST(ToolOutputs, LinksAreFollowedAndStreamsWrittenDirectly)
{
    const SAMPLE_RUN& s = sample();
    const SCRATCH_DIR dir;
    const auto at = [&](const char* name) { return dir.get_path() / name; };
    write_lines(at("target.json"), {"old"});
    fs::permissions(at("target.json"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("target.json", at("link.json"));
    const PROGRAM_RESULT linked = run_tool({SAMPLE_DESIGN, "--json", at("link.json").string()}, dir.get_path());
    ASSERT_EQ(linked.exit_code, 0) << linked.err;
    EXPECT_TRUE(fs::is_symlink(at("link.json")));
    EXPECT_EQ(get_cookie(read_text(at("target.json"))), s.json.value("cookie", ""));
    EXPECT_EQ(fs::status(at("target.json")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(list_tree(dir.get_path()), (std::vector<std::string>{"link.json", "target.json"}));

    // A FIFO with a reader stays a FIFO and carries the report.
    ASSERT_EQ(::mkfifo(at("fifo").c_str(), S_IRUSR | S_IWUSR), 0);
    std::string received;
    std::thread reader([&] { received = read_text(at("fifo")); });
    const PROGRAM_RESULT result = run_tool({SAMPLE_DESIGN, "--json", at("fifo").string()}, dir.get_path());
    // Should the tool never have opened the FIFO, this releases the reader.
    const int release = ::open(at("fifo").c_str(), O_WRONLY | O_NONBLOCK);
    if (release >= 0)
        ::close(release);
    reader.join();
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_TRUE(fs::is_fifo(at("fifo")));
    EXPECT_EQ(get_cookie(received), s.json.value("cookie", ""));

    // Standard output by both its names, here redirected to a regular file
    // that must not be renamed over: the JSON takes the text report's place.
    for (const char* name : {"-", "/dev/stdout"}) {
        const PROGRAM_RESULT named = run_tool({SAMPLE_DESIGN, "--json", name}, dir.get_path());
        EXPECT_EQ(named.exit_code, 0) << named.err;
        EXPECT_EQ(get_cookie(named.out), s.json.value("cookie", "")) << name;
    }
}

// A standard output left non-blocking (a pipe whose reader is slower than
// the tool) takes the whole stream, part by part.
TEST(ToolOutputs, ANonBlockingStandardOutputTakesTheWholeStream)
{
    const SAMPLE_RUN& s = sample();
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ASSERT_EQ(::fcntl(ends[1], F_SETFL, O_NONBLOCK), 0);
    std::string tool = ESTIMATE_TOOL, design = SAMPLE_DESIGN, dump = "--dump", out = "-", quiet = "--quiet";
    char* argv[] = {tool.data(), design.data(), dump.data(), out.data(), quiet.data(), nullptr};
    const pid_t child = ::fork();
    if (child == 0) {
        if (::dup2(ends[1], STDOUT_FILENO) < 0)
            ::_exit(127);
        ::close(ends[0]);
        ::close(ends[1]);
        ::execv(argv[0], argv);
        ::_exit(127);
    }
    ::close(ends[1]);
    // Slower than the tool, so that the pipe fills and takes parts of writes.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::string received;
    char buffer[4000];
    for (ssize_t got; (got = ::read(ends[0], buffer, sizeof buffer)) != 0;) {
        if (got > 0)
            received.append(buffer, static_cast<std::size_t>(got));
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ::close(ends[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const std::string expected = read_text(s.dir.get_path() / "grids.txt");
    ASSERT_GT(expected.size(), 65536u) << "more than a pipe holds";
    EXPECT_TRUE(received == expected) << received.size() << " bytes received of " << expected.size();
}

// A failed run exits with 1 and one sentence that says what had already been
// written; nothing staged stays behind.
TEST(ToolOutputs, AFailedOutputSaysWhatWasAlreadyWritten)
{
    const SCRATCH_DIR dir;
    const auto at = [&](const char* name) { return dir.get_path() / name; };
    fs::create_directories(at("blocked/vertical.png/occupied"));
    const std::string maps = at("maps").string();
    const std::string blocked = at("blocked").string();
    struct CASE {
        std::vector<std::string> args;
        std::string stdout_path;
        std::string message;
        std::vector<std::string> left;  // what the scratch folder holds afterwards
    };
    const CASE cases[] = {
        {{}, "/dev/full", "cannot write standard output: No space left on device; no output was written.", {}},
        {{"--heatmaps", maps, "--json", "/dev/full"},
         "",
         "cannot write /dev/full: No space left on device; already written: the heatmaps in " + maps +
             " and the report on standard output.",
         {"maps", "maps/horizontal.png", "maps/horizontal_left.png", "maps/horizontal_right.png", "maps/lab_input.png",
          "maps/vertical.png", "maps/vertical_down.png", "maps/vertical_up.png"}},
        {{"--json", at("report.json").string(), "--heatmaps", blocked},
         "",
         "cannot write " + blocked + "/vertical.png: it is a directory; no output was written.",
         {}},
    };
    for (const CASE& c : cases) {
        std::vector<std::string> args = {SAMPLE_DESIGN};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const PROGRAM_RESULT result = run_tool(args, dir.get_path(), c.stdout_path);
        EXPECT_EQ(result.exit_code, EXIT_OUTPUT_FAILED) << c.message;
        EXPECT_EQ(result.err, "congestion-estimate: " + c.message + "\n");
        std::vector<std::string> left = {"blocked", "blocked/vertical.png", "blocked/vertical.png/occupied"};
        left.insert(left.end(), c.left.begin(), c.left.end());
        std::sort(left.begin(), left.end());
        EXPECT_EQ(list_tree(dir.get_path()), left) << c.message;
        fs::remove_all(maps);
    }
}

// The 4 x 3 directional design of the test support: each accuracy row sets
// the estimate of some directions against the routed usage of the same
// directions, the baseline spreads the nets' boxes as on any design, the
// heatmaps are drawn, and --supply is refused. (That its supply is used as it
// is shows in the Python suite, whose estimate from the design's columns
// must give the tool's cookie.)
TEST(DirectionalDesign, SupplyIsUsedAsItIsAndRowsCompareLikeWithLike)
{
    SCRATCH_DIR dir;
    const fs::path folder = dir.get_path() / "design";
    write_directional_design(folder);
    const fs::path json_path = dir.get_path() / "report.json";
    const PROGRAM_RESULT result =
        run_tool({folder.string(), "--json", json_path.string(), "--heatmaps", (dir.get_path() / "png").string()},
                 dir.get_path());
    ASSERT_EQ(result.exit_code, 0) << result.err;
    for (const char* stem : HEATMAP_STEMS)
        EXPECT_TRUE(starts_with(read_text(dir.get_path() / "png" / (std::string(stem) + ".png")), PNG_SIGNATURE));
    const nlohmann::json report = nlohmann::json::parse(read_text(json_path));
    EXPECT_EQ(report["settings"]["supply"], "directional");

    const nlohmann::json& accuracy = report["accuracy"]["rows"];
    ASSERT_EQ(accuracy.size(), std::size(ACCURACY_ROWS));
    for (std::size_t i = 0; i < std::size(ACCURACY_ROWS); ++i) {
        const ACCURACY_CASE& row = ACCURACY_ROWS[i];
        int truth = 0;
        for (int tile = 0; tile < DIRECTIONAL_TILES; ++tile) {
            const auto& supply = DIRECTIONAL_SUPPLY[tile];
            if (supply[0] + supply[1] + supply[2] + supply[3] > 0)
                for (int column : row.columns)
                    truth += DIRECTIONAL_USAGE[tile][column];
        }
        EXPECT_EQ(accuracy[i]["estimate"], row.estimate);
        EXPECT_EQ(accuracy[i]["truth"], row.truth);
        EXPECT_EQ(accuracy[i]["sums"]["routed"].get<double>(), truth) << row.truth;
        EXPECT_NEAR(accuracy[i]["sums"]["baseline"].get<double>(), row.directional_baseline_sum, 1e-12) << row.truth;
    }

    expect_refused({folder.string(), "--supply", "half"}, dir, EXIT_BAD_INPUT,
                   "--supply does not apply to " + folder.string() +
                       ", whose tiles.txt gives the supply per direction, used as it is (see --help).");
}

// The rule in force as the JSON and the verdict line give it: the device of
// a generic folder's meta.txt (8 slices of 4-input LUTs and 1:4,2:8,6:8 here,
// whose logic tile has 33 input pins and whose tracks start (4 + 8 / 2 +
// 8 / 6) / 20 = 0.467 wires a tile a direction), the default generic
// device's for a directional folder without meta.txt and for the bundled
// iCE40 design. The threshold is the rule's for that device, and the scale
// the figure over it. The directional design with its short net 0 alone
// routes on its channel of 6 tracks (its largest supply of one direction);
// with its row-long net 2 copied many times it does not, and
// --fail-if-unroutable says so with a status of its own once the report is
// written.
TEST(DirectionalDesign, TheVerdictSaysWhichDeviceItsThresholdIsForAndFailIfUnroutableExitsOnceWritten)
{
    constexpr int COPIES = 400;
    SCRATCH_DIR dir;
    const fs::path generic = dir.get_path() / "generic";
    const fs::path light = dir.get_path() / "light";
    const fs::path heavy = dir.get_path() / "heavy";
    write_generic_design(generic, 8, 4, "1:4,2:8,6:8", 20);
    write_directional_design(light);
    write_directional_design(heavy);
    const std::string header = "# id npins flags weight xl xr yb yt routed_x routed_y n_wires";
    write_lines(light / "nets.txt", {"nets 1 4 3", header, "0 2 0 0 1 2 1 1 1 0 1 1 1 2 1"});
    std::vector<std::string> nets = {"nets " + std::to_string(COPIES) + " 4 3", header};
    for (int id = 0; id < COPIES; ++id)
        nets.push_back(std::to_string(id) + " 2 0 0 0 3 1 1 3 0 2 0 1 3 1");
    write_lines(heavy / "nets.txt", nets);
    const std::string directional_end =
        ": predicted minimum channel %d tracks per direction, this design has 6; threshold %.3f for 0.700 of the "
        "tracks starting a wire in a tile and 17 inputs a logic tile, the default generic device's: meta.txt does "
        "not describe the device)";
    struct CASE {
        std::string folder;
        double starting_share;
        int tile_inputs;
        bool assumed;
        int tracks;  // 0 for the iCE40 design, whose channel is fixed
        bool routes;
        std::string line_end;
    };
    const CASE cases[] = {
        {generic.string(), (4 + 8 / 2.0 + 8 / 6.0) / 20, 33, false, 20, true,
         ": predicted minimum channel %d tracks per direction, this design has 20; threshold %.3f for 0.467 of the "
         "tracks starting a wire in a tile and 33 inputs a logic tile, from meta.txt)"},
        {light.string(), 0.7, 17, true, 6, true, directional_end},
        {heavy.string(), 0.7, 17, true, 6, false, directional_end},
        {SAMPLE_DESIGN, 0.7, 17, true, 0, true,
         "; the rule is calibrated on generic designs, here with the default generic device's threshold %.3f, and "
         "every iCE40 design routes on its fixed channel)"},
    };
    // The parts of the rule that no device changes.
    const nlohmann::json fixed_rule = nlohmann::json::parse(R"({"maps": "net boxes", "extent": 1.0, "along": 5,
        "across": 1, "quantile": 0.95, "mean_above": false, "constant": 1.692, "exponent": 0.25})");
    for (const CASE& c : cases) {
        const fs::path json_path = dir.get_path() / "report.json";
        const PROGRAM_RESULT result =
            run_tool({c.folder, "--fail-if-unroutable", "--json", json_path.string()}, dir.get_path());
        EXPECT_EQ(result.exit_code, c.routes ? 0 : EXIT_UNROUTABLE) << c.folder << ": " << result.err;
        const nlohmann::json verdict = nlohmann::json::parse(read_text(json_path))["routability"];
        const nlohmann::json& rule = verdict["rule"];
        for (const auto& item : fixed_rule.items())
            EXPECT_EQ(rule[item.key()], item.value()) << item.key();
        EXPECT_NEAR(rule["starting_share"].get<double>(), c.starting_share, 1e-15) << c.folder;
        EXPECT_EQ(rule["tile_inputs"], c.tile_inputs) << c.folder;
        EXPECT_EQ(rule["device_assumed"], c.assumed) << c.folder;
        const double threshold = rule["threshold"].get<double>();
        EXPECT_NEAR(threshold, 1.692 * std::pow(c.starting_share / c.tile_inputs, 0.25), 1e-12) << c.folder;
        const double scale = verdict["min_supply_scale"].get<double>();
        EXPECT_EQ(scale, verdict["figure"].get<double>() / threshold);
        EXPECT_EQ(verdict["verdict"], c.routes ? "routes" : "does not route") << c.folder;
        const std::string line = find_line(result.out, "verdict: ");
        EXPECT_TRUE(starts_with(line, c.routes ? "verdict: routes" : "verdict: does not route")) << line;
        EXPECT_EQ(line.find("iCE40") == std::string::npos, c.tracks > 0) << line;
        char end[512];
        if (c.tracks == 0) {
            std::snprintf(end, sizeof end, c.line_end.c_str(), threshold);
        } else {
            EXPECT_EQ(verdict["tracks"], c.tracks) << c.folder;
            EXPECT_EQ(verdict["margin"].get<double>(), 1.0 / scale - 1.0) << c.folder;
            EXPECT_EQ(verdict["predicted_min_tracks"], static_cast<int>(std::ceil(c.tracks * scale))) << c.folder;
            EXPECT_EQ(verdict["predicted_min_tracks"].get<int>() <= c.tracks, c.routes) << c.folder;
            std::snprintf(end, sizeof end, c.line_end.c_str(), verdict["predicted_min_tracks"].get<int>(), threshold);
        }
        EXPECT_EQ(line.substr(line.size() - std::min(line.size(), std::strlen(end))), end) << c.folder;
    }
}

}  // namespace
