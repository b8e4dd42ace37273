// The one launch pattern of every data-parallel loop, in the library and in
// the tools: blocks of an index range handed to TBB's workers, announced to
// ThreadSanitizer.
#ifndef PARALLEL_BLOCKS_H
#define PARALLEL_BLOCKS_H

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>
#include <tbb/task_group.h>

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

// TBB copies a loop's body into every task it splits off, on the thread
// that splits, and hands the task to the thread that steals it through its
// own atomics. Each copy states that it is complete (a release on its own
// address) and each use takes that in (an acquire) before it reads what the
// body holds: the references to the loop's edges and to the caller's body.
// A finished task's memory goes back to TBB's pool of small objects and may
// hold the next task made on another thread: a copy's end is a release on
// its address too, and a new copy takes it in before it writes there.
template <typename FUNCTION>
class TSAN_TASK_BODY {
 public:
    explicit TSAN_TASK_BODY(const FUNCTION& function) : m_function((__tsan_acquire(this), function))
    {
        __tsan_release(this);
    }
    TSAN_TASK_BODY(const TSAN_TASK_BODY& other)
        : m_function((__tsan_acquire(this), __tsan_acquire(other.get_address()), other.m_function))
    {
        __tsan_release(this);
    }
    ~TSAN_TASK_BODY() { __tsan_release(this); }
    TSAN_TASK_BODY& operator=(const TSAN_TASK_BODY&) = delete;

    void operator()(const tbb::blocked_range<int>& range) const
    {
        __tsan_acquire(get_address());
        m_function(range);
    }

 private:
    void* get_address() const { return const_cast<TSAN_TASK_BODY*>(this); }

    FUNCTION m_function;
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
    const auto run_block = [&](const tbb::blocked_range<int>& range) {
#if defined(CONGESTION_THREAD_SANITIZER)
        const TSAN_LOOP_EDGES::RANGE in_loop(edges);
#endif
        body(range.begin(), range.end());
    };
#if defined(CONGESTION_THREAD_SANITIZER)
    tbb::parallel_for(tbb::blocked_range<int>(0, n, 1), TSAN_TASK_BODY<decltype(run_block)>(run_block),
                      tbb::auto_partitioner(), context);
#else
    tbb::parallel_for(tbb::blocked_range<int>(0, n, 1), run_block, tbb::auto_partitioner(), context);
#endif
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

}  // namespace congestion_internal

#endif
