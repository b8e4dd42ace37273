// The path-probability net model: boundary-crossing probabilities per net,
// shared with the tiles on both sides of each boundary.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>

#include "fitter/congestion/congestion_impl.h"
#include "fitter/congestion/kernel_variants.h"
#include "fitter/congestion/path_probability_arrays.h"

namespace congestion_internal {
namespace {

// Nets with at least this many pins use the quadrant counting rule instead
// of averaging two-pin probabilities, and read no weights.
constexpr int LARGE_NET_PINS = 16;

// Two-pin crossing probabilities of the route from the driver A = (ax, ay)
// to a load B = (bx, by) on another tile, over the pair box from (lx, ly).
// Each value is an integer numerator over S = dx + dy, so the entries across
// the pair box add up to 1 at every cut between A and B.
struct TWO_PIN {
    int ax, ay, bx, by;
    int dx, dy, lx, ly;
    float span;

    TWO_PIN(int ax_, int ay_, int bx_, int by_)
        : ax(ax_),
          ay(ay_),
          bx(bx_),
          by(by_),
          dx(std::abs(ax_ - bx_)),
          dy(std::abs(ay_ - by_)),
          lx(std::min(ax_, bx_)),
          ly(std::min(ay_, by_)),
          span(static_cast<float>(dx + dy))
    {}

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

// Adds `value` to elements first .. last of a column.
void add_to(float* values, int first, int last, float value)
{
    for (int j = first; j <= last; ++j)
        values[j] = values[j] + value;
}

// Sets elements first .. last of a column to `value`.
void set_to(float* values, int first, int last, float value)
{
    for (int j = first; j <= last; ++j)
        values[j] = value;
}

// Elements 0 .. count - 1 of `values` set to 0.
void clear(float* values, size_t count) { std::fill_n(values, count, 0.0f); }

// The crossing arrays that hold values for the current net. A small net's
// array that none of its loads writes is neither cleared nor read: it would
// only add +0.0 to the chunk's grid, whose elements, sums started from +0.0,
// are never -0.0, so leaving it out changes no bit.
struct LIVE_ARRAYS {
    bool right = false;
    bool left = false;
    bool up = false;
    bool down = false;
};

// Clears a crossing array the first time a load writes it: `count` elements,
// the part that normalise and share_crossings read.
float* make_live(float* values, bool& live, size_t count)
{
    if (!live)
        clear(values, count);
    live = true;
    return values;
}

// Adds one load's weighted two-pin probabilities, and with `with_cover` its
// weight as coverage, column by column over the pair box. Every element gets
// w times its probability, the product formed first and then added.
void add_load(const NET_BOX& box, int xk, int yk, float w, bool with_cover, PATH_ARRAYS& arrays, LIVE_ARRAYS& live)
{
    const size_t area = static_cast<size_t>(box.width()) * static_cast<size_t>(box.height());
    const size_t h_area = area - static_cast<size_t>(box.height());
    const TWO_PIN pair(box.xd, box.yd, xk, yk);
    const int lx = pair.lx;
    const int hx = std::max(box.xd, xk);
    // The pair box's rows, as element indices of the net's columns.
    const int first = pair.ly - box.yb;
    const int last = std::max(box.yd, yk) - box.yb;
    if (with_cover) {
        for (int x = lx; x <= hx - 1; ++x)
            add_to(arrays.column(arrays.h_cover, x), first, last, w);
        for (int x = lx; x <= hx; ++x)
            add_to(arrays.column(arrays.v_cover, x), first, last - 1, w);
    }

    if (box.xd != xk) {
        // Along a column only the pair's end rows (A's and B's: the pair
        // box's first and last rows) differ; the rows between share 1 / S.
        float* crossings =
            box.xd < xk ? make_live(arrays.right, live.right, h_area) : make_live(arrays.left, live.left, h_area);
        for (int x = lx; x <= hx - 1; ++x) {
            const int i = x - lx;
            float* c = arrays.column(crossings, x);
            c[first] = c[first] + w * pair.horizontal(i, 0);
            if (last > first) {
                const float between = w * pair.horizontal(i, 1);
                for (int j = first + 1; j < last; ++j)
                    c[j] = c[j] + between;
                c[last] = c[last] + w * pair.horizontal(i, pair.dy);
            }
        }
    }
    if (box.yd != yk) {
        // Only the end columns (A's and B's) vary along the column; the
        // columns between, or all of them when the pair shares a column,
        // hold one value.
        float* crossings = box.yd < yk ? make_live(arrays.up, live.up, area) : make_live(arrays.down, live.down, area);
        for (int x = lx; x <= hx; ++x) {
            const int i = x - lx;
            float* c = arrays.column(crossings, x) + first;
            if (pair.dx != 0 && (i == 0 || i == pair.dx)) {
                for (int j = 0; j < pair.dy; ++j)
                    c[j] = c[j] + w * pair.vertical(i, j);
            } else {
                add_to(c, 0, pair.dy - 1, w * pair.vertical(i, 0));
            }
        }
    }
}

// value / cover where the cover is positive, else value unchanged. Every
// lane divides, by 1 where the cover is not positive, and the result is
// selected: with no branch around the division the loops vectorise, no
// discarded lane raises a floating-point flag, and each kept quotient is the
// same correctly rounded division.
inline float average(float value, float cover)
{
    const bool covered = cover > 0.0f;
    const float quotient = value / (covered ? cover : 1.0f);
    return covered ? quotient : value;
}

// Turns the weighted sums of the small-net procedure into weighted averages,
// over the cover arrays or, with `uniform`, over `cover` everywhere.
void normalise(const NET_BOX& box, bool uniform, float cover, const LIVE_ARRAYS& live, PATH_ARRAYS& arrays)
{
    const int rows = box.height();
    const auto divide = [&](float* values, const float* covers, int count) {
        for (int j = 0; j < count; ++j)
            values[j] = average(values[j], uniform ? cover : covers[j]);
    };
    for (int x = box.xl; x <= box.xr; ++x) {
        if (x < box.xr) {
            const float* h_cover = arrays.column(arrays.h_cover, x);
            if (live.right)
                divide(arrays.column(arrays.right, x), h_cover, rows);
            if (live.left)
                divide(arrays.column(arrays.left, x), h_cover, rows);
        }
        const float* v_cover = arrays.column(arrays.v_cover, x);
        if (live.up)
            divide(arrays.column(arrays.up, x), v_cover, rows - 1);
        if (live.down)
            divide(arrays.column(arrays.down, x), v_cover, rows - 1);
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
// mean density of the two quadrants beside it. Boundaries on the far side of
// the driver get 0: the arrays are not cleared for large nets, so every
// element that share_crossings reads is written here.
void fill_large_net_crossings(const NET_BOX& box, const QUADRANT_COUNTS& c, PATH_ARRAYS& arrays)
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

    // Element j of a column is row yb + j; the driver's row is element jd.
    const int jd = box.yd - box.yb;
    const int rows = box.height();
    for (int x = box.xl; x <= box.xr - 1; ++x) {
        float* right = arrays.column(arrays.right, x);
        float* left = arrays.column(arrays.left, x);
        if (x < box.xd) {
            set_to(right, 0, rows - 1, 0.0f);
            set_to(left, 0, jd - 1, h_sw);
            left[jd] = left_line;
            set_to(left, jd + 1, rows - 1, h_nw);
        } else {
            set_to(right, 0, jd - 1, h_se);
            right[jd] = right_line;
            set_to(right, jd + 1, rows - 1, h_ne);
            set_to(left, 0, rows - 1, 0.0f);
        }
    }
    for (int x = box.xl; x <= box.xr; ++x) {
        float* up = arrays.column(arrays.up, x);
        float* down = arrays.column(arrays.down, x);
        set_to(up, 0, jd - 1, 0.0f);
        set_to(up, jd, rows - 2, by_side(x, box.xd, v_nw, up_line, v_ne));
        set_to(down, 0, jd - 1, by_side(x, box.xd, v_sw, down_line, v_se));
        set_to(down, jd, rows - 2, 0.0f);
    }
}

// Gives each tile half of the crossing value of each boundary it touches.
// A column of the box is a row of the grids, so both sides are walked in
// memory order, and each tile is read and written once: it adds the
// boundary on its own side before the one on its lower side, as in the
// tile-by-tile order.
void share_crossings(const NET_BOX& box, const PATH_ARRAYS& arrays, const LIVE_ARRAYS& live, TYPE_GRIDS& grids)
{
    const int rows = box.height();
    // Each tile of a horizontal grid adds its own column's boundary, then
    // the one of the column before.
    const auto share_horizontal = [&](GRID_2D<float>& grid, const float* crossings) {
        for (int x = box.xl; x <= box.xr; ++x) {
            float* __restrict tiles = &grid(x, box.yb);
            const bool has_own = x < box.xr;
            const bool has_before = x > box.xl;
            if (has_own && has_before) {
                const float* __restrict own = arrays.column(crossings, x);
                const float* __restrict before = arrays.column(crossings, x - 1);
                for (int j = 0; j < rows; ++j)
                    tiles[j] = (tiles[j] + 0.5f * own[j]) + 0.5f * before[j];
            } else if (has_own || has_before) {
                const float* __restrict c = arrays.column(crossings, has_own ? x : x - 1);
                for (int j = 0; j < rows; ++j)
                    tiles[j] = tiles[j] + 0.5f * c[j];
            }
        }
    };
    // Each tile of a vertical grid adds the boundary above it, then the one
    // below: the first tile has none below, the last none above.
    const auto share_vertical = [&](GRID_2D<float>& grid, const float* crossings) {
        for (int x = box.xl; x <= box.xr; ++x) {
            float* __restrict tiles = &grid(x, box.yb);
            const float* __restrict c = arrays.column(crossings, x);
            tiles[0] = tiles[0] + 0.5f * c[0];
            for (int j = 1; j < rows - 1; ++j)
                tiles[j] = (tiles[j] + 0.5f * c[j]) + 0.5f * c[j - 1];
            tiles[rows - 1] = tiles[rows - 1] + 0.5f * c[rows - 2];
        }
    };
    if (live.right)
        share_horizontal(grids[CONGESTION::HORIZONTAL_RIGHT], arrays.right);
    if (live.left)
        share_horizontal(grids[CONGESTION::HORIZONTAL_LEFT], arrays.left);
    if (rows > 1) {
        if (live.up)
            share_vertical(grids[CONGESTION::VERTICAL_UP], arrays.up);
        if (live.down)
            share_vertical(grids[CONGESTION::VERTICAL_DOWN], arrays.down);
    }
}

void add_net_demand(const NETLIST_IF& net_if, int net, PATH_ARRAYS& arrays, TYPE_GRIDS& grids)
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
    arrays.prepare(box);
    // The loads add into the covers, and normalise reads them whole: the
    // horizontal one over the columns left of the box's last, the vertical
    // one over every column.
    const size_t area = static_cast<size_t>(box.width()) * static_cast<size_t>(box.height());
    const size_t h_area = area - static_cast<size_t>(box.height());
    const auto clear_covers = [&] {
        clear(arrays.h_cover, h_area);
        clear(arrays.v_cover, area);
    };
    // A small net's crossing arrays are cleared as its loads first write
    // them; a large net writes all of them whole.
    LIVE_ARRAYS live;
    if (!small_net)
        live = {true, true, true, true};
    // The load of a two-pin net whose pair box with the driver is the net's
    // box (it lies at the opposite corner) covers that box exactly once:
    // every cover element would hold 0 + w, which is w, so the cover is kept
    // as that one number. Until a load is added it is 0, the cover of a box
    // without loads.
    bool uniform_cover = num_pins == 2;
    float cover = 0.0f;
    if (small_net && !uniform_cover)
        clear_covers();
    arrays.mark_pin(box.xd, box.yd);
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
        if (!arrays.mark_pin(load_loc.x, load_loc.y))
            continue;
        if (small_net) {
            const float w = net_if.get_pin_weight(net, k) + 1.0f;
            if (uniform_cover) {
                const bool opposite_corner =
                    std::min(box.xd, load_loc.x) == box.xl && std::max(box.xd, load_loc.x) == box.xr &&
                    std::min(box.yd, load_loc.y) == box.yb && std::max(box.yd, load_loc.y) == box.yt;
                uniform_cover = opposite_corner;
                if (opposite_corner)
                    cover = w;
                else
                    clear_covers();
            }
            add_load(box, load_loc.x, load_loc.y, w, !uniform_cover, arrays, live);
        } else {
            counts.add(box, load_loc.x, load_loc.y);
        }
    }
    arrays.clear_pin_marks();
    if (small_net)
        normalise(box, uniform_cover, cover, live, arrays);
    else
        fill_large_net_crossings(box, counts, arrays);
    share_crossings(box, arrays, live, grids);
}

void add_chunk_demand(const std::vector<int>& nets, int chunk, int num_chunks, TYPE_GRIDS& grids,
                      const NETLIST_IF* net_if, PATH_ARRAYS& arrays)
{
    CONGESTION_CHECK(net_if != nullptr, "net_if != nullptr");
    for (size_t i = static_cast<size_t>(chunk); i < nets.size(); i += static_cast<size_t>(num_chunks))
        add_net_demand(*net_if, nets[i], arrays, grids);
}

#if defined(CONGESTION_HAS_VARIANTS)
CONGESTION_AVX2_VARIANT void add_chunk_demand_avx2(const std::vector<int>& nets, int chunk, int num_chunks,
                                                   TYPE_GRIDS& grids, const NETLIST_IF* net_if, PATH_ARRAYS& arrays)
{
    add_chunk_demand(nets, chunk, num_chunks, grids, net_if, arrays);
}

CONGESTION_AVX512_VARIANT void add_chunk_demand_avx512(const std::vector<int>& nets, int chunk, int num_chunks,
                                                       TYPE_GRIDS& grids, const NETLIST_IF* net_if, PATH_ARRAYS& arrays)
{
    add_chunk_demand(nets, chunk, num_chunks, grids, net_if, arrays);
}
#endif

}  // namespace

void add_path_probability_demand(const std::vector<int>& nets, int chunk, int num_chunks, TYPE_GRIDS& grids,
                                 const NETLIST_IF* net_if, PATH_ARRAYS* arrays)
{
    PATH_ARRAYS own_arrays;
    PATH_ARRAYS& used = arrays != nullptr ? *arrays : own_arrays;
    switch (get_kernel_variant()) {
#if defined(CONGESTION_HAS_VARIANTS)
    case KERNEL_VARIANT::AVX512: return add_chunk_demand_avx512(nets, chunk, num_chunks, grids, net_if, used);
    case KERNEL_VARIANT::AVX2: return add_chunk_demand_avx2(nets, chunk, num_chunks, grids, net_if, used);
#endif
    default: return add_chunk_demand(nets, chunk, num_chunks, grids, net_if, used);
    }
}

}  // namespace congestion_internal
