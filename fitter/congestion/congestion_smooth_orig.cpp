// Smoothing dispatch and the original (scatter) smoothing algorithm.
#include <algorithm>
#include <cstddef>
#include <vector>

#include "fitter/congestion/congestion_impl.h"
#include "host/zol_gen.h"

namespace {

bool is_horizontal(CONGESTION::RESOURCE_TYPE type)
{
    return type == CONGESTION::HORIZONTAL_LEFT || type == CONGESTION::HORIZONTAL_RIGHT;
}

}  // namespace

using namespace congestion_internal;

void CONGESTION_IMPL::dispatch_smooth_demand(int parallel_dim, int perpendicular_dim, bool uniform,
                                             const std::vector<RESOURCE_TYPE>& resources)
{
    // The name lookup is the type check: it reports any value outside 0..4.
    for (RESOURCE_TYPE type : resources)
        (void)CONGESTION::get_string_for_resource_type(type);
    if (!s_use_orig_algorithm) {
        generate_smooth_demand_smeared_new(parallel_dim, perpendicular_dim, uniform, resources);
        return;
    }
    // Only the wire types in their processing order select the wire
    // smoothing; the same types in another order do not.
    if (resources == WIRE_TYPES) {
        generate_smooth_wire_demand(parallel_dim, perpendicular_dim, uniform);
        return;
    }
    CONGESTION_CHECK(resources.size() == 1, "resources.size() == 1");
    generate_smooth_demand(parallel_dim, perpendicular_dim, resources.front());
}

void CONGESTION_IMPL::generate_smooth_demand(int parallel_dim, int perpendicular_dim, RESOURCE_TYPE type)
{
    const GEN_PROFILER profiler = profile_operation("CONGESTION_generate_smooth_demand");
    GRID_2D<float>& smooth = m_smooth_demand_orig[type];
    smooth.resize(m_nx + 1, m_ny + 1, 0.0f);
    // parallel_dim runs along x for every type here, vertical ones included.
    // The spare row and column stay 0.0.
    spread_in_chunks(m_nx, m_ny, m_num_chunks, split_window(parallel_dim), split_window(perpendicular_dim),
                     m_supply[type], m_demand[type], smooth);
}

void CONGESTION_IMPL::generate_smooth_wire_demand(int parallel_dim, int perpendicular_dim, bool uniform)
{
    const GEN_PROFILER profiler = profile_operation("CONGESTION_generate_smooth_wire_demand");
    // A negative size gives negative extents, for which the difference-grid
    // corners of the uniform kernel would fall outside its grid.
    CONGESTION_CHECK(!uniform || (parallel_dim >= 0 && perpendicular_dim >= 0),
                     "parallel_dim >= 0 && perpendicular_dim >= 0");
    for (RESOURCE_TYPE type : WIRE_TYPES)
        m_smooth_demand_orig[type].resize(m_nx + 1, m_ny + 1, 0.0f);

    const WINDOW_EXTENTS parallel = split_window(parallel_dim);
    const WINDOW_EXTENTS perpendicular = split_window(perpendicular_dim);
    for (RESOURCE_TYPE type : WIRE_TYPES) {
        const WINDOW_EXTENTS x_extents = is_horizontal(type) ? parallel : perpendicular;
        const WINDOW_EXTENTS y_extents = is_horizontal(type) ? perpendicular : parallel;
        const GRID_2D<float>& demand = m_demand[type];
        if (!uniform) {
            spread_in_chunks(m_nx, m_ny, m_num_chunks, x_extents, y_extents, m_supply[type], demand,
                             m_smooth_demand_orig[type]);
            continue;
        }
        const std::vector<GRID_2D<float>> chunks =
            run_in_row_chunks(m_nx, m_ny, m_num_chunks, [&](int x_start, int x_end, GRID_2D<float>& grid) {
                smear_demand_uniformly(x_extents.low, x_extents.high, y_extents.low, y_extents.high, x_start, x_end,
                                       m_ny - 1, demand, grid);
            });
        // Row m_nx is merged too: the uniform pass leaves its rounding
        // residue there.
        merge_chunk_grids(chunks, m_nx + 1, m_ny, m_smooth_demand_orig[type]);
    }
    m_smooth_demand_is_valid = true;
}

namespace congestion_internal {

void spread_demand_by_supply(int x_low, int x_high, int y_low, int y_high, int x_start, int x_end, int y_end,
                             const GRID_2D<float>& supply_for_type, const GRID_2D<float>& demand_for_type,
                             GRID_2D<float>& smooth_demand_for_type)
{
    const int nx = demand_for_type.get_num_rows();
    const int ny = demand_for_type.get_num_cols();
    CONGESTION_CHECK(nx + 1 == smooth_demand_for_type.get_num_rows(), "nx+1 == smooth_demand_for_type.get_num_rows()");
    CONGESTION_CHECK(nx == supply_for_type.get_num_rows(), "nx == supply_for_type.get_num_rows()");
    CONGESTION_CHECK(ny + 1 == smooth_demand_for_type.get_num_cols(), "ny+1 == smooth_demand_for_type.get_num_cols()");
    CONGESTION_CHECK(ny == supply_for_type.get_num_cols(), "ny == supply_for_type.get_num_cols()");
    CONGESTION_CHECK(x_start >= 0, "x_start >= 0");
    CONGESTION_CHECK(x_end < nx + 1, "x_end < nx+1");
    CONGESTION_CHECK(y_end < ny + 1, "y_end < ny+1");
    if (x_start > x_end)
        return;

    for (int x = x_start; x <= x_end; ++x) {
        const int x0 = std::max(0, x - x_low);
        const int x1 = std::min(x + x_high, nx - 1);
        for (int y = 0; y <= y_end; ++y) {
            // Checked read: the range checks admit row nx and column ny,
            // which the demand grid does not have.
            const float demand = demand_for_type.at(x, y);
            if (demand <= 0.0f)
                continue;
            const int y0 = std::max(0, y - y_low);
            const int y1 = std::min(y + y_high, ny - 1);
            float window_supply = 0.0f;
            for (int xi = x0; xi <= x1; ++xi)
                for (int yi = y0; yi <= y1; ++yi)
                    window_supply = window_supply + supply_for_type(xi, yi);
            if (!(window_supply > 0.0f))
                continue;
            // Divide, then multiply, then add: the order is part of the result.
            for (int xi = x0; xi <= x1; ++xi)
                for (int yi = y0; yi <= y1; ++yi)
                    smooth_demand_for_type(xi, yi) =
                        smooth_demand_for_type(xi, yi) + (supply_for_type(xi, yi) / window_supply) * demand;
        }
    }
}

void smear_demand_uniformly(int x_low, int x_high, int y_low, int y_high, int x_start, int x_end, int y_end,
                            const GRID_2D<float>& demand_for_type, GRID_2D<float>& smooth_wire_for_type)
{
    const int nx = demand_for_type.get_num_rows();
    const int ny = demand_for_type.get_num_cols();
    GRID_2D<float>& grid = smooth_wire_for_type;
    CONGESTION_CHECK(nx + 1 == grid.get_num_rows(), "nx+1 == smooth_wire_for_type.get_num_rows()");
    CONGESTION_CHECK(ny + 1 == grid.get_num_cols(), "ny+1 == smooth_wire_for_type.get_num_cols()");

    // Scatter: each window becomes four corner entries of a difference grid.
    // The larger (low) extent lies towards higher coordinates. Checked
    // accesses: nothing here bounds the row range or the extents.
    for (int x = x_start; x <= x_end; ++x) {
        const int x0 = std::max(x - x_high, 0);
        const int x1 = std::min(x + x_low, nx - 1);
        for (int y = 0; y <= y_end; ++y) {
            const float demand = demand_for_type.at(x, y);
            const int y0 = std::max(y - y_high, 0);
            const int y1 = std::min(y + y_low, ny - 1);
            const float value = demand / static_cast<float>((y1 - y0 + 1) * (x1 - x0 + 1));
            grid.at(x0, y0) = grid.at(x0, y0) + value;
            grid.at(x0, y1 + 1) = grid.at(x0, y1 + 1) - value;
            grid.at(x1 + 1, y0) = grid.at(x1 + 1, y0) - value;
            grid.at(x1 + 1, y1 + 1) = grid.at(x1 + 1, y1 + 1) + value;
        }
    }

    // Running sums down every column (row nx included, all ny + 1 columns),
    // then along every row but row nx. Each entry depends only on its
    // predecessor in the running direction, so walking the rows outermost
    // gives the same sums while reading memory in order.
    for (int x = 1; x <= nx; ++x)
        for (int y = 0; y <= ny; ++y)
            grid(x, y) = grid(x - 1, y) + grid(x, y);
    for (int x = 0; x < nx; ++x)
        for (int y = 1; y <= ny; ++y)
            grid(x, y) = grid(x, y - 1) + grid(x, y);
}

}  // namespace congestion_internal
