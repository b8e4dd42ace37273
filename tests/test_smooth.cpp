// Tests of the smoothing dispatch and the original (scatter) smoothing.
#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>
#include <tbb/global_control.h>

#include "fitter/congestion/congestion_impl.h"
#include "engine_support.h"
#include "test_support.h"

namespace {


// Supply and demand of every type from one seed; some tiles without supply
// and some non-positive demand.
void fill_random_inputs(CONGESTION_IMPL& impl, unsigned seed)
{
    std::mt19937 rng(seed);
    for (int type = 0; type < CONGESTION::NUM_RESOURCE_TYPES; ++type) {
        fill_random(impl.m_supply[type], rng, -2, 40);
        fill_random(impl.m_demand[type], rng, -8, 80);
    }
}

float grid_total(const GRID_2D<float>& grid, int rows, int cols)
{
    float total = 0.0f;
    for (int x = 0; x < rows; ++x)
        for (int y = 0; y < cols; ++y)
            total = total + grid(x, y);
    return total;
}

// ---------------------------------------------------------------------------
// Original single-type smoothing and its kernel
// ---------------------------------------------------------------------------

// 3 by 3, demand 9 at (1, 1), both windows 3:
//   supply 1 everywhere            supply 0 at (0, 0)
//   y=2 | 1 1 1                    y=2 | 1.125 1.125 1.125
//   y=1 | 1 1 1                    y=1 | 1.125 1.125 1.125
//   y=0 | 1 1 1                    y=0 | 0     1.125 1.125
TEST(SmoothDemand, SharesDemandInProportionToSupply)
{
    CONGESTION_IMPL impl(3, 3, nullptr);
    fill(impl.m_supply[kUp], 1.0f);
    impl.m_demand[kUp](1, 1) = 9.0f;
    impl.generate_smooth_demand(3, 3, kUp);
    const GRID_2D<float>& smooth = impl.m_smooth_demand_orig[kUp];
    ASSERT_EQ(smooth.get_num_rows(), 4);
    ASSERT_EQ(smooth.get_num_cols(), 4);
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y)
            EXPECT_EQ(smooth(x, y), (x < 3 && y < 3) ? 1.0f : 0.0f) << x << "," << y;

    impl.m_supply[kUp](0, 0) = 0.0f;
    impl.generate_smooth_demand(3, 3, kUp);
    EXPECT_EQ(smooth(0, 0), 0.0f);
    EXPECT_EQ(smooth(0, 1), 1.125f);
    EXPECT_EQ(smooth(2, 2), 1.125f);
    EXPECT_EQ(smooth(1, 1), 1.125f);
    // Only its own type's grid changes, and no flag is set.
    EXPECT_FALSE(impl.m_smooth_demand_is_valid);
    EXPECT_EQ(impl.m_smooth_demand_orig[kRight].get_num_rows(), 3);
}

TEST(SmoothDemand, CornerDemandStaysInTheClippedWindow)
{
    CONGESTION_IMPL impl(3, 3, nullptr);
    fill(impl.m_supply[kLab], 1.0f);
    impl.m_demand[kLab](0, 0) = 9.0f;
    impl.generate_smooth_demand(3, 3, kLab);
    for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 3; ++y)
            EXPECT_EQ(impl.m_smooth_demand_orig[kLab](x, y), (x < 2 && y < 2) ? 2.25f : 0.0f);
}

// Even windows reach one tile further towards lower coordinates; parallel
// runs along x for every type, the vertical ones included.
//   parallel 4, perpendicular 2, demand 8 at (3, 3) of a 6 by 6 grid:
//   window x 1..4 by y 2..3, 8 tiles of 1.0
TEST(SmoothDemand, EvenWindowsReachFurtherTowardsLowerCoordinates)
{
    CONGESTION_IMPL impl(6, 6, nullptr);
    fill(impl.m_supply[kUp], 1.0f);
    impl.m_demand[kUp](3, 3) = 8.0f;
    impl.generate_smooth_demand(4, 2, kUp);
    for (int x = 0; x < 6; ++x)
        for (int y = 0; y < 6; ++y)
            EXPECT_EQ(impl.m_smooth_demand_orig[kUp](x, y), (x >= 1 && x <= 4 && y >= 2 && y <= 3) ? 1.0f : 0.0f)
                << x << "," << y;
}

TEST(SmoothDemand, DropsNonPositiveDemandAndDemandWithoutSupply)
{
    CONGESTION_IMPL impl(4, 4, nullptr);
    fill(impl.m_supply[kLeft], 2.0f);
    impl.m_supply[kLeft](0, 0) = 0.0f;
    impl.m_demand[kLeft](0, 0) = 5.0f;   // no supply in a 1 by 1 window
    impl.m_demand[kLeft](1, 1) = -3.0f;  // never spread
    impl.m_demand[kLeft](2, 2) = 7.0f;   // kept where it is
    impl.generate_smooth_demand(1, 1, kLeft);
    EXPECT_EQ(grid_total(impl.m_smooth_demand_orig[kLeft], 5, 5), 7.0f);
    EXPECT_EQ(impl.m_smooth_demand_orig[kLeft](2, 2), 7.0f);

    // Size 0 behaves as 1; a negative size empties every window.
    CONGESTION_IMPL zero(4, 4, nullptr);
    zero.m_supply[kLeft] = impl.m_supply[kLeft];
    zero.m_demand[kLeft] = impl.m_demand[kLeft];
    zero.generate_smooth_demand(0, 0, kLeft);
    EXPECT_TRUE(same_grid(zero.m_smooth_demand_orig[kLeft], impl.m_smooth_demand_orig[kLeft]));
    zero.generate_smooth_demand(-1, 3, kLeft);
    EXPECT_EQ(grid_total(zero.m_smooth_demand_orig[kLeft], 5, 5), 0.0f);
}

TEST(SmoothDemand, SameResultForAnyThreadCountAndForSurplusChunks)
{
    CONGESTION_IMPL impl(7, 5, nullptr);
    fill_random_inputs(impl, 11);
    impl.generate_smooth_demand(4, 3, kRight);
    const GRID_2D<float> many = impl.m_smooth_demand_orig[kRight];
    {
        tbb::global_control single(tbb::global_control::max_allowed_parallelism, 1);
        impl.generate_smooth_demand(4, 3, kRight);
    }
    EXPECT_TRUE(same_grid(impl.m_smooth_demand_orig[kRight], many));

    impl.set_num_chunks(7);
    impl.generate_smooth_demand(4, 3, kRight);
    const GRID_2D<float> seven = impl.m_smooth_demand_orig[kRight];
    impl.set_num_chunks(30);
    impl.generate_smooth_demand(4, 3, kRight);
    EXPECT_TRUE(same_grid(impl.m_smooth_demand_orig[kRight], seven));
}

TEST(SpreadKernel, AddsIntoTheOutputAndSkipsAnEmptyRowRange)
{
    GRID_2D<float> supply, demand, out;
    supply.resize(2, 2, 1.0f);
    demand.resize(2, 2, 4.0f);
    out.resize(3, 3, 1.0f);
    spread_demand_by_supply(0, 0, 0, 0, 1, 0, 1, supply, demand, out);
    EXPECT_EQ(grid_total(out, 3, 3), 9.0f);
    spread_demand_by_supply(0, 0, 0, 0, 1, 1, 0, supply, demand, out);  // only (1, 0)
    EXPECT_EQ(out(1, 0), 5.0f);
    EXPECT_EQ(out(1, 1), 1.0f);
    EXPECT_EQ(out(2, 2), 1.0f);
}

// Supply 1 and 2 in one window, demand 10: each share is (s / 3) * 10,
// which differs from (s * 10) / 3 in the last bit.
TEST(SpreadKernel, DividesThenMultipliesThenAdds)
{
    GRID_2D<float> supply, demand, out;
    supply.resize(1, 2, 1.0f);
    supply(0, 1) = 2.0f;
    demand.resize(1, 2, 0.0f);
    demand(0, 0) = 10.0f;
    out.resize(2, 3, 0.5f);
    spread_demand_by_supply(0, 0, 0, 1, 0, 0, 1, supply, demand, out);
    const float window_supply = 1.0f + 2.0f;
    EXPECT_EQ(out(0, 0), 0.5f + (1.0f / window_supply) * 10.0f);
    EXPECT_EQ(out(0, 1), 0.5f + (2.0f / window_supply) * 10.0f);
    EXPECT_NE((1.0f / window_supply) * 10.0f, (1.0f * 10.0f) / window_supply);
}

TEST(SpreadKernel, ChecksSizesThenRangeInOrder)
{
    // nx = 2 and ny = 3 come from the demand; each case also breaks every
    // later check, so the order shows.
    GRID_2D<float> demand, supply, out;
    demand.resize(2, 3, 1.0f);
    supply.resize(3, 2, 1.0f);
    out.resize(2, 2, 0.0f);
    EXPECT_FATAL(spread_demand_by_supply(0, 0, 0, 0, -1, 5, 9, supply, demand, out),
                 "nx+1 == smooth_demand_for_type.get_num_rows()");
    out.resize(3, 2, 0.0f);
    EXPECT_FATAL(spread_demand_by_supply(0, 0, 0, 0, -1, 5, 9, supply, demand, out),
                 "nx == supply_for_type.get_num_rows()");
    supply.resize(2, 2, 1.0f);
    EXPECT_FATAL(spread_demand_by_supply(0, 0, 0, 0, -1, 5, 9, supply, demand, out),
                 "ny+1 == smooth_demand_for_type.get_num_cols()");
    out.resize(3, 4, 0.0f);
    EXPECT_FATAL(spread_demand_by_supply(0, 0, 0, 0, -1, 5, 9, supply, demand, out),
                 "ny == supply_for_type.get_num_cols()");
    supply.resize(2, 3, 1.0f);
    EXPECT_FATAL(spread_demand_by_supply(0, 0, 0, 0, -1, 5, 9, supply, demand, out), "x_start >= 0");
    EXPECT_FATAL(spread_demand_by_supply(0, 0, 0, 0, 0, 3, 9, supply, demand, out), "x_end < nx+1");
    EXPECT_FATAL(spread_demand_by_supply(0, 0, 0, 0, 0, 2, 4, supply, demand, out), "y_end < ny+1");
    // Row nx passes the range check but has no demand to read.
    EXPECT_FATAL(spread_demand_by_supply(0, 0, 0, 0, 0, 2, 2, supply, demand, out), "in_bounds(irow, icol)");
}

// ---------------------------------------------------------------------------
// Original wire smoothing
// ---------------------------------------------------------------------------

TEST(WireSmoothing, SupplyWeightedPassMatchesSingleTypeSmoothing)
{
    CONGESTION_IMPL wire(8, 6, nullptr);
    fill_random_inputs(wire, 5);
    wire.generate_smooth_wire_demand(4, 3, false);
    EXPECT_TRUE(wire.m_smooth_demand_is_valid);

    CONGESTION_IMPL single(8, 6, nullptr);
    fill_random_inputs(single, 5);
    for (CONGESTION::RESOURCE_TYPE type : WIRE_TYPES) {
        const bool horizontal = type == kLeft || type == kRight;
        single.generate_smooth_demand(horizontal ? 4 : 3, horizontal ? 3 : 4, type);
        EXPECT_TRUE(same_grid(wire.m_smooth_demand_orig[type], single.m_smooth_demand_orig[type])) << type;
    }
    EXPECT_EQ(wire.m_smooth_demand_orig[kLab].get_num_rows(), 8);  // Lab Input untouched
}

// 3 by 3, demand 9 at (1, 1), both sizes 2: the uniform window reaches
// towards higher coordinates, x 1..2 by y 1..2, 2.25 each.
TEST(WireSmoothing, UniformPassSpreadsEvenlyTowardsHigherCoordinates)
{
    CONGESTION_IMPL impl(3, 3, nullptr);
    impl.m_demand[kRight](1, 1) = 9.0f;
    impl.m_demand[kUp](2, 2) = -4.0f;  // clipped window 1..2 by 1..2
    impl.generate_smooth_wire_demand(3, 3, true);
    for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 3; ++y) {
            EXPECT_EQ(impl.m_smooth_demand_orig[kRight](x, y), 1.0f);
            EXPECT_EQ(impl.m_smooth_demand_orig[kUp](x, y), (x >= 1 && y >= 1) ? -1.0f : 0.0f);
        }
    impl.generate_smooth_wire_demand(2, 2, true);
    for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 3; ++y)
            EXPECT_EQ(impl.m_smooth_demand_orig[kRight](x, y), (x >= 1 && y >= 1) ? 2.25f : 0.0f);
    EXPECT_TRUE(impl.m_smooth_demand_is_valid);
}

TEST(WireSmoothing, UniformPassOrientsWindowsAndConservesDemand)
{
    // Parallel 5 along x for horizontal types, along y for vertical ones.
    CONGESTION_IMPL line(7, 7, nullptr);
    line.m_demand[kLeft](3, 3) = 5.0f;
    line.m_demand[kUp](3, 3) = 5.0f;
    line.generate_smooth_wire_demand(5, 1, true);
    for (int i = 1; i <= 5; ++i) {
        EXPECT_EQ(line.m_smooth_demand_orig[kLeft](i, 3), 1.0f);
        EXPECT_EQ(line.m_smooth_demand_orig[kUp](3, i), 1.0f);
    }

    CONGESTION_IMPL impl(9, 7, nullptr);
    fill_random_inputs(impl, 3);
    impl.set_num_chunks(4);
    impl.generate_smooth_wire_demand(4, 3, true);
    for (CONGESTION::RESOURCE_TYPE type : WIRE_TYPES) {
        const GRID_2D<float>& smooth = impl.m_smooth_demand_orig[type];
        const float total = grid_total(impl.m_demand[type], 9, 7);
        EXPECT_NEAR(grid_total(smooth, 9, 7), total, 1e-5f * std::fabs(total));
        for (int y = 0; y < 7; ++y)
            EXPECT_NEAR(smooth(9, y), 0.0f, 1e-4f);  // rounding residue row
        for (int x = 0; x <= 9; ++x)
            EXPECT_EQ(smooth(x, 7), 0.0f);  // never merged
    }
}

// One chunk, 2 by 1, windows of one tile: the difference grid of column 0
// holds +1e8, (-1e8 + 1), -1 down x = 0..2. The running sum loses the 1 at
// x = 1 and leaves -1 in the spare row, which the merge keeps.
TEST(WireSmoothing, UniformPassKeepsTheRoundingResidueInTheSpareRow)
{
    CONGESTION_IMPL impl(2, 1, nullptr);
    impl.set_num_chunks(1);
    impl.m_demand[kRight](0, 0) = 1e8f;
    impl.m_demand[kRight](1, 0) = 1.0f;
    impl.generate_smooth_wire_demand(1, 1, true);
    const GRID_2D<float>& smooth = impl.m_smooth_demand_orig[kRight];
    const float second = 1e8f + (-1e8f + 1.0f);
    EXPECT_EQ(smooth(0, 0), 1e8f);
    EXPECT_EQ(smooth(1, 0), second);
    EXPECT_EQ(smooth(2, 0), second + -1.0f);
    EXPECT_NE(smooth(2, 0), 0.0f);
}

TEST(WireSmoothing, SameResultForAnyThreadCountAndForSurplusChunks)
{
    for (bool uniform : {false, true}) {
        CONGESTION_IMPL impl(6, 9, nullptr);
        fill_random_inputs(impl, 21);
        impl.generate_smooth_wire_demand(2, 5, uniform);
        const TYPE_GRIDS many_threads = impl.m_smooth_demand_orig;
        {
            tbb::global_control single(tbb::global_control::max_allowed_parallelism, 1);
            impl.generate_smooth_wire_demand(2, 5, uniform);
        }
        const TYPE_GRIDS one_thread = impl.m_smooth_demand_orig;
        impl.set_num_chunks(6);
        impl.generate_smooth_wire_demand(2, 5, uniform);
        const TYPE_GRIDS six_chunks = impl.m_smooth_demand_orig;
        impl.set_num_chunks(40);
        impl.generate_smooth_wire_demand(2, 5, uniform);
        for (CONGESTION::RESOURCE_TYPE type : WIRE_TYPES) {
            EXPECT_TRUE(same_grid(one_thread[type], many_threads[type])) << uniform << type;
            EXPECT_TRUE(same_grid(impl.m_smooth_demand_orig[type], six_chunks[type])) << uniform << type;
        }
    }
}

TEST(WireSmoothing, NegativeSizesAreRejectedOnlyForTheUniformPass)
{
    CONGESTION_IMPL impl(4, 4, nullptr);
    fill_random_inputs(impl, 8);
    EXPECT_FATAL(impl.generate_smooth_wire_demand(-1, 3, true), "parallel_dim >= 0 && perpendicular_dim >= 0");
    EXPECT_FATAL(impl.generate_smooth_wire_demand(3, -2, true), "parallel_dim >= 0 && perpendicular_dim >= 0");
    impl.generate_smooth_wire_demand(-1, 3, false);  // every window empty
    for (CONGESTION::RESOURCE_TYPE type : WIRE_TYPES)
        EXPECT_EQ(grid_total(impl.m_smooth_demand_orig[type], 5, 5), 0.0f);
}

TEST(UniformKernel, ChecksTheOutputSize)
{
    GRID_2D<float> demand, out;
    demand.resize(3, 2, 1.0f);
    out.resize(3, 3, 0.0f);
    EXPECT_FATAL(smear_demand_uniformly(0, 0, 0, 0, 0, 2, 1, demand, out),
                 "nx+1 == smooth_wire_for_type.get_num_rows()");
    out.resize(4, 4, 0.0f);
    EXPECT_FATAL(smear_demand_uniformly(0, 0, 0, 0, 0, 2, 1, demand, out),
                 "ny+1 == smooth_wire_for_type.get_num_cols()");
}

// ---------------------------------------------------------------------------
// Dispatch
// ---------------------------------------------------------------------------

TEST(Dispatch, RejectsAnUnknownTypeUnderEitherAlgorithm)
{
    CONGESTION_IMPL impl(2, 2, nullptr);
    const std::vector<CONGESTION::RESOURCE_TYPE> bad{kRight, static_cast<CONGESTION::RESOURCE_TYPE>(5)};
    EXPECT_FATAL(impl.dispatch_smooth_demand(1, 1, false, bad),
                 "Invalid resource type in get_string_for_resource_type");
    const std::vector<CONGESTION::RESOURCE_TYPE> negative{static_cast<CONGESTION::RESOURCE_TYPE>(-1)};
    EXPECT_FATAL(impl.dispatch_smooth_demand(1, 1, false, negative),
                 "Invalid resource type in get_string_for_resource_type");
}

TEST(Dispatch, RunsTheAlgorithmInForce)
{
    CONGESTION_IMPL impl(3, 3, nullptr);
    fill(impl.m_supply[kLab], 1.0f);
    impl.m_demand[kLab](1, 1) = 9.0f;
    impl.dispatch_smooth_demand(3, 3, true, {kLab});
    const std::vector<CONGESTION::RESOURCE_TYPE> reordered{kLeft, kRight, kUp, CONGESTION::VERTICAL_DOWN};
    if (original_algorithm_in_force()) {
        // The single-type path ignores `uniform` and sets no flag.
        EXPECT_EQ(impl.m_smooth_demand_orig[kLab](2, 2), 1.0f);
        EXPECT_FALSE(impl.m_smooth_demand_is_valid);
        EXPECT_FALSE(impl.m_smooth_demand_smeared_new_is_valid);
        EXPECT_FATAL(impl.dispatch_smooth_demand(3, 3, false, reordered), "resources.size() == 1");
        EXPECT_FATAL(impl.dispatch_smooth_demand(3, 3, false, {kLeft, kRight}), "resources.size() == 1");
        EXPECT_FATAL(impl.dispatch_smooth_demand(3, 3, false, {}), "resources.size() == 1");
        impl.dispatch_smooth_demand(3, 3, false, WIRE_TYPES);
        EXPECT_TRUE(impl.m_smooth_demand_is_valid);
        EXPECT_EQ(impl.m_smooth_demand_orig[kRight].get_num_rows(), 4);
    } else {
        EXPECT_EQ(impl.m_smooth_demand_smeared_new[kLab](2, 2), 1.0f);
        EXPECT_EQ(impl.m_smooth_demand_orig[kLab].get_num_rows(), 3);
        EXPECT_TRUE(impl.m_smooth_demand_smeared_new_is_valid);
        impl.dispatch_smooth_demand(3, 3, true, reordered);
        impl.dispatch_smooth_demand(3, 3, true, {kLeft, kRight});
        EXPECT_FALSE(impl.m_smooth_demand_is_valid);
    }
}

}  // namespace
