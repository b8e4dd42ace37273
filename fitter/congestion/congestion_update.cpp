// Congestion update through the caller's compute_congestion.
#include "fitter/congestion/congestion_impl.h"
#include "host/zol_gen.h"

using namespace congestion_internal;

void CONGESTION_IMPL::update_congestion(bool build_window_sums)
{
    const GEN_PROFILER profiler = profile_operation("CONGESTION_update_congestion");
    // Every wire grid and table is reset before the first callback; a table
    // that is not rebuilt below stays all zero.
    for (RESOURCE_TYPE type : WIRE_TYPES) {
        m_congestion[type].resize(m_nx, m_ny, 0.0f);
        m_congestion_down_left_sum[type].resize(m_nx, m_ny, 0.0f);
    }
    if (m_nx > 0 && m_ny > 0) {
        // Reading the first tile up front lets a smoothing that has not run
        // report with the query's own message, as the loop's first read
        // would; only then come the guards that keep the loop from reading
        // past a smoothed supply that is missing or too small and from
        // calling through a missing interface.
        (void)get_smooth_demand(0, 0, WIRE_TYPES.front());
        for (RESOURCE_TYPE type : WIRE_TYPES) {
            const GRID_2D<float>& smooth_supply = m_smooth_supply[type];
            CONGESTION_CHECK(smooth_supply.get_num_rows() == m_nx && smooth_supply.get_num_cols() == m_ny,
                             "m_smooth_supply[type].get_num_rows() == m_nx && "
                             "m_smooth_supply[type].get_num_cols() == m_ny");
        }
        CONGESTION_CHECK(m_net_if != nullptr, "m_net_if != nullptr");
    }

    for (RESOURCE_TYPE type : WIRE_TYPES) {
        const GRID_2D<float>& smooth_supply = m_smooth_supply[type];
        GRID_2D<float>& congestion = m_congestion[type];
        // The tile read of get_smooth_demand, its checks made once for the
        // whole grid: the validity flag was tested above and cannot change
        // during the loop, and a grid that covers every tile passes every
        // bound check. Any other grid is read tile by tile with the checks.
        const GRID_2D<float>& smooth_demand =
            s_use_orig_algorithm ? m_smooth_demand_orig[type] : m_smooth_demand_smeared_new[type];
        const bool covers_grid = smooth_demand.get_num_rows() >= m_nx && smooth_demand.get_num_cols() >= m_ny;
        if (m_ny > 0) {
            parallel_loop(m_nx, [&](int x) {
                const float* supply = &smooth_supply(x, 0);
                float* out = &congestion(x, 0);
                if (covers_grid) {
                    const float* demand = &smooth_demand(x, 0);
                    for (int y = 0; y < m_ny; ++y)
                        out[y] = m_net_if->compute_congestion(demand[y], supply[y], type);
                } else {
                    for (int y = 0; y < m_ny; ++y) {
                        const float s = supply[y];
                        out[y] = m_net_if->compute_congestion(get_smooth_demand(x, y, type), s, type);
                    }
                }
            });
        }
        if (build_window_sums && m_nx >= 1 && m_ny >= 1)
            build_down_left_sum(congestion, m_congestion_down_left_sum[type]);
    }
}
