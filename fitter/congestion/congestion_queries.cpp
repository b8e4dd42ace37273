// Point and total queries: demand, smoothed demand, utilization, total demand.
#include "fitter/congestion/congestion_impl.h"

using namespace congestion_internal;

float CONGESTION_IMPL::get_demand(int x, int y, RESOURCE_TYPE type) const
{
    CONGESTION_CHECK(is_valid_type(type), "type < m_demand.size()");
    CONGESTION_CHECK(below(x, m_demand[type].get_num_rows()), "m_demand[type].get_num_rows() > x");
    CONGESTION_CHECK(below(y, m_demand[type].get_num_cols()), "m_demand[type].get_num_cols() > y");
    return m_demand[type](x, y);
}

float CONGESTION_IMPL::get_smooth_demand(int x, int y, RESOURCE_TYPE type) const
{
    if (s_use_orig_algorithm) {
        // Once smoothed, the original grids carry one spare row and column,
        // so x == m_nx and y == m_ny are readable there.
        CONGESTION_CHECK(m_smooth_demand_is_valid, "m_smooth_demand_is_valid");
        CONGESTION_CHECK(is_valid_type(type), "type < m_smooth_demand_orig.size()");
        const GRID_2D<float>& grid = m_smooth_demand_orig[type];
        CONGESTION_CHECK(below(x, grid.get_num_rows()), "m_smooth_demand_orig[type].get_num_rows() > x");
        CONGESTION_CHECK(below(y, grid.get_num_cols()), "m_smooth_demand_orig[type].get_num_cols() > y");
        return grid(x, y);
    }
    CONGESTION_CHECK(m_smooth_demand_smeared_new_is_valid, "m_smooth_demand_smeared_new_is_valid");
    CONGESTION_CHECK(is_valid_type(type), "type < m_smooth_demand_smeared_new.size()");
    const GRID_2D<float>& grid = m_smooth_demand_smeared_new[type];
    CONGESTION_CHECK(below(x, grid.get_num_rows()), "m_smooth_demand_smeared_new[type].get_num_rows() > x");
    CONGESTION_CHECK(below(y, grid.get_num_cols()), "m_smooth_demand_smeared_new[type].get_num_cols() > y");
    return grid(x, y);
}

float CONGESTION_IMPL::get_util(int x, int y, RESOURCE_TYPE type) const
{
    CONGESTION_CHECK(is_valid_type(type), "type < m_supply.size()");
    CONGESTION_CHECK(below(x, m_supply[type].get_num_rows()), "m_supply[type].get_num_rows() > x");
    CONGESTION_CHECK(below(y, m_supply[type].get_num_cols()), "m_supply[type].get_num_cols() > y");
    CONGESTION_CHECK(below(x, m_demand[type].get_num_rows()), "m_demand[type].get_num_rows() > x");
    CONGESTION_CHECK(below(y, m_demand[type].get_num_cols()), "m_demand[type].get_num_cols() > y");
    const float supply = m_supply[type](x, y);
    // Zero, negative and NaN supply all mean "no capacity": utilization 0.
    if (supply > 0.0f)
        return m_demand[type](x, y) / supply;
    return 0.0f;
}

float CONGESTION_IMPL::get_total_demand(RESOURCE_TYPE type) const
{
    CONGESTION_CHECK(is_valid_type(type), "type < m_demand.size()");
    const GRID_2D<float>& demand = m_demand[type];
    CONGESTION_CHECK(demand.get_num_rows() == m_nx, "m_demand[type].get_num_rows() == m_nx");
    CONGESTION_CHECK(demand.get_num_cols() == m_ny, "m_demand[type].get_num_cols() == m_ny");
    // One accumulator in row-major order: the order is part of the result.
    float total = 0.0f;
    for (int x = 0; x < m_nx; ++x)
        for (int y = 0; y < m_ny; ++y)
            total = total + demand(x, y);
    return total;
}
