// Tests of the grid array, construction, the handle and the state hash.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "fitter/congestion/congestion_impl.h"
#include "host/zol_mem.h"
#include "test_support.h"

namespace {

// ---------------------------------------------------------------------------
// GRID_2D
// ---------------------------------------------------------------------------

TEST(GridArray, ResizeWithZeroRowsHasNoStorage)
{
    GRID_2D<float> grid;
    EXPECT_EQ(grid.get_num_rows(), 0);
    EXPECT_EQ(grid.get_num_cols(), 0);
    grid.resize(0, 5, 7.0f);
    EXPECT_EQ(grid.get_num_rows(), 0);
    EXPECT_EQ(grid.get_num_cols(), 5);
    EXPECT_EQ(grid.begin(), grid.end());
}

TEST(GridArray, ResizeOverwritesEveryElementWithTheFill)
{
    GRID_2D<unsigned> grid;
    grid.resize(2, 7, 9u);
    grid.at(1, 6) = 4u;
    grid.resize(3, 4, 5u);
    ASSERT_EQ(std::distance(grid.begin(), grid.end()), 12);
    for (unsigned value : grid)
        EXPECT_EQ(value, 5u);
}

TEST(GridArray, StorageIsRowMajorByX)
{
    GRID_2D<float> grid;
    grid.resize(3, 4, 0.0f);
    grid(2, 1) = 1.0f;
    EXPECT_EQ(grid.data()[2 * 4 + 1], 1.0f);
    EXPECT_EQ(&grid.at(2, 1), &grid(2, 1));
}

TEST(GridArray, ClearingToASmallerSizeReusesTheStorage)
{
    GRID_2D<float> grid;
    grid.resize(10, 10, 1.0f);
    const float* before = grid.data();
    grid.resize(5, 5, 0.0f);
    EXPECT_EQ(grid.data(), before);
}

TEST(GridArray, CheckedAccessOutsideTheGridIsFatal)
{
    GRID_2D<float> grid;
    grid.resize(3, 4, 0.0f);
    EXPECT_FATAL(grid.at(-1, 0), "in_bounds(irow, icol)");
    EXPECT_FATAL(grid.at(0, 4), "in_bounds(irow, icol)");
    EXPECT_FATAL(grid.at(3, 0), "in_bounds(irow, icol)");
    EXPECT_FATAL(grid.at(0, -1), "in_bounds(irow, icol)");
    EXPECT_FATAL(grid.resize(-1, 3, 0.0f), "num_rows >= 0 && num_cols >= 0");
    EXPECT_FATAL(grid.resize(3, -1, 0.0f), "num_rows >= 0 && num_cols >= 0");
}

// ---------------------------------------------------------------------------
// Names and wire types
// ---------------------------------------------------------------------------

TEST(ResourceTypes, HaveDisplayNames)
{
    EXPECT_STREQ(CONGESTION::get_string_for_resource_type(CONGESTION::HORIZONTAL_LEFT), "Horizontal Left");
    EXPECT_STREQ(CONGESTION::get_string_for_resource_type(CONGESTION::HORIZONTAL_RIGHT), "Horizontal Right");
    EXPECT_STREQ(CONGESTION::get_string_for_resource_type(CONGESTION::VERTICAL_UP), "Vertical Up");
    EXPECT_STREQ(CONGESTION::get_string_for_resource_type(CONGESTION::VERTICAL_DOWN), "Vertical Down");
    EXPECT_STREQ(CONGESTION::get_string_for_resource_type(CONGESTION::LAB_INPUT), "Lab Input");
}

TEST(ResourceTypes, UnknownTypeNameIsFatal)
{
    EXPECT_FATAL(CONGESTION::get_string_for_resource_type(static_cast<CONGESTION::RESOURCE_TYPE>(5)),
                 "Invalid resource type in get_string_for_resource_type");
    EXPECT_FATAL(CONGESTION::get_string_for_resource_type(static_cast<CONGESTION::RESOURCE_TYPE>(-1)),
                 "Invalid resource type in get_string_for_resource_type");
}

TEST(ResourceTypes, WireTypesAreRightLeftUpDownAndOneObject)
{
    const std::vector<CONGESTION::RESOURCE_TYPE>& wires = CONGESTION::get_wire_resource_types();
    EXPECT_EQ(&wires, &CONGESTION::get_wire_resource_types());
    const std::vector<CONGESTION::RESOURCE_TYPE> expected{CONGESTION::HORIZONTAL_RIGHT, CONGESTION::HORIZONTAL_LEFT,
                                                          CONGESTION::VERTICAL_UP, CONGESTION::VERTICAL_DOWN};
    EXPECT_EQ(wires, expected);
}

TEST(ResourceTypes, LocationPrintsAsParenthesisedPair)
{
    std::ostringstream text;
    text << CONGESTION::LOC{3, 12} << CONGESTION::LOC{-1, -1};
    EXPECT_EQ(text.str(), "(3,12)(-1,-1)");
}

// ---------------------------------------------------------------------------
// Construction and the handle
// ---------------------------------------------------------------------------

TEST(Construction, DefaultObjectIsZeroByZero)
{
    const CONGESTION estimator;
    EXPECT_EQ(estimator.get_nx(), 0);
    EXPECT_EQ(estimator.get_ny(), 0);
    EXPECT_NE(estimator.get_cookie(), 0u);
}

TEST(Construction, SizesEveryPerTileGridAndLeavesTablesEmpty)
{
    const CONGESTION_IMPL impl(4, 3, nullptr);
    EXPECT_EQ(impl.m_num_chunks, 16);
    for (int type = 0; type < CONGESTION::NUM_RESOURCE_TYPES; ++type) {
        for (const TYPE_GRIDS* grids : {&impl.m_demand, &impl.m_congestion, &impl.m_smooth_demand_orig,
                                        &impl.m_smooth_demand_smeared_new, &impl.m_supply}) {
            EXPECT_EQ((*grids)[type].get_num_rows(), 4);
            EXPECT_EQ((*grids)[type].get_num_cols(), 3);
            for (float value : (*grids)[type])
                EXPECT_EQ(value, 0.0f);
        }
        for (const TYPE_GRIDS* grids : {&impl.m_congestion_down_left_sum, &impl.m_supply_down_left_sum,
                                        &impl.m_smooth_supply})
            EXPECT_EQ((*grids)[type].get_num_rows(), 0);
        EXPECT_EQ(impl.m_max_supply[type], 0.0f);
    }
    EXPECT_EQ(impl.m_non_empty_down_left_sum.get_num_rows(), 0);
    EXPECT_FALSE(impl.m_smooth_supply_is_valid);
    EXPECT_FALSE(impl.m_smooth_demand_is_valid);
    EXPECT_FALSE(impl.m_smooth_demand_smeared_new_is_valid);
}

TEST(Construction, NegativeSizeIsFatal)
{
    EXPECT_FATAL(CONGESTION(-1, 3), "num_rows >= 0 && num_cols >= 0");
    EXPECT_FATAL(CONGESTION(3, -2), "num_rows >= 0 && num_cols >= 0");
}

TEST(Construction, LogsTheAlgorithmInForce)
{
    ::setenv("HOST_DEBUG_LEVEL", "2", 1);
    testing::internal::CaptureStderr();
    { const CONGESTION estimator(2, 2); }
    const std::string logged = testing::internal::GetCapturedStderr();
    ::unsetenv("HOST_DEBUG_LEVEL");
    const std::string expected = original_algorithm_in_force() ? "CONGESTION: Using original congestion algorithm\n"
                                                                : "CONGESTION: Using new congestion algorithm\n";
    EXPECT_EQ(logged, expected);
    EXPECT_EQ(s_use_orig_algorithm, original_algorithm_in_force());
}

TEST(Construction, LibraryRegistersWithTheHostThreeTimes)
{
    EXPECT_EQ(MEM_INITIALIZER::get_registration_count("CONGESTION"), 3);
}

TEST(Handle, MoveConstructionTakesTheEngine)
{
    CONGESTION source(5, 4);
    const unsigned long long cookie = source.get_cookie();
    CONGESTION target(std::move(source));
    EXPECT_EQ(target.get_nx(), 5);
    EXPECT_EQ(target.get_ny(), 4);
    EXPECT_EQ(target.get_cookie(), cookie);
}

TEST(Handle, MoveAssignmentReplacesTheEngine)
{
    CONGESTION source(6, 2);
    CONGESTION target(1, 1);
    target = std::move(source);
    EXPECT_EQ(target.get_nx(), 6);
    EXPECT_EQ(target.get_ny(), 2);
    CONGESTION other(3, 3);
    source = std::move(other);  // a moved-from handle may be assigned to
    EXPECT_EQ(source.get_nx(), 3);
}

TEST(Handle, SelfMoveAssignmentKeepsTheObject)
{
    CONGESTION estimator(7, 3);
    const unsigned long long cookie = estimator.get_cookie();
    CONGESTION& alias = estimator;
    estimator = std::move(alias);
    EXPECT_EQ(estimator.get_nx(), 7);
    EXPECT_EQ(estimator.get_cookie(), cookie);
}

// ---------------------------------------------------------------------------
// clear_demand
// ---------------------------------------------------------------------------

TEST(ClearDemand, ResetsAllFourGridsToTheGridSize)
{
    CONGESTION_IMPL impl(3, 2, nullptr);
    for (int type = 0; type < CONGESTION::NUM_RESOURCE_TYPES; ++type) {
        impl.m_demand[type].at(1, 1) = 2.0f;
        impl.m_congestion[type].at(0, 1) = 3.0f;
        impl.m_smooth_demand_orig[type].resize(4, 3, 1.0f);
        impl.m_smooth_demand_smeared_new[type].at(2, 0) = 4.0f;
    }
    impl.m_smooth_demand_is_valid = true;
    impl.clear_demand();
    for (int type = 0; type < CONGESTION::NUM_RESOURCE_TYPES; ++type) {
        for (const TYPE_GRIDS* grids :
             {&impl.m_demand, &impl.m_congestion, &impl.m_smooth_demand_orig, &impl.m_smooth_demand_smeared_new}) {
            EXPECT_EQ((*grids)[type].get_num_rows(), 3);
            EXPECT_EQ((*grids)[type].get_num_cols(), 2);
            for (float value : (*grids)[type])
                EXPECT_EQ(value, 0.0f);
        }
    }
    EXPECT_TRUE(impl.m_smooth_demand_is_valid);  // flags are left alone
}

TEST(ClearDemand, OneTypeLeavesTheOthers)
{
    CONGESTION_IMPL impl(2, 2, nullptr);
    for (int type = 0; type < CONGESTION::NUM_RESOURCE_TYPES; ++type) {
        impl.m_demand[type].at(0, 0) = 1.0f;
        impl.m_congestion[type].at(0, 0) = 1.0f;
        impl.m_smooth_demand_orig[type].at(0, 0) = 1.0f;
        impl.m_smooth_demand_smeared_new[type].at(0, 0) = 1.0f;
    }
    impl.m_supply[CONGESTION::VERTICAL_UP].at(1, 1) = 5.0f;
    impl.clear_demand(CONGESTION::VERTICAL_UP);
    for (int type = 0; type < CONGESTION::NUM_RESOURCE_TYPES; ++type) {
        const float expected = type == CONGESTION::VERTICAL_UP ? 0.0f : 1.0f;
        EXPECT_EQ(impl.m_demand[type](0, 0), expected);
        EXPECT_EQ(impl.m_congestion[type](0, 0), expected);
        EXPECT_EQ(impl.m_smooth_demand_orig[type](0, 0), expected);
        EXPECT_EQ(impl.m_smooth_demand_smeared_new[type](0, 0), expected);
    }
    EXPECT_EQ(impl.m_supply[CONGESTION::VERTICAL_UP](1, 1), 5.0f);
}

// ---------------------------------------------------------------------------
// The cookie, against a fold written out here independently.
// ---------------------------------------------------------------------------

uint64_t mix(uint64_t seed, uint64_t value)
{
    const uint64_t m = 0xc6a4a7935bd1e995ULL;
    const int r = 47;
    uint64_t k = value * m;
    k = k ^ (k >> r);
    k = k * m;
    return (seed ^ k) * m + 0xe6546b64ULL;
}

uint64_t fold_of_zeros(int count)
{
    uint64_t h = 0;
    for (int i = 0; i < count; ++i)
        h = mix(h, 0);
    return h;
}

// The cookie of a fresh nx by ny object with `chunks` chunks.
uint64_t expected_fresh_cookie(int nx, int ny, int chunks)
{
    const int tiles = nx * ny;
    uint64_t seed = 0;
    seed = mix(seed, static_cast<uint64_t>(static_cast<int64_t>(nx)));
    seed = mix(seed, static_cast<uint64_t>(static_cast<int64_t>(ny)));
    seed = mix(seed, static_cast<uint64_t>(static_cast<int64_t>(chunks)));
    for (int t = 0; t < 5; ++t) seed = mix(seed, fold_of_zeros(tiles));  // demand
    for (int t = 0; t < 5; ++t) seed = mix(seed, fold_of_zeros(tiles));  // congestion
    for (int t = 0; t < 5; ++t) seed = mix(seed, 0);                      // congestion tables
    seed = mix(seed, 0);                                                  // smoothed demand flag
    for (int t = 0; t < 5; ++t) seed = mix(seed, fold_of_zeros(tiles));  // original smoothed demand
    seed = mix(seed, 0);                                                  // smoothed supply flag
    for (int t = 0; t < 5; ++t) seed = mix(seed, fold_of_zeros(tiles));  // supply
    for (int t = 0; t < 5; ++t) seed = mix(seed, 0);                      // supply tables
    seed = mix(seed, 0);                                                  // non-empty table
    for (int t = 0; t < 5; ++t) seed = mix(seed, 0);                      // smoothed supply
    seed = mix(seed, fold_of_zeros(5));                                   // maxima
    return seed;
}

TEST(Cookie, FreshObjectFollowsTheFold)
{
    for (const auto& [nx, ny] : {std::pair{0, 0}, {1, 1}, {3, 2}, {7, 5}, {0, 4}}) {
        for (int chunks : {16, 8, 1, -3}) {
            CONGESTION estimator(nx, ny);
            estimator.set_num_chunks(chunks);
            EXPECT_EQ(estimator.get_cookie(), expected_fresh_cookie(nx, ny, chunks)) << nx << "x" << ny;
        }
    }
}

TEST(Cookie, EqualStateGivesEqualCookies)
{
    CONGESTION a(5, 5);
    CONGESTION b(5, 5);
    EXPECT_EQ(a.get_cookie(), b.get_cookie());
    a.set_num_chunks(8);
    EXPECT_NE(a.get_cookie(), b.get_cookie());
    b.set_num_chunks(8);
    EXPECT_EQ(a.get_cookie(), b.get_cookie());
}

TEST(Cookie, SignedZerosHashAlikeAndNaNsByTheirBits)
{
    CONGESTION_IMPL plus(2, 2, nullptr);
    CONGESTION_IMPL minus(2, 2, nullptr);
    minus.m_demand[CONGESTION::HORIZONTAL_RIGHT](1, 0) = -0.0f;
    minus.m_max_supply[CONGESTION::LAB_INPUT] = -0.0f;
    EXPECT_EQ(plus.get_cookie(), minus.get_cookie());

    minus.m_demand[CONGESTION::HORIZONTAL_RIGHT](1, 0) = std::numeric_limits<float>::quiet_NaN();
    EXPECT_NE(plus.get_cookie(), minus.get_cookie());
}

TEST(Cookie, CoversGridsFlagsAndMaximaButNotTheSmearedDemand)
{
    CONGESTION_IMPL impl(3, 3, nullptr);
    const unsigned long long fresh = impl.get_cookie();

    impl.m_smooth_demand_smeared_new[CONGESTION::VERTICAL_DOWN](2, 2) = 9.0f;
    impl.m_smooth_demand_smeared_new_is_valid = true;
    EXPECT_EQ(impl.get_cookie(), fresh);

    const auto changes = [&](auto&& change) {
        CONGESTION_IMPL other(3, 3, nullptr);
        change(other);
        return other.get_cookie() != fresh;
    };
    EXPECT_TRUE(changes([](CONGESTION_IMPL& o) { o.m_demand[0](0, 1) = 1.0f; }));
    EXPECT_TRUE(changes([](CONGESTION_IMPL& o) { o.m_congestion[4](2, 0) = 1.0f; }));
    EXPECT_TRUE(changes([](CONGESTION_IMPL& o) { o.m_congestion_down_left_sum[1].resize(1, 1, 2.0f); }));
    EXPECT_TRUE(changes([](CONGESTION_IMPL& o) { o.m_smooth_demand_is_valid = true; }));
    EXPECT_TRUE(changes([](CONGESTION_IMPL& o) { o.m_smooth_demand_orig[3](1, 1) = 1.0f; }));
    EXPECT_TRUE(changes([](CONGESTION_IMPL& o) { o.m_smooth_supply_is_valid = true; }));
    EXPECT_TRUE(changes([](CONGESTION_IMPL& o) { o.m_supply[2](0, 0) = 1.0f; }));
    EXPECT_TRUE(changes([](CONGESTION_IMPL& o) { o.m_supply_down_left_sum[0].resize(1, 1, 1.0f); }));
    EXPECT_TRUE(changes([](CONGESTION_IMPL& o) { o.m_non_empty_down_left_sum.resize(1, 1, 1u); }));
    EXPECT_TRUE(changes([](CONGESTION_IMPL& o) { o.m_smooth_supply[2].resize(1, 1, 1.0f); }));
    EXPECT_TRUE(changes([](CONGESTION_IMPL& o) { o.m_max_supply[4] = 1.0f; }));
    // A zero-filled table of any size still hashes to the fold of its zeros.
    EXPECT_TRUE(changes([](CONGESTION_IMPL& o) { o.m_smooth_supply[2].resize(1, 1, 0.0f); }));
}

}  // namespace
