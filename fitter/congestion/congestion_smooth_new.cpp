// The new (share, summed-area table, gather) smoothing and the smoothed supply.
#include <algorithm>
#include <cstddef>
#include <atomic>
#include <utility>
#include <vector>

#include "fitter/congestion/congestion_impl.h"
#include "host/zol_gen.h"

namespace congestion_internal {
namespace {

// Window sizes (x, y) of a type: parallel_dim runs along x for the
// horizontal types and along y for every other type.
std::pair<int, int> oriented_sizes(RESOURCE_TYPE type, int parallel_dim, int perpendicular_dim)
{
    if (type == CONGESTION::HORIZONTAL_LEFT || type == CONGESTION::HORIZONTAL_RIGHT)
        return {parallel_dim, perpendicular_dim};
    return {perpendicular_dim, parallel_dim};
}

// Window sums of one row of tiles: for every column y, the sum of `table`
// over rows xmin..xmax and columns y - before .. y + after clipped to
// 0 .. ny - 1, handed to store(y, sum, ymin, ymax). Where the window is not
// clipped in y and the rows are valid, the four table reads and the order of
// the operations are those of get_window_sum, written over whole table rows
// so that the compiler can vectorise them; the results are the same bits.
// The clipped columns at both ends, and any window that could fail a check,
// go through get_window_sum itself.
template <typename T, typename STORE>
void window_sums_of_row(const GRID_2D<T>& table, int xmin, int xmax, int before, int after, int ny, const STORE& store)
{
    const auto checked = [&](int y) {
        const int ymin = std::max(y - before, 0);
        const int ymax = std::min(y + after, ny - 1);
        store(y, get_window_sum(table, xmin, xmax, ymin, ymax), ymin, ymax);
    };
    const bool rows_valid = xmin >= 0 && xmin <= xmax && xmax < table.get_num_rows() && ny <= table.get_num_cols();
    const int first = before + 1;     // first column whose window starts above column 0
    const int last = ny - 1 - after;  // last column whose window ends inside the grid
    if (!rows_valid || before < 0 || after < 0 || first > last) {
        for (int y = 0; y < ny; ++y)
            checked(y);
        return;
    }
    for (int y = 0; y < first; ++y)
        checked(y);
    const T* high = &table(xmax, 0);
    if (xmin > 0) {
        const T* low = &table(xmin - 1, 0);
        for (int y = first; y <= last; ++y) {
            T sum = high[y + after];
            sum = sum - low[y + after];
            sum = sum - high[y - before - 1];
            sum = sum + low[y - before - 1];
            store(y, sum, y - before, y + after);
        }
    } else {
        for (int y = first; y <= last; ++y) {
            T sum = high[y + after];
            sum = sum - high[y - before - 1];
            store(y, sum, y - before, y + after);
        }
    }
    for (int y = last + 1; y < ny; ++y)
        checked(y);
}

// Stops with the grid's own bounds message unless row x of `grid` holds at
// least `ny` columns.
void check_row(const GRID_2D<float>& grid, int x, int ny)
{
    if (ny > 0)
        CONGESTION_CHECK(grid.in_bounds(x, ny - 1), "in_bounds(irow, icol)");
}

}  // namespace

void compute_demand_shares(int nx, int ny, int x_size, int y_size, const GRID_2D<float>& demand_for_type,
                           const GRID_2D<unsigned>& non_empty_table, SHARE_RULE rule, GRID_2D<float>& shares)
{
    // A source tile's window has its larger (low) extent towards higher
    // coordinates, the mirror of the window that the gather reads.
    const WINDOW_EXTENTS x_extents = split_window(x_size);
    const WINDOW_EXTENTS y_extents = split_window(y_size);
    shares.resize(nx, ny, 0.0f);
    parallel_loop(nx, [&](int x) {
        const int x0 = std::max(x - x_extents.high, 0);
        const int x1 = std::min(x + x_extents.low, nx - 1);
        check_row(demand_for_type, x, ny);
        const float* demand = demand_for_type.data() + static_cast<ptrdiff_t>(x) * demand_for_type.get_num_cols();
        float* share = shares.data() + static_cast<ptrdiff_t>(x) * ny;
        if (rule == SHARE_RULE::NON_EMPTY_TILES) {
            // A window without any non-empty tile has nowhere to put the
            // demand: it is dropped.
            window_sums_of_row(non_empty_table, x0, x1, y_extents.high, y_extents.low, ny,
                               [&](int y, unsigned count, int, int) {
                                   const int non_empty = static_cast<int>(count);
                                   share[y] = non_empty > 0 ? demand[y] / static_cast<float>(non_empty) : 0.0f;
                               });
        } else {
            for (int y = 0; y < ny; ++y) {
                const int y0 = std::max(y - y_extents.high, 0);
                const int y1 = std::min(y + y_extents.low, ny - 1);
                share[y] = demand[y] / static_cast<float>((y1 - y0 + 1) * (x1 - x0 + 1));
            }
        }
    });
}

void gather_from_window(int nx, int ny, int x_size, int y_size, const GRID_2D<float>& supply_for_type,
                        const GRID_2D<float>& table, GATHER_RULE rule, GRID_2D<float>& out)
{
    // The receiving tile's window: larger (low) extent towards lower
    // coordinates.
    const WINDOW_EXTENTS x_extents = split_window(x_size);
    const WINDOW_EXTENTS y_extents = split_window(y_size);
    out.resize(nx, ny, 0.0f);
    parallel_loop(nx, [&](int x) {
        const int xmin = std::max(x - x_extents.low, 0);
        const int xmax = std::min(x + x_extents.high, nx - 1);
        float* row = out.data() + static_cast<ptrdiff_t>(x) * ny;
        switch (rule) {
        case GATHER_RULE::AVERAGE:
            window_sums_of_row(table, xmin, xmax, y_extents.low, y_extents.high, ny,
                               [&](int y, float window, int ymin, int ymax) {
                                   row[y] = window / static_cast<float>((ymax - ymin + 1) * (xmax - xmin + 1));
                               });
            break;
        case GATHER_RULE::SUM_WHERE_SUPPLIED: {
            check_row(supply_for_type, x, ny);
            const float* supply = supply_for_type.data() + static_cast<ptrdiff_t>(x) * supply_for_type.get_num_cols();
            window_sums_of_row(table, xmin, xmax, y_extents.low, y_extents.high, ny,
                               [&](int y, float window, int, int) { row[y] = supply[y] > 0.0f ? window : 0.0f; });
            break;
        }
        case GATHER_RULE::SUM:
            window_sums_of_row(table, xmin, xmax, y_extents.low, y_extents.high, ny,
                               [&](int y, float window, int, int) { row[y] = window; });
            break;
        }
    });
}

}  // namespace congestion_internal

using namespace congestion_internal;

void CONGESTION_IMPL::generate_smooth_demand_smeared_new(int parallel_dim, int perpendicular_dim, bool uniform,
                                                         const std::vector<RESOURCE_TYPE>& resources)
{
    const GEN_PROFILER profiler = profile_operation("CONGESTION_generate_smooth_demand_smeared_new");
    // One share grid for the whole call; one table per type.
    GRID_2D<float> shares;
    shares.resize(m_nx, m_ny, 0.0f);
    TYPE_GRIDS tables;
    for (RESOURCE_TYPE type : resources) {
        const std::pair<int, int> sizes = oriented_sizes(type, parallel_dim, perpendicular_dim);
        GRID_2D<float>& table = tables[type];
        table.resize(m_nx, m_ny, 0.0f);
        compute_demand_shares(m_nx, m_ny, sizes.first, sizes.second, m_demand[type], m_non_empty_down_left_sum,
                              uniform ? SHARE_RULE::EVERY_TILE : SHARE_RULE::NON_EMPTY_TILES, shares);
        build_down_left_sum(shares, table);
        gather_from_window(m_nx, m_ny, sizes.first, sizes.second, m_supply[type], table,
                           uniform ? GATHER_RULE::SUM : GATHER_RULE::SUM_WHERE_SUPPLIED,
                           m_smooth_demand_smeared_new[type]);
    }
    m_smooth_demand_smeared_new_is_valid = true;
}

void CONGESTION_IMPL::generate_smooth_supply(int parallel_dim, int perpendicular_dim,
                                             const std::vector<RESOURCE_TYPE>& types)
{
    const GEN_PROFILER profiler = profile_operation("CONGESTION_generate_smooth_supply");
    for (RESOURCE_TYPE type : types) {
        // With m_ny == 0 and rows present, this build stops in its first
        // column copy, before the size check below is reached.
        m_supply_down_left_sum[type].resize(m_nx, m_ny, 0.0f);
        build_down_left_sum(m_supply[type], m_supply_down_left_sum[type]);
        const std::pair<int, int> sizes = oriented_sizes(type, parallel_dim, perpendicular_dim);
        gather_from_window(m_nx, m_ny, sizes.first, sizes.second, m_supply[type], m_supply_down_left_sum[type],
                           GATHER_RULE::AVERAGE, m_smooth_supply[type]);
    }

    m_non_empty_down_left_sum.resize(m_nx, m_ny, 0u);
    CONGESTION_CHECK(m_nx > 0 && m_ny > 0, "m_nx > 0 && m_ny > 0");
    // A tile is non-empty when any wire type has supply there; Lab Input
    // supply does not count, whatever `types` holds.
    GRID_2D<unsigned> occupancy;
    occupancy.resize(m_nx, m_ny, 0u);
    for (RESOURCE_TYPE type : WIRE_TYPES) {
        const GRID_2D<float>& supply = m_supply[type];
        parallel_loop(m_nx, [&](int x) {
            for (int y = 0; y < m_ny; ++y)
                if (supply.at(x, y) > 0.0f)
                    occupancy(x, y) = 1u;
        });
    }
    build_down_left_sum(occupancy, m_non_empty_down_left_sum);
    m_smooth_supply_is_valid.store(true, std::memory_order_relaxed);
}
