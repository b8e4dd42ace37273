// Tests of the congestion update through the netlist's compute_congestion.
#include <mutex>
#include <random>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "fitter/congestion/congestion_impl.h"
#include "engine_support.h"
#include "test_support.h"

namespace {

const char* const kSupplyMessage =
    "m_smooth_supply[type].get_num_rows() == m_nx && m_smooth_supply[type].get_num_cols() == m_ny";

// Random supply and demand from a fixed seed, the smoothed supply, and the
// wire demand smoothed by the algorithm in force.
void prepare(CONGESTION_IMPL& impl, unsigned seed)
{
    std::mt19937 rng(seed);
    for (CONGESTION::RESOURCE_TYPE type : WIRE_TYPES) {
        for (float& v : impl.m_supply[type])
            v = static_cast<float>(rng() % 9) / 4.0f;
        for (float& v : impl.m_demand[type])
            v = static_cast<float>(rng() % 33) / 8.0f;
    }
    impl.generate_smooth_supply(3, 2, WIRE_TYPES);
    impl.dispatch_smooth_demand(4, 3, false, WIRE_TYPES);
}

TEST(UpdateCongestion, PassesSmoothedDemandSupplyAndTypeInThatOrder)
{
    TEST_NETLIST netlist;
    CONGESTION_IMPL impl(6, 5, &netlist);
    prepare(impl, 7);
    netlist.congestion = [](float demand, float, CONGESTION::RESOURCE_TYPE) { return demand; };
    impl.update_congestion(false);
    for (CONGESTION::RESOURCE_TYPE type : WIRE_TYPES) {
        ASSERT_EQ(impl.m_congestion[type].get_num_rows(), 6);
        ASSERT_EQ(impl.m_congestion[type].get_num_cols(), 5);
        for (int x = 0; x < 6; ++x)
            for (int y = 0; y < 5; ++y)
                EXPECT_EQ(impl.m_congestion[type](x, y), impl.get_smooth_demand(x, y, type));
    }

    netlist.congestion = [](float, float supply, CONGESTION::RESOURCE_TYPE type) {
        return supply + 100.0f * static_cast<float>(type);
    };
    impl.update_congestion(false);
    for (CONGESTION::RESOURCE_TYPE type : WIRE_TYPES)
        for (int x = 0; x < 6; ++x)
            for (int y = 0; y < 5; ++y)
                EXPECT_EQ(impl.m_congestion[type](x, y), impl.m_smooth_supply[type](x, y) + 100.0f * type);
}

TEST(UpdateCongestion, VisitsTheWireTypesOneAfterAnother)
{
    TEST_NETLIST netlist;
    CONGESTION_IMPL impl(4, 3, &netlist);
    prepare(impl, 3);
    std::mutex mutex;
    std::vector<CONGESTION::RESOURCE_TYPE> seen;
    netlist.congestion = [&](float, float, CONGESTION::RESOURCE_TYPE type) {
        std::lock_guard<std::mutex> lock(mutex);
        seen.push_back(type);
        return 0.0f;
    };
    impl.update_congestion(false);
    ASSERT_EQ(seen.size(), 4u * 12u);
    for (size_t i = 0; i < seen.size(); ++i)
        EXPECT_EQ(seen[i], WIRE_TYPES[i / 12]) << i;
}

TEST(UpdateCongestion, BuildsWindowSumsOnlyWhenAskedAndLeavesLabInputAlone)
{
    TEST_NETLIST netlist;
    netlist.congestion = [](float, float, CONGESTION::RESOURCE_TYPE) { return 1.0f; };
    CONGESTION_IMPL impl(5, 4, &netlist);
    prepare(impl, 11);
    impl.m_congestion[kLab](2, 2) = 7.0f;
    impl.update_congestion(true);
    for (CONGESTION::RESOURCE_TYPE type : WIRE_TYPES)
        for (int x = 0; x < 5; ++x)
            for (int y = 0; y < 4; ++y)
                EXPECT_EQ(impl.m_congestion_down_left_sum[type](x, y), static_cast<float>((x + 1) * (y + 1)));

    // The previous tables do not survive a call without window sums.
    impl.update_congestion(false);
    for (CONGESTION::RESOURCE_TYPE type : WIRE_TYPES) {
        ASSERT_EQ(impl.m_congestion_down_left_sum[type].get_num_rows(), 5);
        ASSERT_EQ(impl.m_congestion_down_left_sum[type].get_num_cols(), 4);
        for (float v : impl.m_congestion_down_left_sum[type])
            EXPECT_EQ(v, 0.0f);
        EXPECT_EQ(impl.m_congestion[type](4, 3), 1.0f);
    }
    EXPECT_EQ(impl.m_congestion[kLab](2, 2), 7.0f);
    EXPECT_EQ(impl.m_congestion_down_left_sum[kLab].get_num_rows(), 0);
}

TEST(UpdateCongestion, GridsWithoutTilesMakeNoCallAndNeedNoInterface)
{
    for (const auto& size : {std::pair<int, int>{0, 3}, std::pair<int, int>{3, 0}}) {
        CONGESTION_IMPL impl(size.first, size.second, nullptr);
        impl.update_congestion(true);
        for (CONGESTION::RESOURCE_TYPE type : WIRE_TYPES) {
            EXPECT_EQ(impl.m_congestion[type].get_num_rows(), size.first);
            EXPECT_EQ(impl.m_congestion_down_left_sum[type].get_num_cols(), size.second);
        }
    }
}

TEST(UpdateCongestion, StopsAtTheFirstReadWhenTheWireDemandIsNotSmoothed)
{
    TEST_NETLIST netlist;
    CONGESTION_IMPL impl(3, 3, &netlist);
    // The smoothing check comes first, even with no supply or interface.
    CONGESTION_IMPL bare(3, 3, nullptr);
    if (original_algorithm_in_force()) {
        impl.generate_smooth_supply(3, 3, WIRE_TYPES);
        impl.generate_smooth_demand(3, 3, kRight);
        EXPECT_FATAL(impl.update_congestion(false), "m_smooth_demand_is_valid");
        EXPECT_FATAL(bare.update_congestion(false), "m_smooth_demand_is_valid");
    } else {
        EXPECT_FATAL(impl.update_congestion(false), "m_smooth_demand_smeared_new_is_valid");
        EXPECT_FATAL(bare.update_congestion(false), "m_smooth_demand_smeared_new_is_valid");
    }
}

TEST(UpdateCongestion, RefusesAMissingSmoothedSupplyOrInterface)
{
    TEST_NETLIST netlist;
    CONGESTION_IMPL impl(3, 3, &netlist);
    impl.dispatch_smooth_demand(3, 3, true, WIRE_TYPES);
    EXPECT_FATAL(impl.update_congestion(false), kSupplyMessage);
    impl.generate_smooth_supply(3, 3, {kRight, CONGESTION::HORIZONTAL_LEFT});
    EXPECT_FATAL(impl.update_congestion(false), kSupplyMessage);
    impl.generate_smooth_supply(3, 3, WIRE_TYPES);
    impl.update_congestion(false);

    CONGESTION_IMPL orphan(3, 3, nullptr);
    orphan.generate_smooth_supply(3, 3, WIRE_TYPES);
    orphan.dispatch_smooth_demand(3, 3, true, WIRE_TYPES);
    EXPECT_FATAL(orphan.update_congestion(true), "m_net_if != nullptr");
}

}  // namespace
