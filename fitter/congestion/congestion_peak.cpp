// Peak utilization search.
#include <cstddef>
#include <iostream>
#include <utility>
#include <vector>

#include "fitter/congestion/congestion_impl.h"
#include "fitter/congestion/kernel_variants.h"
#include "host/zol_gen.h"

using namespace congestion_internal;

namespace {

// The best utilization of one row and its column.
struct ROW_PEAK {
    float util = -1.0f;
    int y = -1;
    float smooth_demand = 0.0f;  // at column y
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
    // in force, row by row: the object's smoothed grids stay as they are. A
    // negative chunk count throws the standard length error here. Strict
    // comparisons, here and in the scan below: the first tile in row-major
    // order wins a tie, and a NaN utilization never wins.
    std::vector<ROW_PEAK> rows(static_cast<size_t>(m_nx));
    spread_rows(m_nx, m_ny, m_num_chunks, extents, extents, supply, demand, [&](int x, const float* smooth) {
        // The row's utilizations come first, across the row so that the
        // divisions vectorise (DIVIDE_THEN_SELECT), then the scan.
        std::vector<float> utils(static_cast<size_t>(m_ny));
        const float* row_supply = &supply(x, 0);
        for (int y = 0; y < m_ny; ++y) {
            const bool has_supply = row_supply[y] > 0.0f;
            const float quotient = divide_where(has_supply, smooth[y], row_supply[y]);
            utils[y] = has_supply ? quotient : 0.0f;
        }
        ROW_PEAK& row = rows[x];
        for (int y = 0; y < m_ny; ++y) {
            if (utils[y] > row.util) {
                row.util = utils[y];
                row.y = y;
                row.smooth_demand = smooth[y];
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
            std::cout << "Found new peak at " << peak.second << " with smooth_demand=" << row.smooth_demand
                      << " and m_supply=" << supply(x, row.y) << " for util=" << peak.first << "\n";
    }
    return peak;
}
