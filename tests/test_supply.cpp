// Tests of the supply model: the write-once rule, maxima and window averages.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "fitter/congestion/congestion_impl.h"
#include "engine_support.h"
#include "test_support.h"

namespace {

constexpr const char* kOverwrite = "Cannot use set_supply to overwrite supply.  Must use clear_supply() first";

// ---------------------------------------------------------------------------
// set_supply and get_supply
// ---------------------------------------------------------------------------

TEST(SetSupply, PositiveValueIsFinal)
{
    CONGESTION_IMPL impl(4, 5, nullptr);
    impl.set_supply(2, 3, kUp, 2.0f);
    EXPECT_FATAL(impl.set_supply(2, 3, kUp, 4.0f), kOverwrite);
    EXPECT_FATAL(impl.set_supply(2, 3, kUp, 0.0f), kOverwrite);
    // The same tile of another type is a separate entry.
    impl.set_supply(2, 3, kRight, 1.0f);
    EXPECT_EQ(impl.get_supply(2, 3, kUp), 2.0f);
    EXPECT_EQ(impl.get_supply(2, 3, kRight), 1.0f);
}

TEST(SetSupply, ZeroNegativeAndNanMayBeOverwritten)
{
    CONGESTION_IMPL impl(4, 5, nullptr);
    impl.set_supply(2, 3, kUp, 0.0f);
    impl.set_supply(2, 3, kUp, 6.0f);
    EXPECT_EQ(impl.get_supply(2, 3, kUp), 6.0f);

    impl.set_supply(0, 0, kUp, -2.0f);
    EXPECT_EQ(impl.get_supply(0, 0, kUp), -2.0f);
    impl.set_supply(0, 0, kUp, 1.5f);
    EXPECT_EQ(impl.get_supply(0, 0, kUp), 1.5f);

    impl.set_supply(1, 1, kUp, std::numeric_limits<float>::quiet_NaN());
    EXPECT_TRUE(std::isnan(impl.get_supply(1, 1, kUp)));
    impl.set_supply(1, 1, kUp, 3.0f);
    EXPECT_EQ(impl.get_supply(1, 1, kUp), 3.0f);
}

TEST(SetSupply, ChecksTypeThenRowThenColumn)
{
    CONGESTION_IMPL impl(4, 5, nullptr);
    EXPECT_FATAL(impl.set_supply(9, 9, kBadType, 1.0f), "type < m_supply.size()");
    EXPECT_FATAL(impl.set_supply(0, 0, kNegativeType, 1.0f), "type < m_supply.size()");
    EXPECT_FATAL(impl.set_supply(4, 9, kUp, 1.0f), "m_supply[type].get_num_rows() > x");
    EXPECT_FATAL(impl.set_supply(-1, 0, kUp, 1.0f), "m_supply[type].get_num_rows() > x");
    EXPECT_FATAL(impl.set_supply(0, 5, kUp, 1.0f), "m_supply[type].get_num_cols() > y");
    EXPECT_FATAL(impl.set_supply(0, -1, kUp, 1.0f), "m_supply[type].get_num_cols() > y");
}

TEST(GetSupply, ChecksLikeSetSupply)
{
    const CONGESTION_IMPL impl(4, 5, nullptr);
    EXPECT_FATAL(impl.get_supply(0, 0, kBadType), "type < m_supply.size()");
    EXPECT_FATAL(impl.get_supply(0, 0, kNegativeType), "type < m_supply.size()");
    EXPECT_FATAL(impl.get_supply(4, 0, kUp), "m_supply[type].get_num_rows() > x");
    EXPECT_FATAL(impl.get_supply(0, 5, kUp), "m_supply[type].get_num_cols() > y");
    EXPECT_FATAL(impl.get_supply(0, -1, kUp), "m_supply[type].get_num_cols() > y");
}

TEST(SetSupply, EveryCallMarksTheSmoothedSupplyStale)
{
    CONGESTION_IMPL impl(3, 3, nullptr);
    impl.m_smooth_supply_is_valid = true;
    impl.set_supply(0, 0, kUp, 1.0f);
    EXPECT_FALSE(impl.m_smooth_supply_is_valid);
    // Storing zero changes no value but still marks the state stale.
    impl.m_smooth_supply_is_valid = true;
    impl.set_supply(1, 1, kUp, 0.0f);
    EXPECT_FALSE(impl.m_smooth_supply_is_valid);
}

// ---------------------------------------------------------------------------
// get_max_supply
// ---------------------------------------------------------------------------

TEST(MaxSupply, KeepsTheLargestValuePerType)
{
    CONGESTION_IMPL impl(3, 3, nullptr);
    impl.set_supply(0, 0, kUp, 3.5f);
    impl.set_supply(1, 0, kUp, 7.5f);
    impl.set_supply(2, 0, kUp, 5.5f);
    EXPECT_EQ(impl.get_max_supply(kUp), 7.5f);
    EXPECT_EQ(impl.get_max_supply(kRight), 0.0f);

    impl.set_supply(0, 0, kRight, -3.0f);
    impl.set_supply(0, 1, kRight, -1.0f);
    EXPECT_EQ(impl.get_max_supply(kRight), 0.0f);
}

TEST(MaxSupply, NanReplacesTheMaximumAndIsReplacedByTheNextValue)
{
    CONGESTION_IMPL impl(3, 3, nullptr);
    impl.set_supply(0, 0, kUp, 4.0f);
    impl.set_supply(1, 0, kUp, std::numeric_limits<float>::quiet_NaN());
    EXPECT_TRUE(std::isnan(impl.get_max_supply(kUp)));
    impl.set_supply(2, 0, kUp, 1.0f);
    EXPECT_EQ(impl.get_max_supply(kUp), 1.0f);
}

TEST(MaxSupply, ConcurrentWritersOfDistinctTiles)
{
    constexpr int kSize = 24;
    constexpr int kWriters = 4;
    CONGESTION_IMPL impl(kSize, kSize, nullptr);
    impl.m_smooth_supply_is_valid = true;
    std::mt19937 random(1234);
    std::uniform_real_distribution<float> value(0.5f, 100.0f);
    std::vector<float> expected(kSize * kSize);
    for (float& v : expected)
        v = value(random);

    std::atomic<bool> writing{true};
    int decreases = 0;
    std::thread poller([&] {
        float last = 0.0f;
        while (writing.load()) {
            const float now = impl.get_max_supply(kUp);
            if (now < last)
                ++decreases;
            last = now;
        }
    });
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            for (int tile = w; tile < kSize * kSize; tile += kWriters)
                impl.set_supply(tile / kSize, tile % kSize, kUp, expected[tile]);
        });
    }
    for (std::thread& writer : writers)
        writer.join();
    writing = false;
    poller.join();

    EXPECT_EQ(decreases, 0);
    EXPECT_EQ(impl.get_max_supply(kUp), *std::max_element(expected.begin(), expected.end()));
    for (int tile = 0; tile < kSize * kSize; ++tile)
        ASSERT_EQ(impl.get_supply(tile / kSize, tile % kSize, kUp), expected[tile]) << "tile " << tile;
    EXPECT_FALSE(impl.m_smooth_supply_is_valid);
}

// ---------------------------------------------------------------------------
// get_avg_supply
// ---------------------------------------------------------------------------

// Sets every tile of `type` to a value from a fixed seed.
void set_random_supply(CONGESTION_IMPL& impl, CONGESTION::RESOURCE_TYPE type, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> value(1, 97);
    for (int x = 0; x < impl.m_nx; ++x)
        for (int y = 0; y < impl.m_ny; ++y)
            impl.set_supply(x, y, type, static_cast<float>(value(random)) * 0.125f);
}

// Mean of the supply over the inclusive rectangle, summed rows outer.
float mean(const CONGESTION_IMPL& impl, CONGESTION::RESOURCE_TYPE type, int x0, int x1, int y0, int y1)
{
    float sum = 0.0f;
    int count = 0;
    for (int x = x0; x <= x1; ++x) {
        for (int y = y0; y <= y1; ++y) {
            sum = sum + impl.m_supply[type](x, y);
            ++count;
        }
    }
    return sum / static_cast<float>(count);
}

TEST(AvgSupply, WholeGridSumsRowsOuterColumnsInner)
{
    //   y=1 | -1e8   1
    //   y=0 |  1e8   4
    //        x=0   x=1
    // Rows outer: 1e8 - 1e8 + 4 + 1 = 5; columns outer would lose the 4.
    CONGESTION_IMPL impl(2, 2, nullptr);
    impl.set_supply(0, 0, kUp, 1e8f);
    impl.set_supply(0, 1, kUp, -1e8f);
    impl.set_supply(1, 0, kUp, 4.0f);
    impl.set_supply(1, 1, kUp, 1.0f);
    EXPECT_EQ(impl.get_avg_supply(kUp, -1, -1, -1), 5.0f / 4.0f);
}

TEST(AvgSupply, EmptyOrZeroGridAveragesToZero)
{
    EXPECT_EQ(CONGESTION_IMPL(4, 3, nullptr).get_avg_supply(kUp, -1, -1, -1), 0.0f);
    EXPECT_EQ(CONGESTION_IMPL(0, 0, nullptr).get_avg_supply(kUp, -1, -1, -1), 0.0f);
    EXPECT_EQ(CONGESTION_IMPL(0, 0, nullptr).get_avg_supply(kUp, 0, 0, 3), 0.0f);
}

TEST(AvgSupply, WholeGridRequiresAllThreeMinusOnes)
{
    const CONGESTION_IMPL impl(3, 3, nullptr);
    EXPECT_FATAL(impl.get_avg_supply(kUp, -1, 0, -1), "y==-1");
    EXPECT_FATAL(impl.get_avg_supply(kUp, -1, 0, 3), "y==-1");
    EXPECT_FATAL(impl.get_avg_supply(kUp, -1, -1, 3), "window_size==-1");
    EXPECT_FATAL(impl.get_avg_supply(kBadType, 1, 1, 3), "type < m_supply.size()");
}

TEST(AvgSupply, WindowSizeGivesHalfWidthAtLeastOne)
{
    CONGESTION_IMPL impl(9, 9, nullptr);
    set_random_supply(impl, kUp, 7);
    const float three = mean(impl, kUp, 3, 5, 3, 5);
    const float five = mean(impl, kUp, 2, 6, 2, 6);
    ASSERT_NE(three, five);
    for (int window_size = -3; window_size <= 3; ++window_size)
        EXPECT_EQ(impl.get_avg_supply(kUp, 4, 4, window_size), three) << "window_size " << window_size;
    EXPECT_EQ(impl.get_avg_supply(kUp, 4, 4, 4), five);
    EXPECT_EQ(impl.get_avg_supply(kUp, 4, 4, 5), five);
}

TEST(AvgSupply, WindowSlidesInsideTheGridAtCorners)
{
    CONGESTION_IMPL impl(10, 10, nullptr);
    set_random_supply(impl, kUp, 11);
    EXPECT_EQ(impl.get_avg_supply(kUp, 0, 0, 3), mean(impl, kUp, 0, 2, 0, 2));
    EXPECT_EQ(impl.get_avg_supply(kUp, 9, 9, 3), mean(impl, kUp, 7, 9, 7, 9));
    EXPECT_EQ(impl.get_avg_supply(kUp, 0, 9, 3), mean(impl, kUp, 0, 2, 7, 9));
    EXPECT_EQ(impl.get_avg_supply(kUp, 9, 1, 4), mean(impl, kUp, 5, 9, 0, 4));
    // A centre off the grid slides in like one on the border.
    EXPECT_EQ(impl.get_avg_supply(kUp, -5, 12, 3), mean(impl, kUp, 0, 2, 7, 9));
}

TEST(AvgSupply, WindowWiderThanTheGridIsCutAtZero)
{
    // Two rows, eight columns, h = 2: rows 0..1 at any x, columns slide.
    CONGESTION_IMPL impl(2, 8, nullptr);
    set_random_supply(impl, kRight, 3);
    EXPECT_EQ(impl.get_avg_supply(kRight, 0, 4, 5), mean(impl, kRight, 0, 1, 2, 6));
    EXPECT_EQ(impl.get_avg_supply(kRight, 1, 0, 4), mean(impl, kRight, 0, 1, 0, 4));
    EXPECT_EQ(impl.get_avg_supply(kRight, 0, 7, 20), mean(impl, kRight, 0, 1, 0, 7));
}

TEST(PublicSupply, ForwardsThroughTheHandle)
{
    CONGESTION estimator(3, 3);
    estimator.set_supply(1, 2, CONGESTION::LAB_INPUT, 2.5f);
    EXPECT_EQ(estimator.get_supply(1, 2, CONGESTION::LAB_INPUT), 2.5f);
    EXPECT_EQ(estimator.get_max_supply(CONGESTION::LAB_INPUT), 2.5f);
    EXPECT_EQ(estimator.get_avg_supply(CONGESTION::LAB_INPUT, -1, -1, -1), 2.5f / 9.0f);
    EXPECT_FATAL(estimator.set_supply(1, 2, CONGESTION::LAB_INPUT, 1.0f), kOverwrite);
}

}  // namespace
