// Reading a placed generic design folder and checking its files against each other.
#include "placer/placed_design.h"

#include <charconv>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

constexpr const char* SLICE_WORD = "SLICE";
constexpr const char* IO_WORD = "IO";
constexpr const char* GENERIC_ARCH = "generic";
constexpr int LOGIC_KIND = 0;  // "logic" in TILE_KIND_NAMES
constexpr int IO_KIND = 3;     // "io"

// The whole decimal number `text` after `prefix`, or nothing.
std::optional<int> parse_number_after(std::string_view text, std::string_view prefix)
{
    if (text.substr(0, prefix.size()) != prefix || text.size() == prefix.size())
        return std::nullopt;
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data() + prefix.size(), end, value);
    if (error != std::errc() || at != end || value < 0)
        return std::nullopt;
    return value;
}

void check_meta(const PLACED_DESIGN& placed, const std::string& path)
{
    if (find_meta(placed.meta, "arch") != GENERIC_ARCH)
        throw DESIGN_ERROR(path, 0, "the folder is no import of --arch generic (meta.txt has no 'arch generic')");
    const std::string grid = std::to_string(placed.design.nx) + " " + std::to_string(placed.design.ny);
    if (find_meta(placed.meta, "grid") != grid)
        throw DESIGN_ERROR(path, 0,
                           "the grid differs from the " + std::to_string(placed.design.nx) + " x " +
                               std::to_string(placed.design.ny) + " grid of tiles.txt");
}

// Every cell on a bel of the device, in a tile of the bel's kind.
void read_bels(PLACED_DESIGN& placed, const std::string& path)
{
    const DESIGN& design = placed.design;
    for (int cell = 0; cell < placed.get_num_cells(); ++cell) {
        const std::string& name = placed.placement.bel_names[static_cast<std::size_t>(cell)];
        const std::optional<BEL> bel = parse_bel_name(name);
        const auto fail = [&](const std::string& what) {
            throw DESIGN_ERROR(path, cell + 1,
                               "the bel " + name + " of the cell " +
                                   placed.placement.cell_names[static_cast<std::size_t>(cell)] + " " + what);
        };
        if (!bel)
            fail("is no bel of the generic device (X<x>/Y<y>/SLICE<z> or X<x>/Y<y>/IO<z>)");
        if (bel->x >= design.nx || bel->y >= design.ny)
            fail("lies outside the " + std::to_string(design.nx) + " x " + std::to_string(design.ny) + " grid");
        const int kind = design.tile_kind[design.get_tile_index(bel->x, bel->y)];
        const bool slice = bel->kind == BEL_KIND::SLICE;
        if (kind != (slice ? LOGIC_KIND : IO_KIND))
            fail(std::string("lies in a tile of kind ") + TILE_KIND_NAMES[kind] + ", not " +
                 TILE_KIND_NAMES[slice ? LOGIC_KIND : IO_KIND]);
        if (bel->z >= (slice ? placed.slices : placed.iobs_per_tile))
            fail("is beyond the " + std::to_string(slice ? placed.slices : placed.iobs_per_tile) +
                 (slice ? " slices of a logic tile" : " I/O cells of an I/O tile"));
        placed.cell_bels.push_back(*bel);
    }
}

// Every pin on its cell's tile, and the clock of every cell.
void check_pins(PLACED_DESIGN& placed, const std::string& path)
{
    const DESIGN& design = placed.design;
    placed.cell_clock.assign(static_cast<std::size_t>(placed.get_num_cells()), NO_NET);
    for (int net = 0; net < design.get_num_nets(); ++net)
        for (int pin = design.net_start[net]; pin < design.net_start[net + 1]; ++pin) {
            const int cell = placed.placement.pin_cell[static_cast<std::size_t>(pin)];
            const BEL& bel = placed.cell_bels[static_cast<std::size_t>(cell)];
            const auto name = [&] {
                return "pin " + std::to_string(pin - design.net_start[net]) + " of net " + std::to_string(net);
            };
            if (bel.x != design.pin_x[pin] || bel.y != design.pin_y[pin])
                throw DESIGN_ERROR(path, net + 3,
                                   name() + " lies at (" + std::to_string(design.pin_x[pin]) + ", " +
                                       std::to_string(design.pin_y[pin]) + ") in nets.txt, but its cell " +
                                       placed.placement.cell_names[static_cast<std::size_t>(cell)] + " is on " +
                                       get_bel_name(bel));
            if (placed.placement.pin_port[static_cast<std::size_t>(pin)] == CLOCK_PORT)
                placed.cell_clock[static_cast<std::size_t>(cell)] = net;
        }
}

// nextpnr's generic device lets the slices of a logic tile share one clock.
void check_clocks(const PLACED_DESIGN& placed, const std::string& path)
{
    const DESIGN& design = placed.design;
    std::vector<int> tile_clock(design.get_num_tiles(), NO_NET);
    for (int cell = 0; cell < placed.get_num_cells(); ++cell) {
        const int clock = placed.cell_clock[static_cast<std::size_t>(cell)];
        const BEL& bel = placed.cell_bels[static_cast<std::size_t>(cell)];
        if (clock == NO_NET || bel.kind != BEL_KIND::SLICE)
            continue;
        int& shared = tile_clock[design.get_tile_index(bel.x, bel.y)];
        if (shared != NO_NET && shared != clock)
            throw DESIGN_ERROR(path, cell + 1,
                               "the cell " + placed.placement.cell_names[static_cast<std::size_t>(cell)] +
                                   " has the clock net " + std::to_string(clock) + " in a logic tile whose slices " +
                                   "are clocked by net " + std::to_string(shared));
        shared = clock;
    }
}

}  // namespace

std::optional<BEL> parse_bel_name(std::string_view name)
{
    const std::size_t first = name.find('/');
    const std::size_t second = first == std::string_view::npos ? first : name.find('/', first + 1);
    if (second == std::string_view::npos)
        return std::nullopt;
    const std::optional<int> x = parse_number_after(name.substr(0, first), "X");
    const std::optional<int> y = parse_number_after(name.substr(first + 1, second - first - 1), "Y");
    const std::string_view local = name.substr(second + 1);
    std::optional<int> z = parse_number_after(local, SLICE_WORD);
    BEL_KIND kind = BEL_KIND::SLICE;
    if (!z) {
        z = parse_number_after(local, IO_WORD);
        kind = BEL_KIND::IO;
    }
    if (!x || !y || !z)
        return std::nullopt;
    return BEL{*x, *y, *z, kind};
}

std::string get_bel_name(const BEL& bel)
{
    return "X" + std::to_string(bel.x) + "/Y" + std::to_string(bel.y) + "/" +
           (bel.kind == BEL_KIND::SLICE ? SLICE_WORD : IO_WORD) + std::to_string(bel.z);
}

PLACED_DESIGN read_placed_design(const std::string& folder)
{
    PLACED_DESIGN placed;
    placed.folder = folder;
    placed.design = read_design(folder);
    const fs::path dir(folder);
    const std::string meta_path = (dir / "meta.txt").string();
    std::error_code error;
    if (!fs::exists(meta_path, error))
        throw DESIGN_ERROR(meta_path, 0, "cannot be opened for reading: the folder is no import of congestion-import");
    placed.meta = read_meta(meta_path);
    check_meta(placed, meta_path);
    placed.slices = get_meta_count(placed.meta, meta_path, "slices");
    placed.iobs_per_tile = get_meta_count(placed.meta, meta_path, "iobs_per_tile");
    const std::string placement_path = (dir / "placement.txt").string();
    const std::string pins_path = (dir / "pins.txt").string();
    if (!fs::exists(placement_path, error))
        throw DESIGN_ERROR(placement_path, 0, "is missing: the folder holds no placement of a generic import");
    if (!fs::exists(pins_path, error))
        throw DESIGN_ERROR(pins_path, 0,
                           "is missing: the folder comes from a congestion-import that did not write it (a "
                           "--reroute of the folder on its own channel writes a folder with it)");
    read_placement(placement_path, placed.placement);
    read_pins(pins_path, placed.design, placed.placement);
    read_bels(placed, placement_path);
    check_pins(placed, pins_path);
    check_clocks(placed, placement_path);
    return placed;
}
