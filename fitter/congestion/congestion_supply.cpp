// Supply: write-once tile capacities, maxima and window averages.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "fitter/congestion/congestion_impl.h"

using namespace congestion_internal;

namespace {

// The window centre-h .. centre+h, slid to lie inside 0 .. limit-1 with its
// width kept, and cut at 0 only when it is wider than the axis.
CLOSED_RANGE<> place_window(int centre, int half_width, int limit)
{
    int lo = centre - half_width;
    int hi = centre + half_width;
    if (lo < 0) {
        hi = hi - lo;
        lo = 0;
    }
    if (hi >= limit) {
        lo = lo - (hi - (limit - 1));
        hi = limit - 1;
    }
    if (lo < 0)
        lo = 0;
    return {lo, hi};
}

}  // namespace

void CONGESTION_IMPL::set_supply(int x, int y, RESOURCE_TYPE type, float supply)
{
    // Cleared before any check, so even a refused call marks the smoothed
    // supply as stale.
    m_smooth_supply_is_valid.store(false, std::memory_order_relaxed);
    CONGESTION_CHECK(is_valid_type(type), "type < m_supply.size()");
    GRID_2D<float>& grid = m_supply[type];
    CONGESTION_CHECK(below(x, grid.get_num_rows()), "m_supply[type].get_num_rows() > x");
    CONGESTION_CHECK(below(y, grid.get_num_cols()), "m_supply[type].get_num_cols() > y");
    // Zero, negative and NaN values count as unset and may be replaced.
    CONGESTION_CHECK(!(grid(x, y) > 0.0f), "Cannot use set_supply to overwrite supply.  Must use clear_supply() first");
    grid(x, y) = supply;

    // Only a strictly greater old maximum survives, so a NaN replaces the
    // maximum and the next value replaces the NaN.
    tbb::spin_rw_mutex::scoped_lock lock(m_max_supply_mutex, /*write=*/true);
    if (!(m_max_supply[type] > supply))
        m_max_supply[type] = supply;
}

float CONGESTION_IMPL::get_supply(int x, int y, RESOURCE_TYPE type) const
{
    CONGESTION_CHECK(is_valid_type(type), "type < m_supply.size()");
    const GRID_2D<float>& grid = m_supply[type];
    CONGESTION_CHECK(below(x, grid.get_num_rows()), "m_supply[type].get_num_rows() > x");
    CONGESTION_CHECK(below(y, grid.get_num_cols()), "m_supply[type].get_num_cols() > y");
    return grid(x, y);
}

float CONGESTION_IMPL::get_max_supply(RESOURCE_TYPE type) const
{
    tbb::spin_rw_mutex::scoped_lock lock(m_max_supply_mutex, /*write=*/false);
    return m_max_supply[type];
}

float CONGESTION_IMPL::get_avg_supply(RESOURCE_TYPE type, int x, int y, int window_size) const
{
    CLOSED_RANGE<> rows{0, m_nx - 1};
    CLOSED_RANGE<> cols{0, m_ny - 1};
    if (x == -1) {
        CONGESTION_CHECK(y == -1, "y==-1");
        CONGESTION_CHECK(window_size == -1, "window_size==-1");
    } else {
        // Half the window, truncated toward zero in double precision; never
        // below one tile.
        const int half_width = static_cast<int>(std::max(std::trunc(window_size * 0.5), 1.0));
        rows = place_window(x, half_width, m_nx);
        cols = place_window(y, half_width, m_ny);
    }
    // One accumulator, rows outer and columns inner: the order is part of
    // the result.
    float sum = 0.0f;
    std::int64_t count = 0;
    for (int row = rows.first; row <= rows.last; ++row) {
        for (int col = cols.first; col <= cols.last; ++col) {
            sum = sum + get_supply(row, col, type);
            ++count;
        }
    }
    return count >= 1 ? sum / static_cast<float>(count) : 0.0f;
}
