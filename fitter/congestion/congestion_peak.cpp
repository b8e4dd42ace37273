// Peak utilization search.
#include <cstddef>
#include <iostream>
#include <utility>
#include <vector>

#include "fitter/congestion/congestion_impl.h"
#include "host/zol_gen.h"

using namespace congestion_internal;

namespace {

// The best utilization of one row and its column.
struct ROW_PEAK {
    float util = 0.0f;
    int y = -1;
};

}  // namespace

std::pair<float, CONGESTION::LOC> CONGESTION_IMPL::get_peak_utilization(int dim, RESOURCE_TYPE type, bool debug) const
{
    const GEN_PROFILER profiler = profile_operation("CONGESTION_get_peak_utilization");
    const WINDOW_EXTENTS extents = split_window(dim);
    if (debug)
        std::cout << "Getting peak utilization for type " << CONGESTION::get_string_for_resource_type(type)
                  << " with dim " << dim << "\n";
    CONGESTION_CHECK(is_valid_type(type), "type < m_supply.size()");
    const GRID_2D<float>& supply = m_supply[type];
    const GRID_2D<float>& demand = m_demand[type];

    // The original algorithm's supply-weighted scatter, whatever algorithm is
    // in force, into a scratch grid: the object's smoothed grids stay as they
    // are. A negative chunk count throws the standard length error here.
    GRID_2D<float> smooth;
    smooth.resize(m_nx, m_ny, 0.0f);
    spread_in_chunks(m_nx, m_ny, m_num_chunks, extents, extents, supply, demand, smooth);

    // Strict comparisons, here and in the scan below: the first tile in
    // row-major order wins a tie, and a NaN utilization never wins.
    std::vector<ROW_PEAK> rows(static_cast<size_t>(m_nx));
    parallel_loop(m_nx, [&](int x) {
        ROW_PEAK& row = rows[x];
        row.util = -1.0f;
        for (int y = 0; y < m_ny; ++y) {
            const float tile_supply = supply(x, y);
            const float util = tile_supply > 0.0f ? smooth(x, y) / tile_supply : 0.0f;
            if (util > row.util) {
                row.util = util;
                row.y = y;
            }
        }
    });

    std::pair<float, CONGESTION::LOC> peak(-1.0f, CONGESTION::LOC{-1, -1});
    for (int x = 0; x < m_nx; ++x) {
        const ROW_PEAK& row = rows[x];
        if (!(row.util > peak.first))
            continue;
        peak = {row.util, CONGESTION::LOC{x, row.y}};
        if (debug)
            std::cout << "Found new peak at " << peak.second << " with smooth_demand=" << smooth(x, row.y)
                      << " and m_supply=" << supply(x, row.y) << " for util=" << peak.first << "\n";
    }
    return peak;
}
