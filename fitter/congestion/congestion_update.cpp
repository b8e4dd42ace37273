// Congestion update through the caller's compute_congestion.
#include "fitter/congestion/congestion_impl.h"
#include "host/zol_gen.h"

namespace {

constexpr unsigned int PROFILER_MASK = 0x7fffffff;

}  // namespace

void CONGESTION_IMPL::update_congestion(bool build_window_sums)
{
    GEN_PROFILER profiler("CONGESTION", "CONGESTION_update_congestion", PROFILER_MASK, nullptr, nullptr);
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
        parallel_loop(m_nx, [&](int x) {
            for (int y = 0; y < m_ny; ++y) {
                const float supply = smooth_supply(x, y);
                const float demand = get_smooth_demand(x, y, type);
                congestion(x, y) = m_net_if->compute_congestion(demand, supply, type);
            }
        });
        if (build_window_sums && m_nx >= 1 && m_ny >= 1)
            build_down_left_sum(congestion, m_congestion_down_left_sum[type]);
    }
}
