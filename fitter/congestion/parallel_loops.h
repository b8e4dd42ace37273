// The data-parallel loops of the engine, and chunk arithmetic.
#ifndef PARALLEL_LOOPS_H
#define PARALLEL_LOOPS_H

#include <atomic>
#include <cmath>
#include <cstddef>
#include <vector>

#include <tbb/task_arena.h>

#include "h/parallel_blocks.h"
#include "h/vmx_2d_array_sys.h"

namespace congestion_internal {

// Runs body(i) for every i in [0, n), like parallel_loop, except that the
// indices are handed out in increasing order: each iteration, whichever the
// scheduler runs, takes the next index not started yet. Each body(i) must
// own what it writes, as with parallel_loop.
template <typename BODY>
void parallel_loop_in_order(int n, const BODY& body)
{
    std::atomic<int> next{0};
    parallel_loop(n, [&](int) { body(next.fetch_add(1)); });
}

// Runs body(begin, end) over blocks of [0, n) like parallel_blocks, from
// inside an iteration of another parallel loop: while the calling thread
// waits for the blocks it runs only blocks of this loop, never another
// iteration of the outer one, which would start new outer work (a chunk
// and its grids) in the middle of this one.
template <typename BODY>
void nested_parallel_blocks(int n, const BODY& body)
{
    tbb::this_task_arena::isolate([&] { parallel_blocks(n, body); });
}

// Rows per chunk when nx rows are dealt to num_chunks chunks, computed in
// single precision as ceil(nx / num_chunks). With no chunks there is no
// chunk loop, so the value is never used and 0 is returned.
inline int get_chunk_size(int nx, int num_chunks)
{
    if (num_chunks <= 0)
        return 0;
    return static_cast<int>(std::ceil(static_cast<float>(nx) / static_cast<float>(num_chunks)));
}

// First and last row of chunk `chunk`; first > last when the chunk is empty.
inline int get_chunk_first_row(int chunk, int chunk_size) { return chunk * chunk_size; }
inline int get_chunk_last_row(int chunk, int chunk_size, int nx)
{
    const int end = (chunk + 1) * chunk_size;
    return (end < nx ? end : nx) - 1;
}

// Deals the rows of an nx by ny grid to num_chunks chunks and runs
// kernel(first_row, last_row, chunk_grid) for each chunk on a grid of its
// own, (nx + 1) by (ny + 1) zeros; the grids come back in chunk order for
// merge_chunk_grids. A negative chunk count makes the vector constructor
// throw the standard length error before any loop runs.
template <typename KERNEL>
std::vector<GRID_2D<float>> run_in_row_chunks(int nx, int ny, int num_chunks, const KERNEL& kernel)
{
    std::vector<GRID_2D<float>> chunks(static_cast<size_t>(num_chunks));
    const int chunk_size = get_chunk_size(nx, num_chunks);
    parallel_loop(num_chunks, [&](int c) {
        GRID_2D<float>& grid = chunks[c];
        grid.resize(nx + 1, ny + 1, 0.0f);
        kernel(get_chunk_first_row(c, chunk_size), get_chunk_last_row(c, chunk_size, nx), grid);
    });
    return chunks;
}

// dst(x, y) += chunk_grid(c)(x, y) for x < num_rows and y < num_cols, one
// chunk at a time from chunk 0 to num_chunks - 1, parallel over rows. The
// fixed order of the additions makes the sum independent of how rows were
// scheduled; walking whole rows per chunk keeps that order while reading
// memory sequentially.
template <typename CHUNK_GRID>
void merge_chunks(int num_chunks, const CHUNK_GRID& chunk_grid, int num_rows, int num_cols, GRID_2D<float>& dst)
{
    if (num_cols <= 0)
        return;
    parallel_loop(num_rows, [&](int x) {
        float* out = &dst(x, 0);
        for (int c = 0; c < num_chunks; ++c) {
            const float* src = &chunk_grid(c)(x, 0);
            for (int y = 0; y < num_cols; ++y)
                out[y] = src[y] + out[y];
        }
    });
}

inline void merge_chunk_grids(const std::vector<GRID_2D<float>>& chunks, int num_rows, int num_cols,
                              GRID_2D<float>& dst)
{
    merge_chunks(
        static_cast<int>(chunks.size()), [&](int c) -> const GRID_2D<float>& { return chunks[c]; }, num_rows, num_cols,
        dst);
}

}  // namespace congestion_internal

#endif
