// The instruction-set variants of the demand kernels give identical results.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "fitter/congestion/kernel_variants.h"
#include "test_support.h"

namespace {

using congestion_internal::KERNEL_VARIANT;

// Odd sizes, so that every vector loop also runs its remainder.
constexpr int kNx = 37;
constexpr int kNy = 29;
constexpr int kNets = 300;
constexpr uint32_t kSeed = 20261206;

// Nets of 2 to 40 pins (so both the two-pin averaging and the quadrant rule
// of large nets run), a few spanning the chip, with weights and wire lengths.
TEST_NETLIST make_netlist()
{
    std::mt19937 random(kSeed);
    std::uniform_int_distribution<int> pins(2, 40);
    std::uniform_int_distribution<int> reach(1, 6);
    TEST_NETLIST netlist;
    for (int n = 0; n < kNets; ++n) {
        const int span = n % 50 == 0 ? kNx : reach(random);
        const int x0 = std::uniform_int_distribution<int>(0, kNx - 1)(random);
        const int y0 = std::uniform_int_distribution<int>(0, kNy - 1)(random);
        std::vector<CONGESTION::LOC> net;
        std::vector<float> weights;
        const int num_pins = n % 3 == 0 ? pins(random) : 2 + n % 4;
        for (int k = 0; k < num_pins; ++k) {
            const int dx = std::uniform_int_distribution<int>(-span, span)(random);
            const int dy = std::uniform_int_distribution<int>(-span, span)(random);
            net.push_back({std::clamp(x0 + dx, 0, kNx - 1), std::clamp(y0 + dy, 0, kNy - 1)});
            weights.push_back(static_cast<float>(k % 4) * 0.25f);
        }
        netlist.add_net(net);
        netlist.weights.push_back(weights);
        netlist.wirelengths.push_back({static_cast<float>(reach(random) * span), static_cast<float>(span)});
    }
    return netlist;
}

struct RESULT {
    unsigned long long cookie;
    std::vector<uint32_t> bits;  // demand and smoothed demand of every wire tile
};

// An estimate through the public handle, on a supply with holes (tiles
// without supply are the lanes whose division is discarded).
RESULT estimate(TEST_NETLIST& netlist, CONGESTION::NET_MODEL model)
{
    CONGESTION estimator(kNx, kNy, &netlist);
    std::mt19937 random(kSeed);
    for (CONGESTION::RESOURCE_TYPE type : CONGESTION::get_wire_resource_types())
        for (int x = 0; x < kNx; ++x)
            for (int y = 0; y < kNy; ++y)
                if (random() % 5 != 0)
                    estimator.set_supply(x, y, type, static_cast<float>(random() % 90 + 10) * 0.1f);
    estimator.generate_smooth_wire_supply(3, 3);
    std::vector<int> nets(kNets);
    for (int n = 0; n < kNets; ++n)
        nets[n] = n;
    estimator.update_demand(nets, model);
    estimator.generate_smooth_wire_demand(3, 3, false);
    estimator.update_congestion(true);
    RESULT result{estimator.get_cookie(), {}};
    for (CONGESTION::RESOURCE_TYPE type : CONGESTION::get_wire_resource_types())
        for (int x = 0; x < kNx; ++x)
            for (int y = 0; y < kNy; ++y)
                for (float value : {estimator.get_demand(x, y, type), estimator.get_smooth_demand(x, y, type)}) {
                    uint32_t bits;
                    std::memcpy(&bits, &value, sizeof bits);
                    result.bits.push_back(bits);
                }
    return result;
}

class KernelVariants : public ::testing::TestWithParam<CONGESTION::NET_MODEL> {};

// ctest runs this under both smoothing algorithms.
TEST_P(KernelVariants, EverySupportedVariantGivesTheBaselineBits)
{
    const KERNEL_VARIANT in_use = congestion_internal::get_kernel_variant();
    TEST_NETLIST netlist = make_netlist();
    ASSERT_TRUE(congestion_internal::force_kernel_variant(KERNEL_VARIANT::BASELINE));
    const RESULT baseline = estimate(netlist, GetParam());
    for (KERNEL_VARIANT variant : congestion_internal::get_supported_variants()) {
        ASSERT_TRUE(congestion_internal::force_kernel_variant(variant));
        const RESULT result = estimate(netlist, GetParam());
        EXPECT_EQ(result.cookie, baseline.cookie) << "variant " << static_cast<int>(variant);
        EXPECT_EQ(result.bits, baseline.bits) << "variant " << static_cast<int>(variant);
    }
    congestion_internal::force_kernel_variant(in_use);
}

INSTANTIATE_TEST_SUITE_P(NetModels, KernelVariants,
                         ::testing::Values(CONGESTION::PATH_PROBABILITY_MODEL, CONGESTION::BOUNDING_BOX_MODEL));

}  // namespace
