// Allocation failures inside the parallel loops: std::bad_alloc reaches the
// caller and the object stays usable.
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>
#include <random>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <tbb/global_control.h>

#include "test_support.h"

// This executable replaces the global operator new and delete with versions
// that fail on request, the way an exhausted heap would. AddressSanitizer
// keeps working: the replacements allocate through malloc and free, which it
// still intercepts, and it stops tracking new/delete pairing only for this
// executable.
namespace {

// While failures are armed, requests of at least this many bytes fail once
// their allowance is used up. The test chip's grids are larger; the
// bookkeeping of the operations (chunk vectors, per-row records, the
// per-net arrays of the small nets below) is smaller, and TBB allocates its
// tasks through its own allocator.
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
constexpr int NET_SPAN = 8;  // pins lie in an 8 x 8 box: small per-net arrays
constexpr unsigned SEED = 20240611;
// Chunk grids that are built before the failure.
constexpr int GRIDS_BEFORE_FAILURE = 3;

const std::vector<CONGESTION::RESOURCE_TYPE> ALL_TYPES = {
    CONGESTION::HORIZONTAL_LEFT, CONGESTION::HORIZONTAL_RIGHT, CONGESTION::VERTICAL_UP, CONGESTION::VERTICAL_DOWN,
    CONGESTION::LAB_INPUT};

// Nets of 2 to 5 pins and a Lab Input demand per tile, from a fixed seed.
TEST_NETLIST make_netlist()
{
    TEST_NETLIST netlist;
    std::mt19937 rng(SEED);
    for (int net = 0; net < NUM_NETS; ++net) {
        const int x0 = static_cast<int>(rng() % (NX - NET_SPAN));
        const int y0 = static_cast<int>(rng() % (NY - NET_SPAN));
        std::vector<CONGESTION::LOC> pins(2 + rng() % 4);
        for (CONGESTION::LOC& pin : pins)
            pin = {x0 + static_cast<int>(rng() % NET_SPAN), y0 + static_cast<int>(rng() % NET_SPAN)};
        netlist.add_net(pins);
        netlist.wirelengths.emplace_back(static_cast<float>(rng() % 7), static_cast<float>(rng() % 7));
    }
    netlist.lab_input = [](int x, int y) { return (x * 7 + y * 3) % 5; };
    return netlist;
}

std::vector<int> all_nets()
{
    std::vector<int> nets(NUM_NETS);
    for (int net = 0; net < NUM_NETS; ++net)
        nets[net] = net;
    return nets;
}

// Supply from a fixed seed (a tenth of the tiles without wires) and the
// smoothed supply.
void set_supply(CONGESTION& estimator)
{
    std::mt19937 rng(SEED + 1);
    for (int x = 0; x < NX; ++x)
        for (int y = 0; y < NY; ++y) {
            const bool has_wires = rng() % 10 != 0;
            for (CONGESTION::RESOURCE_TYPE type : ALL_TYPES)
                if (has_wires || type == CONGESTION::LAB_INPUT)
                    estimator.set_supply(x, y, type, static_cast<float>(1 + rng() % 12));
        }
    estimator.generate_smooth_wire_supply(3, 1);
}

// Every smoothed demand value, which the cookie leaves out under the new
// algorithm.
std::vector<float> smooth_demand_of(const CONGESTION& estimator)
{
    std::vector<float> values;
    for (CONGESTION::RESOURCE_TYPE type : ALL_TYPES)
        for (int x = 0; x < NX; ++x)
            for (int y = 0; y < NY; ++y)
                values.push_back(estimator.get_smooth_demand(x, y, type));
    return values;
}

class MemoryPressure : public ::testing::Test {
 protected:
    MemoryPressure() : netlist(make_netlist()), nets(all_nets()) {}

    TEST_NETLIST netlist;
    std::vector<int> nets;
};

TEST_F(MemoryPressure, UpdateDemandLeavesTheDemandAsItWas)
{
    for (CONGESTION::NET_MODEL model : {CONGESTION::PATH_PROBABILITY_MODEL, CONGESTION::BOUNDING_BOX_MODEL}) {
        CONGESTION estimator(NX, NY, &netlist);
        set_supply(estimator);
        estimator.update_demand(nets, model);
        const unsigned long long before = estimator.get_cookie();
        {
            FAILING_ALLOCATIONS failing(GRIDS_BEFORE_FAILURE);
            EXPECT_THROW(estimator.update_demand(nets, model), std::bad_alloc) << model;
        }
        EXPECT_GT(s_failed_requests.load(), 0);
        EXPECT_EQ(estimator.get_cookie(), before) << model;

        // The same call without the failure adds the nets once more, as on
        // an object that never saw the failure.
        estimator.update_demand(nets, model);
        CONGESTION fresh(NX, NY, &netlist);
        set_supply(fresh);
        fresh.update_demand(nets, model);
        fresh.update_demand(nets, model);
        EXPECT_EQ(estimator.get_cookie(), fresh.get_cookie()) << model;
    }
}


// Chunks are merged into the demand while later ones run; one that runs out
// of memory after that still leaves the demand as it was.
TEST_F(MemoryPressure, FailureAfterAMergedChunkLeavesTheDemandAsItWas)
{
    const tbb::global_control one_thread(tbb::global_control::max_allowed_parallelism, 1);
    // Net 1, dealt to chunk 1, spans the chip: its per-net arrays are the
    // first large request after the copy of the demand and chunk 0's grids,
    // four grids each.
    netlist.nets[1] = {{0, 0}, {NX - 1, NY - 1}};
    CONGESTION estimator(NX, NY, &netlist);
    set_supply(estimator);
    estimator.update_demand(nets, CONGESTION::PATH_PROBABILITY_MODEL);
    const unsigned long long before = estimator.get_cookie();
    {
        FAILING_ALLOCATIONS failing(8);
        EXPECT_THROW(estimator.update_demand(nets, CONGESTION::PATH_PROBABILITY_MODEL), std::bad_alloc);
    }
    EXPECT_EQ(estimator.get_cookie(), before);
}
TEST_F(MemoryPressure, SmoothingCanBeRepeatedAfterAFailure)
{
    // (parallel, perpendicular) window sizes; even ones are asymmetric.
    const std::vector<std::pair<int, int>> windows = {{3, 1}, {4, 2}};
    for (const auto& [parallel, perpendicular] : windows)
        for (bool uniform : {false, true}) {
            const auto smooth = [&](CONGESTION& estimator) {
                estimator.generate_smooth_wire_demand(parallel, perpendicular, uniform);
                estimator.generate_smooth_demand(parallel, perpendicular, CONGESTION::LAB_INPUT);
            };
            CONGESTION estimator(NX, NY, &netlist);
            set_supply(estimator);
            estimator.update_demand(nets, CONGESTION::PATH_PROBABILITY_MODEL);
            estimator.update_demand({}, CONGESTION::LAB_INPUT_MODEL);
            // A first smoothing sizes the object's own grids, so that the
            // failing call allocates only its scratch grids.
            smooth(estimator);
            {
                FAILING_ALLOCATIONS failing(GRIDS_BEFORE_FAILURE);
                EXPECT_THROW(smooth(estimator), std::bad_alloc) << parallel << "," << perpendicular;
            }
            EXPECT_GT(s_failed_requests.load(), 0);

            smooth(estimator);
            estimator.update_congestion(true);
            CONGESTION fresh(NX, NY, &netlist);
            set_supply(fresh);
            fresh.update_demand(nets, CONGESTION::PATH_PROBABILITY_MODEL);
            fresh.update_demand({}, CONGESTION::LAB_INPUT_MODEL);
            smooth(fresh);
            fresh.update_congestion(true);
            EXPECT_EQ(estimator.get_cookie(), fresh.get_cookie()) << parallel << "," << perpendicular;
            EXPECT_EQ(smooth_demand_of(estimator), smooth_demand_of(fresh)) << parallel << "," << perpendicular;
        }
}

TEST_F(MemoryPressure, PeakSearchChangesNothingWhenItFails)
{
    CONGESTION estimator(NX, NY, &netlist);
    set_supply(estimator);
    estimator.update_demand(nets, CONGESTION::BOUNDING_BOX_MODEL);
    for (int dim : {1, 2, 5}) {
        const std::pair<float, CONGESTION::LOC> expected =
            estimator.get_peak_utilization(dim, CONGESTION::VERTICAL_UP, false);
        ASSERT_GT(expected.first, 0.0f);
        const unsigned long long before = estimator.get_cookie();
        {
            FAILING_ALLOCATIONS failing(GRIDS_BEFORE_FAILURE);
            EXPECT_THROW(estimator.get_peak_utilization(dim, CONGESTION::VERTICAL_UP, false), std::bad_alloc);
        }
        EXPECT_GT(s_failed_requests.load(), 0);
        EXPECT_EQ(estimator.get_cookie(), before);
        const std::pair<float, CONGESTION::LOC> again =
            estimator.get_peak_utilization(dim, CONGESTION::VERTICAL_UP, false);
        EXPECT_EQ(again.first, expected.first) << dim;
        EXPECT_EQ(again.second.x, expected.second.x) << dim;
        EXPECT_EQ(again.second.y, expected.second.y) << dim;
    }
}

}  // namespace
