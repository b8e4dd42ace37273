// The bounding-box net model: demand from each net's box and wire length,
// shared within a column or row of the box in proportion to supply.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "fitter/congestion/congestion_impl.h"

namespace congestion_internal {
namespace {

// Demand of a column (or row) that lies between the driver and the box edge.
constexpr float BASE_AMOUNT = 1.0f;
// A box two columns wide gets half the base amount and half its excess.
constexpr float TWO_COLUMN_FACTOR = 0.5f;

// Per-row supply of the box for the two vertical types, kept by a chunk and
// reused from net to net.
struct ROW_SUPPLY {
    std::vector<float> up;
    std::vector<float> down;
};

// Stops unless the tiles (x, first) .. (x, last) of `type` lie in the grid.
// Every tile of a box is checked before its supply is read; checking a line
// of tiles at once reports the same message for the first tile outside.
void check_line(const TYPE_GRIDS& supplies, RESOURCE_TYPE type, int x, int first, int last)
{
    const GRID_2D<float>& supply = supplies[type];
    CONGESTION_CHECK(below(x, supply.get_num_rows()), "m_supply[type].get_num_rows() > x");
    CONGESTION_CHECK(below(first, supply.get_num_cols()) && below(last, supply.get_num_cols()),
                     "m_supply[type].get_num_cols() > y");
}

// Adds, to tiles first .. last of one grid row, their share of `amount` in
// proportion to their supply out of the line's supply: (amount * s) / total,
// product first. Tiles without supply get nothing and keep their bits.
void add_shares(float* demand, const float* supply, int first, int last, float amount, float total)
{
    for (int y = first; y <= last; ++y) {
        const float s = supply[y];
        demand[y] = s > 0.0f ? demand[y] + (amount * s) / total : demand[y];
    }
}

void add_net_demand(const TYPE_GRIDS& supply, const TYPE_GRIDS& supply_tables, const NETLIST_IF& net_if, int net,
                    TYPE_GRIDS& grids, ROW_SUPPLY& rows)
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
    // A column of the box is a row of the grids, so each column's tiles lie
    // next to each other in memory.
    const GRID_2D<float>& left_sums = supply_tables[CONGESTION::HORIZONTAL_LEFT];
    const GRID_2D<float>& right_sums = supply_tables[CONGESTION::HORIZONTAL_RIGHT];
    for (int x = net_xl; x <= net_xr; ++x) {
        const float supply_left = get_window_sum(left_sums, x, x, net_yb, net_yt);
        const float supply_right = get_window_sum(right_sums, x, x, net_yb, net_yt);
        // Left of the driver the base amount heads left, right of it right.
        const float base_left = x < cx ? h_base : 0.0f;
        const float base_right = x > cx ? h_base : 0.0f;
        check_line(supply, CONGESTION::HORIZONTAL_LEFT, x, net_yb, net_yt);
        check_line(supply, CONGESTION::HORIZONTAL_RIGHT, x, net_yb, net_yt);
        add_shares(&grids[CONGESTION::HORIZONTAL_LEFT](x, 0), &supply[CONGESTION::HORIZONTAL_LEFT](x, 0),
                   net_yb, net_yt, ex * 0.5f + base_left, supply_left);
        add_shares(&grids[CONGESTION::HORIZONTAL_RIGHT](x, 0), &supply[CONGESTION::HORIZONTAL_RIGHT](x, 0),
                   net_yb, net_yt, ex * 0.5f + base_right, supply_right);
    }

    // Rows have no two-row special case: the base amount stays whole. The
    // horizontal pass has already checked every tile and window of the box,
    // so the rows' supply can be summed first and the tiles then visited
    // column by column, in memory order; each tile still gets one addition.
    const float ey = num_rows > 1 ? std::max(fy - static_cast<float>(h), 0.0f) / static_cast<float>(num_rows) : 0.0f;
    const GRID_2D<float>& up_sums = supply_tables[CONGESTION::VERTICAL_UP];
    const GRID_2D<float>& down_sums = supply_tables[CONGESTION::VERTICAL_DOWN];
    if (rows.up.size() < static_cast<size_t>(num_rows)) {
        rows.up.resize(static_cast<size_t>(num_rows));
        rows.down.resize(static_cast<size_t>(num_rows));
    }
    // Indexed by y - net_yb.
    for (int y = net_yb; y <= net_yt; ++y) {
        rows.up[y - net_yb] = get_window_sum(up_sums, net_xl, net_xr, y, y);
        rows.down[y - net_yb] = get_window_sum(down_sums, net_xl, net_xr, y, y);
    }
    // Up above the driver's row, down below it.
    const float with_base = ey * 0.5f + BASE_AMOUNT;
    const float no_base = ey * 0.5f + 0.0f;
    const float* row_up = rows.up.data() - net_yb;
    const float* row_down = rows.down.data() - net_yb;
    for (int x = net_xl; x <= net_xr; ++x) {
        check_line(supply, CONGESTION::VERTICAL_UP, x, net_yb, net_yt);
        check_line(supply, CONGESTION::VERTICAL_DOWN, x, net_yb, net_yt);
        const float* supply_up = &supply[CONGESTION::VERTICAL_UP](x, 0);
        const float* supply_down = &supply[CONGESTION::VERTICAL_DOWN](x, 0);
        float* demand_up = &grids[CONGESTION::VERTICAL_UP](x, 0);
        float* demand_down = &grids[CONGESTION::VERTICAL_DOWN](x, 0);
        for (int y = net_yb; y <= net_yt; ++y) {
            const float s_up = supply_up[y];
            const float amount_up = y > cy ? with_base : no_base;
            demand_up[y] = s_up > 0.0f ? demand_up[y] + (amount_up * s_up) / row_up[y] : demand_up[y];
            const float s_down = supply_down[y];
            const float amount_down = y < cy ? with_base : no_base;
            demand_down[y] = s_down > 0.0f ? demand_down[y] + (amount_down * s_down) / row_down[y] : demand_down[y];
        }
    }
}

}  // namespace

void add_bounding_box_demand(const TYPE_GRIDS& supply, const TYPE_GRIDS& supply_tables, const std::vector<int>& nets,
                             int chunk, int num_chunks, TYPE_GRIDS& grids, const NETLIST_IF* net_if)
{
    CONGESTION_CHECK(net_if != nullptr, "net_if != nullptr");
    ROW_SUPPLY rows;
    for (size_t i = static_cast<size_t>(chunk); i < nets.size(); i += static_cast<size_t>(num_chunks))
        add_net_demand(supply, supply_tables, *net_if, nets[i], grids, rows);
}

}  // namespace congestion_internal
