// The bounding-box net model: demand from each net's box and wire length,
// shared within a column or row of the box in proportion to supply.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "fitter/congestion/congestion_impl.h"
#include "fitter/congestion/kernel_variants.h"

namespace congestion_internal {
namespace {

// Demand of a column (or row) that lies between the driver and the box edge.
constexpr float BASE_AMOUNT = 1.0f;
// A box two columns wide gets half the base amount and half its excess.
constexpr float TWO_COLUMN_FACTOR = 0.5f;

// Supply of each column (horizontal types) and row (vertical types) of one
// net's box, indexed from the box's corner; kept by a chunk and reused from
// net to net.
struct LINE_SUPPLY {
    std::vector<float> left;
    std::vector<float> right;
    std::vector<float> up;
    std::vector<float> down;

    void reserve(int64_t num_cols, int64_t num_rows)
    {
        if (left.size() < static_cast<size_t>(num_cols)) {
            left.resize(static_cast<size_t>(num_cols));
            right.resize(static_cast<size_t>(num_cols));
        }
        if (up.size() < static_cast<size_t>(num_rows)) {
            up.resize(static_cast<size_t>(num_rows));
            down.resize(static_cast<size_t>(num_rows));
        }
    }
};

// Stops unless the tiles (x, first) .. (x, last) of `type` lie in the grid.
void check_line(const TYPE_GRIDS& supplies, RESOURCE_TYPE type, int x, int first, int last)
{
    const GRID_2D<float>& supply = supplies[type];
    CONGESTION_CHECK(below(x, supply.get_num_rows()), "m_supply[type].get_num_rows() > x");
    CONGESTION_CHECK(below(first, supply.get_num_cols()) && below(last, supply.get_num_cols()),
                     "m_supply[type].get_num_cols() > y");
}

// True when every tile of the box, and every window sum the model takes over
// it, lies inside the supply grids and tables of the four wire types.
bool box_in_grids(const TYPE_GRIDS& supply, const TYPE_GRIDS& tables, int xl, int xr, int yb, int yt)
{
    if (xl < 0 || yb < 0)
        return false;
    for (RESOURCE_TYPE type : WIRE_TYPES)
        if (xr >= supply[type].get_num_rows() || yt >= supply[type].get_num_cols() ||
            xr >= tables[type].get_num_rows() || yt >= tables[type].get_num_cols())
            return false;
    return true;
}

// Makes the checks of a walk over the box in the order the model reads it:
// per column the column's window sums and tiles of the two horizontal types,
// then the row sums of the two vertical types, then per column their tiles.
// Called for a box that box_in_grids refused, it stops with the message of
// the first check that fails.
void check_box_in_walk_order(const TYPE_GRIDS& supply, const TYPE_GRIDS& tables, int xl, int xr, int yb, int yt)
{
    for (int x = xl; x <= xr; ++x) {
        check_window(tables[CONGESTION::HORIZONTAL_LEFT], x, x, yb, yt);
        check_window(tables[CONGESTION::HORIZONTAL_RIGHT], x, x, yb, yt);
        check_line(supply, CONGESTION::HORIZONTAL_LEFT, x, yb, yt);
        check_line(supply, CONGESTION::HORIZONTAL_RIGHT, x, yb, yt);
    }
    for (int y = yb; y <= yt; ++y) {
        check_window(tables[CONGESTION::VERTICAL_UP], xl, xr, y, y);
        check_window(tables[CONGESTION::VERTICAL_DOWN], xl, xr, y, y);
    }
    for (int x = xl; x <= xr; ++x) {
        check_line(supply, CONGESTION::VERTICAL_UP, x, yb, yt);
        check_line(supply, CONGESTION::VERTICAL_DOWN, x, yb, yt);
    }
}

// Window sums of rows yb..yt over columns xl..xr into sums[0 .. yt - yb]:
// get_window_sum's reads and operations for each row, walking two table
// rows in memory order.
void sum_rows(const GRID_2D<float>& table, int xl, int xr, int yb, int yt, float* sums)
{
    const float* top = &table(xr, 0);
    int y = yb;
    if (xl > 0) {
        const float* below_xl = &table(xl - 1, 0);
        if (y == 0)
            sums[y++ - yb] = top[0] - below_xl[0];
        for (; y <= yt; ++y)
            sums[y - yb] = ((top[y] - below_xl[y]) - top[y - 1]) + below_xl[y - 1];
    } else {
        if (y == 0)
            sums[y++ - yb] = top[0];
        for (; y <= yt; ++y)
            sums[y - yb] = top[y] - top[y - 1];
    }
}

// A tile's share of `amount` in proportion to its supply s out of the line's
// `total`, (amount * s) / total with the product first, added to `demand`;
// a tile without supply keeps its bits. Every lane divides, by `total` where
// the tile is supplied and by 1 (over a zero numerator) where not, and the
// result is then selected: with no branch around the division the loops
// vectorise, no discarded lane raises a floating-point flag, and each kept
// quotient is the same correctly rounded division.
inline float add_share(float demand, float s, float amount, float total)
{
    const bool supplied = s > 0.0f;
    const float share = (amount * (supplied ? s : 0.0f)) / (supplied ? total : 1.0f);
    return supplied ? demand + share : demand;
}

// add_share over tiles first .. last of one grid row, for a column of the box
// (one total). Grid rows of different grids never overlap, which the
// restrict qualifiers tell the compiler, so that it needs no overlap test
// before the vector loop: most boxes are a few tiles tall.
inline void add_column_shares(float* __restrict demand, const float* __restrict supply, int first, int last,
                              float amount, float total)
{
    for (int y = first; y <= last; ++y)
        demand[y] = add_share(demand[y], supply[y], amount, total);
}

// The same for the vertical types, each row of the box with its own total:
// `ahead` on the rows past `driver_row` in the type's direction, `other`
// elsewhere.
template <bool UP>
inline void add_row_shares(float* __restrict demand, const float* __restrict supply, const float* __restrict totals,
                           int first, int last, int driver_row, float ahead, float other)
{
    for (int y = first; y <= last; ++y) {
        const bool is_ahead = UP ? y > driver_row : y < driver_row;
        demand[y] = add_share(demand[y], supply[y], is_ahead ? ahead : other, totals[y]);
    }
}

void add_net_demand(const TYPE_GRIDS& supply, const TYPE_GRIDS& supply_tables, const NETLIST_IF& net_if, int net,
                    TYPE_GRIDS& grids, LINE_SUPPLY& lines)
{
    int net_xl = 0;
    int net_xr = 0;
    int net_yb = 0;
    int net_yt = 0;
    net_if.get_bounding_box(net, &net_xl, &net_xr, &net_yb, &net_yt);
    if (net_xl > net_xr || net_yb > net_yt)
        return;
    const std::pair<float, float> wirelength = net_if.get_wirelength(net);
    const float fx = wirelength.first;
    const float fy = wirelength.second;
    const CONGESTION::LOC driver = net_if.get_pin_loc(net, 0);
    const int cx = std::min(net_xr, std::max(driver.x, net_xl));
    const int cy = std::min(net_yt, std::max(driver.y, net_yb));

    // Spans in 64 bits, so that a box reaching far outside the grid gets to
    // its range checks instead of overflowing here.
    const int64_t w = static_cast<int64_t>(net_xr) - net_xl;
    const int64_t h = static_cast<int64_t>(net_yt) - net_yb;
    const int64_t num_cols = w + 1;
    const int64_t num_rows = h + 1;

    float ex = 0.0f;
    float h_base = BASE_AMOUNT;
    if (num_cols > 2) {
        ex = std::max(fx - static_cast<float>(w), 0.0f) / static_cast<float>(num_cols);
    } else if (num_cols == 2) {
        ex = std::max(fx - 0.5f, 0.0f) * TWO_COLUMN_FACTOR;
        h_base = BASE_AMOUNT * TWO_COLUMN_FACTOR;
    }
    // Rows have no two-row special case: the base amount stays whole.
    const float ey = num_rows > 1 ? std::max(fy - static_cast<float>(h), 0.0f) / static_cast<float>(num_rows) : 0.0f;

    // One test for the whole box; only a box that fails it is walked check
    // by check, to stop with the message the first bad read would raise.
    if (!box_in_grids(supply, supply_tables, net_xl, net_xr, net_yb, net_yt))
        check_box_in_walk_order(supply, supply_tables, net_xl, net_xr, net_yb, net_yt);

    // The supply of each column and row of the box, summed before the tiles
    // are visited.
    lines.reserve(num_cols, num_rows);
    for (int x = net_xl; x <= net_xr; ++x) {
        lines.left[x - net_xl] = sum_window(supply_tables[CONGESTION::HORIZONTAL_LEFT], x, x, net_yb, net_yt);
        lines.right[x - net_xl] = sum_window(supply_tables[CONGESTION::HORIZONTAL_RIGHT], x, x, net_yb, net_yt);
    }
    sum_rows(supply_tables[CONGESTION::VERTICAL_UP], net_xl, net_xr, net_yb, net_yt, lines.up.data());
    sum_rows(supply_tables[CONGESTION::VERTICAL_DOWN], net_xl, net_xr, net_yb, net_yt, lines.down.data());

    // A column of the box is a row of the grids, so each column's tiles lie
    // next to each other in memory. Each tile of each type gets exactly one
    // addition, so walking the four types' rows in turn changes no sum.
    // Horizontally the base amount heads left left of the driver and right
    // right of it; vertically up above the driver's row and down below it.
    const float with_base = ey * 0.5f + BASE_AMOUNT;
    const float no_base = ey * 0.5f + 0.0f;
    const float* row_up = lines.up.data() - net_yb;
    const float* row_down = lines.down.data() - net_yb;
    for (int x = net_xl; x <= net_xr; ++x) {
        const float amount_left = ex * 0.5f + (x < cx ? h_base : 0.0f);
        const float amount_right = ex * 0.5f + (x > cx ? h_base : 0.0f);
        const float total_left = lines.left[x - net_xl];
        const float total_right = lines.right[x - net_xl];
        const float* supply_left = &supply[CONGESTION::HORIZONTAL_LEFT](x, 0);
        const float* supply_right = &supply[CONGESTION::HORIZONTAL_RIGHT](x, 0);
        const float* supply_up = &supply[CONGESTION::VERTICAL_UP](x, 0);
        const float* supply_down = &supply[CONGESTION::VERTICAL_DOWN](x, 0);
        float* demand_left = &grids[CONGESTION::HORIZONTAL_LEFT](x, 0);
        float* demand_right = &grids[CONGESTION::HORIZONTAL_RIGHT](x, 0);
        float* demand_up = &grids[CONGESTION::VERTICAL_UP](x, 0);
        float* demand_down = &grids[CONGESTION::VERTICAL_DOWN](x, 0);
        add_column_shares(demand_left, supply_left, net_yb, net_yt, amount_left, total_left);
        add_column_shares(demand_right, supply_right, net_yb, net_yt, amount_right, total_right);
        add_row_shares<true>(demand_up, supply_up, row_up, net_yb, net_yt, cy, with_base, no_base);
        add_row_shares<false>(demand_down, supply_down, row_down, net_yb, net_yt, cy, with_base, no_base);
    }
}

void add_chunk_demand(const TYPE_GRIDS& supply, const TYPE_GRIDS& supply_tables, const std::vector<int>& nets,
                      int chunk, int num_chunks, TYPE_GRIDS& grids, const NETLIST_IF* net_if)
{
    CONGESTION_CHECK(net_if != nullptr, "net_if != nullptr");
    LINE_SUPPLY lines;
    for (size_t i = static_cast<size_t>(chunk); i < nets.size(); i += static_cast<size_t>(num_chunks))
        add_net_demand(supply, supply_tables, *net_if, nets[i], grids, lines);
}

#if defined(CONGESTION_HAS_VARIANTS)
CONGESTION_AVX2_VARIANT void add_chunk_demand_avx2(const TYPE_GRIDS& supply, const TYPE_GRIDS& supply_tables,
                                                   const std::vector<int>& nets, int chunk, int num_chunks,
                                                   TYPE_GRIDS& grids, const NETLIST_IF* net_if)
{
    add_chunk_demand(supply, supply_tables, nets, chunk, num_chunks, grids, net_if);
}

CONGESTION_AVX512_VARIANT void add_chunk_demand_avx512(const TYPE_GRIDS& supply, const TYPE_GRIDS& supply_tables,
                                                       const std::vector<int>& nets, int chunk, int num_chunks,
                                                       TYPE_GRIDS& grids, const NETLIST_IF* net_if)
{
    add_chunk_demand(supply, supply_tables, nets, chunk, num_chunks, grids, net_if);
}
#endif

}  // namespace

void add_bounding_box_demand(const TYPE_GRIDS& supply, const TYPE_GRIDS& supply_tables, const std::vector<int>& nets,
                             int chunk, int num_chunks, TYPE_GRIDS& grids, const NETLIST_IF* net_if)
{
    switch (get_kernel_variant()) {
#if defined(CONGESTION_HAS_VARIANTS)
    case KERNEL_VARIANT::AVX512:
        return add_chunk_demand_avx512(supply, supply_tables, nets, chunk, num_chunks, grids, net_if);
    case KERNEL_VARIANT::AVX2:
        return add_chunk_demand_avx2(supply, supply_tables, nets, chunk, num_chunks, grids, net_if);
#endif
    default: return add_chunk_demand(supply, supply_tables, nets, chunk, num_chunks, grids, net_if);
    }
}

}  // namespace congestion_internal
