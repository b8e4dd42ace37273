// The placement the pass changes, and its boxes kept up to date move by move.
#include "placer/placement.h"

#include <algorithm>

namespace {

constexpr int BOX_FIELDS = 4;

// A pin of a box moves from `from` to `to` along one axis, whose span is
// lo..hi with on_lo pins at lo and on_hi at hi; false when the span must be
// scanned again (the pin held an edge alone and left it inwards).
inline bool move_along(int& lo, int& hi, int& on_lo, int& on_hi, int from, int to)
{
    if (to < from) {
        if (from == hi) {
            if (on_hi == 1)
                return false;
            --on_hi;
        }
        if (to < lo) {
            lo = to;
            on_lo = 1;
        } else if (to == lo) {
            ++on_lo;
        }
    } else if (to > from) {
        if (from == lo) {
            if (on_lo == 1)
                return false;
            --on_lo;
        }
        if (to > hi) {
            hi = to;
            on_hi = 1;
        } else if (to == hi) {
            ++on_hi;
        }
    }
    return true;
}

}  // namespace

PLACEMENT::PLACEMENT(const PLACED_DESIGN& placed)
    : m_placed(placed),
      m_bels(placed.cell_bels),
      m_slots(placed.design.get_num_tiles() * static_cast<std::size_t>(placed.slices), NO_CELL),
      m_tile_clock(placed.design.get_num_tiles(), NO_NET),
      m_tile_clocked(placed.design.get_num_tiles(), 0),
      m_pin_x(placed.design.pin_x),
      m_pin_y(placed.design.pin_y)
{
    const DESIGN& design = placed.design;
    const int num_cells = placed.get_num_cells();
    for (int cell = 0; cell < num_cells; ++cell)
        if (m_bels[static_cast<std::size_t>(cell)].kind == BEL_KIND::SLICE) {
            m_movable.push_back(cell);
            place_cell(cell, m_bels[static_cast<std::size_t>(cell)]);
        }
    std::vector<int> pin_net(design.pin_x.size());
    m_wired.assign(static_cast<std::size_t>(design.get_num_nets()), 0);
    for (int net = 0; net < design.get_num_nets(); ++net) {
        for (int pin = design.net_start[net]; pin < design.net_start[net + 1]; ++pin)
            pin_net[static_cast<std::size_t>(pin)] = net;
        const int driver = placed.placement.pin_cell[static_cast<std::size_t>(design.net_start[net])];
        const bool global =
            (design.flags[net] & NET_FLAG_GLOBAL) != 0 && m_bels[static_cast<std::size_t>(driver)].kind == BEL_KIND::IO;
        if (design.get_num_pins(net) >= 2 && !global) {
            m_wired[static_cast<std::size_t>(net)] = 1;
            m_wired_nets.push_back(net);
        }
    }
    // Each cell's pins, in pin order.
    m_cell_pin_start.assign(static_cast<std::size_t>(num_cells) + 1, 0);
    for (int cell : placed.placement.pin_cell)
        ++m_cell_pin_start[static_cast<std::size_t>(cell) + 1];
    for (int cell = 0; cell < num_cells; ++cell)
        m_cell_pin_start[static_cast<std::size_t>(cell) + 1] += m_cell_pin_start[static_cast<std::size_t>(cell)];
    m_cell_pins.resize(design.pin_x.size());
    std::vector<int> next(m_cell_pin_start.begin(), m_cell_pin_start.end() - 1);
    for (std::size_t pin = 0; pin < design.pin_x.size(); ++pin) {
        const int net = pin_net[pin];
        m_cell_pins[static_cast<std::size_t>(next[static_cast<std::size_t>(placed.placement.pin_cell[pin])]++)] = {
            static_cast<int>(pin), is_wired(net) ? net : NO_NET};
    }
    m_boxes.resize(static_cast<std::size_t>(design.get_num_nets()));
    m_box_arrays.assign(static_cast<std::size_t>(design.get_num_nets()) * BOX_FIELDS, 0);
    for (int net : m_wired_nets) {
        m_boxes[static_cast<std::size_t>(net)] = scan_box(net);
        const NET_BOX& box = m_boxes[static_cast<std::size_t>(net)].box;
        std::copy_n(&box.xl, BOX_FIELDS, &m_box_arrays[static_cast<std::size_t>(net) * BOX_FIELDS]);
    }
    m_touched_index.assign(static_cast<std::size_t>(design.get_num_nets()), -1);
}

bool PLACEMENT::is_legal_move(int cell, int x, int y, int z) const
{
    const BEL& from = get_bel(cell);
    if (from.kind != BEL_KIND::SLICE || (from.x == x && from.y == y) || x < 0 || y < 0 || x >= get_nx() ||
        y >= get_ny() || z < 0 || z >= m_placed.slices ||
        m_placed.design.tile_kind[get_tile(x, y)] != m_placed.design.tile_kind[get_tile(from.x, from.y)])
        return false;
    const int other = get_cell_at(x, y, z);
    // A clocked cell may join a tile whose other clocked slices share its clock.
    const auto fits = [this](int moving, int leaving, std::size_t tile) {
        const int clock = m_placed.cell_clock[static_cast<std::size_t>(moving)];
        if (clock == NO_NET)
            return true;
        const bool leaving_clocked =
            leaving != NO_CELL && m_placed.cell_clock[static_cast<std::size_t>(leaving)] != NO_NET;
        return m_tile_clocked[tile] - (leaving_clocked ? 1 : 0) == 0 || m_tile_clock[tile] == clock;
    };
    return fits(cell, other, get_tile(x, y)) && (other == NO_CELL || fits(other, cell, get_tile(from.x, from.y)));
}

const std::vector<TOUCHED_NET>& PLACEMENT::try_move(int cell, int x, int y, int z)
{
    m_tried = {cell, get_cell_at(x, y, z), get_bel(cell), BEL{x, y, z, BEL_KIND::SLICE}};
    m_touched.clear();
    move_pins(cell, x, y);
    if (m_tried.other != NO_CELL)
        move_pins(m_tried.other, m_tried.from.x, m_tried.from.y);
    for (TOUCHED_NET& touched : m_touched)
        if (touched.rescan)
            touched.box = scan_box(touched.net);
    return m_touched;
}

void PLACEMENT::move_pins(int cell, int x, int y)
{
    const int from_x = get_bel(cell).x;
    const int from_y = get_bel(cell).y;
    const std::size_t end = static_cast<std::size_t>(m_cell_pin_start[static_cast<std::size_t>(cell) + 1]);
    for (auto i = static_cast<std::size_t>(m_cell_pin_start[static_cast<std::size_t>(cell)]); i < end; ++i) {
        const CELL_PIN& cell_pin = m_cell_pins[i];
        m_pin_x[static_cast<std::size_t>(cell_pin.pin)] = x;
        m_pin_y[static_cast<std::size_t>(cell_pin.pin)] = y;
        if (cell_pin.wired_net == NO_NET)
            continue;
        int& index = m_touched_index[static_cast<std::size_t>(cell_pin.wired_net)];
        if (index < 0) {
            // Filled in place: a copy assembled on the stack and moved in
            // stalls on its own partial stores.
            index = static_cast<int>(m_touched.size());
            TOUCHED_NET& added = m_touched.emplace_back();
            added.net = cell_pin.wired_net;
            added.box = m_boxes[static_cast<std::size_t>(cell_pin.wired_net)];
        }
        TOUCHED_NET& touched = m_touched[static_cast<std::size_t>(index)];
        if (touched.rescan)
            continue;
        COUNTED_BOX& b = touched.box;
        touched.rescan = !move_along(b.box.xl, b.box.xr, b.on_xl, b.on_xr, from_x, x) ||
                         !move_along(b.box.yb, b.box.yt, b.on_yb, b.on_yt, from_y, y);
    }
}

void PLACEMENT::commit()
{
    const TRIED& tried = m_tried;
    remove_cell(tried.cell);
    if (tried.other != NO_CELL) {
        remove_cell(tried.other);
        place_cell(tried.other, tried.from);
    }
    place_cell(tried.cell, tried.to);
    for (const TOUCHED_NET& touched : m_touched) {
        m_boxes[static_cast<std::size_t>(touched.net)] = touched.box;
        std::copy_n(&touched.box.box.xl, BOX_FIELDS, &m_box_arrays[static_cast<std::size_t>(touched.net) * BOX_FIELDS]);
        m_touched_index[static_cast<std::size_t>(touched.net)] = -1;
    }
    m_touched.clear();
}

void PLACEMENT::undo()
{
    const TRIED& tried = m_tried;
    const auto restore = [this](int cell) {
        const BEL& bel = get_bel(cell);
        for (int i = m_cell_pin_start[static_cast<std::size_t>(cell)];
             i < m_cell_pin_start[static_cast<std::size_t>(cell) + 1]; ++i) {
            const auto pin = static_cast<std::size_t>(m_cell_pins[static_cast<std::size_t>(i)].pin);
            m_pin_x[pin] = bel.x;
            m_pin_y[pin] = bel.y;
        }
    };
    restore(tried.cell);
    if (tried.other != NO_CELL)
        restore(tried.other);
    for (const TOUCHED_NET& touched : m_touched)
        m_touched_index[static_cast<std::size_t>(touched.net)] = -1;
    m_touched.clear();
}

void PLACEMENT::place_cell(int cell, const BEL& bel)
{
    m_bels[static_cast<std::size_t>(cell)] = bel;
    m_slots[get_slot(bel.x, bel.y, bel.z)] = cell;
    const int clock = m_placed.cell_clock[static_cast<std::size_t>(cell)];
    if (clock != NO_NET) {
        m_tile_clock[get_tile(bel.x, bel.y)] = clock;
        ++m_tile_clocked[get_tile(bel.x, bel.y)];
    }
}

void PLACEMENT::remove_cell(int cell)
{
    const BEL& bel = get_bel(cell);
    if (m_slots[get_slot(bel.x, bel.y, bel.z)] == cell)
        m_slots[get_slot(bel.x, bel.y, bel.z)] = NO_CELL;
    if (m_placed.cell_clock[static_cast<std::size_t>(cell)] != NO_NET && --m_tile_clocked[get_tile(bel.x, bel.y)] == 0)
        m_tile_clock[get_tile(bel.x, bel.y)] = NO_NET;
}

COUNTED_BOX PLACEMENT::scan_box(int net) const
{
    const DESIGN& design = m_placed.design;
    const int first = design.net_start[net];
    COUNTED_BOX b;
    b.box = {m_pin_x[static_cast<std::size_t>(first)], m_pin_x[static_cast<std::size_t>(first)],
             m_pin_y[static_cast<std::size_t>(first)], m_pin_y[static_cast<std::size_t>(first)]};
    for (int pin = first; pin < design.net_start[net + 1]; ++pin) {
        b.box.xl = std::min(b.box.xl, m_pin_x[static_cast<std::size_t>(pin)]);
        b.box.xr = std::max(b.box.xr, m_pin_x[static_cast<std::size_t>(pin)]);
        b.box.yb = std::min(b.box.yb, m_pin_y[static_cast<std::size_t>(pin)]);
        b.box.yt = std::max(b.box.yt, m_pin_y[static_cast<std::size_t>(pin)]);
    }
    for (int pin = first; pin < design.net_start[net + 1]; ++pin) {
        b.on_xl += m_pin_x[static_cast<std::size_t>(pin)] == b.box.xl;
        b.on_xr += m_pin_x[static_cast<std::size_t>(pin)] == b.box.xr;
        b.on_yb += m_pin_y[static_cast<std::size_t>(pin)] == b.box.yb;
        b.on_yt += m_pin_y[static_cast<std::size_t>(pin)] == b.box.yt;
    }
    return b;
}

NETLIST_ARRAYS PLACEMENT::get_netlist_arrays() const
{
    const DESIGN& design = m_placed.design;
    NETLIST_ARRAYS arrays;
    arrays.num_nets = design.get_num_nets();
    arrays.net_start = design.net_start.data();
    arrays.pin_x = m_pin_x.data();
    arrays.pin_y = m_pin_y.data();
    arrays.net_weight = design.weight.data();
    arrays.xl = m_box_arrays.data();
    arrays.xr = m_box_arrays.data() + 1;
    arrays.yb = m_box_arrays.data() + 2;
    arrays.yt = m_box_arrays.data() + 3;
    arrays.box_stride = BOX_FIELDS;
    arrays.policy = CONGESTION_POLICY::RATIO;
    return arrays;
}
