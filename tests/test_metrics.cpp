// Tests of the chip and window metrics.
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "fitter/congestion/congestion_impl.h"
#include "engine_support.h"
#include "test_support.h"

namespace {


// ---------------------------------------------------------------------------
// get_avg_chip_utilization
// ---------------------------------------------------------------------------

// Tile (0, 0): right demand 3 over supply 2; tile (2, 1): up demand 1 over
// supply 4; Lab Input at (1, 1) carries demand and supply that must be ignored.
void fill_chip(CONGESTION_IMPL& impl)
{
    impl.m_demand[kRight](0, 0) = 3.0f;
    impl.m_supply[kRight](0, 0) = 2.0f;
    impl.m_demand[kUp](2, 1) = 1.0f;
    impl.m_supply[kUp](2, 1) = 4.0f;
    impl.m_demand[kLab](1, 1) = 50.0f;
    impl.m_supply[kLab](1, 1) = 1.0f;
}

TEST(AvgChipUtilization, WeighsThePairsAboveTheThresholdBySupply)
{
    CONGESTION_IMPL impl(3, 2, nullptr);
    fill_chip(impl);
    EXPECT_EQ(impl.get_avg_chip_utilization(0.0f), 4.0f / 6.0f);
    EXPECT_EQ(impl.get_avg_chip_utilization(1.0f), 1.5f);
    // 1.5 itself is not strictly above 1.5.
    EXPECT_EQ(impl.get_avg_chip_utilization(1.5f), 0.0f);
}

TEST(AvgChipUtilization, DemandWithoutSupplyCountsOnlyBelowZeroThreshold)
{
    CONGESTION_IMPL impl(3, 2, nullptr);
    fill_chip(impl);
    impl.m_demand[kLeft](1, 0) = 2.0f;
    EXPECT_EQ(impl.get_avg_chip_utilization(0.0f), 4.0f / 6.0f);
    EXPECT_EQ(impl.get_avg_chip_utilization(-0.5f), 6.0f / 6.0f);
}

TEST(AvgChipUtilization, SumsRowsOuterInOneAccumulator)
{
    //   y=1 | -1e8 (no supply)    0 over 1
    //   y=0 |  1e8 (no supply)    4 (no supply)
    //        x=0                  x=1
    // With x outer the demands cancel before 4 is added; with y outer the 4
    // would be lost in 1e8.
    CONGESTION_IMPL impl(2, 2, nullptr);
    impl.m_demand[kRight](0, 0) = 1e8f;
    impl.m_demand[kRight](0, 1) = -1e8f;
    impl.m_demand[kRight](1, 0) = 4.0f;
    impl.m_supply[kRight](1, 1) = 1.0f;
    EXPECT_EQ(impl.get_avg_chip_utilization(-1.0f), 4.0f);
}

TEST(AvgChipUtilization, EmptyChipIsZero)
{
    EXPECT_EQ(CONGESTION_IMPL(0, 5, nullptr).get_avg_chip_utilization(-1.0f), 0.0f);
    EXPECT_EQ(CONGESTION_IMPL(3, 3, nullptr).get_avg_chip_utilization(-1.0f), 0.0f);
}

// ---------------------------------------------------------------------------
// Overflow: get_apl_style_congestion and its total
// ---------------------------------------------------------------------------

// Writes a smoothed demand that reads back under either algorithm.
void set_smooth_demand(CONGESTION_IMPL& impl, int x, int y, CONGESTION::RESOURCE_TYPE type, float value)
{
    impl.m_smooth_demand_orig[type](x, y) = value;
    impl.m_smooth_demand_smeared_new[type](x, y) = value;
    impl.m_smooth_demand_is_valid = true;
    impl.m_smooth_demand_smeared_new_is_valid = true;
}

TEST(Overflow, IsSmoothDemandAboveSupply)
{
    CONGESTION_IMPL impl(2, 2, nullptr);
    set_smooth_demand(impl, 0, 0, kUp, 5.5f);
    impl.set_supply(0, 0, kUp, 4.0f);
    set_smooth_demand(impl, 1, 0, kUp, 3.0f);
    impl.set_supply(1, 0, kUp, 4.0f);
    set_smooth_demand(impl, 0, 1, kUp, std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(impl.get_apl_style_congestion(0, 0, kUp), 1.5f);
    EXPECT_EQ(impl.get_apl_style_congestion(1, 0, kUp), 0.0f);
    EXPECT_EQ(impl.get_apl_style_congestion(0, 1, kUp), 0.0f);
    EXPECT_EQ(impl.get_apl_style_congestion(1, 1, kUp), 0.0f);
}

TEST(Overflow, ChecksSmoothedDemandBeforeSupply)
{
    CONGESTION_IMPL impl(2, 2, nullptr);
    const bool orig = original_algorithm_in_force();
    EXPECT_FATAL(impl.get_apl_style_congestion(5, 5, kUp),
                 orig ? "m_smooth_demand_is_valid" : "m_smooth_demand_smeared_new_is_valid");
    set_smooth_demand(impl, 0, 0, kUp, 1.0f);
    EXPECT_FATAL(impl.get_apl_style_congestion(0, 0, kBadType),
                 orig ? "type < m_smooth_demand_orig.size()" : "type < m_smooth_demand_smeared_new.size()");
    // A smoothed grid one row and column larger than the supply lets the
    // supply's own checks speak.
    impl.m_smooth_demand_orig[kUp].resize(3, 3, 0.0f);
    impl.m_smooth_demand_smeared_new[kUp].resize(3, 3, 0.0f);
    EXPECT_FATAL(impl.get_apl_style_congestion(2, 0, kUp), "m_supply[type].get_num_rows() > x");
    EXPECT_FATAL(impl.get_apl_style_congestion(0, 2, kUp), "m_supply[type].get_num_cols() > y");
}

TEST(TotalOverflow, SumsRowMajorInOneAccumulator)
{
    //   y=1 | 4     0
    //   y=0 | 4   1e8      (overflows; no supply)
    //        x=0  x=1
    // Row-major, 4 + 4 reaches 8 before meeting 1e8 and survives; in column
    // order each 4 alone would round away.
    CONGESTION_IMPL impl(2, 2, nullptr);
    set_smooth_demand(impl, 0, 0, kUp, 4.0f);
    set_smooth_demand(impl, 0, 1, kUp, 4.0f);
    set_smooth_demand(impl, 1, 0, kUp, 1e8f);
    const float expected = ((0.0f + 4.0f) + 4.0f) + 1e8f;
    ASSERT_NE(expected, (4.0f + 1e8f) + 4.0f);
    EXPECT_EQ(impl.get_total_apl_style_congestion(kUp), expected);
}

TEST(TotalOverflow, EmptyGridIsZeroWithoutChecks)
{
    // No smoothed demand is valid here, yet nothing is checked.
    EXPECT_EQ(CONGESTION_IMPL(0, 4, nullptr).get_total_apl_style_congestion(kBadType), 0.0f);
    const CONGESTION_IMPL impl(2, 2, nullptr);
    EXPECT_FATAL(impl.get_total_apl_style_congestion(kUp),
                 original_algorithm_in_force() ? "m_smooth_demand_is_valid" : "m_smooth_demand_smeared_new_is_valid");
}

// ---------------------------------------------------------------------------
// Window metrics
// ---------------------------------------------------------------------------

// A 5 by 4 congestion grid from a fixed seed, with its table built, and the
// brute-force sum of any window of it.
class CongestionWindow : public ::testing::Test {
 protected:
    CongestionWindow() : impl(5, 4, nullptr)
    {
        std::mt19937 random(42);
        std::uniform_int_distribution<int> value(0, 40);
        for (float& v : impl.m_congestion[kLeft])
            v = static_cast<float>(value(random)) * 0.25f;
        impl.m_congestion_down_left_sum[kLeft].resize(5, 4, 0.0f);
        build_down_left_sum(impl.m_congestion[kLeft], impl.m_congestion_down_left_sum[kLeft]);
    }

    float brute_force(int xmin, int xmax, int ymin, int ymax) const
    {
        float sum = 0.0f;
        for (int x = xmin; x <= xmax; ++x)
            for (int y = ymin; y <= ymax; ++y)
                sum += impl.m_congestion[kLeft](x, y);
        return sum;
    }

    CONGESTION_IMPL impl;
};

TEST_F(CongestionWindow, SumsEveryWindow)
{
    // Quarter multiples stay exact, so every order of addition agrees.
    for (int xmin = 0; xmin < 5; ++xmin)
        for (int xmax = xmin; xmax < 5; ++xmax)
            for (int ymin = 0; ymin < 4; ++ymin)
                for (int ymax = ymin; ymax < 4; ++ymax)
                    ASSERT_EQ(impl.get_congestion_in_window(kLeft, xmin, xmax, ymin, ymax),
                              brute_force(xmin, xmax, ymin, ymax));
}

TEST_F(CongestionWindow, OneTileWindowIsThatTile)
{
    impl.m_congestion[kLeft](0, 0) = 0.1f;
    build_down_left_sum(impl.m_congestion[kLeft], impl.m_congestion_down_left_sum[kLeft]);
    EXPECT_EQ(impl.get_congestion_in_window(kLeft, 0, 0, 0, 0), 0.1f);
}

TEST_F(CongestionWindow, RejectsBadWindowsAndTypes)
{
    EXPECT_FATAL(impl.get_congestion_in_window(kLeft, 3, 2, 0, 0), "xmin <= xmax");
    EXPECT_FATAL(impl.get_congestion_in_window(kLeft, 0, 5, 0, 0), "down_left_sum.get_num_rows() > xmax");
    EXPECT_FATAL(impl.get_congestion_in_window(kLeft, 0, 0, 0, 4), "down_left_sum.get_num_cols() > ymax");
    EXPECT_FATAL(impl.get_congestion_in_window(kLeft, 0, 0, -1, 0), "ymin >= 0");
    // Tables never built: another wire type, and Lab Input, which never has one.
    EXPECT_FATAL(impl.get_congestion_in_window(kRight, 0, 0, 0, 0), "down_left_sum.get_num_rows() > xmax");
    EXPECT_FATAL(impl.get_congestion_in_window(kLab, 0, 0, 0, 0), "down_left_sum.get_num_rows() > xmax");
    EXPECT_FATAL(impl.get_congestion_in_window(kBadType, 0, 0, 0, 0), "type < m_congestion_down_left_sum.size()");
    EXPECT_FATAL(impl.get_congestion_in_window(kNegativeType, 0, 0, 0, 0),
                 "type < m_congestion_down_left_sum.size()");
}

TEST(NonEmptyWindow, CountsOccupiedTiles)
{
    //   y=2 | 1 0 0 1
    //   y=1 | 0 1 1 0
    //   y=0 | 1 1 0 0
    //        x=0 1 2 3
    CONGESTION_IMPL impl(4, 3, nullptr);
    GRID_2D<unsigned> occupied;
    occupied.resize(4, 3, 0u);
    occupied(0, 0) = occupied(1, 0) = occupied(1, 1) = occupied(2, 1) = occupied(0, 2) = occupied(3, 2) = 1u;
    impl.m_non_empty_down_left_sum.resize(4, 3, 0u);
    build_down_left_sum(occupied, impl.m_non_empty_down_left_sum);
    EXPECT_EQ(impl.get_num_non_empty_in_window(0, 3, 0, 2), 6);
    EXPECT_EQ(impl.get_num_non_empty_in_window(1, 2, 1, 2), 2);
    EXPECT_EQ(impl.get_num_non_empty_in_window(2, 3, 0, 0), 0);
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 3; ++y)
            EXPECT_EQ(impl.get_num_non_empty_in_window(x, x, y, y), static_cast<int>(occupied(x, y)));
    EXPECT_FATAL(impl.get_num_non_empty_in_window(0, 4, 0, 0), "down_left_sum.get_num_rows() > xmax");
    EXPECT_FATAL(impl.get_num_non_empty_in_window(0, 0, 2, 1), "ymin <= ymax");
}

TEST(NonEmptyWindow, TableIsEmptyBeforeSupplyIsSmoothed)
{
    const CONGESTION_IMPL impl(4, 3, nullptr);
    EXPECT_FATAL(impl.get_num_non_empty_in_window(0, 0, 0, 0), "down_left_sum.get_num_rows() > xmax");
}

}  // namespace
