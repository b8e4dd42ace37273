// Tests of the new (share, table, gather) smoothing and the smoothed supply.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>
#include <tbb/global_control.h>

#include "fitter/congestion/congestion_impl.h"
#include "engine_support.h"
#include "test_support.h"

namespace {


void fill_wire_supply(CONGESTION_IMPL& impl, float value)
{
    for (CONGESTION::RESOURCE_TYPE type : WIRE_TYPES)
        fill(impl.m_supply[type], value);
}

float grid_total(const GRID_2D<float>& grid)
{
    float total = 0.0f;
    for (float v : grid)
        total = total + v;
    return total;
}

// ---------------------------------------------------------------------------
// Smeared demand
// ---------------------------------------------------------------------------

// 3 by 3, supply 1 everywhere, demand 9 at (1, 1), a horizontal type:
//   sizes 3: 1.0 everywhere    sizes 2: the window reaches towards higher
//                               coordinates, x 1..2 by y 1..2, 2.25 each
TEST(SmearedDemand, WorkedExample)
{
    CONGESTION_IMPL impl(3, 3, nullptr);
    fill_wire_supply(impl, 1.0f);
    impl.m_demand[kRight](1, 1) = 9.0f;
    impl.generate_smooth_supply(3, 3, WIRE_TYPES);
    impl.generate_smooth_demand_smeared_new(3, 3, false, {kRight});
    for (float v : impl.m_smooth_demand_smeared_new[kRight])
        EXPECT_EQ(v, 1.0f);
    EXPECT_TRUE(impl.m_smooth_demand_smeared_new_is_valid);
    EXPECT_FALSE(impl.m_smooth_demand_is_valid);

    impl.generate_smooth_demand_smeared_new(2, 2, false, {kRight});
    const GRID_2D<float>& smooth = impl.m_smooth_demand_smeared_new[kRight];
    ASSERT_EQ(smooth.get_num_rows(), 3);
    ASSERT_EQ(smooth.get_num_cols(), 3);
    for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 3; ++y)
            EXPECT_EQ(smooth(x, y), (x >= 1 && y >= 1) ? 2.25f : 0.0f) << x << "," << y;
}

TEST(SmearedDemand, ParallelSizeRunsAlongTheTypesDirection)
{
    CONGESTION_IMPL impl(7, 7, nullptr);
    for (CONGESTION::RESOURCE_TYPE type : {kLeft, kUp, kLab})
        impl.m_demand[type](3, 3) = 5.0f;
    impl.generate_smooth_demand_smeared_new(5, 1, true, {kLeft, kUp, kLab});
    for (int x = 0; x < 7; ++x)
        for (int y = 0; y < 7; ++y) {
            const bool on_row = y == 3 && x >= 1 && x <= 5;
            const bool on_column = x == 3 && y >= 1 && y <= 5;
            EXPECT_EQ(impl.m_smooth_demand_smeared_new[kLeft](x, y), on_row ? 1.0f : 0.0f);
            EXPECT_EQ(impl.m_smooth_demand_smeared_new[kUp](x, y), on_column ? 1.0f : 0.0f);
            EXPECT_EQ(impl.m_smooth_demand_smeared_new[kLab](x, y), on_column ? 1.0f : 0.0f);
        }
}

// With uniform set, the gather gives what scattering every share over its
// window would give: checked against a direct scatter in double precision.
TEST(SmearedDemand, UniformGatherEqualsADirectScatterAndConservesDemand)
{
    const int nx = 9, ny = 7;
    CONGESTION_IMPL impl(nx, ny, nullptr);
    std::mt19937 rng(17);
    fill_random(impl.m_demand[kRight], rng, -40, 80);
    fill_random(impl.m_demand[kDown], rng, -40, 80);
    impl.generate_smooth_demand_smeared_new(4, 3, true, {kRight, kDown});
    for (CONGESTION::RESOURCE_TYPE type : {kRight, kDown}) {
        // Source window: larger extent towards higher coordinates.
        const int x_size = type == kRight ? 4 : 3, y_size = type == kRight ? 3 : 4;
        const int x_below = (x_size - 1) / 2, x_above = x_size - 1 - x_below;
        const int y_below = (y_size - 1) / 2, y_above = y_size - 1 - y_below;
        std::vector<double> expected(nx * ny, 0.0);
        double total = 0.0;
        for (int sx = 0; sx < nx; ++sx)
            for (int sy = 0; sy < ny; ++sy) {
                const int x0 = std::max(sx - x_below, 0), x1 = std::min(sx + x_above, nx - 1);
                const int y0 = std::max(sy - y_below, 0), y1 = std::min(sy + y_above, ny - 1);
                const double demand = impl.m_demand[type](sx, sy);
                total += demand;
                for (int x = x0; x <= x1; ++x)
                    for (int y = y0; y <= y1; ++y)
                        expected[x * ny + y] += demand / ((x1 - x0 + 1) * (y1 - y0 + 1));
            }
        for (int x = 0; x < nx; ++x)
            for (int y = 0; y < ny; ++y)
                EXPECT_NEAR(impl.m_smooth_demand_smeared_new[type](x, y), expected[x * ny + y], 1e-4)
                    << type << " " << x << "," << y;
        EXPECT_NEAR(grid_total(impl.m_smooth_demand_smeared_new[type]), total, 1e-5 * std::fabs(total));
    }
}

TEST(SmearedDemand, UniformSpreadsNegativeDemandOverTheClippedWindow)
{
    CONGESTION_IMPL impl(3, 3, nullptr);
    impl.m_demand[kUp](2, 2) = -4.0f;  // window 1..2 by 1..2 at the corner
    impl.generate_smooth_demand_smeared_new(3, 3, true, {kUp});
    for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 3; ++y)
            EXPECT_EQ(impl.m_smooth_demand_smeared_new[kUp](x, y), (x >= 1 && y >= 1) ? -1.0f : 0.0f);
}

// Supply-weighted counting: 4 by 1 grid, sizes (3, 1) along x.
//   x:               0    1    2    3
//   Right supply     1    0    1    0
//   Left supply      0    1    0    0     tile 3 is empty (Lab Input only)
//   demand (Right)   6    0    0    5
// Share of 0: window 0..1, two non-empty tiles, 3 each; tile 1 has no Right
// supply and ends at 0.0. Tile 3's window 2..3 has one non-empty tile: 5.
TEST(SmearedDemand, CountsNonEmptyTilesAndZeroesTilesWithoutSupply)
{
    CONGESTION_IMPL impl(4, 1, nullptr);
    impl.m_supply[kRight](0, 0) = 1.0f;
    impl.m_supply[kRight](2, 0) = 1.0f;
    impl.m_supply[kLeft](1, 0) = 1.0f;
    impl.m_supply[kLab](3, 0) = 1.0f;
    impl.m_demand[kRight](0, 0) = 6.0f;
    impl.m_demand[kRight](3, 0) = 5.0f;
    impl.generate_smooth_supply(3, 1, WIRE_TYPES);
    impl.generate_smooth_demand_smeared_new(3, 1, false, {kRight});
    const GRID_2D<float>& smooth = impl.m_smooth_demand_smeared_new[kRight];
    EXPECT_EQ(smooth(0, 0), 3.0f);
    EXPECT_EQ(smooth(1, 0), 0.0f);
    EXPECT_EQ(smooth(2, 0), 5.0f);
    EXPECT_EQ(smooth(3, 0), 0.0f);

    // A window without any non-empty tile drops its demand.
    CONGESTION_IMPL lonely(4, 1, nullptr);
    lonely.m_supply[kRight](0, 0) = 1.0f;
    lonely.m_supply[kLab](3, 0) = 1.0f;
    lonely.m_demand[kRight](3, 0) = 5.0f;
    lonely.generate_smooth_supply(3, 1, WIRE_TYPES);
    lonely.generate_smooth_demand_smeared_new(3, 1, false, {kRight});
    EXPECT_EQ(grid_total(lonely.m_smooth_demand_smeared_new[kRight]), 0.0f);
}

TEST(SmearedDemand, CallsAndListsThatChangeNothingStillSetTheFlag)
{
    CONGESTION_IMPL impl(4, 4, nullptr);
    impl.m_smooth_demand_smeared_new[kLab](0, 0) = 7.0f;
    impl.generate_smooth_demand_smeared_new(3, 3, false, {});
    EXPECT_TRUE(impl.m_smooth_demand_smeared_new_is_valid);
    EXPECT_EQ(impl.m_smooth_demand_smeared_new[kLab](0, 0), 7.0f);

    CONGESTION_IMPL no_rows(0, 4, nullptr);
    no_rows.generate_smooth_demand_smeared_new(3, 3, true, WIRE_TYPES);
    EXPECT_TRUE(no_rows.m_smooth_demand_smeared_new_is_valid);
    EXPECT_EQ(no_rows.m_smooth_demand_smeared_new[kRight].get_num_rows(), 0);

    CONGESTION_IMPL no_columns(3, 0, nullptr);
    EXPECT_FATAL(no_columns.generate_smooth_demand_smeared_new(3, 3, true, {kRight}), "in_bounds(irow, icol)");
}

TEST(SmearedDemand, NeedsTheNonEmptyTableAndNonNegativeSizes)
{
    CONGESTION_IMPL impl(3, 3, nullptr);
    EXPECT_FATAL(impl.generate_smooth_demand_smeared_new(3, 3, false, {kRight}),
                 "down_left_sum.get_num_rows() > xmax");
    EXPECT_FATAL(impl.generate_smooth_demand_smeared_new(-1, 3, true, {kRight}), "xmin <= xmax");
    EXPECT_FATAL(impl.generate_smooth_demand_smeared_new(3, -2, true, {kRight}), "ymin <= ymax");
}

TEST(SmearedDemand, RepeatsAndThreadCountsGiveTheSameGrids)
{
    CONGESTION_IMPL impl(8, 6, nullptr);
    std::mt19937 rng(29);
    for (CONGESTION::RESOURCE_TYPE type : WIRE_TYPES) {
        fill_random(impl.m_supply[type], rng, -10, 30);
        fill_random(impl.m_demand[type], rng, -10, 60);
    }
    impl.generate_smooth_supply(3, 2, WIRE_TYPES);
    impl.generate_smooth_demand_smeared_new(4, 3, false, WIRE_TYPES);
    const TYPE_GRIDS many_threads = impl.m_smooth_demand_smeared_new;
    {
        tbb::global_control single(tbb::global_control::max_allowed_parallelism, 1);
        impl.generate_smooth_demand_smeared_new(4, 3, false, {kUp, kLeft, kUp, kRight, kDown});
    }
    for (CONGESTION::RESOURCE_TYPE type : WIRE_TYPES)
        EXPECT_TRUE(same_grid(impl.m_smooth_demand_smeared_new[type], many_threads[type])) << type;
}

// ---------------------------------------------------------------------------
// Smoothed supply and the non-empty table
// ---------------------------------------------------------------------------

// The gather and the share step answer every tile with exactly what the
// window query gives for that tile's clipped window, whatever the sizes
// (even, odd, wider than the grid). The table holds arbitrary values, not a
// real summed-area table, so that any change in the order of the four reads
// would show in the last bits.
TEST(SmearedDemand, GatherAndSharesMatchTheWindowQueryTileByTile)
{
    const int nx = 13;
    const int ny = 37;
    CONGESTION_IMPL impl(nx, ny, nullptr);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> value(-50.0f, 1000.0f);
    GRID_2D<float> table;
    table.resize(nx, ny, 0.0f);
    for (float& v : table)
        v = value(rng);
    fill_random(impl.m_supply[kRight], rng, -2, 6);
    fill_random(impl.m_demand[kRight], rng, -8, 40);
    impl.m_non_empty_down_left_sum.resize(nx, ny, 0u);
    for (unsigned& v : impl.m_non_empty_down_left_sum)
        v = rng() % 7;

    for (const auto& [x_size, y_size] : {std::pair{3, 5}, {2, 4}, {1, 1}, {6, 50}, {40, 2}, {0, 9}}) {
        const WINDOW_EXTENTS xe = split_window(x_size);
        const WINDOW_EXTENTS ye = split_window(y_size);
        GRID_2D<float> average, masked, shares;
        impl.gather_from_window(x_size, y_size, impl.m_supply[kRight], table, average, false, false);
        impl.gather_from_window(x_size, y_size, impl.m_supply[kRight], table, masked, true, true);
        impl.compute_demand_shares(x_size, y_size, impl.m_demand[kRight], shares, true);
        for (int x = 0; x < nx; ++x) {
            for (int y = 0; y < ny; ++y) {
                // Receiving window: larger extent towards lower coordinates.
                const int xmin = std::max(x - xe.low, 0), xmax = std::min(x + xe.high, nx - 1);
                const int ymin = std::max(y - ye.low, 0), ymax = std::min(y + ye.high, ny - 1);
                const float sum = get_window_sum(table, xmin, xmax, ymin, ymax);
                EXPECT_EQ(average(x, y), sum / static_cast<float>((ymax - ymin + 1) * (xmax - xmin + 1)))
                    << x_size << "," << y_size << " at " << x << "," << y;
                EXPECT_EQ(masked(x, y), impl.m_supply[kRight](x, y) > 0.0f ? sum : 0.0f);
                // Source window: larger extent towards higher coordinates.
                const int x0 = std::max(x - xe.high, 0), x1 = std::min(x + xe.low, nx - 1);
                const int y0 = std::max(y - ye.high, 0), y1 = std::min(y + ye.low, ny - 1);
                const int count = impl.get_num_non_empty_in_window(x0, x1, y0, y1);
                const float demand = impl.m_demand[kRight](x, y);
                EXPECT_EQ(shares(x, y), count > 0 ? demand / static_cast<float>(count) : 0.0f);
            }
        }
    }
}

TEST(SmoothSupply, ConstantSupplyStaysConstantAtEdgesAndCorners)
{
    CONGESTION_IMPL impl(5, 7, nullptr);
    fill_wire_supply(impl, 4.0f);
    impl.m_smooth_supply_is_valid = false;
    impl.generate_smooth_supply(4, 3, WIRE_TYPES);
    EXPECT_TRUE(impl.m_smooth_supply_is_valid);
    for (CONGESTION::RESOURCE_TYPE type : WIRE_TYPES) {
        const GRID_2D<float>& smooth = impl.m_smooth_supply[type];
        ASSERT_EQ(smooth.get_num_rows(), 5);
        ASSERT_EQ(smooth.get_num_cols(), 7);
        for (float v : smooth)
            EXPECT_EQ(v, 4.0f);
        EXPECT_EQ(impl.m_supply_down_left_sum[type](4, 6), 140.0f);
    }
    EXPECT_EQ(impl.m_smooth_supply[kLab].get_num_rows(), 0);
    EXPECT_EQ(impl.m_supply_down_left_sum[kLab].get_num_rows(), 0);
}

// Supply 8 at (2, 2) of a 5 by 5 grid, sizes (2, 1): the averaging window
// reaches towards lower coordinates, so the tile one step higher along the
// parallel direction sees it too: (3, 2) for horizontal types, (2, 3) for
// vertical ones, each 8 / 2.
TEST(SmoothSupply, EvenWindowsAreOrientedAndReachTowardsLowerCoordinates)
{
    CONGESTION_IMPL impl(5, 5, nullptr);
    for (CONGESTION::RESOURCE_TYPE type : WIRE_TYPES)
        impl.m_supply[type](2, 2) = 8.0f;
    impl.generate_smooth_supply(2, 1, WIRE_TYPES);
    for (int x = 0; x < 5; ++x)
        for (int y = 0; y < 5; ++y) {
            const bool horizontal_hit = y == 2 && (x == 2 || x == 3);
            const bool vertical_hit = x == 2 && (y == 2 || y == 3);
            EXPECT_EQ(impl.m_smooth_supply[kLeft](x, y), horizontal_hit ? 4.0f : 0.0f) << x << "," << y;
            EXPECT_EQ(impl.m_smooth_supply[kRight](x, y), horizontal_hit ? 4.0f : 0.0f) << x << "," << y;
            EXPECT_EQ(impl.m_smooth_supply[kUp](x, y), vertical_hit ? 4.0f : 0.0f) << x << "," << y;
            EXPECT_EQ(impl.m_smooth_supply[kDown](x, y), vertical_hit ? 4.0f : 0.0f) << x << "," << y;
        }
}

// Non-empty tiles, whatever list of types is smoothed:
//   y=1 | .  L  W        W: wire supply (two types at (2, 1))
//   y=0 | W  .  W        L: Lab Input supply only
//        x=0 1  2
TEST(SmoothSupply, CountsTilesWithWireSupplyOnce)
{
    CONGESTION_IMPL impl(3, 2, nullptr);
    impl.m_supply[kRight](0, 0) = 1.0f;
    impl.m_supply[kDown](2, 0) = 2.0f;
    impl.m_supply[kUp](2, 1) = 1.0f;
    impl.m_supply[kLeft](2, 1) = 1.0f;
    impl.m_supply[kLab](1, 1) = 5.0f;
    impl.m_supply[kRight](1, 0) = -1.0f;
    impl.generate_smooth_supply(1, 1, {kLeft});
    const GRID_2D<unsigned>& table = impl.m_non_empty_down_left_sum;
    EXPECT_EQ(get_window_sum(table, 0, 2, 0, 1), 3u);
    EXPECT_EQ(get_window_sum(table, 1, 1, 0, 1), 0u);
    EXPECT_EQ(get_window_sum(table, 2, 2, 1, 1), 1u);
    EXPECT_EQ(impl.m_smooth_supply[kLeft].get_num_rows(), 3);
    EXPECT_EQ(impl.m_smooth_supply[kRight].get_num_rows(), 0);
}

TEST(SmoothSupply, RejectsGridsWithoutTiles)
{
    CONGESTION_IMPL no_rows(0, 3, nullptr);
    EXPECT_FATAL(no_rows.generate_smooth_supply(3, 3, WIRE_TYPES), "m_nx > 0 && m_ny > 0");
    CONGESTION_IMPL no_columns(3, 0, nullptr);
    EXPECT_FATAL(no_columns.generate_smooth_supply(3, 3, WIRE_TYPES), "in_bounds(irow, icol)");
    CONGESTION_IMPL impl(3, 3, nullptr);
    EXPECT_FATAL(impl.generate_smooth_supply(-1, 3, WIRE_TYPES), "xmin <= xmax");
}

}  // namespace
