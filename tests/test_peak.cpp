// Tests of the peak utilization search.
#include <random>
#include <string>
#include <utility>

#include <gtest/gtest.h>
#include <tbb/global_control.h>

#include "fitter/congestion/congestion_impl.h"
#include "engine_support.h"
#include "test_support.h"

namespace {

using PEAK = std::pair<float, CONGESTION::LOC>;

// Supply (a fifth of the tiles without any) and demand from a fixed seed.
void fill_random_inputs(CONGESTION_IMPL& impl, unsigned seed)
{
    std::mt19937 rng(seed);
    for (int type = 0; type < CONGESTION::NUM_RESOURCE_TYPES; ++type) {
        for (float& v : impl.m_supply[type])
            v = static_cast<float>(static_cast<int>(rng() % 20) - 4) / 4.0f;
        for (float& v : impl.m_demand[type])
            v = static_cast<float>(static_cast<int>(rng() % 50) - 5) / 8.0f;
    }
}

void expect_peak(const PEAK& peak, float util, int x, int y)
{
    EXPECT_EQ(peak.first, util);
    EXPECT_EQ(peak.second.x, x);
    EXPECT_EQ(peak.second.y, y);
}

// The expected peak, scanned in row-major order over the grid that the
// original single-type smoothing produces.
PEAK scan_smoothed(const CONGESTION_IMPL& impl, CONGESTION::RESOURCE_TYPE type)
{
    PEAK best(-1.0f, CONGESTION::LOC{-1, -1});
    for (int x = 0; x < impl.m_nx; ++x)
        for (int y = 0; y < impl.m_ny; ++y) {
            const float supply = impl.m_supply[type](x, y);
            const float util = supply > 0.0f ? impl.m_smooth_demand_orig[type](x, y) / supply : 0.0f;
            if (util > best.first)
                best = {util, CONGESTION::LOC{x, y}};
        }
    return best;
}

TEST(PeakUtilization, IsTheOriginalSmoothingOverSupplyWhateverTheSwitch)
{
    for (int dim : {0, 1, 2, 3, 4, 5}) {
        CONGESTION_IMPL impl(9, 7, nullptr);
        fill_random_inputs(impl, 13);
        const PEAK before = impl.get_peak_utilization(dim, kUp, false);
        impl.generate_smooth_demand(dim, dim, kUp);
        const PEAK expected = scan_smoothed(impl, kUp);
        ASSERT_GT(expected.first, 0.0f);
        expect_peak(before, expected.first, expected.second.x, expected.second.y);
        const PEAK after = impl.get_peak_utilization(dim, kUp, false);
        expect_peak(after, expected.first, expected.second.x, expected.second.y);
    }
}

TEST(PeakUtilization, TiesGoToTheFirstTileInRowMajorOrder)
{
    CONGESTION_IMPL impl(8, 10, nullptr);
    fill(impl.m_supply[kLeft], 2.0f);
    impl.m_demand[kLeft](3, 7) = 3.0f;
    impl.m_demand[kLeft](3, 2) = 3.0f;
    expect_peak(impl.get_peak_utilization(1, kLeft, false), 1.5f, 3, 2);
    impl.m_demand[kLeft](2, 9) = 3.0f;
    impl.m_demand[kLeft](3, 0) = 3.0f;
    expect_peak(impl.get_peak_utilization(1, kLeft, false), 1.5f, 2, 9);
}

TEST(PeakUtilization, DegenerateInputs)
{
    CONGESTION_IMPL no_supply(4, 3, nullptr);
    fill(no_supply.m_demand[kLeft], 5.0f);
    expect_peak(no_supply.get_peak_utilization(3, kLeft, false), 0.0f, 0, 0);

    expect_peak(CONGESTION_IMPL(0, 4, nullptr).get_peak_utilization(3, kLeft, false), -1.0f, -1, -1);
    expect_peak(CONGESTION_IMPL(4, 0, nullptr).get_peak_utilization(3, kLeft, false), -1.0f, -1, -1);

    CONGESTION_IMPL impl(5, 5, nullptr);
    fill_random_inputs(impl, 2);
    expect_peak(impl.get_peak_utilization(-2, kLeft, false), 0.0f, 0, 0);  // every window empty
    const PEAK one = impl.get_peak_utilization(1, kLeft, false);
    const PEAK zero = impl.get_peak_utilization(0, kLeft, false);
    expect_peak(zero, one.first, one.second.x, one.second.y);
}

TEST(PeakUtilization, LeavesTheObjectUnchanged)
{
    CONGESTION_IMPL impl(6, 6, nullptr);
    fill_random_inputs(impl, 4);
    impl.m_smooth_demand_smeared_new[kUp](1, 1) = 9.0f;
    const unsigned long long cookie = impl.get_cookie();
    (void)impl.get_peak_utilization(3, kUp, false);
    EXPECT_EQ(impl.get_cookie(), cookie);
    EXPECT_EQ(impl.m_smooth_demand_smeared_new[kUp](1, 1), 9.0f);
    EXPECT_EQ(impl.m_smooth_demand_orig[kUp].get_num_rows(), 6);
    EXPECT_FALSE(impl.m_smooth_demand_smeared_new_is_valid);
}

TEST(PeakUtilization, SameResultForAnyThreadCountAndForSurplusChunks)
{
    CONGESTION_IMPL impl(7, 9, nullptr);
    fill_random_inputs(impl, 31);
    const PEAK many_threads = impl.get_peak_utilization(4, kLeft, false);
    {
        tbb::global_control single(tbb::global_control::max_allowed_parallelism, 1);
        const PEAK one_thread = impl.get_peak_utilization(4, kLeft, false);
        expect_peak(one_thread, many_threads.first, many_threads.second.x, many_threads.second.y);
    }
    impl.set_num_chunks(7);
    const PEAK seven = impl.get_peak_utilization(4, kLeft, false);
    impl.set_num_chunks(50);
    expect_peak(impl.get_peak_utilization(4, kLeft, false), seven.first, seven.second.x, seven.second.y);
}

// 3 by 3, dim 1, supply 2 everywhere:
//   y=2 | 0 0 2      row bests: x=0 0.5 at y=1, x=1 1.5 at y=0, x=2 1.0
//   y=1 | 1 0 0      the scan improves at x=0 and x=1 only
//   y=0 | 0 3 0
//        x=0 1 2
TEST(PeakUtilization, DebugNarratesEveryImprovementOnStandardOutput)
{
    CONGESTION_IMPL impl(3, 3, nullptr);
    fill(impl.m_supply[kUp], 2.0f);
    impl.m_demand[kUp](0, 1) = 1.0f;
    impl.m_demand[kUp](1, 0) = 3.0f;
    impl.m_demand[kUp](2, 2) = 2.0f;
    testing::internal::CaptureStdout();
    const PEAK peak = impl.get_peak_utilization(1, kUp, true);
    const std::string narrated = testing::internal::GetCapturedStdout();
    expect_peak(peak, 1.5f, 1, 0);
    EXPECT_EQ(narrated,
              "Getting peak utilization for type Vertical Up with dim 1\n"
              "Found new peak at (0,1) with smooth_demand=1 and m_supply=2 for util=0.5\n"
              "Found new peak at (1,0) with smooth_demand=3 and m_supply=2 for util=1.5\n");

    testing::internal::CaptureStdout();
    (void)impl.get_peak_utilization(1, kUp, false);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(PeakUtilization, RejectsAnUnknownType)
{
    CONGESTION_IMPL impl(3, 3, nullptr);
    const auto bad = static_cast<CONGESTION::RESOURCE_TYPE>(5);
    EXPECT_FATAL(impl.get_peak_utilization(3, bad, false), "type < m_supply.size()");
    EXPECT_FATAL(impl.get_peak_utilization(3, static_cast<CONGESTION::RESOURCE_TYPE>(-1), false),
                 "type < m_supply.size()");
    EXPECT_FATAL(impl.get_peak_utilization(3, bad, true), "Invalid resource type in get_string_for_resource_type");
}

}  // namespace
