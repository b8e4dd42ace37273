// Chip and window metrics: average utilization, overflow, window sums.
#include <cstddef>
#include <vector>

#include "fitter/congestion/congestion_impl.h"
#include "fitter/congestion/kernel_variants.h"

using namespace congestion_internal;

float CONGESTION_IMPL::get_avg_chip_utilization(float threshold) const
{
    float summed_demand = 0.0f;
    float summed_supply = 0.0f;
    if (m_nx < 1)
        return 0.0f;
    // Supply-weighted: the demand and the supply of every (tile, wire type)
    // pair above the threshold are summed apart, one pair at a time in the
    // order x, y, type, and divided once at the end. The threshold test runs
    // ahead a row at a time, across the row, so that its divisions vectorise
    // (DIVIDE_THEN_SELECT).
    constexpr size_t NUM_WIRE_TYPES = CONGESTION::NUM_RESOURCE_TYPES - 1;
    const size_t ny = static_cast<size_t>(m_ny);
    std::vector<float> utilizations(NUM_WIRE_TYPES * ny);
    for (int x = 0; x < m_nx; ++x) {
        const float* demand[NUM_WIRE_TYPES];
        const float* supply[NUM_WIRE_TYPES];
        for (size_t t = 0; t < NUM_WIRE_TYPES; ++t) {
            demand[t] = &m_demand[WIRE_TYPES[t]](x, 0);
            supply[t] = &m_supply[WIRE_TYPES[t]](x, 0);
            float* utilization = &utilizations[t * ny];
            for (size_t y = 0; y < ny; ++y) {
                const bool has_supply = supply[t][y] > 0.0f;
                const float quotient = divide_where(has_supply, demand[t][y], supply[t][y]);
                utilization[y] = has_supply ? quotient : 0.0f;
            }
        }
        for (size_t y = 0; y < ny; ++y)
            for (size_t t = 0; t < NUM_WIRE_TYPES; ++t)
                if (utilizations[t * ny + y] > threshold) {
                    summed_demand = summed_demand + demand[t][y];
                    summed_supply = summed_supply + supply[t][y];
                }
    }
    return summed_supply > 0.0f ? summed_demand / summed_supply : 0.0f;
}

float CONGESTION_IMPL::get_apl_style_congestion(int x, int y, RESOURCE_TYPE type) const
{
    // The smoothed demand's checks come before the supply's.
    const float smooth_demand = get_smooth_demand(x, y, type);
    const float supply = get_supply(x, y, type);
    const float overflow = smooth_demand - supply;
    // A NaN difference counts as no overflow.
    return overflow > 0.0f ? overflow : 0.0f;
}

float CONGESTION_IMPL::get_total_apl_style_congestion(RESOURCE_TYPE type) const
{
    if (m_nx < 1)
        return 0.0f;
    float total = 0.0f;
    // When no tile's query can fail, the grids are read directly; otherwise
    // tile by tile, so that the first failing tile stops with its message.
    const auto covers_chip = [&](const GRID_2D<float>& grid) {
        return grid.get_num_rows() >= m_nx && grid.get_num_cols() >= m_ny;
    };
    if (is_smooth_demand_valid() && is_valid_type(type) && covers_chip(get_grids(GRID_KIND::SMOOTH_DEMAND)[type]) &&
        covers_chip(m_supply[type])) {
        const GRID_2D<float>& smooth = get_grids(GRID_KIND::SMOOTH_DEMAND)[type];
        const GRID_2D<float>& supply = m_supply[type];
        for (int x = 0; x < m_nx; ++x)
            for (int y = 0; y < m_ny; ++y) {
                // A NaN difference counts as no overflow.
                const float overflow = smooth(x, y) - supply(x, y);
                total = total + (overflow > 0.0f ? overflow : 0.0f);
            }
        return total;
    }
    for (int x = 0; x < m_nx; ++x)
        for (int y = 0; y < m_ny; ++y)
            total = total + get_apl_style_congestion(x, y, type);
    return total;
}

float CONGESTION_IMPL::get_congestion_in_window(RESOURCE_TYPE type, int xmin, int xmax, int ymin, int ymax) const
{
    // Only the wire types' tables are ever built; the Lab Input table stays
    // empty and fails the window query's row check.
    CONGESTION_CHECK(is_valid_type(type), "type < m_congestion_down_left_sum.size()");
    return get_window_sum(m_congestion_down_left_sum[type], xmin, xmax, ymin, ymax);
}

int CONGESTION_IMPL::get_num_non_empty_in_window(int xmin, int xmax, int ymin, int ymax) const
{
    return static_cast<int>(get_window_sum(m_non_empty_down_left_sum, xmin, xmax, ymin, ymax));
}
