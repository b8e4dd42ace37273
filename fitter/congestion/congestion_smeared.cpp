// The new (share, summed-area table, gather) smoothing and the smoothed supply.
#include <algorithm>
#include <atomic>
#include <utility>
#include <vector>

#include "fitter/congestion/congestion_impl.h"
#include "host/zol_gen.h"

namespace {

constexpr unsigned int PROFILER_MASK = 0x7fffffff;

// Window sizes (x, y) of a type: parallel_dim runs along x for the
// horizontal types and along y for every other type.
std::pair<int, int> oriented_sizes(RESOURCE_TYPE type, int parallel_dim, int perpendicular_dim)
{
    if (type == CONGESTION::HORIZONTAL_LEFT || type == CONGESTION::HORIZONTAL_RIGHT)
        return {parallel_dim, perpendicular_dim};
    return {perpendicular_dim, parallel_dim};
}

}  // namespace

void CONGESTION_IMPL::generate_smooth_demand_smeared_new(int parallel_dim, int perpendicular_dim, bool uniform,
                                                         const std::vector<RESOURCE_TYPE>& resources)
{
    GEN_PROFILER profiler("CONGESTION", "CONGESTION_generate_smooth_demand_smeared_new", PROFILER_MASK, nullptr,
                          nullptr);
    // One share grid for the whole call; one table per type.
    GRID_2D<float> shares;
    shares.resize(m_nx, m_ny, 0.0f);
    TYPE_GRIDS tables;
    for (RESOURCE_TYPE type : resources) {
        const std::pair<int, int> sizes = oriented_sizes(type, parallel_dim, perpendicular_dim);
        GRID_2D<float>& table = tables[type];
        table.resize(m_nx, m_ny, 0.0f);
        compute_demand_shares(sizes.first, sizes.second, m_demand[type], shares, !uniform);
        build_down_left_sum(shares, table);
        gather_from_window(sizes.first, sizes.second, m_supply[type], table, m_smooth_demand_smeared_new[type], true,
                           !uniform);
    }
    m_smooth_demand_smeared_new_is_valid = true;
}

void CONGESTION_IMPL::compute_demand_shares(int x_size, int y_size, const GRID_2D<float>& demand_for_type,
                                            GRID_2D<float>& shares, bool count_non_empty) const
{
    // A source tile's window has its larger (low) extent towards higher
    // coordinates, the mirror of the window that the gather reads.
    const WINDOW_EXTENTS x_extents = split_window(x_size);
    const WINDOW_EXTENTS y_extents = split_window(y_size);
    shares.resize(m_nx, m_ny, 0.0f);
    parallel_loop(m_nx, [&](int x) {
        const int x0 = std::max(x - x_extents.high, 0);
        const int x1 = std::min(x + x_extents.low, m_nx - 1);
        for (int y = 0; y < m_ny; ++y) {
            const int y0 = std::max(y - y_extents.high, 0);
            const int y1 = std::min(y + y_extents.low, m_ny - 1);
            const float demand = demand_for_type.at(x, y);
            float share;
            if (count_non_empty) {
                // A window without any non-empty tile has nowhere to put
                // the demand: it is dropped.
                const int non_empty = get_num_non_empty_in_window(x0, x1, y0, y1);
                share = non_empty > 0 ? demand / static_cast<float>(non_empty) : 0.0f;
            } else {
                share = demand / static_cast<float>((y1 - y0 + 1) * (x1 - x0 + 1));
            }
            shares(x, y) = share;
        }
    });
}

void CONGESTION_IMPL::gather_from_window(int x_size, int y_size, const GRID_2D<float>& supply_for_type,
                                         const GRID_2D<float>& down_left_sum, GRID_2D<float>& out, bool sum,
                                         bool zero_without_supply) const
{
    // The receiving tile's window: larger (low) extent towards lower
    // coordinates.
    const WINDOW_EXTENTS x_extents = split_window(x_size);
    const WINDOW_EXTENTS y_extents = split_window(y_size);
    out.resize(m_nx, m_ny, 0.0f);
    parallel_loop(m_nx, [&](int x) {
        const int xmin = std::max(x - x_extents.low, 0);
        const int xmax = std::min(x + x_extents.high, m_nx - 1);
        for (int y = 0; y < m_ny; ++y) {
            const int ymin = std::max(y - y_extents.low, 0);
            const int ymax = std::min(y + y_extents.high, m_ny - 1);
            const float window = get_window_sum(down_left_sum, xmin, xmax, ymin, ymax);
            if (!sum)
                out(x, y) = window / static_cast<float>((ymax - ymin + 1) * (xmax - xmin + 1));
            else if (zero_without_supply && !(supply_for_type.at(x, y) > 0.0f))
                out(x, y) = 0.0f;
            else
                out(x, y) = window;
        }
    });
}

void CONGESTION_IMPL::generate_smooth_supply(int parallel_dim, int perpendicular_dim,
                                             const std::vector<RESOURCE_TYPE>& types)
{
    GEN_PROFILER profiler("CONGESTION", "CONGESTION_generate_smooth_supply", PROFILER_MASK, nullptr, nullptr);
    for (RESOURCE_TYPE type : types) {
        // With m_ny == 0 and rows present, this build stops in its first
        // column copy, before the size check below is reached.
        m_supply_down_left_sum[type].resize(m_nx, m_ny, 0.0f);
        build_down_left_sum(m_supply[type], m_supply_down_left_sum[type]);
        const std::pair<int, int> sizes = oriented_sizes(type, parallel_dim, perpendicular_dim);
        gather_from_window(sizes.first, sizes.second, m_supply[type], m_supply_down_left_sum[type],
                           m_smooth_supply[type], false, false);
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
