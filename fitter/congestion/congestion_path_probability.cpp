// The path-probability net model: boundary-crossing probabilities per net,
// shared with the tiles on both sides of each boundary.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>

#include "fitter/congestion/congestion_impl.h"

namespace {

// Nets with at least this many pins use the quadrant counting rule instead
// of averaging two-pin probabilities, and read no weights.
constexpr int LARGE_NET_PINS = 16;

// Inclusive pin box of a net, and the driver's tile.
struct NET_BOX {
    int xl;
    int xr;
    int yb;
    int yt;
    int xd;
    int yd;
    int width() const { return xr - xl + 1; }
    int height() const { return yt - yb + 1; }
};

// Per-net arrays over the pin box, indexed (x - xl) * height + (y - yb).
// One set lives per chunk call and only grows, so nets reuse the storage and
// only the part a net covers is cleared.
struct NET_ARRAYS {
    std::vector<float> right;
    std::vector<float> left;
    std::vector<float> up;
    std::vector<float> down;
    std::vector<float> h_cover;
    std::vector<float> v_cover;
    std::vector<int> pin_count;
    int height = 0;
    int xl = 0;
    int yb = 0;

    void prepare(const NET_BOX& box, bool with_cover)
    {
        height = box.height();
        xl = box.xl;
        yb = box.yb;
        const size_t area = static_cast<size_t>(box.width()) * static_cast<size_t>(height);
        if (pin_count.size() < area) {
            for (std::vector<float>* values : {&right, &left, &up, &down, &h_cover, &v_cover})
                values->resize(area);
            pin_count.resize(area);
        }
        for (std::vector<float>* values : {&right, &left, &up, &down})
            std::fill_n(values->begin(), area, 0.0f);
        if (with_cover) {
            std::fill_n(h_cover.begin(), area, 0.0f);
            std::fill_n(v_cover.begin(), area, 0.0f);
        }
        std::fill_n(pin_count.begin(), area, 0);
    }

    size_t index(int x, int y) const
    {
        return static_cast<size_t>(x - xl) * static_cast<size_t>(height) + static_cast<size_t>(y - yb);
    }
};

// Two-pin crossing probabilities of the route from the driver A = (ax, ay)
// to a load B = (bx, by) on another tile, over the pair box from (lx, ly).
// Each value is an integer numerator over S = dx + dy, so the entries across
// the pair box add up to 1 at every cut between A and B.
struct TWO_PIN {
    int ax, ay, bx, by;
    int dx, dy, lx, ly;
    float span;

    TWO_PIN(int ax_, int ay_, int bx_, int by_)
        : ax(ax_), ay(ay_), bx(bx_), by(by_), dx(std::abs(ax_ - bx_)), dy(std::abs(ay_ - by_)),
          lx(std::min(ax_, bx_)), ly(std::min(ay_, by_)), span(static_cast<float>(dx + dy))
    {
    }

    // Boundary between columns lx + i and lx + i + 1, in row ly + j. In A's
    // row the boundary next to A gets dx / S and each step away one 1 / S
    // less; B's row mirrors that from B; rows strictly between get 1 / S.
    float horizontal(int i, int j) const
    {
        if (dy == 0)
            return 1.0f;
        int numerator = 1;
        if (j == ay - ly)
            numerator = ax < bx ? dx - i : i + 1;
        else if (j == by - ly)
            numerator = ax < bx ? i + 1 : dx - i;
        return static_cast<float>(numerator) / span;
    }

    // Boundary between rows ly + j and ly + j + 1, in column lx + i.
    float vertical(int i, int j) const
    {
        if (dx == 0)
            return 1.0f;
        int numerator = 1;
        if (i == ax - lx)
            numerator = ay < by ? dy - j : j + 1;
        else if (i == bx - lx)
            numerator = ay < by ? j + 1 : dy - j;
        return static_cast<float>(numerator) / span;
    }
};

// Adds one load's weighted two-pin probabilities and its weight as coverage.
void add_load(const NET_BOX& box, int xk, int yk, float w, NET_ARRAYS& arrays)
{
    const TWO_PIN pair(box.xd, box.yd, xk, yk);
    const int lx = pair.lx;
    const int hx = std::max(box.xd, xk);
    const int ly = pair.ly;
    const int hy = std::max(box.yd, yk);
    for (int x = lx; x <= hx - 1; ++x)
        for (int y = ly; y <= hy; ++y)
            arrays.h_cover[arrays.index(x, y)] = arrays.h_cover[arrays.index(x, y)] + w;
    for (int x = lx; x <= hx; ++x)
        for (int y = ly; y <= hy - 1; ++y)
            arrays.v_cover[arrays.index(x, y)] = arrays.v_cover[arrays.index(x, y)] + w;

    if (box.xd != xk) {
        std::vector<float>& crossings = box.xd < xk ? arrays.right : arrays.left;
        for (int x = lx; x <= hx - 1; ++x)
            for (int y = ly; y <= hy; ++y) {
                float& crossing = crossings[arrays.index(x, y)];
                crossing = crossing + w * pair.horizontal(x - lx, y - ly);
            }
    }
    if (box.yd != yk) {
        std::vector<float>& crossings = box.yd < yk ? arrays.up : arrays.down;
        for (int x = lx; x <= hx; ++x)
            for (int y = ly; y <= hy - 1; ++y) {
                float& crossing = crossings[arrays.index(x, y)];
                crossing = crossing + w * pair.vertical(x - lx, y - ly);
            }
    }
}

// Turns the weighted sums of the small-net procedure into weighted averages.
void normalise(const NET_BOX& box, NET_ARRAYS& arrays)
{
    for (int x = box.xl; x <= box.xr; ++x)
        for (int y = box.yb; y <= box.yt; ++y) {
            const size_t at = arrays.index(x, y);
            if (x < box.xr && arrays.h_cover[at] > 0.0f) {
                arrays.right[at] = arrays.right[at] / arrays.h_cover[at];
                arrays.left[at] = arrays.left[at] / arrays.h_cover[at];
            }
            if (y < box.yt && arrays.v_cover[at] > 0.0f) {
                arrays.up[at] = arrays.up[at] / arrays.v_cover[at];
                arrays.down[at] = arrays.down[at] / arrays.v_cover[at];
            }
        }
}

// Loads of a large net counted by their direction from the driver.
struct QUADRANT_COUNTS {
    int east = 0, north = 0, west = 0, south = 0;
    int north_east = 0, north_west = 0, south_west = 0, south_east = 0;

    void add(const NET_BOX& box, int x, int y)
    {
        if (y == box.yd)
            ++(x > box.xd ? east : west);
        else if (x == box.xd)
            ++(y > box.yd ? north : south);
        else if (y > box.yd)
            ++(x > box.xd ? north_east : north_west);
        else
            ++(x > box.xd ? south_east : south_west);
    }
};

// sqrt(count) / distance, never above 1.
float density(int count, int distance)
{
    const float quotient = std::sqrt(static_cast<float>(count)) / static_cast<float>(distance);
    return quotient >= 1.0f ? 1.0f : quotient;
}

// `before` ahead of the driver's line, `on_line` on it, `after` past it.
float by_side(int pos, int driver_pos, float before, float on_line, float after)
{
    if (pos < driver_pos)
        return before;
    return pos > driver_pos ? after : on_line;
}

// Fills the crossings of a net of many pins from the load counts of the
// quadrants around the driver: a boundary on the driver's row or column is
// crossed for sure when a load lies on that line beyond it, else it takes the
// mean density of the two quadrants beside it.
void fill_large_net_crossings(const NET_BOX& box, const QUADRANT_COUNTS& c, NET_ARRAYS& arrays)
{
    const int d_north = std::max(box.yt - box.yd, 1);
    const int d_south = std::max(box.yd - box.yb, 1);
    const int d_east = std::max(box.xr - box.xd, 1);
    const int d_west = std::max(box.xd - box.xl, 1);
    const float h_ne = density(c.north_east, d_north);
    const float h_nw = density(c.north_west, d_north);
    const float h_sw = density(c.south_west, d_south);
    const float h_se = density(c.south_east, d_south);
    const float v_ne = density(c.north_east, d_east);
    const float v_nw = density(c.north_west, d_west);
    const float v_sw = density(c.south_west, d_west);
    const float v_se = density(c.south_east, d_east);
    const float right_line = c.east >= 1 ? 1.0f : (h_se + h_ne) * 0.5f;
    const float left_line = c.west >= 1 ? 1.0f : (h_sw + h_nw) * 0.5f;
    const float up_line = c.north >= 1 ? 1.0f : (v_nw + v_ne) * 0.5f;
    const float down_line = c.south >= 1 ? 1.0f : (v_se + v_sw) * 0.5f;

    for (int x = box.xl; x <= box.xr; ++x)
        for (int y = box.yb; y <= box.yt; ++y) {
            const size_t at = arrays.index(x, y);
            if (x >= box.xd && x < box.xr)
                arrays.right[at] = by_side(y, box.yd, h_se, right_line, h_ne);
            if (x < box.xd)
                arrays.left[at] = by_side(y, box.yd, h_sw, left_line, h_nw);
            if (y >= box.yd && y < box.yt)
                arrays.up[at] = by_side(x, box.xd, v_nw, up_line, v_ne);
            if (y < box.yd)
                arrays.down[at] = by_side(x, box.xd, v_sw, down_line, v_se);
        }
}

// Gives each tile half of the crossing value of each boundary it touches.
void share_crossings(const NET_BOX& box, const NET_ARRAYS& arrays, TYPE_GRIDS& grids)
{
    GRID_2D<float>& right = grids[CONGESTION::HORIZONTAL_RIGHT];
    GRID_2D<float>& left = grids[CONGESTION::HORIZONTAL_LEFT];
    GRID_2D<float>& up = grids[CONGESTION::VERTICAL_UP];
    GRID_2D<float>& down = grids[CONGESTION::VERTICAL_DOWN];
    for (int x = box.xl; x <= box.xr; ++x)
        for (int y = box.yb; y <= box.yt; ++y) {
            const size_t at = arrays.index(x, y);
            if (x < box.xr) {
                right(x, y) = right(x, y) + 0.5f * arrays.right[at];
                left(x, y) = left(x, y) + 0.5f * arrays.left[at];
            }
            if (x > box.xl) {
                const size_t west = arrays.index(x - 1, y);
                right(x, y) = right(x, y) + 0.5f * arrays.right[west];
                left(x, y) = left(x, y) + 0.5f * arrays.left[west];
            }
            if (y < box.yt) {
                up(x, y) = up(x, y) + 0.5f * arrays.up[at];
                down(x, y) = down(x, y) + 0.5f * arrays.down[at];
            }
            if (y > box.yb) {
                const size_t south = arrays.index(x, y - 1);
                up(x, y) = up(x, y) + 0.5f * arrays.up[south];
                down(x, y) = down(x, y) + 0.5f * arrays.down[south];
            }
        }
}

void add_net_demand(const NETLIST_IF& net_if, int net, NET_ARRAYS& arrays, TYPE_GRIDS& grids)
{
    const CONGESTION::LOC driver = net_if.get_pin_loc(net, 0);
    const int num_pins = net_if.get_num_pins(net);
    NET_BOX box = {driver.x, driver.x, driver.y, driver.y, driver.x, driver.y};
    for (int k = 1; k < num_pins; ++k) {
        const CONGESTION::LOC loc = net_if.get_pin_loc(net, k);
        box.xl = std::min(box.xl, loc.x);
        box.xr = std::max(box.xr, loc.x);
        box.yb = std::min(box.yb, loc.y);
        box.yt = std::max(box.yt, loc.y);
    }
    if (box.xl == box.xr && box.yb == box.yt)
        return;

    const bool small_net = num_pins < LARGE_NET_PINS;
    arrays.prepare(box, small_net);
    arrays.pin_count[arrays.index(box.xd, box.yd)] = 1;
    QUADRANT_COUNTS counts;
    const int net_xl = box.xl;
    const int net_xr = box.xr;
    const int net_yb = box.yb;
    const int net_yt = box.yt;
    for (int k = 1; k < num_pins; ++k) {
        // The second reading must fall in the box of the first: the arrays
        // are only that large.
        const CONGESTION::LOC load_loc = net_if.get_pin_loc(net, k);
        CONGESTION_CHECK(load_loc.x >= net_xl, "load_loc.x >= net_xl");
        CONGESTION_CHECK(load_loc.x <= net_xr, "load_loc.x <= net_xr");
        CONGESTION_CHECK(load_loc.y >= net_yb, "load_loc.y >= net_yb");
        CONGESTION_CHECK(load_loc.y <= net_yt, "load_loc.y <= net_yt");
        // A tile already holding a pin (the driver's or an earlier load's)
        // adds nothing more.
        int& pins_here = arrays.pin_count[arrays.index(load_loc.x, load_loc.y)];
        pins_here = pins_here + 1;
        if (pins_here > 1)
            continue;
        if (small_net)
            add_load(box, load_loc.x, load_loc.y, net_if.get_pin_weight(net, k) + 1.0f, arrays);
        else
            counts.add(box, load_loc.x, load_loc.y);
    }
    if (small_net)
        normalise(box, arrays);
    else
        fill_large_net_crossings(box, counts, arrays);
    share_crossings(box, arrays, grids);
}

}  // namespace

void add_path_probability_demand(const std::vector<int>& nets, int chunk, int num_chunks, TYPE_GRIDS& grids,
                                 const NETLIST_IF* net_if)
{
    CONGESTION_CHECK(net_if != nullptr, "net_if != nullptr");
    NET_ARRAYS arrays;
    for (size_t i = static_cast<size_t>(chunk); i < nets.size(); i += static_cast<size_t>(num_chunks))
        add_net_demand(*net_if, nets[i], arrays, grids);
}
