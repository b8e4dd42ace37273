// Every parallel operation gives the same state with one worker thread as
// with several, and with every instruction-set variant of the demand kernels
// that this processor runs as with the baseline one: the cookie, and the
// bytes of the grids it leaves out.
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include <gtest/gtest.h>
#include <tbb/global_control.h>

#include "engine_support.h"
#include "fitter/congestion/kernel_variants.h"
#include "test_support.h"

namespace {

constexpr int kNx = 29, kNy = 21;
constexpr auto kPathModel = CONGESTION::PATH_PROBABILITY_MODEL;
constexpr auto kBoxModel = CONGESTION::BOUNDING_BOX_MODEL;

struct OPERATION {
    const char* name;
    std::function<void(CONGESTION_IMPL&)> run;
};

// The bits of every grid the operations write, the smeared demand and the
// signed zeros that the cookie does not tell apart included.
std::vector<uint32_t> grid_bits(CONGESTION_IMPL& impl)
{
    std::vector<uint32_t> bits;
    for (TYPE_GRIDS* grids : {&PEER::demand(impl), &PEER::congestion(impl), &PEER::smooth_demand_orig(impl),
                              &PEER::smooth_demand_new(impl), &PEER::smooth_supply(impl)})
        for (const GRID_2D<float>& grid : *grids)
            for (float v : grid) {
                uint32_t b;
                std::memcpy(&b, &v, sizeof b);
                bits.push_back(b);
            }
    return bits;
}

class ThreadCount : public ::testing::TestWithParam<OPERATION> {
 protected:
    // Odd sizes, so that every vector loop also runs its remainder.
    ThreadCount() : netlist(make_random_netlist(kNx, kNy, 400, 3))
    {
        netlist.congestion = [](float demand, float supply, RESOURCE_TYPE) { return demand - supply; };
        netlist.lab_input = [](int x, int y) { return (x * 7 + y * 3) % 5; };
    }
    // Random inputs, smoothed supply and demand, so that every operation
    // finds what it reads.
    void prepare(CONGESTION_IMPL& impl) const
    {
        fill_random_inputs(impl, 11);
        impl.generate_smooth_supply(3, 2, WIRE_TYPES);
        impl.dispatch_smooth_demand(3, 2, false, WIRE_TYPES);
    }
    TEST_NETLIST netlist;
};

// One worker thread and the baseline kernels against every thread and each
// variant this processor runs, the baseline first, each on an object of its
// own.
TEST_P(ThreadCount, OneThreadAndTheBaselineEqualEveryThreadAndEveryVariant)
{
    const KERNEL_VARIANT in_use = get_kernel_variant();
    CONGESTION_IMPL one(kNx, kNy, &netlist);
    prepare(one);
    ASSERT_TRUE(force_kernel_variant(KERNEL_VARIANT::BASELINE));
    {
        tbb::global_control single(tbb::global_control::max_allowed_parallelism, 1);
        GetParam().run(one);
    }
    for (KERNEL_VARIANT variant : get_supported_variants()) {
        CONGESTION_IMPL many(kNx, kNy, &netlist);
        prepare(many);
        ASSERT_TRUE(force_kernel_variant(variant));
        GetParam().run(many);
        EXPECT_EQ(one.get_cookie(), many.get_cookie()) << static_cast<int>(variant);
        EXPECT_EQ(grid_bits(one), grid_bits(many)) << static_cast<int>(variant);
    }
    force_kernel_variant(in_use);
}

const std::vector<int> kAllNets = all_nets(400);

// A peak search writes nothing: its answer goes into the Lab Input demand.
void record_peak(CONGESTION_IMPL& impl, int dim)
{
    const auto [util, tile] = impl.get_peak_utilization(dim, kDown, false);
    PEER::demand(impl)[kLab](0, 0) = util;
    PEER::demand(impl)[kLab](1, 0) = static_cast<float>(tile.x);
    PEER::demand(impl)[kLab](2, 0) = static_cast<float>(tile.y);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, ThreadCount,
    ::testing::Values(
        OPERATION{"PathProbability", [](CONGESTION_IMPL& e) { e.update_demand(kAllNets, kPathModel); }},
        OPERATION{"BoundingBox", [](CONGESTION_IMPL& e) { e.update_demand(kAllNets, kBoxModel); }},
        OPERATION{"LabInput", [](CONGESTION_IMPL& e) { e.update_demand({}, CONGESTION::LAB_INPUT_MODEL); }},
        OPERATION{"SmoothOneType", [](CONGESTION_IMPL& e) { e.generate_smooth_demand(4, 3, kRight); }},
        OPERATION{"SmoothWires", [](CONGESTION_IMPL& e) { e.generate_smooth_wire_demand(2, 5, false); }},
        OPERATION{"SmoothWiresUniformly", [](CONGESTION_IMPL& e) { e.generate_smooth_wire_demand(4, 3, true); }},
        OPERATION{"SmearNew",
                  [](CONGESTION_IMPL& e) { e.generate_smooth_demand_smeared_new(4, 3, false, WIRE_TYPES); }},
        OPERATION{"SmearNewUniformly",
                  [](CONGESTION_IMPL& e) {
                      e.generate_smooth_demand_smeared_new(2, 4, true, {kUp, kLab});
                  }},
        OPERATION{"SmoothSupply", [](CONGESTION_IMPL& e) { e.generate_smooth_supply(4, 1, WIRE_TYPES); }},
        OPERATION{"UpdateCongestion", [](CONGESTION_IMPL& e) { e.update_congestion(true); }},
        OPERATION{"PeakSearch", [](CONGESTION_IMPL& e) { record_peak(e, 4); }}),
    [](const ::testing::TestParamInfo<OPERATION>& info) { return info.param.name; });

}  // namespace
