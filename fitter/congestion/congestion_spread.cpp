// The supply-weighted spread of one type's demand over row chunks, computed
// per destination tile.
//
// spread_demand_by_supply scatters each source tile's demand over its window
// into its chunk's grid, and the chunk grids are then added in chunk order.
// Every destination tile thus receives, per chunk, the shares of that
// chunk's sources in source order (row, then column), summed from +0.0, and
// those per-chunk sums are added in chunk order. The gather below makes the
// same operations in the same order for every destination, without a grid
// per chunk, and runs across a destination row, so that it vectorises:
// shares of sources without positive window supply or with demand not above
// zero are discarded (DIVIDE_THEN_SELECT).
#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <vector>

#include "fitter/congestion/congestion_impl.h"
#include "fitter/congestion/kernel_variants.h"

namespace congestion_internal {
namespace {

struct SPREAD_ARGS {
    int nx;
    int ny;
    int num_source_rows;  // the rows that some chunk owns
    int chunk_size;
    WINDOW_EXTENTS x_extents;
    WINDOW_EXTENTS y_extents;
    const GRID_2D<float>* supply;
    const GRID_2D<float>* demand;
};

// The columns y of a row for which y + offset is a column too.
inline CLOSED_RANGE<> columns_with_offset(int ny, int offset)
{
    return {std::max(0, -offset), std::min(ny - 1, ny - 1 - offset)};
}

// The source rows whose windows reach destination row xi.
inline CLOSED_RANGE<long long> get_sources(const SPREAD_ARGS& args, long long xi)
{
    return {std::max(0LL, xi - args.x_extents.high),
            std::min(static_cast<long long>(args.num_source_rows) - 1, xi + args.x_extents.low)};
}

// The supply summed over the clipped window of every source tile of row x:
// window rows outer, window columns inner, from +0.0, as the scatter sums it.
inline void sum_window_supply_row(const SPREAD_ARGS& args, int x, float* sums)
{
    const int ny = args.ny;
    std::fill(sums, sums + ny, 0.0f);
    const long long first_row = std::max(0LL, static_cast<long long>(x) - args.x_extents.low);
    const long long last_row =
        std::min(static_cast<long long>(args.nx) - 1, static_cast<long long>(x) + args.x_extents.high);
    for (long long xi = first_row; xi <= last_row; ++xi) {
        const float* supply = &(*args.supply)(static_cast<int>(xi), 0);
        for (long long b = -static_cast<long long>(args.y_extents.low); b <= args.y_extents.high; ++b) {
            if (b <= -ny || b >= ny)
                continue;
            const int offset = static_cast<int>(b);
            const CLOSED_RANGE<> range = columns_with_offset(ny, offset);
            for (int y = range.first; y <= range.last; ++y)
                sums[y] = sums[y] + supply[y + offset];
        }
    }
}

// Destination row xi into `out` (ny values): per chunk that owns a source
// within reach, the shares of its sources summed from +0.0 into `partial`,
// then added to the row, which starts at +0.0. window_supply[i] is the
// window supply row of source row sources.first + i.
inline void spread_into_row(const SPREAD_ARGS& args, int xi, CLOSED_RANGE<long long> sources,
                            const float* const* window_supply, float* partial, float* out)
{
    const int ny = args.ny;
    std::fill(out, out + ny, 0.0f);
    const float* supply = &(*args.supply)(xi, 0);
    long long x = sources.first;
    while (x <= sources.last) {
        const long long chunk_end =
            std::min(sources.last, (x / args.chunk_size + 1) * static_cast<long long>(args.chunk_size) - 1);
        std::fill(partial, partial + ny, 0.0f);
        for (; x <= chunk_end; ++x) {
            const float* demand = &(*args.demand)(static_cast<int>(x), 0);
            const float* source_supply_row = window_supply[x - sources.first];
            for (long long b = -static_cast<long long>(args.y_extents.high); b <= args.y_extents.low; ++b) {
                if (b <= -ny || b >= ny)
                    continue;
                const int offset = static_cast<int>(b);
                const CLOSED_RANGE<> range = columns_with_offset(ny, offset);
                for (int y = range.first; y <= range.last; ++y) {
                    const float source_demand = demand[y + offset];
                    const float source_supply = source_supply_row[y + offset];
                    const bool shared = !(source_demand <= 0.0f) && source_supply > 0.0f;
                    // Divide, then multiply, then add: the order is part of
                    // the result.
                    const float share = divide_where(shared, supply[y], source_supply) * source_demand;
                    const float sum = partial[y] + share;
                    partial[y] = shared ? sum : partial[y];
                }
            }
        }
        for (int y = 0; y < ny; ++y)
            out[y] = partial[y] + out[y];
    }
}

}  // namespace

void spread_rows(int nx, int ny, int num_chunks, WINDOW_EXTENTS x_extents, WINDOW_EXTENTS y_extents,
                 const GRID_2D<float>& supply, const GRID_2D<float>& demand, const SPREAD_ROW_SINK& row_done)
{
    // As with one grid per chunk, a negative count is a length error.
    if (num_chunks < 0)
        throw std::length_error("spread_rows: negative chunk count");
    const int chunk_size = get_chunk_size(nx, num_chunks);
    const int num_source_rows =
        static_cast<int>(std::min(static_cast<long long>(nx), static_cast<long long>(chunk_size) * num_chunks));
    if (nx <= 0 || ny <= 0)
        return;
    const SPREAD_ARGS args{nx, ny, num_source_rows, chunk_size, x_extents, y_extents, &supply, &demand};
    // Each block of destination rows keeps the window supply of the source
    // rows within reach in a ring, computing each as the rows advance.
    const long long reach = std::max(0LL, static_cast<long long>(x_extents.low) + x_extents.high + 1);
    const size_t ring_rows = static_cast<size_t>(std::max(1LL, std::min(reach, static_cast<long long>(nx))));
    parallel_blocks(nx, [&](int first_row, int end_row) {
        std::vector<float> ring(ring_rows * static_cast<size_t>(ny));
        std::vector<const float*> window_supply(ring_rows);
        std::vector<float> partial(static_cast<size_t>(ny));
        std::vector<float> row(static_cast<size_t>(ny));
        long long next_source = 0;  // the first source row not in the ring yet
        for (int xi = first_row; xi != end_row; ++xi) {
            const CLOSED_RANGE<long long> sources = get_sources(args, xi);
            next_source = std::max(next_source, sources.first);
            for (; next_source <= sources.last; ++next_source) {
                const int x = static_cast<int>(next_source);
                float* sums = &ring[(static_cast<size_t>(x) % ring_rows) * ny];
                run_in_variant([&] { sum_window_supply_row(args, x, sums); });
            }
            for (long long x = sources.first; x <= sources.last; ++x)
                window_supply[x - sources.first] = &ring[(static_cast<size_t>(x) % ring_rows) * ny];
            run_in_variant(
                [&] { spread_into_row(args, xi, sources, window_supply.data(), partial.data(), row.data()); });
            row_done(xi, row.data());
        }
    });
}

void spread_in_chunks(int nx, int ny, int num_chunks, WINDOW_EXTENTS x_extents, WINDOW_EXTENTS y_extents,
                      const GRID_2D<float>& supply, const GRID_2D<float>& demand, GRID_2D<float>& smooth)
{
    spread_rows(nx, ny, num_chunks, x_extents, y_extents, supply, demand,
                [&](int x, const float* row) { std::copy(row, row + ny, &smooth(x, 0)); });
}

}  // namespace congestion_internal
