// The one launch pattern of every data-parallel loop, and chunk arithmetic.
#ifndef PARALLEL_LOOPS_H
#define PARALLEL_LOOPS_H

#include <atomic>
#include <cmath>
#include <cstddef>
#include <vector>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>
#include <tbb/task_group.h>

#include "h/vmx_2d_array_sys.h"

// Under ThreadSanitizer, every loop states its fork and join (see
// TSAN_LOOP_EDGES).
#if defined(__SANITIZE_THREAD__)
#define CONGESTION_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define CONGESTION_THREAD_SANITIZER 1
#endif
#endif

#if defined(CONGESTION_THREAD_SANITIZER)
#include <sanitizer/tsan_interface.h>
#endif

namespace congestion_internal {

#if defined(CONGESTION_THREAD_SANITIZER)

// ThreadSanitizer cannot see how the uninstrumented libtbb hands tasks to its
// workers, so each loop states what parallel_for guarantees: whatever the
// caller did before the loop happens before every iteration (fork), and
// every iteration, finished or thrown out of, happens before the loop
// returns or throws (join). The two edges use separate addresses, so
// iterations gain no order among themselves and a race between two of them
// is still reported.
class TSAN_LOOP_EDGES {
 public:
    TSAN_LOOP_EDGES() { __tsan_release(&m_fork); }
    ~TSAN_LOOP_EDGES() { __tsan_acquire(&m_join); }
    TSAN_LOOP_EDGES(const TSAN_LOOP_EDGES&) = delete;
    TSAN_LOOP_EDGES& operator=(const TSAN_LOOP_EDGES&) = delete;

    // One run of the body over a range, after the fork and before the join.
    class RANGE {
     public:
        explicit RANGE(TSAN_LOOP_EDGES& edges) : m_edges(edges) { __tsan_acquire(&m_edges.m_fork); }
        ~RANGE() { __tsan_release(&m_edges.m_join); }
        RANGE(const RANGE&) = delete;
        RANGE& operator=(const RANGE&) = delete;

     private:
        TSAN_LOOP_EDGES& m_edges;
    };

 private:
    char m_fork = 0;
    char m_join = 0;
};
#endif

// Runs body(begin, end) over blocks that together cover [0, n) once, for
// loops whose iterations share work done earlier in the same block. Each
// block owns what it writes, so blocks need no lock. The auto partitioner
// leaves the block sizes to TBB; a context of our own keeps an exception in
// one loop from cancelling the caller's other work. With n <= 0 nothing runs.
template <typename BODY>
void parallel_blocks(int n, const BODY& body)
{
    if (n <= 0)
        return;
    tbb::task_group_context context(tbb::task_group_context::bound);
#if defined(CONGESTION_THREAD_SANITIZER)
    TSAN_LOOP_EDGES edges;
#endif
    tbb::parallel_for(
        tbb::blocked_range<int>(0, n, 1),
        [&](const tbb::blocked_range<int>& range) {
#if defined(CONGESTION_THREAD_SANITIZER)
            const TSAN_LOOP_EDGES::RANGE in_loop(edges);
#endif
            body(range.begin(), range.end());
        },
        tbb::auto_partitioner(), context);
}

// Runs body(i) for every i in [0, n). Each iteration owns row, column or
// chunk i of what it writes, so iterations need no lock.
template <typename BODY>
void parallel_loop(int n, const BODY& body)
{
    parallel_blocks(n, [&](int begin, int end) {
        for (int i = begin; i != end; ++i)
            body(i);
    });
}

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
