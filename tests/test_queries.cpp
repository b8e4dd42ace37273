// Tests of the point and total queries.
#include <limits>

#include <gtest/gtest.h>

#include "fitter/congestion/congestion_impl.h"
#include "engine_support.h"
#include "test_support.h"

namespace {


TEST(Utilization, IsDemandOverPositiveSupplyElseZero)
{
    CONGESTION_IMPL impl(3, 2, nullptr);
    impl.m_demand[kRight](0, 0) = 5.0f;
    impl.m_demand[kRight](1, 0) = 5.0f;
    impl.m_demand[kRight](2, 0) = 5.0f;
    impl.m_demand[kRight](0, 1) = 5.0f;
    impl.m_supply[kRight](1, 0) = 2.0f;
    impl.m_supply[kRight](2, 0) = -1.0f;
    impl.m_supply[kRight](0, 1) = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(impl.get_util(0, 0, kRight), 0.0f);
    EXPECT_EQ(impl.get_util(1, 0, kRight), 2.5f);
    EXPECT_EQ(impl.get_util(2, 0, kRight), 0.0f);
    EXPECT_EQ(impl.get_util(0, 1, kRight), 0.0f);
}

TEST(Utilization, ChecksTypeThenSupplyThenDemand)
{
    CONGESTION_IMPL impl(3, 2, nullptr);
    EXPECT_FATAL(impl.get_util(0, 0, kBadType), "type < m_supply.size()");
    EXPECT_FATAL(impl.get_util(0, 0, kNegativeType), "type < m_supply.size()");
    EXPECT_FATAL(impl.get_util(3, 0, kRight), "m_supply[type].get_num_rows() > x");
    EXPECT_FATAL(impl.get_util(0, 2, kRight), "m_supply[type].get_num_cols() > y");
    EXPECT_FATAL(impl.get_util(-1, 0, kRight), "m_supply[type].get_num_rows() > x");
    impl.m_demand[kRight].resize(1, 1, 0.0f);
    EXPECT_FATAL(impl.get_util(2, 0, kRight), "m_demand[type].get_num_rows() > x");
    EXPECT_FATAL(impl.get_util(0, 1, kRight), "m_demand[type].get_num_cols() > y");
}

TEST(Demand, ReadsTheTileAndChecksItsBounds)
{
    CONGESTION_IMPL impl(2, 3, nullptr);
    impl.m_demand[CONGESTION::LAB_INPUT](1, 2) = 7.0f;
    EXPECT_EQ(impl.get_demand(1, 2, CONGESTION::LAB_INPUT), 7.0f);
    EXPECT_FATAL(impl.get_demand(0, 0, kBadType), "type < m_demand.size()");
    EXPECT_FATAL(impl.get_demand(2, 0, kRight), "m_demand[type].get_num_rows() > x");
    EXPECT_FATAL(impl.get_demand(0, 3, kRight), "m_demand[type].get_num_cols() > y");
    EXPECT_FATAL(impl.get_demand(0, -1, kRight), "m_demand[type].get_num_cols() > y");
}

TEST(SmoothDemand, ReadsTheGridOfTheAlgorithmInForce)
{
    CONGESTION_IMPL impl(2, 2, nullptr);
    impl.m_smooth_demand_orig[kRight].resize(3, 3, 0.0f);
    impl.m_smooth_demand_orig[kRight](2, 2) = 1.0f;
    impl.m_smooth_demand_orig[kRight](1, 1) = 2.0f;
    impl.m_smooth_demand_smeared_new[kRight](1, 1) = 3.0f;
    if (original_algorithm_in_force()) {
        EXPECT_FATAL(impl.get_smooth_demand(1, 1, kRight), "m_smooth_demand_is_valid");
        impl.m_smooth_demand_is_valid = true;
        EXPECT_EQ(impl.get_smooth_demand(1, 1, kRight), 2.0f);
        EXPECT_EQ(impl.get_smooth_demand(2, 2, kRight), 1.0f);  // the spare row and column
        EXPECT_FATAL(impl.get_smooth_demand(0, 0, kBadType), "type < m_smooth_demand_orig.size()");
        EXPECT_FATAL(impl.get_smooth_demand(3, 0, kRight), "m_smooth_demand_orig[type].get_num_rows() > x");
        EXPECT_FATAL(impl.get_smooth_demand(0, 3, kRight), "m_smooth_demand_orig[type].get_num_cols() > y");
    } else {
        EXPECT_FATAL(impl.get_smooth_demand(1, 1, kRight), "m_smooth_demand_smeared_new_is_valid");
        impl.m_smooth_demand_smeared_new_is_valid = true;
        EXPECT_EQ(impl.get_smooth_demand(1, 1, kRight), 3.0f);
        EXPECT_FATAL(impl.get_smooth_demand(0, 0, kBadType), "type < m_smooth_demand_smeared_new.size()");
        EXPECT_FATAL(impl.get_smooth_demand(2, 0, kRight), "m_smooth_demand_smeared_new[type].get_num_rows() > x");
        EXPECT_FATAL(impl.get_smooth_demand(0, 2, kRight), "m_smooth_demand_smeared_new[type].get_num_cols() > y");
    }
}

TEST(TotalDemand, SumsInRowMajorOrderInOneAccumulator)
{
    // 1e8 then 4 then 4: each 4 is lost to rounding; summing the two 4s
    // first would give 1e8 + 8.
    CONGESTION_IMPL impl(1, 3, nullptr);
    impl.m_demand[kRight](0, 0) = 1e8f;
    impl.m_demand[kRight](0, 1) = 4.0f;
    impl.m_demand[kRight](0, 2) = 4.0f;
    EXPECT_EQ(impl.get_total_demand(kRight), 1e8f);
    EXPECT_NE(1e8f + (4.0f + 4.0f), 1e8f);

    CONGESTION_IMPL wide(3, 1, nullptr);  // the same values down x
    wide.m_demand[kRight](0, 0) = 1e8f;
    wide.m_demand[kRight](1, 0) = 4.0f;
    wide.m_demand[kRight](2, 0) = 4.0f;
    EXPECT_EQ(wide.get_total_demand(kRight), 1e8f);
}

TEST(TotalDemand, EmptyGridIsZeroAndSizesAreChecked)
{
    const CONGESTION_IMPL empty(0, 4, nullptr);
    EXPECT_EQ(empty.get_total_demand(kRight), 0.0f);
    CONGESTION_IMPL impl(2, 2, nullptr);
    EXPECT_FATAL(impl.get_total_demand(kBadType), "type < m_demand.size()");
    impl.m_demand[kRight].resize(3, 2, 0.0f);
    EXPECT_FATAL(impl.get_total_demand(kRight), "m_demand[type].get_num_rows() == m_nx");
    impl.m_demand[kRight].resize(2, 3, 0.0f);
    EXPECT_FATAL(impl.get_total_demand(kRight), "m_demand[type].get_num_cols() == m_ny");
}

TEST(PublicQueries, ForwardThroughTheHandle)
{
    CONGESTION estimator(4, 4);
    EXPECT_EQ(estimator.get_demand(3, 3, CONGESTION::VERTICAL_DOWN), 0.0f);
    EXPECT_EQ(estimator.get_total_demand(CONGESTION::LAB_INPUT), 0.0f);
    EXPECT_EQ(estimator.get_util(0, 0, CONGESTION::HORIZONTAL_LEFT), 0.0f);
}

}  // namespace
