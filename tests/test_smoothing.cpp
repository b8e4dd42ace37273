// Tests of both smoothing algorithms, the smoothed supply, the congestion
// update and the peak search.
#include <algorithm>
#include <cmath>
#include <mutex>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engine_support.h"
#include "test_support.h"

namespace {

using PEAK = std::pair<float, CONGESTION::LOC>;

// Expects `expected(x, y)` at every tile of the nx by ny corner of `grid`.
template <typename EXPECTED>
void expect_grid(const GRID_2D<float>& grid, int nx, int ny, EXPECTED expected)
{
    for (int x = 0; x < nx; ++x)
        for (int y = 0; y < ny; ++y)
            EXPECT_EQ(grid(x, y), expected(x, y)) << x << "," << y;
}

// --- Original algorithm: spread in proportion to supply, or uniformly --------

// The supply-weighted spread, gathered per destination row, against the
// kernel's scatter of each chunk into a grid of its own added in chunk order:
// grids thinner and wider than a vector, windows larger than the grid, empty
// windows, more chunks than rows and none; supply with holes and a few
// negative tiles, demand with zeros and negatives.
TEST(OriginalSmoothing, RowGatherEqualsTheChunkScatterBitForBit)
{
    std::mt19937 random(20261206);
    for (const auto& shape : {std::pair{1, 1}, {1, 23}, {19, 1}, {37, 29}, {12, 70}}) {
        const int nx = shape.first, ny = shape.second;
        GRID_2D<float> supply, demand;
        supply.resize(nx, ny, 0.0f);
        demand.resize(nx, ny, 0.0f);
        for (float& value : supply)
            value = random() % 4 == 0 ? 0.0f : static_cast<float>(static_cast<int>(random() % 90) - 5) * 0.1f;
        for (float& value : demand)
            value = random() % 3 == 0 ? 0.0f : static_cast<float>(static_cast<int>(random() % 70) - 10) * 0.3f;
        for (const int chunks : {0, 1, 3, 16, 50})
            for (const auto& [x_size, y_size] : {std::pair{3, 3}, {1, 4}, {6, 2}, {0, 5}, {-1, 3}, {40, 90}}) {
                const WINDOW_EXTENTS x_extents = split_window(x_size);
                const WINDOW_EXTENTS y_extents = split_window(y_size);
                GRID_2D<float> expected, smooth;
                expected.resize(nx + 1, ny + 1, 0.0f);
                smooth.resize(nx + 1, ny + 1, 0.0f);
                const auto scatter = [&](int x_start, int x_end, GRID_2D<float>& grid) {
                    spread_demand_by_supply(x_extents.low, x_extents.high, y_extents.low, y_extents.high, x_start,
                                            x_end, ny - 1, supply, demand, grid);
                };
                merge_chunk_grids(run_in_row_chunks(nx, ny, chunks, scatter), nx, ny, expected);
                spread_in_chunks(nx, ny, chunks, x_extents, y_extents, supply, demand, smooth);
                EXPECT_TRUE(same_grid(smooth, expected))
                    << nx << " x " << ny << ", " << chunks << " chunks, window " << x_size << " x " << y_size;
            }
    }
}

// 3 by 3, demand 9 at (1, 1), both windows 3:
//   supply 1 everywhere            supply 0 at (0, 0)
//   y=2 | 1 1 1                    y=2 | 1.125 1.125 1.125
//   y=1 | 1 1 1                    y=1 | 1.125 1.125 1.125
//   y=0 | 1 1 1                    y=0 | 0     1.125 1.125
TEST(OriginalSmoothing, SharesDemandInProportionToSupply)
{
    CONGESTION_IMPL impl(3, 3, nullptr);
    fill(PEER::supply(impl)[kUp], 1.0f);
    PEER::demand(impl)[kUp](1, 1) = 9.0f;
    PEER::demand(impl)[kUp](2, 2) = -3.0f;  // never spread
    impl.generate_smooth_demand(3, 3, kUp);
    const GRID_2D<float>& smooth = PEER::smooth_demand_orig(impl)[kUp];
    ASSERT_EQ(smooth.get_num_rows(), 4);
    expect_grid(smooth, 4, 4, [](int x, int y) { return x < 3 && y < 3 ? 1.0f : 0.0f; });
    PEER::supply(impl)[kUp](0, 0) = 0.0f;
    impl.generate_smooth_demand(3, 3, kUp);
    expect_grid(smooth, 3, 3, [](int x, int y) { return x + y == 0 ? 0.0f : 1.125f; });

    // Even windows reach one tile further towards lower coordinates, and
    // parallel runs along x for every type: window x 1..4 by y 2..3.
    CONGESTION_IMPL even(6, 6, nullptr);
    fill(PEER::supply(even)[kUp], 1.0f);
    PEER::demand(even)[kUp](3, 3) = 8.0f;
    even.generate_smooth_demand(4, 2, kUp);
    expect_grid(PEER::smooth_demand_orig(even)[kUp], 6, 6,
                [](int x, int y) { return x >= 1 && x <= 4 && y >= 2 && y <= 3 ? 1.0f : 0.0f; });

    // The uniform pass spreads negative demand too.
    PEER::demand(impl)[kUp](1, 1) = 0.0f;
    PEER::demand(impl)[kUp](2, 2) = -4.0f;
    impl.generate_smooth_wire_demand(3, 3, true);
    expect_grid(PEER::smooth_demand_orig(impl)[kUp], 3, 3, [](int x, int y) { return x && y ? -1.0f : 0.0f; });
}

// The uniform pass adds its chunks' grids into the smoothed demand whole,
// their extra row nx too, where the differences leave their rounding (which
// get_smooth_demand(nx, y) answers under the original algorithm): against
// the kernel's chunk grids added here.
TEST(OriginalSmoothing, UniformPassKeepsItsRoundingResidueInTheExtraRow)
{
    constexpr int NX = 9, NY = 7, CHUNKS = 3;
    CONGESTION_IMPL impl(NX, NY, nullptr);
    impl.set_num_chunks(CHUNKS);
    std::mt19937 random(5);
    for (float& value : PEER::demand(impl)[kUp])
        value = static_cast<float>(random() % 50) * 0.3f;
    impl.generate_smooth_wire_demand(3, 3, true);
    const WINDOW_EXTENTS window = split_window(3);
    GRID_2D<float> expected;
    expected.resize(NX + 1, NY + 1, 0.0f);
    const auto smear = [&](int x_start, int x_end, GRID_2D<float>& grid) {
        smear_demand_uniformly(window.low, window.high, window.low, window.high, x_start, x_end, NY - 1,
                               PEER::demand(impl)[kUp], grid);
    };
    merge_chunk_grids(run_in_row_chunks(NX, NY, CHUNKS, smear), NX + 1, NY, expected);
    EXPECT_TRUE(same_grid(PEER::smooth_demand_orig(impl)[kUp], expected));
    bool residue = false;
    for (int y = 0; y < NY; ++y)
        residue = residue || expected(NX, y) != 0.0f;
    EXPECT_TRUE(residue) << "the input leaves no rounding in row nx";
}

// 3 by 3, supply 1 everywhere, demand 9 at (1, 1) of a horizontal type, by
// supply and uniformly: sizes 3 give 1.0 everywhere; sizes 2 reach towards
// higher coordinates, x 1..2 by y 1..2, 2.25 each, but for the original
// algorithm's spread by supply, which reaches towards lower ones. 7 by 7, demand 5 at
// (3, 3), uniform sizes (5, 1): parallel runs along x for horizontal types
// and along y for vertical ones (and for Lab Input under the new algorithm).
// Each ctest run checks the algorithm in force.
TEST(Smoothing, WorkedExampleAndOrientation)
{
    const bool orig = original_algorithm_in_force();
    const auto smoothed = [orig](CONGESTION_IMPL& impl, RESOURCE_TYPE type) -> const GRID_2D<float>& {
        return orig ? PEER::smooth_demand_orig(impl)[type] : PEER::smooth_demand_new(impl)[type];
    };
    for (bool uniform : {false, true}) {
        CONGESTION_IMPL impl(3, 3, nullptr);
        for (RESOURCE_TYPE type : WIRE_TYPES)
            fill(PEER::supply(impl)[type], 1.0f);
        PEER::demand(impl)[kRight](1, 1) = 9.0f;
        impl.generate_smooth_supply(3, 3, WIRE_TYPES);
        impl.dispatch_smooth_demand(3, 3, uniform, WIRE_TYPES);
        expect_grid(smoothed(impl, kRight), 3, 3, [](int, int) { return 1.0f; });
        impl.dispatch_smooth_demand(2, 2, uniform, WIRE_TYPES);
        const bool lower = orig && !uniform;
        expect_grid(smoothed(impl, kRight), 3, 3,
                    [lower](int x, int y) { return (lower ? x < 2 && y < 2 : x && y) ? 2.25f : 0.0f; });
    }

    CONGESTION_IMPL line(7, 7, nullptr);
    for (RESOURCE_TYPE type : {kLeft, kUp, kLab})
        PEER::demand(line)[type](3, 3) = 5.0f;
    line.dispatch_smooth_demand(5, 1, true, WIRE_TYPES);
    const auto on_row = [](int x, int y) { return y == 3 && x >= 1 && x <= 5 ? 1.0f : 0.0f; };
    const auto on_column = [](int x, int y) { return x == 3 && y >= 1 && y <= 5 ? 1.0f : 0.0f; };
    expect_grid(smoothed(line, kLeft), 7, 7, on_row);
    expect_grid(smoothed(line, kUp), 7, 7, on_column);
    if (!orig) {
        line.dispatch_smooth_demand(5, 1, true, {kLab});
        expect_grid(smoothed(line, kLab), 7, 7, on_column);
    }
    EXPECT_FATAL(line.dispatch_smooth_demand(-1, 3, true, WIRE_TYPES),
                 orig ? "parallel_dim >= 0 && perpendicular_dim >= 0" : "xmin <= xmax");
}

// Supply-weighted counting: 4 by 1 grid, sizes (3, 1) along x.
//   x:               0    1    2    3
//   Right supply     1    0    1    0
//   Left supply      0    1    0    0     tile 3 is empty (Lab Input only)
//   demand (Right)   6    0    0    5
// Share of 0: window 0..1, two non-empty tiles, 3 each; tile 1 has no Right
// supply and ends at 0.0. Tile 3's window 2..3 has one non-empty tile: 5.
TEST(NewSmoothing, CountsNonEmptyTilesAndZeroesTilesWithoutSupply)
{
    CONGESTION_IMPL impl(4, 1, nullptr);
    PEER::supply(impl)[kRight](0, 0) = 1.0f;
    PEER::supply(impl)[kRight](2, 0) = 1.0f;
    PEER::supply(impl)[kLeft](1, 0) = 1.0f;
    PEER::supply(impl)[kLab](3, 0) = 1.0f;
    PEER::demand(impl)[kRight](0, 0) = 6.0f;
    PEER::demand(impl)[kRight](3, 0) = 5.0f;
    impl.generate_smooth_supply(3, 1, WIRE_TYPES);
    impl.generate_smooth_demand_smeared_new(3, 1, false, {kRight});
    const float expected[] = {3.0f, 0.0f, 5.0f, 0.0f};
    expect_grid(PEER::smooth_demand_new(impl)[kRight], 4, 1, [&](int x, int) { return expected[x]; });
}

// The gather and the share step answer every tile with exactly what the
// window query gives for that tile's clipped window, whatever the sizes.
// The table holds arbitrary values, not a real summed-area table, so that a
// change in the order of the four reads would show in the last bits.
TEST(NewSmoothing, GatherAndSharesMatchTheWindowQueryTileByTile)
{
    const int nx = 13, ny = 37;
    CONGESTION_IMPL impl(nx, ny, nullptr);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> value(-50.0f, 1000.0f);
    GRID_2D<float> table;
    table.resize(nx, ny, 0.0f);
    for (float& v : table)
        v = value(rng);
    const GRID_2D<float>& supply = PEER::supply(impl)[kRight];
    const GRID_2D<float>& demand = PEER::demand(impl)[kRight];
    fill_random(PEER::supply(impl)[kRight], rng, -2, 6);
    fill_random(PEER::demand(impl)[kRight], rng, -8, 40);
    impl.generate_smooth_supply(1, 1, {kRight});

    for (const auto& [x_size, y_size] : {std::pair{3, 5}, {2, 4}, {1, 1}, {6, 50}, {40, 2}, {0, 9}}) {
        const WINDOW_EXTENTS xe = split_window(x_size);
        const WINDOW_EXTENTS ye = split_window(y_size);
        GRID_2D<float> average, masked, shares;
        gather_from_window(nx, ny, x_size, y_size, supply, table, GATHER_RULE::AVERAGE, average);
        gather_from_window(nx, ny, x_size, y_size, supply, table, GATHER_RULE::SUM_WHERE_SUPPLIED, masked);
        compute_demand_shares(nx, ny, x_size, y_size, demand, impl.get_non_empty_table(), SHARE_RULE::NON_EMPTY_TILES,
                              shares);
        for (int x = 0; x < nx; ++x)
            for (int y = 0; y < ny; ++y) {
                // Receiving window: larger extent towards lower coordinates.
                const int xmin = std::max(x - xe.low, 0), xmax = std::min(x + xe.high, nx - 1);
                const int ymin = std::max(y - ye.low, 0), ymax = std::min(y + ye.high, ny - 1);
                const float sum = get_window_sum(table, xmin, xmax, ymin, ymax);
                ASSERT_EQ(average(x, y), sum / static_cast<float>((ymax - ymin + 1) * (xmax - xmin + 1)))
                    << x_size << "," << y_size << " at " << x << "," << y;
                ASSERT_EQ(masked(x, y), supply(x, y) > 0.0f ? sum : 0.0f);
                // Source window: larger extent towards higher coordinates.
                const int x0 = std::max(x - xe.high, 0), x1 = std::min(x + xe.low, nx - 1);
                const int y0 = std::max(y - ye.high, 0), y1 = std::min(y + ye.low, ny - 1);
                const int count = impl.get_num_non_empty_in_window(x0, x1, y0, y1);
                ASSERT_EQ(shares(x, y), count > 0 ? demand(x, y) / static_cast<float>(count) : 0.0f);
            }
    }
}

// Supply 8 at (2, 2) of a 5 by 5 grid, sizes (2, 1): the averaging window
// reaches towards lower coordinates, so the tile one step higher along the
// parallel direction sees it too: (3, 2) for horizontal types, (2, 3) for
// vertical ones, each 8 / 2. Constant supply stays constant at the edges.
TEST(SmoothSupply, EvenWindowsAreOrientedAndConstantSupplyStaysConstant)
{
    CONGESTION_IMPL impl(5, 5, nullptr);
    for (RESOURCE_TYPE type : WIRE_TYPES)
        PEER::supply(impl)[type](2, 2) = 8.0f;
    impl.generate_smooth_supply(2, 1, WIRE_TYPES);
    const auto horizontal = [](int x, int y) { return y == 2 && (x == 2 || x == 3) ? 4.0f : 0.0f; };
    const auto vertical = [](int x, int y) { return x == 2 && (y == 2 || y == 3) ? 4.0f : 0.0f; };
    for (RESOURCE_TYPE type : {kLeft, kRight})
        expect_grid(PEER::smooth_supply(impl)[type], 5, 5, horizontal);
    for (RESOURCE_TYPE type : {kUp, kDown})
        expect_grid(PEER::smooth_supply(impl)[type], 5, 5, vertical);
    EXPECT_EQ(PEER::smooth_supply(impl)[kLab].get_num_rows(), 0);

    EXPECT_FATAL(CONGESTION_IMPL(0, 3, nullptr).generate_smooth_supply(3, 3, WIRE_TYPES), "m_nx > 0 && m_ny > 0");
}

// --- Congestion update -------------------------------------------------------

// The netlist is asked for every tile of every wire type, the types in
// processing order, with the smoothed demand and supply; Lab Input is left
// alone, and window sums are built only when asked for.
TEST(UpdateCongestion, AsksTheNetlistPerTileAndTypeInWireOrder)
{
    TEST_NETLIST netlist;
    std::mutex mutex;
    std::vector<RESOURCE_TYPE> seen;
    netlist.congestion = [&](float demand, float supply, RESOURCE_TYPE type) {
        std::lock_guard<std::mutex> lock(mutex);
        seen.push_back(type);
        return demand + 1000.0f * supply + 1e6f * static_cast<float>(type);
    };
    CONGESTION_IMPL impl(6, 5, &netlist);
    fill_random_inputs(impl, 7);
    impl.generate_smooth_supply(3, 2, WIRE_TYPES);
    impl.dispatch_smooth_demand(4, 3, false, WIRE_TYPES);
    PEER::congestion(impl)[kLab](2, 2) = 7.0f;
    impl.update_congestion(true);
    ASSERT_EQ(seen.size(), 4u * 30u);
    for (size_t i = 0; i < seen.size(); ++i)
        ASSERT_EQ(seen[i], WIRE_TYPES[i / 30]) << i;
    // What the netlist answered, tile by tile.
    const auto expect_answers = [](CONGESTION_IMPL& e, RESOURCE_TYPE type, int nx, int ny) {
        expect_grid(PEER::congestion(e)[type], nx, ny, [&](int x, int y) {
            return e.get_smooth_demand(x, y, type) + 1000.0f * PEER::smooth_supply(e)[type](x, y) +
                   1e6f * static_cast<float>(type);
        });
    };
    for (RESOURCE_TYPE type : WIRE_TYPES) {
        expect_answers(impl, type, 6, 5);
        EXPECT_NE(impl.get_congestion_in_window(type, 0, 5, 0, 4), 0.0f);
    }
    EXPECT_EQ(PEER::congestion(impl)[kLab](2, 2), 7.0f);
    impl.update_congestion(false);
    EXPECT_EQ(impl.get_congestion_in_window(kRight, 0, 5, 0, 4), 0.0f);

    // A grid of one row is updated tile by tile too.
    CONGESTION_IMPL row(4, 1, &netlist);
    fill_random_inputs(row, 8);
    row.generate_smooth_supply(3, 1, WIRE_TYPES);
    row.dispatch_smooth_demand(3, 1, false, WIRE_TYPES);
    row.update_congestion(false);
    expect_answers(row, kDown, 4, 1);

    // Grids without tiles need nothing; others, a single row too, need the
    // smoothed supply.
    CONGESTION_IMPL(0, 3, nullptr).update_congestion(true);
    CONGESTION_IMPL(3, 0, nullptr).update_congestion(true);
    for (int ny : {3, 1}) {
        CONGESTION_IMPL partial(3, ny, &netlist);
        partial.generate_smooth_supply(3, 3, {kRight});
        partial.dispatch_smooth_demand(3, 3, true, WIRE_TYPES);
        EXPECT_FATAL(partial.update_congestion(false),
                     "m_smooth_supply[type].get_num_rows() == m_nx && m_smooth_supply[type].get_num_cols() == m_ny");
    }
}

// --- Peak search -------------------------------------------------------------

// The peak is the original single-type smoothing over supply, scanned in
// row-major order, whatever the switch, and leaves the object unchanged.
TEST(PeakUtilization, IsTheOriginalSmoothingOverSupply)
{
    for (int dim : {0, 1, 2, 3, 4, 5}) {
        CONGESTION_IMPL impl(9, 7, nullptr);
        fill_random_inputs(impl, 13);
        const unsigned long long cookie = impl.get_cookie();
        const PEAK peak = impl.get_peak_utilization(dim, kUp, false);
        EXPECT_EQ(impl.get_cookie(), cookie);
        impl.generate_smooth_demand(dim, dim, kUp);
        PEAK best(-1.0f, CONGESTION::LOC{-1, -1});
        for (int x = 0; x < 9; ++x)
            for (int y = 0; y < 7; ++y) {
                const float supply = PEER::supply(impl)[kUp](x, y);
                const float util = supply > 0.0f ? PEER::smooth_demand_orig(impl)[kUp](x, y) / supply : 0.0f;
                if (util > best.first)
                    best = {util, CONGESTION::LOC{x, y}};
            }
        ASSERT_GT(best.first, 0.0f);
        EXPECT_EQ(peak.first, best.first) << dim;
        EXPECT_EQ(std::make_pair(peak.second.x, peak.second.y), std::make_pair(best.second.x, best.second.y));
    }
}

// 3 by 3, dim 1, supply 2 everywhere:
//   y=2 | 0 3 2      row bests: x=0 0.5 at y=1, x=1 1.5 at y=0 (the first of
//   y=1 | 1 0 3      its tie with y=2), x=2 1.5 at y=1; the scan improves
//   y=0 | 0 3 0      at x=0 and x=1 only: a tie later in row-major order,
//        x=0 1 2     within a row or across rows, does not win
TEST(PeakUtilization, DebugNarratesEveryImprovement)
{
    CONGESTION_IMPL impl(3, 3, nullptr);
    fill(PEER::supply(impl)[kUp], 2.0f);
    PEER::demand(impl)[kUp](0, 1) = 1.0f;
    PEER::demand(impl)[kUp](1, 0) = 3.0f;
    PEER::demand(impl)[kUp](1, 2) = 3.0f;
    PEER::demand(impl)[kUp](2, 2) = 2.0f;
    PEER::demand(impl)[kUp](2, 1) = 3.0f;
    testing::internal::CaptureStdout();
    (void)impl.get_peak_utilization(1, kUp, true);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Getting peak utilization for type Vertical Up with dim 1\n"
              "Found new peak at (0,1) with smooth_demand=1 and m_supply=2 for util=0.5\n"
              "Found new peak at (1,0) with smooth_demand=3 and m_supply=2 for util=1.5\n");
    EXPECT_FATAL(impl.get_peak_utilization(3, kBadType, false), "type < m_supply.size()");
}

}  // namespace
