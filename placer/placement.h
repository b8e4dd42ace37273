// The placement that the pass changes: where each cell is, which cell each
// slice bel holds, the pins' tiles and the boxes of the nets that routing
// wires carry, kept up to date move by move.
//
// A move takes one slice cell to a slice bel of another logic tile; when
// that bel holds a cell, the two swap. It is tried first (try_move: the
// pins move, the boxes of the nets it touches are computed aside) and then
// either kept (commit) or undone (undo). Boxes are updated pin by pin from
// the counts of pins on each edge, and scanned again only when a pin leaves
// an edge it held alone.
#ifndef CONGESTION_PLACEMENT_H
#define CONGESTION_PLACEMENT_H

#include <cstdint>
#include <vector>

#include "front_end/front_end.h"
#include "placer/placed_design.h"

// An inclusive box of tiles.
struct NET_BOX {
    int xl = 0;
    int xr = 0;
    int yb = 0;
    int yt = 0;

    bool operator==(const NET_BOX& other) const
    {
        return xl == other.xl && xr == other.xr && yb == other.yb && yt == other.yt;
    }
};

// A box with the number of pins on each of its edges.
struct COUNTED_BOX {
    NET_BOX box;
    int on_xl = 0;
    int on_xr = 0;
    int on_yb = 0;
    int on_yt = 0;
};

// A net whose box a tried move changes.
struct TOUCHED_NET {
    int net = 0;
    COUNTED_BOX box;  // the box after the move
    bool rescan = false;
};

class PLACEMENT {
 public:
    explicit PLACEMENT(const PLACED_DESIGN& placed);

    const PLACED_DESIGN& get_placed() const { return m_placed; }
    int get_nx() const { return m_placed.design.nx; }
    int get_ny() const { return m_placed.design.ny; }

    // The cells a move may take: every slice cell, in cell order.
    const std::vector<int>& get_movable_cells() const { return m_movable; }
    // The nets that routing wires carry: two pins or more, and not a clock
    // that an I/O cell drives onto the global wires. In net order.
    const std::vector<int>& get_wired_nets() const { return m_wired_nets; }
    bool is_wired(int net) const { return m_wired[static_cast<std::size_t>(net)] != 0; }

    const BEL& get_bel(int cell) const { return m_bels[static_cast<std::size_t>(cell)]; }
    // The cell a slice bel holds, or NO_CELL.
    int get_cell_at(int x, int y, int z) const { return m_slots[get_slot(x, y, z)]; }
    const NET_BOX& get_box(int net) const { return m_boxes[static_cast<std::size_t>(net)].box; }

    // Whether the slice cell `cell` may go to bel z of logic tile (x, y),
    // swapping with the cell there: another tile, and no logic tile left
    // with two clocks.
    bool is_legal_move(int cell, int x, int y, int z) const;

    // Moves `cell` to bel z of logic tile (x, y), the cell there (if any) to
    // `cell`'s bel, and computes the boxes of the wired nets they touch
    // aside; the move must be legal. Then commit or undo, before the next.
    const std::vector<TOUCHED_NET>& try_move(int cell, int x, int y, int z);
    // The nets the tried move touches, as try_move gave them.
    const std::vector<TOUCHED_NET>& get_touched() const { return m_touched; }
    void commit();
    void undo();

    // The box of a net's pins where they are now, scanned.
    COUNTED_BOX scan_box(int net) const;

    // The netlist arrays of the wired nets over the current pins and boxes,
    // for the estimator; the pointers stay valid as the placement changes.
    NETLIST_ARRAYS get_netlist_arrays() const;

    // The pins' tiles, as nets.txt indexes them.
    const std::vector<int>& get_pin_x() const { return m_pin_x; }
    const std::vector<int>& get_pin_y() const { return m_pin_y; }

    static constexpr int NO_CELL = -1;

 private:
    std::size_t get_slot(int x, int y, int z) const
    {
        return (static_cast<std::size_t>(y) * static_cast<std::size_t>(get_nx()) + static_cast<std::size_t>(x)) *
                   static_cast<std::size_t>(m_placed.slices) +
               static_cast<std::size_t>(z);
    }
    std::size_t get_tile(int x, int y) const { return m_placed.design.get_tile_index(x, y); }
    // Moves the pins of `cell` to (x, y) and updates the touched boxes.
    void move_pins(int cell, int x, int y);
    void place_cell(int cell, const BEL& bel);
    void remove_cell(int cell);

    const PLACED_DESIGN& m_placed;
    std::vector<int> m_movable;
    std::vector<int> m_wired_nets;
    std::vector<std::uint8_t> m_wired;
    std::vector<BEL> m_bels;
    std::vector<int> m_slots;  // per logic tile and slice: the cell, or NO_CELL
    // Per tile: the clock its clocked slices share, and how many there are.
    std::vector<int> m_tile_clock;
    std::vector<int> m_tile_clocked;
    // Per cell, its pins with their net when it is wired (else NO_NET):
    // m_cell_pins[m_cell_pin_start[c] .. m_cell_pin_start[c + 1] - 1].
    struct CELL_PIN {
        int pin;
        int wired_net;
    };
    std::vector<int> m_cell_pin_start;
    std::vector<CELL_PIN> m_cell_pins;
    std::vector<int> m_pin_x;
    std::vector<int> m_pin_y;
    // Boxes of the wired nets (the others keep an empty box), and their
    // plain form laid out as the netlist arrays read them.
    std::vector<COUNTED_BOX> m_boxes;
    std::vector<int> m_box_arrays;  // xl, xr, yb, yt per net

    // The tried move.
    struct TRIED {
        int cell = NO_CELL;
        int other = NO_CELL;
        BEL from;
        BEL to;
    } m_tried;
    std::vector<TOUCHED_NET> m_touched;
    std::vector<int> m_touched_index;  // per net: its entry in m_touched, or -1
};

#endif
