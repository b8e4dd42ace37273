// The bounding-box net model: demand from each net's box and wire length,
// shared within a column or row of the box in proportion to supply.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "fitter/congestion/bounding_box_batch.h"
#include "fitter/congestion/congestion_impl.h"
#include "fitter/congestion/kernel_variants.h"

namespace congestion_internal {
namespace {

// Demand of a column (or row) that lies between the driver and the box edge.
constexpr float BASE_AMOUNT = 1.0f;
// A box two columns wide gets half the base amount and half its excess.
constexpr float TWO_COLUMN_FACTOR = 0.5f;

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

// Checked build: a box outside the nx by ny grid is the caller's fault, and
// the report names the net and its box rather than the window sum that the
// first read outside the tables would fail.
[[maybe_unused]] void check_box_in_grid(int net, int xl, int xr, int yb, int yt, int nx, int ny)
{
    if (xl >= 0 && xr < nx && yb >= 0 && yt < ny)
        return;
    const std::string message = "the box of net " + std::to_string(net) + ", x " + std::to_string(xl) + ".." +
                                std::to_string(xr) + ", y " + std::to_string(yb) + ".." + std::to_string(yt) +
                                ", leaves the " + std::to_string(nx) + " x " + std::to_string(ny) + " grid";
    MSG_INTERNAL_ERROR::report(message.c_str(), "CONGESTION", __FILE__, __LINE__);
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
// a tile without supply keeps its bits (DIVIDE_THEN_SELECT, over a zero
// numerator where the tile has no supply).
inline float add_share(float demand, float s, float amount, float total)
{
    const bool supplied = s > 0.0f;
    const float share = divide_where(supplied, amount * (supplied ? s : 0.0f), total);
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

// Plans `net` into the batch; a net with an empty box adds nothing.
void plan_net(const TYPE_GRIDS& supply, const TYPE_GRIDS& supply_tables, const NETLIST_IF& net_if, int net,
              BOX_BATCH& batch)
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

    // Spans in 64 bits, so that a box reaching far outside the grid gets to
    // its range checks instead of overflowing here.
    const int64_t w = static_cast<int64_t>(net_xr) - net_xl;
    const int64_t h = static_cast<int64_t>(net_yt) - net_yb;
    const int64_t num_cols = w + 1;
    const int64_t num_rows = h + 1;

    NET_PLAN plan;
    plan.ex = 0.0f;
    plan.h_base = BASE_AMOUNT;
    if (num_cols > 2) {
        plan.ex = std::max(fx - static_cast<float>(w), 0.0f) / static_cast<float>(num_cols);
    } else if (num_cols == 2) {
        plan.ex = std::max(fx - 0.5f, 0.0f) * TWO_COLUMN_FACTOR;
        plan.h_base = BASE_AMOUNT * TWO_COLUMN_FACTOR;
    }
    // Rows have no two-row special case: the base amount stays whole.
    const float ey = num_rows > 1 ? std::max(fy - static_cast<float>(h), 0.0f) / static_cast<float>(num_rows) : 0.0f;

    // One test for the whole box; only a box that fails it is walked check
    // by check, to stop with the message the first bad read would raise.
    if (!box_in_grids(supply, supply_tables, net_xl, net_xr, net_yb, net_yt)) {
        if constexpr (CHECKED_BUILD)
            check_box_in_grid(net, net_xl, net_xr, net_yb, net_yt, supply[CONGESTION::HORIZONTAL_LEFT].get_num_rows(),
                              supply[CONGESTION::HORIZONTAL_LEFT].get_num_cols());
        check_box_in_walk_order(supply, supply_tables, net_xl, net_xr, net_yb, net_yt);
    }

    plan.xl = net_xl;
    plan.xr = net_xr;
    plan.yb = net_yb;
    plan.yt = net_yt;
    plan.cx = std::min(net_xr, std::max(driver.x, net_xl));
    plan.cy = std::min(net_yt, std::max(driver.y, net_yb));
    plan.with_base = ey * 0.5f + BASE_AMOUNT;
    plan.no_base = ey * 0.5f + 0.0f;
    // The supply of each row of the box, summed before any tile is visited.
    plan.rows = batch.row_totals.size();
    batch.row_totals.resize(plan.rows + 2 * static_cast<size_t>(num_rows));
    float* up = batch.row_totals.data() + plan.rows;
    sum_rows(supply_tables[CONGESTION::VERTICAL_UP], net_xl, net_xr, net_yb, net_yt, up);
    sum_rows(supply_tables[CONGESTION::VERTICAL_DOWN], net_xl, net_xr, net_yb, net_yt, up + num_rows);
    batch.plans.push_back(plan);
}

// Adds the demand of a planned net to columns x0..x1 of its box. A column of
// the box is a row of the grids, so each column's tiles lie next to each
// other in memory. Each tile of each type gets exactly one addition per net,
// so walking the four types' rows in turn changes no sum. Horizontally the
// base amount heads left left of the driver and right right of it;
// vertically up above the driver's row and down below it.
void add_columns(const TYPE_GRIDS& supply, const TYPE_GRIDS& supply_tables, const NET_PLAN& plan,
                 const float* row_totals, int x0, int x1, TYPE_GRIDS& grids)
{
    const int yb = plan.yb;
    const int yt = plan.yt;
    const float* row_up = row_totals + plan.rows - yb;
    const float* row_down = row_up + (yt - yb + 1);
    for (int x = x0; x <= x1; ++x) {
        const float amount_left = plan.ex * 0.5f + (x < plan.cx ? plan.h_base : 0.0f);
        const float amount_right = plan.ex * 0.5f + (x > plan.cx ? plan.h_base : 0.0f);
        const float total_left = sum_window(supply_tables[CONGESTION::HORIZONTAL_LEFT], x, x, yb, yt);
        const float total_right = sum_window(supply_tables[CONGESTION::HORIZONTAL_RIGHT], x, x, yb, yt);
        const float* supply_left = &supply[CONGESTION::HORIZONTAL_LEFT](x, 0);
        const float* supply_right = &supply[CONGESTION::HORIZONTAL_RIGHT](x, 0);
        const float* supply_up = &supply[CONGESTION::VERTICAL_UP](x, 0);
        const float* supply_down = &supply[CONGESTION::VERTICAL_DOWN](x, 0);
        float* demand_left = &grids[CONGESTION::HORIZONTAL_LEFT](x, 0);
        float* demand_right = &grids[CONGESTION::HORIZONTAL_RIGHT](x, 0);
        float* demand_up = &grids[CONGESTION::VERTICAL_UP](x, 0);
        float* demand_down = &grids[CONGESTION::VERTICAL_DOWN](x, 0);
        add_column_shares(demand_left, supply_left, yb, yt, amount_left, total_left);
        add_column_shares(demand_right, supply_right, yb, yt, amount_right, total_right);
        add_row_shares<true>(demand_up, supply_up, row_up, yb, yt, plan.cy, plan.with_base, plan.no_base);
        add_row_shares<false>(demand_down, supply_down, row_down, yb, yt, plan.cy, plan.with_base, plan.no_base);
    }
}

// Adds the demand of the batch's nets band by band: a band is a few grid
// rows whose supply, tables and demand stay in cache while every net that
// reaches it adds its columns there. The bands go side by side when workers
// are free (a chunk's batch may be the last work of the call).
void apply_batch(const TYPE_GRIDS& supply, const TYPE_GRIDS& supply_tables, int band_rows, BOX_BATCH& batch,
                 TYPE_GRIDS& grids)
{
    if (batch.plans.empty())
        return;
    batch.bands.build(batch.plans.size(), supply[CONGESTION::HORIZONTAL_LEFT].get_num_rows(), band_rows,
                      [&](size_t i) { return batch.plans[i].columns(); });
    nested_parallel_blocks(batch.bands.num_bands(), [&](int begin, int end) {
        run_in_variant([&] {
            batch.bands.visit(
                begin, end, band_rows, [&](size_t i) { fetch_ahead(&batch.plans[i]); },
                [&](size_t i) { fetch_ahead(&batch.row_totals[batch.plans[i].rows]); },
                [&](size_t i, int first_row, int last_row) {
                    const NET_PLAN& plan = batch.plans[i];
                    add_columns(supply, supply_tables, plan, batch.row_totals.data(), std::max(plan.xl, first_row),
                                std::min(plan.xr, last_row), grids);
                });
        });
    });
    batch.plans.clear();
    batch.row_totals.clear();
}

}  // namespace

void add_bounding_box_demand(const TYPE_GRIDS& supply, const TYPE_GRIDS& supply_tables, const std::vector<int>& nets,
                             int chunk, int num_chunks, TYPE_GRIDS& grids, const NETLIST_IF* net_if, BOX_BATCH* batch)
{
    CONGESTION_CHECK(net_if != nullptr, "net_if != nullptr");
    BOX_BATCH own;
    if (batch == nullptr)
        batch = &own;
    // A band holds the supply and the demand of the four wire types.
    const int band_rows = batch->band_rows > 0
                              ? batch->band_rows
                              : band_rows_for(supply[CONGESTION::HORIZONTAL_LEFT].get_num_cols(), 8 * sizeof(float));
    // Planning sums the supply of each box row, which vectorises too.
    run_in_variant([&] {
        for (size_t i = static_cast<size_t>(chunk); i < nets.size(); i += static_cast<size_t>(num_chunks)) {
            plan_net(supply, supply_tables, *net_if, nets[i], *batch);
            if (batch->plans.size() >= batch->max_nets || batch->row_totals.size() >= batch->max_rows)
                apply_batch(supply, supply_tables, band_rows, *batch, grids);
        }
        apply_batch(supply, supply_tables, band_rows, *batch, grids);
    });
}

}  // namespace congestion_internal
