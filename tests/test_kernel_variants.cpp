// The instruction-set variants of the demand and spread kernels give
// identical results, and the spread's gather gives the chunked scatter's.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "fitter/congestion/congestion_impl.h"
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

std::vector<uint32_t> get_bits(const GRID_2D<float>& grid)
{
    std::vector<uint32_t> bits(static_cast<size_t>(grid.end() - grid.begin()));
    std::memcpy(bits.data(), grid.data(), bits.size() * sizeof(float));
    return bits;
}

// The supply-weighted spread, gathered per destination tile by every
// variant, against the scatter of each chunk into a grid of its own added in
// chunk order: grids thinner and wider than a vector, windows larger than
// the grid, empty windows, more chunks than rows and none at all; supply
// with holes and a few negative tiles, demand with zeros and negatives.
TEST(SpreadGather, EqualsTheChunkScatterBitForBit)
{
    using namespace congestion_internal;
    const KERNEL_VARIANT in_use = get_kernel_variant();
    std::mt19937 random(kSeed);
    struct SHAPE {
        int nx, ny;
    };
    for (const SHAPE shape : {SHAPE{1, 1}, SHAPE{1, 23}, SHAPE{19, 1}, SHAPE{kNx, kNy}, SHAPE{12, 70}}) {
        GRID_2D<float> supply, demand;
        supply.resize(shape.nx, shape.ny, 0.0f);
        demand.resize(shape.nx, shape.ny, 0.0f);
        for (float& value : supply)
            value = random() % 4 == 0 ? 0.0f : static_cast<float>(static_cast<int>(random() % 90) - 5) * 0.1f;
        for (float& value : demand)
            value = random() % 3 == 0 ? 0.0f : static_cast<float>(static_cast<int>(random() % 70) - 10) * 0.3f;
        for (const int chunks : {0, 1, 3, 16, 50})
            for (const auto& [x_size, y_size] : {std::pair{3, 3}, {1, 4}, {6, 2}, {0, 5}, {-1, 3}, {40, 90}}) {
                const WINDOW_EXTENTS x_extents = split_window(x_size);
                const WINDOW_EXTENTS y_extents = split_window(y_size);
                GRID_2D<float> expected;
                expected.resize(shape.nx + 1, shape.ny + 1, 0.0f);
                merge_chunk_grids(run_in_row_chunks(shape.nx, shape.ny, chunks,
                                                    [&](int x_start, int x_end, GRID_2D<float>& grid) {
                                                        spread_demand_by_supply(x_extents.low, x_extents.high,
                                                                                y_extents.low, y_extents.high, x_start,
                                                                                x_end, shape.ny - 1, supply, demand,
                                                                                grid);
                                                    }),
                                  shape.nx, shape.ny, expected);
                for (KERNEL_VARIANT variant : get_supported_variants()) {
                    ASSERT_TRUE(force_kernel_variant(variant));
                    GRID_2D<float> smooth;
                    smooth.resize(shape.nx + 1, shape.ny + 1, 0.0f);
                    spread_in_chunks(shape.nx, shape.ny, chunks, x_extents, y_extents, supply, demand, smooth);
                    EXPECT_EQ(get_bits(smooth), get_bits(expected))
                        << shape.nx << " x " << shape.ny << ", " << chunks << " chunks, window " << x_size << " x "
                        << y_size << ", variant " << static_cast<int>(variant);
                }
            }
    }
    force_kernel_variant(in_use);
}

}  // namespace
