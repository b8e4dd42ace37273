// A placed generic design folder as the placement pass sees it: the design's
// tiles and nets, the cells nextpnr placed on the bels of the generic device,
// the cell of every pin and meta.txt, read and checked against each other.
#ifndef CONGESTION_PLACED_DESIGN_H
#define CONGESTION_PLACED_DESIGN_H

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "front_end/design_meta.h"
#include "front_end/design_reader.h"

// The bels of the generic device: the slices of a logic tile and the I/O
// cells of an I/O tile, named X<x>/Y<y>/SLICE<z> and X<x>/Y<y>/IO<z>.
enum class BEL_KIND { SLICE, IO };

struct BEL {
    int x = 0;
    int y = 0;
    int z = 0;  // the bel's index within its tile
    BEL_KIND kind = BEL_KIND::SLICE;

    bool operator==(const BEL& other) const
    {
        return x == other.x && y == other.y && z == other.z && kind == other.kind;
    }
};

// The bel a name gives, or nothing when the name is no bel of the device.
std::optional<BEL> parse_bel_name(std::string_view name);
std::string get_bel_name(const BEL& bel);

// No net: a cell without a clock.
constexpr int NO_NET = -1;

// The port of a slice that takes the clock; the slices of one logic tile
// share its clock wire, so those with a clock must have the same one.
constexpr const char* CLOCK_PORT = "CLK";

struct PLACED_DESIGN {
    std::string folder;
    DESIGN design;
    CELL_PLACEMENT placement;
    META meta;
    int slices = 0;         // slice bels per logic tile
    int iobs_per_tile = 0;  // I/O bels per I/O tile
    std::vector<BEL> cell_bels;
    std::vector<int> cell_clock;  // the net on the cell's clock port, or NO_NET

    int get_num_cells() const { return placement.get_num_cells(); }
};

// Reads FOLDER (meta.txt, tiles.txt, nets.txt, placement.txt, pins.txt) and
// checks that it is a placed generic design whose files agree: every cell
// on a bel of a tile of its kind, every pin on the tile of its cell's bel,
// one clock per logic tile. Throws DESIGN_ERROR naming the file (and line)
// of the first fault.
PLACED_DESIGN read_placed_design(const std::string& folder);

#endif
