// Writing the refined design folder.
#include "placer/refined_folder.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <system_error>

namespace {

namespace fs = std::filesystem;

// FOLDER's files that NEW holds unchanged; the last only when FOLDER has it.
constexpr const char* COPIED_FILES[] = {"tiles.txt", "netnames.txt", "pins.txt", "synth.json"};
constexpr const char* SYNTHESIS_LOG = "yosys.log";
// Files of an earlier routing of NEW that would not describe its placement.
constexpr const char* ROUTING_FILES[] = {"routed.txt", "report.json", "nextpnr.log"};

// meta.txt keys of a placed design that was not routed, as the importer
// writes them with --no-route.
const std::pair<const char*, const char*> PLACED_KEYS[] = {
    {"stage", "placed"},       {"routed", "no"},        {"route_result", "not-attempted"},
    {"route_iterations", "0"}, {"route_overuse", "-1"}, {"rerouted_from", "-"}};
// Keys that only a routed design has.
constexpr const char* ROUTED_ONLY_KEYS[] = {"routed_x_total", "routed_y_total"};
// FOLDER's import times describe no step that made NEW.
constexpr const char* TIME_PREFIX = "time_";

void set_meta(META& meta, const std::string& key, const std::string& value)
{
    for (auto& [name, old] : meta)
        if (name == key) {
            old = value;
            return;
        }
    meta.emplace_back(key, value);
}

}  // namespace

std::string get_nets_text(const PLACEMENT& placement)
{
    const DESIGN& design = placement.get_placed().design;
    const std::vector<int>& pin_x = placement.get_pin_x();
    const std::vector<int>& pin_y = placement.get_pin_y();
    std::ostringstream text;
    text << "nets " << design.get_num_nets() << " " << design.nx << " " << design.ny << "\n"
         << "# id npins flags weight xl xr yb yt routed_x routed_y n_wires  x0 y0 x1 y1 ...\n";
    for (int net = 0; net < design.get_num_nets(); ++net) {
        const int first = design.net_start[net];
        const int last = design.net_start[net + 1];
        int xl = pin_x[static_cast<std::size_t>(first)], xr = xl;
        int yb = pin_y[static_cast<std::size_t>(first)], yt = yb;
        for (int pin = first; pin < last; ++pin) {
            xl = std::min(xl, pin_x[static_cast<std::size_t>(pin)]);
            xr = std::max(xr, pin_x[static_cast<std::size_t>(pin)]);
            yb = std::min(yb, pin_y[static_cast<std::size_t>(pin)]);
            yt = std::max(yt, pin_y[static_cast<std::size_t>(pin)]);
        }
        text << net << " " << last - first << " " << (design.flags[net] & ~NET_FLAG_NO_SPAN_WIRE) << " "
             << design.weight[net] << " " << xl << " " << xr << " " << yb << " " << yt << " " << ROUTING_UNKNOWN << " "
             << ROUTING_UNKNOWN << " " << ROUTING_UNKNOWN;
        for (int pin = first; pin < last; ++pin)
            text << " " << pin_x[static_cast<std::size_t>(pin)] << " " << pin_y[static_cast<std::size_t>(pin)];
        text << "\n";
    }
    return text.str();
}

std::string get_placement_text(const PLACEMENT& placement)
{
    const CELL_PLACEMENT& cells = placement.get_placed().placement;
    std::string text;
    for (int cell = 0; cell < cells.get_num_cells(); ++cell)
        text += cells.cell_names[static_cast<std::size_t>(cell)] + " " + get_bel_name(placement.get_bel(cell)) + "\n";
    return text;
}

std::string get_meta_text(const PLACED_DESIGN& placed, const std::string& design_name, const META& entries)
{
    META meta;
    for (const auto& [key, value] : placed.meta) {
        const bool routed_only =
            std::find(std::begin(ROUTED_ONLY_KEYS), std::end(ROUTED_ONLY_KEYS), key) != std::end(ROUTED_ONLY_KEYS);
        if (!routed_only && key.compare(0, std::string(TIME_PREFIX).size(), TIME_PREFIX) != 0)
            meta.emplace_back(key, value);
    }
    set_meta(meta, "design", design_name);
    for (const auto& [key, value] : PLACED_KEYS)
        set_meta(meta, key, value);
    for (const auto& [key, value] : entries)
        set_meta(meta, key, value);
    std::string text;
    for (const auto& [key, value] : meta)
        text += key + " " + value + "\n";
    return text;
}

void stage_refined_folder(OUTPUT_SET& outputs, const std::string& out, const PLACEMENT& placement, const META& entries)
{
    const PLACED_DESIGN& placed = placement.get_placed();
    const fs::path from(placed.folder);
    const fs::path to(out);
    std::error_code error;
    // The folder's own name, also when the path ends in a separator.
    const fs::path absolute = fs::absolute(to, error).lexically_normal();
    const std::string design_name =
        (absolute.has_filename() ? absolute.filename() : absolute.parent_path().filename()).string();
    outputs.create_folder(out);
    const auto copy = [&](const char* name) {
        outputs.stage((to / name).string(), out, [&](const std::string& file) {
            std::error_code copy_error;
            fs::copy_file(from / name, file, fs::copy_options::overwrite_existing, copy_error);
            if (copy_error)
                throw OUTPUT_ERROR("cannot copy " + (from / name).string() + ": " + copy_error.message());
        });
    };
    for (const char* name : COPIED_FILES)
        copy(name);
    if (fs::exists(from / SYNTHESIS_LOG, error))
        copy(SYNTHESIS_LOG);
    else
        outputs.remove_on_commit((to / SYNTHESIS_LOG).string());
    outputs.stage_text((to / "placement.txt").string(), out, get_placement_text(placement));
    outputs.stage_text((to / "nets.txt").string(), out, get_nets_text(placement));
    outputs.stage_text((to / "meta.txt").string(), out, get_meta_text(placed, design_name, entries));
    for (const char* name : ROUTING_FILES)
        outputs.remove_on_commit((to / name).string());
}
