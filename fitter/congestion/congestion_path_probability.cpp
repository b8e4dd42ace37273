// The path-probability net model: boundary-crossing probabilities per net,
// shared with the tiles on both sides of each boundary.
//
// Its walks (the column buffers of a small net, the two-tile walk, the
// many-pin walk) agree bit for bit with one another, whichever band, batch
// or variant runs them, by these rules; comments cite them by name.
// - TILE_SHARE_ORDER: a tile of a grid takes half of the crossing value of
//   the boundary on one side, then half of the one on the other side:
//   tile = (tile + 0.5 a) + 0.5 b (add_halves), in that order, with +0.0 for
//   a boundary that is missing or lies outside the box. Every walk makes
//   exactly these operations for every tile of the columns it visits.
// - POSITIVE_ZERO: the chunk's grids start at +0.0 and every sum starts from
//   +0.0, so no tile ever holds -0.0 and adding a +0.0 changes no tile: a
//   walk may add the zeros of missing boundaries or skip them.
// - ZERO_COLUMNS: the column buffers (PATH_COLUMNS) are all zero when a net
//   starts: each walk clears what it wrote before it leaves the net.
// - DIVIDE_THEN_SELECT (kernel_variants.h): averages divide on every lane.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "fitter/congestion/congestion_impl.h"
#include "fitter/congestion/kernel_variants.h"
#include "fitter/congestion/path_probability_batch.h"

namespace congestion_internal {
namespace {

// Nets with at least this many pins use the quadrant counting rule instead
// of averaging two-pin probabilities, and read no weights.
constexpr int LARGE_NET_PINS = 16;

// TILE_SHARE_ORDER: half of `first`, then half of `second`.
inline void add_halves(float& tile, float first, float second) { tile = (tile + 0.5f * first) + 0.5f * second; }

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

// Elements first .. last of a column: a part of it that holds every value
// other than zero. Adding an empty part (from > to) to a part may widen it,
// but only within from .. to's hull with it, which lies inside the column:
// more zeros, never fewer values.
using ROWS = CLOSED_RANGE<>;

ROWS joined(ROWS hull, const ROWS& other)
{
    hull.add(other.first, other.last);
    return hull;
}

// The parts of the column buffers written for the current column (and, for
// the horizontal directions, for the column before).
struct COLUMN_ROWS {
    ROWS right, right_before, left, left_before, up, down, h_cover, v_cover;
};

// value / cover where the cover is positive, else value unchanged
// (DIVIDE_THEN_SELECT).
inline float average(float value, float cover)
{
    const bool covered = cover > 0.0f;
    const float quotient = divide_where(covered, value, cover);
    return covered ? quotient : value;
}

// Turns the weighted sums of two opposite directions into weighted averages
// over `covers`, and clears the covers (ZERO_COLUMNS). `rows_one`,
// `rows_other` and `cover_rows` span what was written of the three;
// elsewhere they hold +0.0, which averaging leaves as it is. A direction
// that no load reached on the column is left out.
void normalise(float* __restrict one, ROWS rows_one, float* __restrict other, ROWS rows_other, ROWS cover_rows,
               float* __restrict covers)
{
    const ROWS rows = joined(joined(rows_one, rows_other), cover_rows);
    if (rows_other.empty()) {
        for (int j = rows.first; j <= rows.last; ++j) {
            one[j] = average(one[j], covers[j]);
            covers[j] = 0.0f;
        }
    } else if (rows_one.empty()) {
        for (int j = rows.first; j <= rows.last; ++j) {
            other[j] = average(other[j], covers[j]);
            covers[j] = 0.0f;
        }
    } else {
        for (int j = rows.first; j <= rows.last; ++j) {
            one[j] = average(one[j], covers[j]);
            other[j] = average(other[j], covers[j]);
            covers[j] = 0.0f;
        }
    }
}

// Column x of a small net's arrays: each load whose pair box holds the
// column adds its weighted two-pin probabilities and its weight as coverage,
// in load order, every element w times its probability with the product
// formed first; the sums are then averaged over the coverage.
void small_net_column(const NET_BOX& box, const LOAD* loads, size_t num_loads, int x, PATH_COLUMNS& columns,
                      COLUMN_ROWS& rows)
{
    for (const LOAD* end = loads + num_loads; loads != end; ++loads) {
        const LOAD& load = *loads;
        const TWO_PIN& pair = load.pair;
        if (x < pair.lx || x > load.hx)
            continue;
        const int i = x - pair.lx;
        const int first = load.first;
        const int last = load.last;
        const float w = load.w;
        const bool horizontal = x < load.hx;
        // The weight as coverage: of the boundary after the column on the
        // pair box's rows when that boundary lies in the pair box, of the
        // boundaries between the pair box's rows in any case.
        float* __restrict h_cover = columns.h_cover;
        float* __restrict v_cover = columns.v_cover;
        if (horizontal) {
            for (int j = first; j < last; ++j) {
                h_cover[j] = h_cover[j] + w;
                v_cover[j] = v_cover[j] + w;
            }
            h_cover[last] = h_cover[last] + w;
            rows.h_cover.add(first, last);
        } else {
            add_to(v_cover, first, last - 1, w);
        }
        rows.v_cover.add(first, last - 1);
        if (horizontal) {
            // Along a column only the pair's end rows (A's and B's: the pair
            // box's first and last rows) differ; the rows between share 1 / S.
            const bool to_right = box.xd < pair.bx;
            float* c = to_right ? columns.right : columns.left;
            c[first] = c[first] + w * pair.horizontal(i, 0);
            if (last > first) {
                const float between = load.w_between_rows;
                for (int j = first + 1; j < last; ++j)
                    c[j] = c[j] + between;
                c[last] = c[last] + w * pair.horizontal(i, pair.dy);
            }
            (to_right ? rows.right : rows.left).add(first, last);
        }
        if (box.yd != pair.by) {
            // Only the end columns (A's and B's) vary along the column; the
            // columns between, or all of them when the pair shares a column,
            // hold one value.
            const bool to_up = box.yd < pair.by;
            float* c = (to_up ? columns.up : columns.down) + first;
            if (pair.dx != 0 && (i == 0 || i == pair.dx)) {
                for (int j = 0; j < pair.dy; ++j)
                    c[j] = c[j] + w * pair.vertical(i, j);
            } else {
                add_to(c, 0, pair.dy - 1, load.w_between_columns);
            }
            (to_up ? rows.up : rows.down).add(first, last - 1);
        }
    }
    normalise(columns.right, rows.right, columns.left, rows.left, rows.h_cover, columns.h_cover);
    normalise(columns.up, rows.up, columns.down, rows.down, rows.v_cover, columns.v_cover);
    rows.h_cover = ROWS{};
    rows.v_cover = ROWS{};
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

// The crossings of a net of many pins, from the load counts of the
// quadrants around the driver: a boundary on the driver's row or column is
// crossed for sure when a load lies on that line beyond it, else it takes the
// mean density of the two quadrants beside it. Boundaries on the far side of
// the driver get 0.
LARGE_NET_CROSSINGS large_net_crossings(const NET_BOX& box, const QUADRANT_COUNTS& counts)
{
    const int d_north = std::max(box.yt - box.yd, 1);
    const int d_south = std::max(box.yd - box.yb, 1);
    const int d_east = std::max(box.xr - box.xd, 1);
    const int d_west = std::max(box.xd - box.xl, 1);
    LARGE_NET_CROSSINGS crossings;
    crossings.h_ne = density(counts.north_east, d_north);
    crossings.h_nw = density(counts.north_west, d_north);
    crossings.h_sw = density(counts.south_west, d_south);
    crossings.h_se = density(counts.south_east, d_south);
    crossings.v_ne = density(counts.north_east, d_east);
    crossings.v_nw = density(counts.north_west, d_west);
    crossings.v_sw = density(counts.south_west, d_west);
    crossings.v_se = density(counts.south_east, d_east);
    crossings.right_line = counts.east >= 1 ? 1.0f : (crossings.h_se + crossings.h_ne) * 0.5f;
    crossings.left_line = counts.west >= 1 ? 1.0f : (crossings.h_sw + crossings.h_nw) * 0.5f;
    crossings.up_line = counts.north >= 1 ? 1.0f : (crossings.v_nw + crossings.v_ne) * 0.5f;
    crossings.down_line = counts.south >= 1 ? 1.0f : (crossings.v_se + crossings.v_sw) * 0.5f;
    return crossings;
}

// Tiles 0 .. last of a horizontal grid's column, the driver's row being
// element jd: each adds half of its own boundary, then half of the one
// before (TILE_SHARE_ORDER), both constant below, on and above the driver's
// row (three values each, zeros where a column has no boundary in the
// grid's direction).
void share_three_parts(float* __restrict tiles, int jd, int last, const float (&own)[3], const float (&before)[3])
{
    for (int j = 0; j < jd; ++j)
        add_halves(tiles[j], own[0], before[0]);
    add_halves(tiles[jd], own[1], before[1]);
    for (int j = jd + 1; j <= last; ++j)
        add_halves(tiles[j], own[2], before[2]);
}

// Tiles first .. last + 1 of a vertical grid's column whose boundaries
// first .. last all hold `value`: each tile adds half of the boundary above
// it, then half of the one below, +0.0 past either end (TILE_SHARE_ORDER).
void share_one_value(float* __restrict tiles, int first, int last, float value)
{
    add_halves(tiles[first], value, 0.0f);
    for (int j = first + 1; j <= last; ++j)
        add_halves(tiles[j], value, value);
    add_halves(tiles[last + 1], 0.0f, value);
}

// Columns x0 .. x1 of a net of many pins. Its crossings are constant along
// each column below, on and above the driver's row, so each tile gets its
// operations straight from them, zeros included: the boundaries after a
// column head right from the driver's column on and left before it (none
// after the box's last column); upwards above the driver's row, downwards
// below it.
void add_large_net_columns(const LARGE_NET_CROSSINGS& crossings, const NET_BOX& box, int x0, int x1, TYPE_GRIDS& grids)
{
    // Element j of a column is row yb + j; the driver's row is element jd.
    const int jd = box.yd - box.yb;
    const int last = box.height() - 1;
    const float none[3] = {0.0f, 0.0f, 0.0f};
    const float right[3] = {crossings.h_se, crossings.right_line, crossings.h_ne};
    const float left[3] = {crossings.h_sw, crossings.left_line, crossings.h_nw};
    // Whether column x has a boundary after it heading right / left.
    const auto heads_right = [&](int x) { return x >= box.xl && x < box.xr && x >= box.xd; };
    const auto heads_left = [&](int x) { return x >= box.xl && x < box.xr && x < box.xd; };
    for (int x = x0; x <= x1; ++x) {
        if (heads_right(x) || heads_right(x - 1))
            share_three_parts(&grids[CONGESTION::HORIZONTAL_RIGHT](x, box.yb), jd, last, heads_right(x) ? right : none,
                              heads_right(x - 1) ? right : none);
        if (heads_left(x) || heads_left(x - 1))
            share_three_parts(&grids[CONGESTION::HORIZONTAL_LEFT](x, box.yb), jd, last, heads_left(x) ? left : none,
                              heads_left(x - 1) ? left : none);
        if (jd < last)
            share_one_value(&grids[CONGESTION::VERTICAL_UP](x, box.yb), jd, last - 1,
                            by_side(x, box.xd, crossings.v_nw, crossings.up_line, crossings.v_ne));
        if (jd > 0)
            share_one_value(&grids[CONGESTION::VERTICAL_DOWN](x, box.yb), 0, jd - 1,
                            by_side(x, box.xd, crossings.v_sw, crossings.down_line, crossings.v_se));
    }
}

// Each tile of a horizontal grid adds half of its own column's boundary,
// then half of the one of the column before (TILE_SHARE_ORDER), which is
// then cleared (ZERO_COLUMNS); a missing boundary is a zero column
// (POSITIVE_ZERO).
void share_horizontal(float* __restrict tiles, const float* __restrict own, float* __restrict before, ROWS rows)
{
    for (int j = rows.first; j <= rows.last; ++j) {
        add_halves(tiles[j], own[j], before[j]);
        before[j] = 0.0f;
    }
}

// Each tile of a vertical grid adds half of the boundary above it, then
// half of the one below (TILE_SHARE_ORDER): the first tile has none below,
// the last none above (the column's zero ends). `boundaries` are the
// column's written part; each boundary is cleared once the tile above it
// has read it (ZERO_COLUMNS).
void share_vertical(float* __restrict tiles, float* __restrict column, ROWS boundaries)
{
    for (int j = boundaries.first; j <= boundaries.last + 1; ++j) {
        add_halves(tiles[j], column[j], column[j - 1]);
        column[j - 1] = 0.0f;
    }
}

// Moves on to the next column: the column's own horizontal boundaries
// become the next one's `before`, and nothing of the vertical ones is
// pending.
void next_column(PATH_COLUMNS& columns, COLUMN_ROWS& rows)
{
    rows.up = ROWS{};
    rows.down = ROWS{};
    rows.right_before = ROWS{};
    rows.left_before = ROWS{};
    std::swap(columns.right, columns.right_before);
    std::swap(columns.left, columns.left_before);
    std::swap(rows.right, rows.right_before);
    std::swap(rows.left, rows.left_before);
}

// Gives each tile of column x half of the crossing value of each boundary it
// touches, only where a boundary may be other than zero; then clears what
// the column is done with and makes its own boundary the next one's before.
void share_column(const NET_BOX& box, int x, PATH_COLUMNS& columns, COLUMN_ROWS& rows, TYPE_GRIDS& grids)
{
    const ROWS right = joined(rows.right, rows.right_before);
    if (!right.empty())
        share_horizontal(&grids[CONGESTION::HORIZONTAL_RIGHT](x, box.yb), columns.right, columns.right_before, right);
    const ROWS left = joined(rows.left, rows.left_before);
    if (!left.empty())
        share_horizontal(&grids[CONGESTION::HORIZONTAL_LEFT](x, box.yb), columns.left, columns.left_before, left);
    if (!rows.up.empty())
        share_vertical(&grids[CONGESTION::VERTICAL_UP](x, box.yb), columns.up, rows.up);
    if (!rows.down.empty())
        share_vertical(&grids[CONGESTION::VERTICAL_DOWN](x, box.yb), columns.down, rows.down);
    next_column(columns, rows);
}

// Checked build: the walks write every tile of a net's box unchecked, so a
// pin outside the nx by ny grid would write outside the chunk's grids.
[[maybe_unused]] void check_pin_in_grid(int net, int pin, CONGESTION::LOC loc, int nx, int ny)
{
    if (loc.x >= 0 && loc.x < nx && loc.y >= 0 && loc.y < ny)
        return;
    const std::string message = "pin " + std::to_string(pin) + " of net " + std::to_string(net) + " at (" +
                                std::to_string(loc.x) + ", " + std::to_string(loc.y) + ") lies outside the " +
                                std::to_string(nx) + " x " + std::to_string(ny) + " grid";
    MSG_INTERNAL_ERROR::report(message.c_str(), "CONGESTION", __FILE__, __LINE__);
}

// Checked build: ZERO_COLUMNS over the elements that a net of `height` rows
// may touch, bit for bit, so that a -0.0 left behind counts too.
[[maybe_unused]] void check_zero_columns(const PATH_COLUMNS& columns, int height)
{
    const auto zero = [](const float* column, int first, int last) {
        for (int j = first; j <= last; ++j)
            if (column[j] != 0.0f || std::signbit(column[j]))
                return false;
        return true;
    };
    const bool all_zero = zero(columns.right, 0, height - 1) && zero(columns.right_before, 0, height - 1) &&
                          zero(columns.left, 0, height - 1) && zero(columns.left_before, 0, height - 1) &&
                          zero(columns.h_cover, 0, height - 1) && zero(columns.v_cover, 0, height - 1) &&
                          zero(columns.up, -1, height) && zero(columns.down, -1, height);
    CONGESTION_CHECK(all_zero, "ZERO_COLUMNS: the path model's column buffers are not all +0.0 when a net starts");
}

// Reads `net` from the netlist and plans it into the batch; a net whose pins
// all lie on one tile adds nothing. The grids have nx by ny tiles.
void plan_net(const NETLIST_IF& net_if, int net, int nx, int ny, PATH_BATCH& batch)
{
    const CONGESTION::LOC driver = net_if.get_pin_loc(net, 0);
    const int num_pins = net_if.get_num_pins(net);
    if constexpr (CHECKED_BUILD)
        check_pin_in_grid(net, 0, driver, nx, ny);
    NET_BOX box = {{driver.x, driver.x, driver.y, driver.y}, driver.x, driver.y};
    for (int k = 1; k < num_pins; ++k) {
        const CONGESTION::LOC loc = net_if.get_pin_loc(net, k);
        if constexpr (CHECKED_BUILD)
            check_pin_in_grid(net, k, loc, nx, ny);
        box.xl = std::min(box.xl, loc.x);
        box.xr = std::max(box.xr, loc.x);
        box.yb = std::min(box.yb, loc.y);
        box.yt = std::max(box.yt, loc.y);
    }
    if (box.xl == box.xr && box.yb == box.yt)
        return;

    const bool small_net = num_pins < LARGE_NET_PINS;
    batch.prepare_marks(box);
    PATH_NET plan = {box, small_net, false, batch.loads.size(), 0};
    batch.mark_pin(box.xd, box.yd);
    QUADRANT_COUNTS counts;
    const int net_xl = box.xl;
    const int net_xr = box.xr;
    const int net_yb = box.yb;
    const int net_yt = box.yt;
    for (int k = 1; k < num_pins; ++k) {
        // The second reading must fall in the box of the first: the marks
        // cover only that box.
        const CONGESTION::LOC load_loc = net_if.get_pin_loc(net, k);
        CONGESTION_CHECK(load_loc.x >= net_xl, "load_loc.x >= net_xl");
        CONGESTION_CHECK(load_loc.x <= net_xr, "load_loc.x <= net_xr");
        CONGESTION_CHECK(load_loc.y >= net_yb, "load_loc.y >= net_yb");
        CONGESTION_CHECK(load_loc.y <= net_yt, "load_loc.y <= net_yt");
        // A tile already holding a pin (the driver's or an earlier load's)
        // adds nothing more.
        if (!batch.mark_pin(load_loc.x, load_loc.y))
            continue;
        if (small_net) {
            const float w = net_if.get_pin_weight(net, k) + 1.0f;
            const TWO_PIN pair(box.xd, box.yd, load_loc.x, load_loc.y);
            batch.loads.emplace_back(pair, std::max(box.xd, load_loc.x), pair.ly - box.yb,
                                     std::max(box.yd, load_loc.y) - box.yb, w);
        } else {
            counts.add(box, load_loc.x, load_loc.y);
        }
    }
    batch.clear_pin_marks();
    batch.max_height = std::max(batch.max_height, box.height());
    if (small_net) {
        plan.count = batch.loads.size() - plan.first;
        // One load at the corner opposite the driver (the second reading of
        // the pins may have put it elsewhere in the box).
        if (plan.count == 1) {
            const LOAD& load = batch.loads[plan.first];
            plan.two_tiles = load.pair.lx == box.xl && load.hx == box.xr && load.pair.ly == box.yb &&
                             load.pair.ly + load.pair.dy == box.yt;
        }
    } else {
        plan.first = batch.crossings.size();
        batch.crossings.push_back(large_net_crossings(box, counts));
    }
    batch.nets.push_back(plan);
}

// Columns x0 .. x1 of a net whose pins lie on two tiles: its one load's pair
// box is the net's box and every element of the cover holds the load's
// weight w, so each boundary's average is known without the column buffers.
// Each tile gets the operations the buffers would give it, zeros included
// (TILE_SHARE_ORDER), each boundary its weighted probability plus +0.0,
// averaged over w.
void add_two_tile_columns(const NET_BOX& box, const LOAD& load, int x0, int x1, TYPE_GRIDS& grids)
{
    const TWO_PIN& pair = load.pair;
    const float w = load.w;
    const int dy = pair.dy;
    // Horizontal boundary after column x in the pair's end row j (0 or dy),
    // and in the rows between them.
    const auto h_end = [&](int x, int j) {
        return x >= box.xl && x < box.xr ? average(0.0f + w * pair.horizontal(x - pair.lx, j), w) : 0.0f;
    };
    const float h_between = average(0.0f + load.w_between_rows, w);
    const float v_between = average(0.0f + load.w_between_columns, w);
    GRID_2D<float>& h_grid = grids[box.xd < pair.bx ? CONGESTION::HORIZONTAL_RIGHT : CONGESTION::HORIZONTAL_LEFT];
    GRID_2D<float>& v_grid = grids[box.yd < pair.by ? CONGESTION::VERTICAL_UP : CONGESTION::VERTICAL_DOWN];
    for (int x = x0; x <= x1; ++x) {
        if (pair.dx != 0) {
            float* __restrict tiles = &h_grid(x, box.yb);
            const float own_between = x < box.xr ? h_between : 0.0f;
            const float before_between = x > box.xl ? h_between : 0.0f;
            add_halves(tiles[0], h_end(x, 0), h_end(x - 1, 0));
            for (int j = 1; j < dy; ++j)
                add_halves(tiles[j], own_between, before_between);
            if (dy > 0)
                add_halves(tiles[dy], h_end(x, dy), h_end(x - 1, dy));
        }
        if (dy == 0)
            continue;
        // Vertical boundaries j = 0 .. dy - 1 of the column; the first tile
        // has none below it, the last none above.
        float* __restrict tiles = &v_grid(x, box.yb);
        const int i = x - pair.lx;
        if (pair.dx != 0 && (i == 0 || i == pair.dx)) {
            float below = 0.0f;
            for (int j = 0; j < dy; ++j) {
                const float above = average(0.0f + w * pair.vertical(i, j), w);
                add_halves(tiles[j], above, below);
                below = above;
            }
            add_halves(tiles[dy], 0.0f, below);
        } else {
            share_one_value(tiles, 0, dy - 1, v_between);
        }
    }
}

// Adds the demand of a planned net of `batch` to columns x0 .. x1 of its
// box. A net on two tiles and a net of many pins have walks of their own;
// any other goes column by column, each column's arrays filled, then shared
// with the column's tiles in every grid. A walk that starts inside the box
// first fills the column before x0 for its horizontal boundaries, which x0's
// tiles share; a walk that stops inside the box clears the boundaries it
// leaves behind.
void add_columns(const PATH_BATCH& batch, const PATH_NET& net, int x0, int x1, PATH_COLUMNS& columns, TYPE_GRIDS& grids)
{
    const NET_BOX& box = net.box;
    if (net.two_tiles)
        return add_two_tile_columns(box, batch.loads[net.first], x0, x1, grids);
    if (!net.small)
        return add_large_net_columns(batch.crossings[net.first], box, x0, x1, grids);
    COLUMN_ROWS rows;
    const auto fill = [&](int x) { small_net_column(box, &batch.loads[net.first], net.count, x, columns, rows); };
    // What the walk leaves in the buffers is cleared (ZERO_COLUMNS).
    if constexpr (CHECKED_BUILD)
        check_zero_columns(columns, box.height());
    if (x0 > box.xl) {
        fill(x0 - 1);
        set_to(columns.up, rows.up.first, rows.up.last, 0.0f);
        set_to(columns.down, rows.down.first, rows.down.last, 0.0f);
        next_column(columns, rows);
    }
    for (int x = x0; x <= x1; ++x) {
        fill(x);
        share_column(box, x, columns, rows, grids);
    }
    set_to(columns.right_before, rows.right_before.first, rows.right_before.last, 0.0f);
    set_to(columns.left_before, rows.left_before.first, rows.left_before.last, 0.0f);
}

// Adds the demand of the batch's nets that reach bands begin .. end - 1.
void add_bands(const PATH_BATCH& batch, int band_rows, int begin, int end, TYPE_GRIDS& grids)
{
    PATH_COLUMNS columns(batch.max_height);
    batch.bands.visit(
        begin, end, band_rows, [&](size_t i) { fetch_ahead(&batch.nets[i]); },
        [&](size_t i) {
            if (batch.nets[i].small)
                fetch_ahead(&batch.loads[batch.nets[i].first]);
        },
        [&](size_t i, int first_row, int last_row) {
            const PATH_NET& net = batch.nets[i];
            add_columns(batch, net, std::max(net.box.xl, first_row), std::min(net.box.xr, last_row), columns, grids);
        });
}

// Adds the demand of the batch's nets band by band, the bands side by side
// when workers are free (a chunk's batch may be the last work of the call).
void apply_batch(int band_rows, PATH_BATCH& batch, TYPE_GRIDS& grids)
{
    if (batch.nets.empty())
        return;
    batch.bands.build(batch.nets.size(), grids[CONGESTION::HORIZONTAL_RIGHT].get_num_rows(), band_rows,
                      [&](size_t i) { return batch.nets[i].box.columns(); });
    nested_parallel_blocks(batch.bands.num_bands(), [&](int begin, int end) {
        run_in_variant([&] { add_bands(batch, band_rows, begin, end, grids); });
    });
    batch.nets.clear();
    batch.loads.clear();
    batch.crossings.clear();
    batch.max_height = 0;
}

}  // namespace

void add_path_probability_demand(const std::vector<int>& nets, int chunk, int num_chunks, TYPE_GRIDS& grids,
                                 const NETLIST_IF* net_if, PATH_BATCH* batch)
{
    CONGESTION_CHECK(net_if != nullptr, "net_if != nullptr");
    PATH_BATCH own_batch;
    if (batch == nullptr)
        batch = &own_batch;
    // A band holds the demand of the four wire types.
    const int band_rows = batch->band_rows > 0
                              ? batch->band_rows
                              : band_rows_for(grids[CONGESTION::HORIZONTAL_RIGHT].get_num_cols(), 4 * sizeof(float));
    const int nx = grids[CONGESTION::HORIZONTAL_RIGHT].get_num_rows();
    const int ny = grids[CONGESTION::HORIZONTAL_RIGHT].get_num_cols();
    for (size_t i = static_cast<size_t>(chunk); i < nets.size(); i += static_cast<size_t>(num_chunks)) {
        plan_net(*net_if, nets[i], nx, ny, *batch);
        if (batch->nets.size() >= batch->max_nets || batch->loads.size() >= batch->max_loads)
            apply_batch(band_rows, *batch, grids);
    }
    apply_batch(band_rows, *batch, grids);
}

}  // namespace congestion_internal
