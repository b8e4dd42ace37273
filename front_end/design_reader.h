// Reader of a placed-and-routed design folder (tiles.txt, nets.txt and the
// optional routed.txt), in either of its two forms, into flat arrays,
// checking every line.
#ifndef CONGESTION_DESIGN_READER_H
#define CONGESTION_DESIGN_READER_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// A design file that cannot be opened or holds something wrong. what() is one
// sentence naming the file, the line (when there is one) and the fault.
class DESIGN_ERROR : public std::runtime_error {
 public:
    DESIGN_ERROR(const std::string& file, int line, const std::string& what);
    const std::string& get_file() const { return m_file; }
    int get_line() const { return m_line; }  // 0 when the fault is not on one line

 private:
    std::string m_file;
    int m_line;
};

// Net flag bits of nets.txt.
constexpr int NET_FLAG_GLOBAL = 1;
constexpr int NET_FLAG_CONSTANT = 2;
constexpr int NET_FLAG_NO_SPAN_WIRE = 4;

// routed_x, routed_y and n_wires of every net of a design that was placed
// but not routed.
constexpr int ROUTING_UNKNOWN = -1;

// Largest grid side the reader accepts.
constexpr int MAX_GRID_SIDE = 4096;

// Largest per-tile count (a supply or routed-usage column) the reader
// accepts: sums of a tile's counts stay far inside an int, and every count
// converts to float exactly.
constexpr int MAX_TILE_COUNT = 1 << 24;

// The two forms of a design folder. An undirected design's wires have no
// fixed direction: tiles.txt counts them by axis and length (h4 h12 v4 v12)
// and routed.txt splits their usage by the side of the driving switch. A
// directional design's wires each carry a signal one way: both files count
// them per direction (right left up down). The header of tiles.txt and of
// routed.txt says which form the file has ("directional" after the
// numbers); a folder holds one form.
enum class DESIGN_FORM { UNDIRECTED, DIRECTIONAL };

// The word after a directional file's header numbers.
constexpr const char* DIRECTIONAL_WORD = "directional";

// Tile kinds of the format, in the order its description lists them;
// DESIGN::tile_kind holds indices into this list.
constexpr int NUM_TILE_KINDS = 10;
extern const std::array<const char*, NUM_TILE_KINDS> TILE_KIND_NAMES;

// Columns of an undirected routed.txt after x and y, in file order.
enum ROUTED_COLUMN : int {
    ROUTED_H_ALL,
    ROUTED_H_LEFT,
    ROUTED_H_RIGHT,
    ROUTED_H_DRV,
    ROUTED_V_ALL,
    ROUTED_V_UP,
    ROUTED_V_DOWN,
    ROUTED_V_DRV,
    ROUTED_H4,
    ROUTED_H12,
    ROUTED_V4,
    ROUTED_V12,
    ROUTED_LOCAL,
    ROUTED_LAB_IN,
    ROUTED_SW,
    NUM_ROUTED_COLUMNS
};

// Column names of an undirected routed.txt, indexed by ROUTED_COLUMN.
extern const std::array<const char*, NUM_ROUTED_COLUMNS> ROUTED_COLUMN_NAMES;

// Columns of a directional routed.txt after x and y, and of a directional
// tiles.txt after x, y and kind, in file order: wires per direction (right =
// increasing x, up = increasing y), then Lab Input.
enum DIRECTIONAL_COLUMN : int {
    DIRECTIONAL_RIGHT,
    DIRECTIONAL_LEFT,
    DIRECTIONAL_UP,
    DIRECTIONAL_DOWN,
    DIRECTIONAL_LAB_IN,
    NUM_DIRECTIONAL_COLUMNS
};
constexpr int NUM_DIRECTIONS = DIRECTIONAL_LAB_IN;

// Column names of a directional routed.txt, indexed by DIRECTIONAL_COLUMN.
extern const std::array<const char*, NUM_DIRECTIONAL_COLUMNS> DIRECTIONAL_COLUMN_NAMES;

// The names of routed.txt's columns after x and y in a form, in file order;
// DESIGN::routed is indexed alike.
std::vector<const char*> get_routed_column_names(DESIGN_FORM form);

// One class of a generic device's routing wires: `count` tracks per
// direction of wires `length` tiles long.
struct WIRE_CLASS {
    int length = 0;
    int count = 0;
};

// The island-style device of a generic import, as its meta.txt describes it
// (data/FORMAT.md): logic tiles of `slices` slices of a `lut`-input LUT and
// a flip-flop, and the wire classes of its channel, by increasing length.
struct GENERIC_ARCHITECTURE {
    int slices = 0;
    int lut = 0;
    std::vector<WIRE_CLASS> tracks;
};

// One design. Per-tile arrays have nx * ny entries indexed by y * nx + x
// (x the column, y the row, row 0 at the bottom). Net n's pins are
// pin_x/pin_y[net_start[n] .. net_start[n + 1] - 1], the driver first.
// Code that maps the design onto resource types asks design_netlist.h
// (get_design_supply, get_routed_truth) rather than these columns.
struct DESIGN {
    std::string name;  // the folder's name
    int nx = 0;
    int ny = 0;
    DESIGN_FORM form = DESIGN_FORM::UNDIRECTED;

    std::vector<std::uint8_t> tile_kind;  // index into TILE_KIND_NAMES
    // Wire supply per tile: h4, h12, v4, v12 in the undirected form, empty in
    // the directional one; direction_supply (indexed by DIRECTIONAL_COLUMN
    // below NUM_DIRECTIONS) the reverse.
    std::vector<int> h4, h12, v4, v12;
    std::array<std::vector<int>, NUM_DIRECTIONS> direction_supply;
    std::vector<int> lab_in;  // Lab Input supply per tile, both forms

    std::vector<int> net_start;  // num_nets + 1 entries
    std::vector<int> pin_x, pin_y;
    std::vector<int> flags, weight;
    std::vector<int> xl, xr, yb, yt;               // inclusive pin box
    std::vector<int> routed_x, routed_y, n_wires;  // ROUTING_UNKNOWN when not routed

    bool has_routed_lengths = true;  // false when nets.txt holds ROUTING_UNKNOWN
    bool has_routed = false;
    // Per column of routed.txt in the design's form (indexed by ROUTED_COLUMN
    // or DIRECTIONAL_COLUMN), per tile; empty without routed.txt.
    std::vector<std::vector<int>> routed;
    // The device meta.txt describes (read_design_meta), when it says
    // `arch generic`; empty for any other folder.
    std::optional<GENERIC_ARCHITECTURE> architecture;

    int get_num_nets() const { return static_cast<int>(net_start.size()) - 1; }
    int get_num_pins(int net) const { return net_start[net + 1] - net_start[net]; }
    std::size_t get_tile_index(int x, int y) const { return static_cast<std::size_t>(y) * nx + x; }
    std::size_t get_num_tiles() const { return static_cast<std::size_t>(nx) * ny; }
    // Nets that routing wires carry: neither global nor constant, 2 pins or more.
    bool is_routed_net(int net) const
    {
        return (flags[net] & (NET_FLAG_GLOBAL | NET_FLAG_CONSTANT)) == 0 && get_num_pins(net) >= 2;
    }
    // True when the tile has supply of at least one wire kind.
    bool has_wire_supply(std::size_t tile) const
    {
        if (form == DESIGN_FORM::DIRECTIONAL)
            return direction_supply[DIRECTIONAL_RIGHT][tile] + direction_supply[DIRECTIONAL_LEFT][tile] +
                       direction_supply[DIRECTIONAL_UP][tile] + direction_supply[DIRECTIONAL_DOWN][tile] >
                   0;
        return h4[tile] + h12[tile] + v4[tile] + v12[tile] > 0;
    }
};

// The cells nextpnr placed in a generic design, in the order of
// placement.txt (by name), and the cell and port of every pin of nets.txt
// (pins.txt).
struct CELL_PLACEMENT {
    std::vector<std::string> cell_names;
    std::vector<std::string> bel_names;  // the bel of each cell
    std::vector<int> pin_cell;           // per pin of the design: index into cell_names
    std::vector<std::string> pin_port;   // per pin of the design: the cell's port

    int get_num_cells() const { return static_cast<int>(cell_names.size()); }
};

// Reads placement.txt, one "cell bel" line per cell; no cell may be placed
// twice, nor two cells on one bel.
void read_placement(const std::string& path, CELL_PLACEMENT& placement);

// Reads pins.txt against the design's nets (read_nets) and the cells
// (read_placement): one line per net, with the net's pin count, and per pin
// the index of its cell and the port.
void read_pins(const std::string& path, const DESIGN& design, CELL_PLACEMENT& placement);

// Reads DIR/tiles.txt, DIR/nets.txt and, when they exist, DIR/routed.txt,
// of either form, and the device of DIR/meta.txt (read_design_meta). Throws
// DESIGN_ERROR on the first fault found, and when routed.txt's form is not
// that of tiles.txt.
DESIGN read_design(const std::string& dir);

// The single readers, for callers that hold the files elsewhere. The design
// must already hold the grid and form (read_tiles) before read_nets or
// read_routed.
void read_tiles(const std::string& path, DESIGN& design);
void read_nets(const std::string& path, DESIGN& design);
void read_routed(const std::string& path, DESIGN& design);

#endif
