// Chip and window metrics: average utilization, overflow, window sums.
#include "fitter/congestion/congestion_impl.h"

using namespace congestion_internal;

float CONGESTION_IMPL::get_avg_chip_utilization(float threshold) const
{
    float summed_demand = 0.0f;
    float summed_supply = 0.0f;
    if (m_nx < 1)
        return 0.0f;
    // Supply-weighted: the demand and the supply of every (tile, wire type)
    // pair above the threshold are summed apart, one pair at a time in this
    // order, and divided once at the end.
    for (int x = 0; x < m_nx; ++x) {
        for (int y = 0; y < m_ny; ++y) {
            for (RESOURCE_TYPE type : WIRE_TYPES) {
                const float demand = m_demand[type](x, y);
                const float supply = m_supply[type](x, y);
                const float utilization = supply > 0.0f ? demand / supply : 0.0f;
                if (utilization > threshold) {
                    summed_demand = summed_demand + demand;
                    summed_supply = summed_supply + supply;
                }
            }
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
