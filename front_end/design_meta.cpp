// meta.txt read as key-value lines, and the generic device it describes
// checked against tiles.txt.
#include "front_end/design_meta.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <string_view>

namespace {

constexpr const char* GENERIC_ARCH = "generic";
constexpr int LOGIC_KIND = 0;  // "logic" in TILE_KIND_NAMES

// The whole decimal number `text`, at least 1 and fitting an int, or nothing.
std::optional<int> parse_count(std::string_view text)
{
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || at != end || value < 1)
        return std::nullopt;
    return value;
}

// The line of meta.txt that holds `key`, 0 when none does.
int find_meta_line(const META& meta, const std::string& key)
{
    const auto found = std::find_if(meta.begin(), meta.end(), [&](const auto& entry) { return entry.first == key; });
    return found == meta.end() ? 0 : static_cast<int>(found - meta.begin()) + 1;
}

std::string format_tile(int x, int y) { return "(" + std::to_string(x) + ", " + std::to_string(y) + ")"; }

// Every logic tile of tiles.txt has the device's wires in each direction
// and its Lab Input pins.
void check_logic_tiles(const DESIGN& design, const GENERIC_ARCHITECTURE& device, const META& meta,
                       const std::string& path)
{
    long long tracks = 0;
    for (const WIRE_CLASS& wires : device.tracks)
        tracks += wires.count;
    const long long inputs = static_cast<long long>(device.slices) * device.lut + 1;
    for (int y = 0; y < design.ny; ++y)
        for (int x = 0; x < design.nx; ++x) {
            const std::size_t tile = design.get_tile_index(x, y);
            if (design.tile_kind[tile] != LOGIC_KIND)
                continue;
            for (int d = 0; d < NUM_DIRECTIONS; ++d)
                if (design.direction_supply[d][tile] != tracks)
                    throw DESIGN_ERROR(path, find_meta_line(meta, "tracks"),
                                       "the tracks give " + std::to_string(tracks) +
                                           " wires per direction, but the logic tile " + format_tile(x, y) +
                                           " of tiles.txt has " + std::to_string(design.direction_supply[d][tile]) +
                                           " " + DIRECTIONAL_COLUMN_NAMES[d]);
            if (design.lab_in[tile] != inputs)
                throw DESIGN_ERROR(path, find_meta_line(meta, "lut"),
                                   std::to_string(device.slices) + " slices of " + std::to_string(device.lut) +
                                       "-input LUTs give a logic tile " + std::to_string(inputs) +
                                       " input pins with the clock, but the logic tile " + format_tile(x, y) +
                                       " of tiles.txt has " + std::to_string(design.lab_in[tile]) + " lab_in");
        }
}

}  // namespace

META read_meta(const std::string& path)
{
    std::ifstream text(path);
    if (!text)
        throw DESIGN_ERROR(path, 0, "cannot be opened for reading");
    META meta;
    for (std::string line; std::getline(text, line);) {
        const std::size_t space = line.find(' ');
        meta.emplace_back(line.substr(0, space), space == std::string::npos ? "" : line.substr(space + 1));
    }
    if (text.bad())
        throw DESIGN_ERROR(path, 0, "cannot be read");
    return meta;
}

std::optional<std::string> find_meta(const META& meta, const std::string& key)
{
    const int line = find_meta_line(meta, key);
    if (line == 0)
        return std::nullopt;
    return meta[static_cast<std::size_t>(line - 1)].second;
}

int get_meta_count(const META& meta, const std::string& path, const std::string& key)
{
    const std::optional<std::string> value = find_meta(meta, key);
    const std::optional<int> count = value ? parse_count(*value) : std::nullopt;
    if (!count)
        throw DESIGN_ERROR(path, find_meta_line(meta, key),
                           "the key " + key + " is missing or not a positive whole number");
    return *count;
}

std::optional<std::vector<WIRE_CLASS>> parse_wire_classes(const std::string& text)
{
    std::vector<WIRE_CLASS> classes;
    std::string_view rest(text);
    while (true) {
        const std::size_t comma = rest.find(',');
        const std::string_view item = rest.substr(0, comma);
        const std::size_t colon = item.find(':');
        if (colon == std::string_view::npos)
            return std::nullopt;
        const std::optional<int> length = parse_count(item.substr(0, colon));
        const std::optional<int> count = parse_count(item.substr(colon + 1));
        if (!length || !count)
            return std::nullopt;
        for (const WIRE_CLASS& wires : classes)
            if (wires.length == *length)
                return std::nullopt;
        classes.push_back({*length, *count});
        if (comma == std::string_view::npos)
            break;
        rest.remove_prefix(comma + 1);
    }
    std::sort(classes.begin(), classes.end(),
              [](const WIRE_CLASS& a, const WIRE_CLASS& b) { return a.length < b.length; });
    return classes;
}

void read_design_meta(const std::string& dir, DESIGN& design)
{
    const std::string path = (std::filesystem::path(dir) / "meta.txt").string();
    std::error_code error;
    if (!std::filesystem::exists(path, error))
        return;
    const META meta = read_meta(path);
    if (find_meta(meta, "arch") != GENERIC_ARCH)
        return;
    if (design.form != DESIGN_FORM::DIRECTIONAL)
        throw DESIGN_ERROR(path, find_meta_line(meta, "arch"),
                           "the folder is of the generic device, whose tiles.txt has the directional form, but "
                           "tiles.txt has the undirected one");
    GENERIC_ARCHITECTURE device;
    device.slices = get_meta_count(meta, path, "slices");
    device.lut = get_meta_count(meta, path, "lut");
    const std::optional<std::string> tracks = find_meta(meta, "tracks");
    const std::optional<std::vector<WIRE_CLASS>> classes = tracks ? parse_wire_classes(*tracks) : std::nullopt;
    if (!classes)
        throw DESIGN_ERROR(path, find_meta_line(meta, "tracks"),
                           "the key tracks is missing or not a list LEN:COUNT,... of wire classes, each length and "
                           "count a positive whole number and no length twice");
    device.tracks = *classes;
    check_logic_tiles(design, device, meta, path);
    design.architecture = device;
}
