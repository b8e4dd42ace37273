// Allocation failures inside the parallel loops: std::bad_alloc reaches the
// caller and the object stays usable.
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <functional>
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

// 40 x 32 tiles: a grid of floats takes 5120 bytes, above the threshold.
constexpr int NX = 40;
constexpr int NY = 32;
constexpr int NUM_NETS = 300;

// An estimate from a fixed seed: nets of 2 to 5 pins within 8 x 8 tiles (small
// per-net arrays) but net 1, which spans the chip; supply with a tenth of the
// tiles without wires, Lab Input, smoothed demand.
class MemoryPressure : public ::testing::Test {
 protected:
    MemoryPressure()
    {
        std::mt19937 rng(20240611);
        for (int net = 0; net < NUM_NETS; ++net) {
            const int x0 = static_cast<int>(rng() % (NX - 8)), y0 = static_cast<int>(rng() % (NY - 8));
            std::vector<CONGESTION::LOC> pins(2 + rng() % 4);
            for (CONGESTION::LOC& pin : pins)
                pin = {x0 + static_cast<int>(rng() % 8), y0 + static_cast<int>(rng() % 8)};
            netlist.add_net(pins);
            netlist.wirelengths.emplace_back(static_cast<float>(rng() % 7), static_cast<float>(rng() % 7));
            nets.push_back(net);
        }
        netlist.nets[1] = {{0, 0}, {NX - 1, NY - 1}};
        netlist.lab_input = [](int x, int y) { return (x * 7 + y * 3) % 5; };
    }
    void prepare(CONGESTION& estimator) const
    {
        std::mt19937 rng(7);
        for (int x = 0; x < NX; ++x)
            for (int y = 0; y < NY; ++y)
                for (int type = rng() % 10 ? 0 : CONGESTION::LAB_INPUT; type < CONGESTION::NUM_RESOURCE_TYPES; ++type)
                    estimator.set_supply(x, y, static_cast<CONGESTION::RESOURCE_TYPE>(type), 1.0f + rng() % 12);
        estimator.generate_smooth_wire_supply(3, 1);
        estimator.update_demand(nets, CONGESTION::BOUNDING_BOX_MODEL);
        estimator.update_demand({}, CONGESTION::LAB_INPUT_MODEL);
        estimator.generate_smooth_wire_demand(4, 2, false);
    }

    TEST_NETLIST netlist;
    std::vector<int> nets;
};

struct FAILING_CALL {
    std::function<void(CONGESTION&)> run;
    int allowed;       // large requests that still succeed
    bool keeps_state;  // the failed call leaves the cookie as it was
};

// The chunked loop over nets and the chunked loops over rows: after a failure
// the same call gives what it gives on an object that never saw one. Each
// operation runs once before the failing call, so that smoothing allocates
// only its scratch grids. update_demand runs on one thread: net 1, dealt to
// chunk 1, asks for the first large request after the copy of the demand and
// chunk 0's grids, so the failure comes after chunk 0 was merged into the
// demand, and the demand must still be as it was.
TEST_F(MemoryPressure, AFailedOperationLeavesAUsableObject)
{
    const auto smooth = [](bool uniform) {
        return [uniform](CONGESTION& estimator) {
            estimator.generate_smooth_wire_demand(4, 2, uniform);
            estimator.generate_smooth_demand(4, 2, CONGESTION::LAB_INPUT);
            estimator.update_congestion(true);
        };
    };
    const FAILING_CALL calls[] = {{[&](CONGESTION& estimator) {
                                       const tbb::global_control one_thread(
                                           tbb::global_control::max_allowed_parallelism, 1);
                                       estimator.update_demand(nets, CONGESTION::PATH_PROBABILITY_MODEL);
                                   },
                                   8, true},
                                  {smooth(false), 3, false},
                                  {smooth(true), 3, false}};
    for (const FAILING_CALL& call : calls) {
        CONGESTION estimator(NX, NY, &netlist);
        prepare(estimator);
        call.run(estimator);
        const unsigned long long before = estimator.get_cookie();
        {
            FAILING_ALLOCATIONS failing(call.allowed);
            EXPECT_THROW(call.run(estimator), std::bad_alloc);
        }
        EXPECT_GT(s_failed_requests.load(), 0);
        if (call.keeps_state) {
            EXPECT_EQ(estimator.get_cookie(), before);
        }
        call.run(estimator);
        CONGESTION fresh(NX, NY, &netlist);
        prepare(fresh);
        call.run(fresh);
        call.run(fresh);
        // The cookie leaves out the new algorithm's smoothed demand.
        EXPECT_EQ(estimator.get_cookie(), fresh.get_cookie());
        for (int x = 0; x < NX; ++x)
            for (int y = 0; y < NY; ++y)
                for (CONGESTION::RESOURCE_TYPE type : CONGESTION::get_wire_resource_types())
                    ASSERT_EQ(estimator.get_smooth_demand(x, y, type), fresh.get_smooth_demand(x, y, type));
    }
}

}  // namespace
