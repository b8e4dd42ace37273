// Tests of the host services, the grid array, the state hash, the window
// sums, the supply model, the point, total and window queries, and the grid
// and netlist dumps.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <boost/assert.hpp>
#include <gtest/gtest.h>

#include "engine_support.h"
#include "host/zol_mem.h"
#include "host/zol_msg.h"
#include "test_support.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// --- Host services, loading and names ----------------------------------------

TEST(Host, ReporterNamesModuleFileAndLineAndBoostAssertsUseIt)
{
    EXPECT_DEATH(MSG_INTERNAL_ERROR::report("a < b", "CONGESTION", "dir/file.cpp", 42),
                 "^Fatal error in module CONGESTION \\(dir/file\\.cpp:42\\): a < b\n");
    const int value = 1;
    EXPECT_FATAL(BOOST_ASSERT(value == 2), "value == 2");
}

TEST(Host, LoadingLogsTheAlgorithmInForceAndRegistersThreeTimes)
{
    ::setenv("HOST_DEBUG_LEVEL", "2", 1);
    testing::internal::CaptureStderr();
    {
        const CONGESTION estimator(2, 2);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), original_algorithm_in_force()
                                                          ? "CONGESTION: Using original congestion algorithm\n"
                                                          : "CONGESTION: Using new congestion algorithm\n");
    ::unsetenv("HOST_DEBUG_LEVEL");
    EXPECT_EQ(s_use_orig_algorithm, original_algorithm_in_force());
    EXPECT_EQ(MEM_INITIALIZER::get_registration_count("CONGESTION"), 3);
}

TEST(Grid, AccessSizesAndTypesOutsideTheirRangeAreFatal)
{
    GRID_2D<float> grid;
    grid.resize(3, 4, 0.0f);
    EXPECT_FATAL(grid.at(0, 4), "in_bounds(irow, icol)");
    EXPECT_FATAL(CONGESTION(3, -2), "num_rows >= 0 && num_cols >= 0");
    EXPECT_FATAL(CONGESTION::get_string_for_resource_type(kBadType),
                 "Invalid resource type in get_string_for_resource_type");
}

// --- The state hash and clear_demand -----------------------------------------

TEST(Cookie, FollowsTheStateItCovers)
{
    CONGESTION_IMPL a(3, 3, nullptr);
    CONGESTION_IMPL b(3, 3, nullptr);
    const unsigned long long fresh = a.get_cookie();
    EXPECT_EQ(b.get_cookie(), fresh);
    b.set_num_chunks(8);
    EXPECT_NE(b.get_cookie(), fresh);

    // Signed zeros hash alike; the new algorithm's smeared demand is left out.
    PEER::demand(a)[kRight](1, 0) = -0.0f;
    PEER::smooth_demand_new(a)[kDown](2, 2) = 9.0f;
    a.set_supply(0, 0, kUp, 0.0f);
    EXPECT_EQ(a.get_cookie(), fresh);

    const auto changes = [&](auto&& change) {
        CONGESTION_IMPL other(3, 3, nullptr);
        change(other);
        return other.get_cookie() != fresh;
    };
    EXPECT_TRUE(changes([](CONGESTION_IMPL& o) { o.set_supply(2, 1, kLab, 1.0f); }));
    EXPECT_TRUE(changes([](CONGESTION_IMPL& o) { PEER::demand(o)[0](0, 1) = 1.0f; }));
    EXPECT_TRUE(changes([](CONGESTION_IMPL& o) { PEER::congestion(o)[4](2, 0) = 1.0f; }));
    EXPECT_TRUE(changes([](CONGESTION_IMPL& o) { PEER::smooth_demand_orig(o)[3](1, 1) = 1.0f; }));
    EXPECT_TRUE(changes([](CONGESTION_IMPL& o) { PEER::smooth_supply(o)[2].resize(1, 1, 0.0f); }));

    // Smoothing the supply sets a flag that every set_supply clears.
    CONGESTION_IMPL smoothed(3, 3, nullptr);
    smoothed.generate_smooth_supply(1, 1, WIRE_TYPES);
    const unsigned long long valid = smoothed.get_cookie();
    smoothed.set_supply(1, 1, kUp, 0.0f);
    EXPECT_NE(smoothed.get_cookie(), valid);
}

// A fresh 0 by 0 object's cookie follows from the fold alone: its sizes and
// chunk count, then 38 empty grids, tables and false flags (each 0), then
// the fold of the five zero maxima.
TEST(Cookie, FreshEmptyObjectFollowsTheFold)
{
    const auto mix = [](uint64_t seed, uint64_t value) {
        const uint64_t m = 0xc6a4a7935bd1e995ULL;
        uint64_t k = value * m;
        k = (k ^ (k >> 47)) * m;
        return (seed ^ k) * m + 0xe6546b64ULL;
    };
    uint64_t maxima = 0;
    for (int i = 0; i < CONGESTION::NUM_RESOURCE_TYPES; ++i)
        maxima = mix(maxima, 0);
    uint64_t seed = mix(mix(mix(0, 0), 0), 16);
    for (int i = 0; i < 38; ++i)
        seed = mix(seed, 0);
    EXPECT_EQ(CONGESTION().get_cookie(), mix(seed, maxima));
}

TEST(ClearDemand, ZeroesDemandSmoothedDemandAndCongestionOfItsTypes)
{
    CONGESTION_IMPL impl(2, 2, nullptr);
    for (TYPE_GRIDS* grids : {&PEER::demand(impl), &PEER::congestion(impl), &PEER::smooth_demand_orig(impl),
                              &PEER::smooth_demand_new(impl)})
        for (GRID_2D<float>& grid : *grids)
            fill(grid, 1.0f);
    impl.set_supply(1, 1, kUp, 5.0f);
    impl.clear_demand(kUp);
    for (int t = 0; t < CONGESTION::NUM_RESOURCE_TYPES; ++t)
        EXPECT_EQ(PEER::smooth_demand_new(impl)[t](0, 0), t == kUp ? 0.0f : 1.0f);
    impl.clear_demand();
    CONGESTION_IMPL fresh(2, 2, nullptr);
    fresh.set_supply(1, 1, kUp, 5.0f);
    EXPECT_EQ(impl.get_cookie(), fresh.get_cookie());
    EXPECT_EQ(PEER::smooth_demand_new(impl)[kLeft](1, 1), 0.0f);
}

// --- Window sums -------------------------------------------------------------

// Running sums along each row, then down each column, one entry at a time;
// the sizes cross the row groups and column blocks of the builder.
TEST(WindowSums, MatchTheRowsThenColumnsDefinitionBitForBit)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<float> value(-1.0f, 100.0f);
    for (const auto& [rows, cols] : {std::pair{19, 530}, {1, 1}, {9, 257}, {300, 3}}) {
        GRID_2D<float> source, expected, table;
        source.resize(rows, cols, 0.0f);
        for (float& v : source)
            v = value(random);
        expected = source;
        for (int r = 0; r < rows; ++r)
            for (int c = 1; c < cols; ++c)
                expected(r, c) = source(r, c) + expected(r, c - 1);
        for (int c = 0; c < cols; ++c)
            for (int r = 1; r < rows; ++r)
                expected(r, c) = expected(r, c) + expected(r - 1, c);
        table.resize(rows, cols, 0.0f);
        build_down_left_sum(source, table);
        EXPECT_TRUE(same_grid(table, expected)) << rows << " x " << cols;
    }
}

// --- Supply ------------------------------------------------------------------

TEST(Supply, PositiveValuesAreFinalAndSetTheMaximum)
{
    CONGESTION estimator(4, 5);
    estimator.set_supply(2, 3, kUp, 0.0f);
    estimator.set_supply(2, 3, kUp, 6.0f);
    estimator.set_supply(0, 0, kUp, -2.0f);
    estimator.set_supply(0, 0, kUp, 1.5f);
    estimator.set_supply(2, 3, kRight, 1.0f);
    EXPECT_EQ(estimator.get_supply(2, 3, kUp), 6.0f);
    EXPECT_EQ(estimator.get_supply(0, 0, kUp), 1.5f);
    EXPECT_EQ(estimator.get_max_supply(kUp), 6.0f);
    EXPECT_EQ(estimator.get_max_supply(kLeft), 0.0f);
    estimator.set_supply(1, 1, kDown, -3.0f);
    EXPECT_EQ(estimator.get_max_supply(kDown), 0.0f);
    // NaN replaces the maximum and is replaced by the next value, and may
    // itself be overwritten.
    estimator.set_supply(1, 1, kUp, kNaN);
    EXPECT_TRUE(std::isnan(estimator.get_max_supply(kUp)));
    estimator.set_supply(1, 1, kUp, 1.0f);
    EXPECT_EQ(estimator.get_max_supply(kUp), 1.0f);
    EXPECT_FATAL(estimator.set_supply(2, 3, kUp, 0.0f),
                 "Cannot use set_supply to overwrite supply.  Must use clear_supply() first");
    EXPECT_FATAL(estimator.get_supply(0, -1, kUp), "m_supply[type].get_num_cols() > y");
    CONGESTION moved(1, 1);
    moved = std::move(estimator);
    EXPECT_EQ(moved.get_supply(2, 3, kUp), 6.0f);
}

TEST(Supply, ConcurrentWritersOfDistinctTiles)
{
    constexpr int kSize = 24;
    constexpr int kWriters = 4;
    CONGESTION estimator(kSize, kSize);
    std::mt19937 random(1234);
    std::uniform_real_distribution<float> value(0.5f, 100.0f);
    std::vector<float> expected(kSize * kSize);
    for (float& v : expected)
        v = value(random);
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w)
        writers.emplace_back([&, w] {
            for (int tile = w; tile < kSize * kSize; tile += kWriters) {
                estimator.set_supply(tile / kSize, tile % kSize, kUp, expected[tile]);
                (void)estimator.get_max_supply(kUp);
            }
        });
    for (std::thread& writer : writers)
        writer.join();
    EXPECT_EQ(estimator.get_max_supply(kUp), *std::max_element(expected.begin(), expected.end()));
    for (int tile = 0; tile < kSize * kSize; ++tile)
        ASSERT_EQ(estimator.get_supply(tile / kSize, tile % kSize, kUp), expected[tile]) << tile;
}

// Mean of the supply over the inclusive rectangle, summed rows outer.
float mean(CONGESTION_IMPL& impl, RESOURCE_TYPE type, int x0, int x1, int y0, int y1)
{
    float sum = 0.0f;
    for (int x = x0; x <= x1; ++x)
        for (int y = y0; y <= y1; ++y)
            sum = sum + PEER::supply(impl)[type](x, y);
    return sum / static_cast<float>((x1 - x0 + 1) * (y1 - y0 + 1));
}

TEST(Supply, AveragesOverTheGridOrAWindowKeptInside)
{
    //   y=1 | -1e8   1
    //   y=0 |  1e8   4     rows outer: 1e8 - 1e8 + 4 + 1 = 5
    //        x=0   x=1
    CONGESTION_IMPL order(2, 2, nullptr);
    const float values[] = {1e8f, -1e8f, 4.0f, 1.0f};
    for (int i = 0; i < 4; ++i)
        order.set_supply(i / 2, i % 2, kUp, values[i]);
    EXPECT_EQ(order.get_avg_supply(kUp, -1, -1, -1), 5.0f / 4.0f);
    EXPECT_EQ(CONGESTION_IMPL(0, 0, nullptr).get_avg_supply(kUp, -1, -1, -1), 0.0f);

    CONGESTION_IMPL impl(10, 8, nullptr);
    std::mt19937 random(7);
    fill_random(PEER::supply(impl)[kUp], random, 1, 97);
    const std::pair<std::vector<int>, std::vector<int>> cases[] = {
        // {x, y, window_size}, {x0, x1, y0, y1}
        {{4, 4, 3}, {3, 5, 3, 5}}, {{4, 4, -3}, {3, 5, 3, 5}}, {{4, 4, 4}, {2, 6, 2, 6}},   {{0, 0, 3}, {0, 2, 0, 2}},
        {{9, 7, 3}, {7, 9, 5, 7}}, {{9, 1, 4}, {5, 9, 0, 4}},  {{-5, 12, 3}, {0, 2, 5, 7}}, {{0, 7, 20}, {0, 9, 0, 7}},
    };
    for (const auto& [query, box] : cases)
        EXPECT_EQ(impl.get_avg_supply(kUp, query[0], query[1], query[2]),
                  mean(impl, kUp, box[0], box[1], box[2], box[3]))
            << query[0] << "," << query[1] << " size " << query[2];
    EXPECT_FATAL(impl.get_avg_supply(kUp, -1, 0, -1), "y==-1");
}

// --- Point and total queries -------------------------------------------------

TEST(Queries, TotalsSumRowMajorInOneAccumulator)
{
    // 1e8 then 4 then 4: each 4 is lost; summing the 4s first keeps 8.
    CONGESTION_IMPL impl(1, 3, nullptr);
    const float values[] = {1e8f, 4.0f, 4.0f};
    for (int y = 0; y < 3; ++y)
        PEER::demand(impl)[kRight](0, y) = values[y];
    EXPECT_EQ(impl.get_total_demand(kRight), 1e8f);

    //   y=1 | 4     0
    //   y=0 | 4   1e8      overflow: row-major, 4 + 4 survives 1e8
    //        x=0  x=1
    CONGESTION_IMPL over(2, 2, nullptr);
    PEER::set_demand_smoothed(over);
    for (TYPE_GRIDS* grids : {&PEER::smooth_demand_orig(over), &PEER::smooth_demand_new(over)}) {
        (*grids)[kUp](0, 0) = 4.0f;
        (*grids)[kUp](0, 1) = 4.0f;
        (*grids)[kUp](1, 0) = 1e8f;
        (*grids)[kDown](0, 0) = 5.0f;
        (*grids)[kDown](1, 0) = 2.0f;
    }
    EXPECT_EQ(over.get_total_apl_style_congestion(kUp), ((0.0f + 4.0f) + 4.0f) + 1e8f);
    // Each tile adds its smoothed demand minus its supply where that is
    // positive: (5 - 1) + 2, not the 6 over supply at (0, 1), and nothing
    // from the other algorithm's smoothed demand.
    over.set_supply(0, 0, kDown, 1.0f);
    over.set_supply(0, 1, kDown, 6.0f);
    (original_algorithm_in_force() ? PEER::smooth_demand_new(over) : PEER::smooth_demand_orig(over))[kDown](1, 1) =
        50.0f;
    EXPECT_EQ(over.get_total_apl_style_congestion(kDown), 6.0f);
    EXPECT_EQ(CONGESTION_IMPL(0, 4, nullptr).get_total_apl_style_congestion(kBadType), 0.0f);
}

TEST(Queries, SmoothDemandAndOverflowReadTheAlgorithmInForce)
{
    CONGESTION_IMPL impl(2, 2, nullptr);
    const bool orig = original_algorithm_in_force();
    EXPECT_FATAL(impl.get_apl_style_congestion(0, 0, kUp),
                 orig ? "m_smooth_demand_is_valid" : "m_smooth_demand_smeared_new_is_valid");
    EXPECT_FATAL(CONGESTION_IMPL(1, 3, nullptr).get_total_apl_style_congestion(kUp),
                 orig ? "m_smooth_demand_is_valid" : "m_smooth_demand_smeared_new_is_valid");
    PEER::smooth_demand_orig(impl)[kUp](0, 0) = 5.5f;
    PEER::smooth_demand_new(impl)[kUp](0, 0) = 6.5f;
    PEER::set_demand_smoothed(impl);
    EXPECT_FATAL(impl.get_total_apl_style_congestion(kBadType),
                 orig ? "type < m_smooth_demand_orig.size()" : "type < m_smooth_demand_smeared_new.size()");
    impl.set_supply(0, 0, kUp, 4.0f);
    EXPECT_EQ(impl.get_smooth_demand(0, 0, kUp), orig ? 5.5f : 6.5f);
    EXPECT_EQ(impl.get_apl_style_congestion(0, 0, kUp), orig ? 1.5f : 2.5f);
    EXPECT_EQ(impl.get_apl_style_congestion(1, 0, kUp), 0.0f);
}

TEST(Queries, WindowsOfCongestionAndNonEmptyTilesMatchBruteForce)
{
    constexpr int kNx = 5, kNy = 4;
    TEST_NETLIST netlist;
    netlist.congestion = [](float, float supply, RESOURCE_TYPE) { return supply; };
    CONGESTION_IMPL impl(kNx, kNy, &netlist);
    std::mt19937 random(42);
    for (RESOURCE_TYPE type : WIRE_TYPES)
        for (int x = 0; x < kNx; ++x)
            for (int y = 0; y < kNy; ++y)
                impl.set_supply(x, y, type, static_cast<float>(static_cast<int>(random() % 9) - 2) * 0.25f);
    impl.generate_smooth_supply(1, 1, WIRE_TYPES);
    impl.dispatch_smooth_demand(1, 1, false, WIRE_TYPES);
    impl.update_congestion(true);
    for (int xmin = 0; xmin < kNx; ++xmin)
        for (int xmax = xmin; xmax < kNx; ++xmax)
            for (int ymin = 0; ymin < kNy; ++ymin)
                for (int ymax = ymin; ymax < kNy; ++ymax) {
                    float sum = 0.0f;
                    int count = 0;
                    for (int x = xmin; x <= xmax; ++x)
                        for (int y = ymin; y <= ymax; ++y) {
                            sum += impl.get_supply(x, y, kLeft);
                            bool wired = false;
                            for (RESOURCE_TYPE type : WIRE_TYPES)
                                wired = wired || impl.get_supply(x, y, type) > 0.0f;
                            count += wired;
                        }
                    ASSERT_EQ(impl.get_congestion_in_window(kLeft, xmin, xmax, ymin, ymax), sum);
                    ASSERT_EQ(impl.get_num_non_empty_in_window(xmin, xmax, ymin, ymax), count);
                }
    EXPECT_FATAL(impl.get_congestion_in_window(kLab, 0, 0, 0, 0), "down_left_sum.get_num_rows() > xmax");
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The table titled `title` up to and including its closing blank lines.
std::string table(const std::string& text, const std::string& title)
{
    const size_t begin = text.find(title + "\n\n");
    if (begin == std::string::npos)
        return "missing " + title;
    return text.substr(begin, text.find("\n\n\n", begin) + 3 - begin);
}

// 3 by 2:
//   (1, 1): right demand 1 over supply 3        combined 33.3333
//   (2, 1): left demand 1000 over supply 3      percent in float 33333.3359,
//                                               widened to double 33333.3344
//   (1, 0): left demand 2 without supply
//   (0, 1): Lab Input demand 10 over supply 5   not in the combined table
//   (1, 0) and (2, 0): Lab Input demand 5 over supply -1 and NaN
//   smoothed right demand 1.25 at (0, 0)
class SmallChip : public ::testing::Test {
 protected:
    SmallChip() : impl(3, 2, &netlist)
    {
        impl.set_supply(1, 1, kRight, 3.0f);
        PEER::demand(impl)[kRight](1, 1) = 1.0f;
        impl.set_supply(2, 1, kLeft, 3.0f);
        PEER::demand(impl)[kLeft](2, 1) = 1000.0f;
        PEER::demand(impl)[kLeft](1, 0) = 2.0f;
        impl.set_supply(0, 1, kLab, 5.0f);
        PEER::demand(impl)[kLab](0, 1) = 10.0f;
        impl.set_supply(1, 0, kLab, -1.0f);
        impl.set_supply(2, 0, kLab, kNaN);
        PEER::demand(impl)[kLab](1, 0) = PEER::demand(impl)[kLab](2, 0) = 5.0f;
        PEER::smooth_demand_orig(impl)[kRight](0, 0) = 1.25f;
        // A path of its own per test and algorithm: both ctest runs of this
        // executable may run at once.
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        path = (std::filesystem::temp_directory_path() /
                (std::string("congestion_") + test->name() + (original_algorithm_in_force() ? "_orig" : "_new")))
                   .string();
    }
    ~SmallChip() override { std::filesystem::remove(path); }

    TEST_NETLIST netlist;
    CONGESTION_IMPL impl;
    std::string path;
};

// Lab Input is left out; the left demand without supply counts below 0.
TEST_F(SmallChip, AverageChipUtilizationWeighsPairsAboveTheThresholdBySupply)
{
    EXPECT_EQ(impl.get_avg_chip_utilization(0.0f), 1001.0f / 6.0f);
    EXPECT_EQ(impl.get_avg_chip_utilization(-0.5f), 1003.0f / 6.0f);
    EXPECT_EQ(impl.get_avg_chip_utilization(1.0f), 1000.0f / 3.0f);
    EXPECT_EQ(impl.get_avg_chip_utilization(400.0f), 0.0f);
    EXPECT_EQ(CONGESTION_IMPL(0, 5, nullptr).get_avg_chip_utilization(-1.0f), 0.0f);
    // Row 0 is read too (the chip above has no supply there).
    CONGESTION_IMPL one(1, 1, &netlist);
    one.set_supply(0, 0, kRight, 2.0f);
    PEER::demand(one)[kRight](0, 0) = 1.0f;
    EXPECT_EQ(one.get_avg_chip_utilization(0.0f), 0.5f);
}

TEST_F(SmallChip, DumpTablesUseTheirOwnFormatsAndLeaveSkippedColumnsOut)
{
    std::ofstream(path) << std::string(20000, 'x');  // truncated
    impl.dump(path.c_str(), {});
    const std::string text = read_file(path);
    EXPECT_EQ(text.rfind("TOTAL UTILIZATION VALUES for H and V\n\n\t0\t1\t2\n"
                         "0\t0.0000\t0.0000\t0.0000\n"
                         "1\t0.0000\t33.3333\t33333.3359\n\n\n"
                         "Utilization values (Horizontal Left):\n\n\t0\t1\t2\n"
                         "0\t0.0000\t0.0000\t0.0000\n"
                         "1\t0.0000\t0.0000\t33333.3344\n\n\n",
                         0),
              0u);
    EXPECT_EQ(table(text, "Utilization values (Lab Input):"),
              "Utilization values (Lab Input):\n\n\t0\t1\t2\n"
              "0\t0.0000\t0.0000\t0.0000\n"
              "1\t200.0000\t0.0000\t0.0000\n\n\n");
    EXPECT_EQ(table(text, "Smooth demand values (Horizontal Right):"),
              "Smooth demand values (Horizontal Right):\n\n\t0\t1\t2\n"
              "0\t1.2500\t0.0000\t0.0000\n"
              "1\t0.0000\t0.0000\t0.0000\n\n\n");
    EXPECT_EQ(table(text, "Supply values (Horizontal Left):"),
              "Supply values (Horizontal Left):\n\n\t0\t1\t2\n"
              "0\t0.0\t0.0\t0.0\n"
              "1\t0.0\t0.0\t3.0\n\n\n");
    EXPECT_EQ(text.substr(text.size() - 3), "\n\n\n");
    EXPECT_EQ(text.find('x'), std::string::npos);

    // A skipped column is left out and the rest renumbered.
    impl.dump(path.c_str(), {1});
    EXPECT_EQ(table(read_file(path), "TOTAL UTILIZATION VALUES for H and V"),
              "TOTAL UTILIZATION VALUES for H and V\n\n\t0\t1\n"
              "0\t0.0000\t0.0000\n"
              "1\t0.0000\t33333.3359\n\n\n");
    // An unwritable path writes nothing but still checks.
    const std::string missing = path + "_missing_dir/grid.txt";
    impl.dump(missing.c_str(), {});
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_FATAL(impl.dump(missing.c_str(), {1, 1}), "x_count == unscaled_nx");
    // Without rows only the combined table is written.
    CONGESTION_IMPL(0, 2, nullptr).dump(path.c_str(), {});
    EXPECT_EQ(read_file(path), "TOTAL UTILIZATION VALUES for H and V\n\n\n0\n1\n\n\n");
}

// Net 7: driver (1, 2) weight 0, load (3, 4) weight 1.5; net 5 has no pins;
// net 2: (-1, 0) weight 0.25 and (6, 9) weight 2.
TEST_F(SmallChip, NetlistDumpWritesCountThenOneLinePerNet)
{
    netlist.nets.resize(8);
    netlist.weights.resize(8);
    netlist.nets[7] = {{1, 2}, {3, 4}};
    netlist.weights[7] = {0.0f, 1.5f};
    netlist.nets[2] = {{-1, 0}, {6, 9}};
    netlist.weights[2] = {0.25f, 2.0f};
    impl.dump_netlist({2, 5, 7}, path.c_str());
    EXPECT_EQ(read_file(path), "3\n2 2 -1 0 0.2500 6 9 2.0000 \n5 0 \n7 2 1 2 0.0000 3 4 1.5000 \n");
    impl.dump_netlist({}, path.c_str());
    EXPECT_EQ(read_file(path), "0\n");
    EXPECT_FATAL(CONGESTION_IMPL(4, 4, nullptr).dump_netlist({}, path.c_str()), "m_net_if != nullptr");
}

}  // namespace
