// The bounding-box net model: demand from each net's box and wire length,
// shared within a column or row of the box in proportion to supply.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "fitter/congestion/congestion_impl.h"

namespace {

// Demand of a column (or row) that lies between the driver and the box edge.
constexpr float BASE_AMOUNT = 1.0f;
// A box two columns wide gets half the base amount and half its excess.
constexpr float TWO_COLUMN_FACTOR = 0.5f;

// Supply of `type` at (x, y), after checking that the tile lies in the grid.
float checked_supply(const CONGESTION_IMPL& impl, RESOURCE_TYPE type, int x, int y)
{
    const GRID_2D<float>& supply = impl.m_supply[type];
    CONGESTION_CHECK(below(x, supply.get_num_rows()), "m_supply[type].get_num_rows() > x");
    CONGESTION_CHECK(below(y, supply.get_num_cols()), "m_supply[type].get_num_cols() > y");
    return supply(x, y);
}

// Adds the tile's share of `amount` (the line's total for this type) in
// proportion to its supply `s` out of the line's supply `line_supply`.
// Tiles without supply get nothing.
void add_share(GRID_2D<float>& grid, int x, int y, float excess, float base, float s, float line_supply)
{
    if (s > 0.0f)
        grid(x, y) = grid(x, y) + ((excess * 0.5f + base) * s) / line_supply;
}

void add_net_demand(const CONGESTION_IMPL& impl, const NETLIST_IF& net_if, int net, TYPE_GRIDS& grids)
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
    const GRID_2D<float>& left_sums = impl.m_supply_down_left_sum[CONGESTION::HORIZONTAL_LEFT];
    const GRID_2D<float>& right_sums = impl.m_supply_down_left_sum[CONGESTION::HORIZONTAL_RIGHT];
    for (int x = net_xl; x <= net_xr; ++x) {
        const float supply_left = get_window_sum(left_sums, x, x, net_yb, net_yt);
        const float supply_right = get_window_sum(right_sums, x, x, net_yb, net_yt);
        // Left of the driver the base amount heads left, right of it right.
        const float base_left = x < cx ? h_base : 0.0f;
        const float base_right = x > cx ? h_base : 0.0f;
        for (int y = net_yb; y <= net_yt; ++y) {
            const float s_left = checked_supply(impl, CONGESTION::HORIZONTAL_LEFT, x, y);
            add_share(grids[CONGESTION::HORIZONTAL_LEFT], x, y, ex, base_left, s_left, supply_left);
            const float s_right = checked_supply(impl, CONGESTION::HORIZONTAL_RIGHT, x, y);
            add_share(grids[CONGESTION::HORIZONTAL_RIGHT], x, y, ex, base_right, s_right, supply_right);
        }
    }

    // Rows have no two-row special case: the base amount stays whole.
    const float ey = num_rows > 1 ? std::max(fy - static_cast<float>(h), 0.0f) / static_cast<float>(num_rows) : 0.0f;
    const GRID_2D<float>& up_sums = impl.m_supply_down_left_sum[CONGESTION::VERTICAL_UP];
    const GRID_2D<float>& down_sums = impl.m_supply_down_left_sum[CONGESTION::VERTICAL_DOWN];
    for (int y = net_yb; y <= net_yt; ++y) {
        const float supply_up = get_window_sum(up_sums, net_xl, net_xr, y, y);
        const float supply_down = get_window_sum(down_sums, net_xl, net_xr, y, y);
        const float base_up = y > cy ? BASE_AMOUNT : 0.0f;
        const float base_down = y < cy ? BASE_AMOUNT : 0.0f;
        for (int x = net_xl; x <= net_xr; ++x) {
            const float s_up = checked_supply(impl, CONGESTION::VERTICAL_UP, x, y);
            add_share(grids[CONGESTION::VERTICAL_UP], x, y, ey, base_up, s_up, supply_up);
            const float s_down = checked_supply(impl, CONGESTION::VERTICAL_DOWN, x, y);
            add_share(grids[CONGESTION::VERTICAL_DOWN], x, y, ey, base_down, s_down, supply_down);
        }
    }
}

}  // namespace

void add_bounding_box_demand(const CONGESTION_IMPL& impl, const std::vector<int>& nets, int chunk, int num_chunks,
                             TYPE_GRIDS& grids, const NETLIST_IF* net_if)
{
    CONGESTION_CHECK(net_if != nullptr, "net_if != nullptr");
    for (size_t i = static_cast<size_t>(chunk); i < nets.size(); i += static_cast<size_t>(num_chunks))
        add_net_demand(impl, *net_if, nets[i], grids);
}
