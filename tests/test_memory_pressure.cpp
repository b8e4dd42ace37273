// Allocation failures inside the chunk loop of update_demand: std::bad_alloc
// reaches the caller, the demand stays as it was and the object usable.
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <random>
#include <vector>

#include <gtest/gtest.h>
#include <tbb/global_control.h>

#include "test_support.h"

// The global operator new and delete are replaced with versions that fail on
// request, through malloc and free, which AddressSanitizer still intercepts.
namespace {

// While armed, requests of at least this many bytes (the grids) fail once
// their allowance is used up; the operations' bookkeeping is smaller, and TBB
// allocates its tasks through its own allocator.
constexpr std::size_t LARGE_REQUEST_BYTES = 4096;

// Atomic, since the requests come from TBB's worker threads.
std::atomic<bool> s_failures_armed{false};
std::atomic<int> s_large_requests_allowed{0};
std::atomic<int> s_failed_requests{0};

bool should_fail(std::size_t size)
{
    if (size < LARGE_REQUEST_BYTES || !s_failures_armed.load())
        return false;
    if (s_large_requests_allowed.fetch_sub(1) > 0)
        return false;
    s_failed_requests.fetch_add(1);
    return true;
}

void* allocate(std::size_t size)
{
    if (should_fail(size))
        throw std::bad_alloc();
    if (void* memory = std::malloc(size == 0 ? 1 : size))
        return memory;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return should_fail(size) ? nullptr : std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

// Arms the failures for its lifetime: the first `allowed` large requests
// still succeed, so that some chunks have built their grids when another
// one fails.
class FAILING_ALLOCATIONS {
 public:
    explicit FAILING_ALLOCATIONS(int allowed)
    {
        s_failed_requests = 0;
        s_large_requests_allowed = allowed;
        s_failures_armed = true;
    }
    ~FAILING_ALLOCATIONS() { s_failures_armed = false; }
    FAILING_ALLOCATIONS(const FAILING_ALLOCATIONS&) = delete;
    FAILING_ALLOCATIONS& operator=(const FAILING_ALLOCATIONS&) = delete;
};

// 80 x 64 tiles: a grid of floats takes 20480 bytes and the pin marks of a
// net spanning the chip 5120 bytes, both above the threshold. The copy of
// the wire demand and chunk 0's grids take the first 8 large requests.
constexpr int NX = 80;
constexpr int NY = 64;
constexpr int NUM_NETS = 300;
constexpr int GRIDS_BEFORE_FAILURE = 8;

// Nets from a fixed seed of 2 to 5 pins within 8 x 8 tiles (small per-net
// storage) but net 1, dealt to chunk 1, which spans the chip: on one thread its
// pin marks are the first large request after chunk 0 was added into the
// demand. On every thread the failure falls wherever it falls.
TEST(MemoryPressure, AFailedUpdateDemandLeavesTheDemandAsItWas)
{
    TEST_NETLIST netlist;
    std::vector<int> nets;
    std::mt19937 rng(20240611);
    for (int net = 0; net < NUM_NETS; ++net) {
        const int x0 = static_cast<int>(rng() % (NX - 8)), y0 = static_cast<int>(rng() % (NY - 8));
        std::vector<CONGESTION::LOC> pins(2 + rng() % 4);
        for (CONGESTION::LOC& pin : pins)
            pin = {x0 + static_cast<int>(rng() % 8), y0 + static_cast<int>(rng() % 8)};
        nets.push_back(netlist.add_net(pins));
    }
    netlist.nets[1] = {{0, 0}, {NX - 1, NY - 1}};
    constexpr auto kPath = CONGESTION::PATH_PROBABILITY_MODEL;
    for (int threads : {1, 0}) {
        CONGESTION estimator(NX, NY, &netlist);
        estimator.update_demand(nets, kPath);
        const unsigned long long before = estimator.get_cookie();
        {
            std::unique_ptr<tbb::global_control> limit;
            if (threads > 0)
                limit = std::make_unique<tbb::global_control>(tbb::global_control::max_allowed_parallelism, threads);
            FAILING_ALLOCATIONS failing(GRIDS_BEFORE_FAILURE);
            EXPECT_THROW(estimator.update_demand(nets, kPath), std::bad_alloc) << threads;
        }
        EXPECT_GT(s_failed_requests.load(), 0);
        EXPECT_EQ(estimator.get_cookie(), before) << threads;
        estimator.update_demand(nets, kPath);
        CONGESTION fresh(NX, NY, &netlist);
        fresh.update_demand(nets, kPath);
        fresh.update_demand(nets, kPath);
        EXPECT_EQ(estimator.get_cookie(), fresh.get_cookie()) << threads;
    }
}

}  // namespace
