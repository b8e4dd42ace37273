// Tests of demand accumulation: model choice, chunk division and merge
// order, thread independence, and the Lab Input model.
#include <algorithm>
#include <random>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>
#include <tbb/global_control.h>

#include "fitter/congestion/congestion_impl.h"
#include "host/zol_gen.h"
#include "engine_support.h"
#include "test_support.h"

namespace {

constexpr auto kPath = CONGESTION::PATH_PROBABILITY_MODEL;
constexpr auto kBox = CONGESTION::BOUNDING_BOX_MODEL;
constexpr auto kLabModel = CONGESTION::LAB_INPUT_MODEL;
constexpr int kNx = 23;
constexpr int kNy = 14;

// Nets of 1 to 24 pins clustered around random centres, with random weights
// and wire lengths; boxes default to the pins' box.
TEST_NETLIST random_netlist(int count, unsigned seed)
{
    TEST_NETLIST netlist;
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> pins(1, 24);
    std::uniform_int_distribution<int> col(0, kNx - 1);
    std::uniform_int_distribution<int> row(0, kNy - 1);
    std::uniform_int_distribution<int> step(-4, 4);
    std::uniform_real_distribution<float> weight(0.0f, 2.0f);
    std::uniform_real_distribution<float> length(0.0f, 15.0f);
    for (int i = 0; i < count; ++i) {
        const int cx = col(random);
        const int cy = row(random);
        std::vector<CONGESTION::LOC> locs;
        std::vector<float> weights;
        for (int p = pins(random); p > 0; --p) {
            locs.push_back({std::clamp(cx + step(random), 0, kNx - 1), std::clamp(cy + step(random), 0, kNy - 1)});
            weights.push_back(weight(random));
        }
        netlist.add_net(locs);
        netlist.weights.push_back(weights);
        netlist.wirelengths.push_back({length(random), length(random)});
    }
    return netlist;
}

std::vector<int> all_nets(const TEST_NETLIST& netlist)
{
    std::vector<int> nets(netlist.nets.size());
    for (size_t i = 0; i < nets.size(); ++i)
        nets[i] = static_cast<int>(i);
    return nets;
}

// Random positive supply with its window sums, and random starting demand
// in every type, so that the order of the merge's additions shows.
void fill_state(CONGESTION_IMPL& impl, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> value(0.25f, 3.0f);
    for (RESOURCE_TYPE type : WIRE_TYPES) {
        for (float& supply : impl.m_supply[type])
            supply = value(random);
        impl.m_supply_down_left_sum[type].resize(impl.m_nx, impl.m_ny, 0.0f);
        build_down_left_sum(impl.m_supply[type], impl.m_supply_down_left_sum[type]);
    }
    for (GRID_2D<float>& demand : impl.m_demand)
        for (float& d : demand)
            d = value(random);
}

bool same_grids(const TYPE_GRIDS& a, const TYPE_GRIDS& b)
{
    for (int type = 0; type < CONGESTION::NUM_RESOURCE_TYPES; ++type)
        if (!std::equal(a[type].begin(), a[type].end(), b[type].begin(), b[type].end()))
            return false;
    return true;
}

class DemandModels : public ::testing::TestWithParam<CONGESTION::NET_MODEL> {
 protected:
    DemandModels() : netlist(random_netlist(300, 17)), nets(all_nets(netlist)), impl(kNx, kNy, &netlist)
    {
        fill_state(impl, 29);
    }
    void add_chunk(int chunk, int num_chunks, TYPE_GRIDS& grids) const
    {
        if (GetParam() == kPath)
            add_path_probability_demand(nets, chunk, num_chunks, grids, &netlist);
        else
            add_bounding_box_demand(impl, nets, chunk, num_chunks, grids, &netlist);
    }

    TEST_NETLIST netlist;
    std::vector<int> nets;
    CONGESTION_IMPL impl;
};

// ---------------------------------------------------------------------------
// Chunks and merge
// ---------------------------------------------------------------------------

// Chunk c takes nets c, c + K, ...; the chunks are added into the existing
// demand one at a time, chunk 0 first, Lab Input included.
TEST_P(DemandModels, ChunksAreAddedToTheDemandInAscendingOrder)
{
    constexpr int kChunks = 3;
    TYPE_GRIDS expected = impl.m_demand;
    for (int chunk = 0; chunk < kChunks; ++chunk) {
        TYPE_GRIDS grids;
        for (GRID_2D<float>& grid : grids)
            grid.resize(kNx, kNy, 0.0f);
        add_chunk(chunk, kChunks, grids);
        for (int type = 0; type < CONGESTION::NUM_RESOURCE_TYPES; ++type)
            for (int x = 0; x < kNx; ++x)
                for (int y = 0; y < kNy; ++y)
                    expected[type](x, y) = grids[type](x, y) + expected[type](x, y);
    }
    const TYPE_GRIDS before = impl.m_demand;
    impl.set_num_chunks(kChunks);
    impl.update_demand(nets, GetParam());
    EXPECT_TRUE(same_grids(impl.m_demand, expected));
    EXPECT_FALSE(same_grids(impl.m_demand, before));
    const GRID_2D<float>& lab = impl.m_demand[kLab];
    EXPECT_TRUE(std::equal(lab.begin(), lab.end(), before[kLab].begin()));
}

TEST_P(DemandModels, OneThreadAndManyGiveIdenticalDemand)
{
    CONGESTION_IMPL single(kNx, kNy, &netlist);
    fill_state(single, 29);
    {
        tbb::global_control one(tbb::global_control::max_allowed_parallelism, 1);
        single.update_demand(nets, GetParam());
    }
    {
        tbb::global_control two(tbb::global_control::max_allowed_parallelism, 2);
        impl.update_demand(nets, GetParam());
    }
    EXPECT_EQ(single.get_cookie(), impl.get_cookie());
    EXPECT_TRUE(same_grids(single.m_demand, impl.m_demand));
}

// Only the grouping of the additions depends on the chunk count, so counts
// of 1, 3, 16 and more chunks than rows agree up to rounding.
TEST_P(DemandModels, ChunkCountsAgreeUpToRounding)
{
    const int counts[] = {1, 3, 16, kNx + 7};
    std::vector<TYPE_GRIDS> results;
    for (int count : counts) {
        CONGESTION_IMPL other(kNx, kNy, &netlist);
        fill_state(other, 29);
        other.set_num_chunks(count);
        other.update_demand(nets, GetParam());
        results.push_back(other.m_demand);
    }
    for (size_t i = 1; i < results.size(); ++i)
        for (int type = 0; type < CONGESTION::NUM_RESOURCE_TYPES; ++type)
            for (int x = 0; x < kNx; ++x)
                for (int y = 0; y < kNy; ++y) {
                    const float reference = results[0][type](x, y);
                    ASSERT_NEAR(results[i][type](x, y), reference, 1e-5f * (1.0f + reference))
                        << counts[i] << " chunks, type " << type << " at " << x << "," << y;
                }
}

TEST_P(DemandModels, NoChunksChangeNothingAndCheckNothing)
{
    CONGESTION_IMPL without_netlist(kNx, kNy, nullptr);
    fill_state(without_netlist, 29);
    const unsigned long long before = without_netlist.get_cookie();
    without_netlist.set_num_chunks(0);
    without_netlist.update_demand(nets, GetParam());
    without_netlist.set_num_chunks(16);
    EXPECT_EQ(without_netlist.get_cookie(), before);
}

TEST_P(DemandModels, NegativeChunkCountThrowsBeforeAnyChange)
{
    const unsigned long long before = impl.get_cookie();
    impl.set_num_chunks(-2);
    EXPECT_THROW(impl.update_demand(nets, GetParam()), std::length_error);
    impl.set_num_chunks(16);
    EXPECT_EQ(impl.get_cookie(), before);
}

TEST_P(DemandModels, EmptyListAsksNothingButChecksTheInterface)
{
    TEST_NETLIST no_nets;  // any question would throw std::out_of_range
    CONGESTION_IMPL empty(kNx, kNy, &no_nets);
    fill_state(empty, 29);
    const unsigned long long before = empty.get_cookie();
    empty.update_demand({}, GetParam());
    EXPECT_EQ(empty.get_cookie(), before);

    CONGESTION_IMPL without_netlist(kNx, kNy, nullptr);
    EXPECT_FATAL(without_netlist.update_demand({}, GetParam()), "net_if != nullptr");
}

INSTANTIATE_TEST_SUITE_P(NetModels, DemandModels, ::testing::Values(kPath, kBox),
                         [](const ::testing::TestParamInfo<CONGESTION::NET_MODEL>& info) {
                             return info.param == kPath ? "PathProbability" : "BoundingBox";
                         });

// ---------------------------------------------------------------------------
// Model choice and the Lab Input model
// ---------------------------------------------------------------------------

TEST(UpdateDemand, UnknownModelsAreRefused)
{
    CONGESTION_IMPL impl(3, 3, nullptr);
    EXPECT_FATAL(impl.update_demand({0}, static_cast<CONGESTION::NET_MODEL>(3)), "Unknown congestion net model");
    EXPECT_FATAL(impl.update_demand({0}, static_cast<CONGESTION::NET_MODEL>(-1)), "Unknown congestion net model");
}

TEST(UpdateDemand, OpensItsProfilerRegionForEveryModel)
{
    const auto calls = [] {
        for (const GEN_PROFILER::ENTRY& entry : GEN_PROFILER::get_totals())
            if (entry.tag == "CONGESTION_update_demand")
                return entry.calls;
        return 0ULL;
    };
    TEST_NETLIST netlist;
    CONGESTION_IMPL impl(2, 2, &netlist);
    const unsigned long long before = calls();
    impl.update_demand({}, kPath);
    impl.update_demand({}, kLabModel);
    EXPECT_EQ(calls(), before + 2);
}

TEST(LabInput, NullInterfaceIsFatalEvenOnAnEmptyGrid)
{
    CONGESTION_IMPL impl(0, 4, nullptr);
    EXPECT_FATAL(impl.update_demand({}, kLabModel), "m_net_if != nullptr");
}

// Lab Input demand is replaced, not added to, and the wire demand stays.
TEST(LabInput, ReplacesOnlyTheLabInputDemand)
{
    TEST_NETLIST netlist;
    netlist.lab_input = [](int x, int y) { return x == 2 && y == 1 ? 16777217 : 10 * x - y; };
    CONGESTION_IMPL impl(3, 4, &netlist);
    impl.m_demand[kLab](0, 0) = 100.0f;
    impl.m_demand[kRight](1, 3) = 2.5f;
    impl.update_demand({0, 1}, kLabModel);  // the list is not read
    const unsigned long long once = impl.get_cookie();
    impl.update_demand({}, kLabModel);
    EXPECT_EQ(impl.get_cookie(), once);
    for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 4; ++y)
            EXPECT_EQ(impl.m_demand[kLab](x, y), static_cast<float>(netlist.lab_input(x, y))) << x << "," << y;
    EXPECT_EQ(impl.m_demand[kLab](2, 1), 16777216.0f);
    EXPECT_EQ(impl.get_total_demand(kRight), 2.5f);
    EXPECT_EQ(impl.m_demand[kRight](1, 3), 2.5f);
}

// (0,0) -> (2,0) on a 3 by 2 grid through the public handle; a second call
// adds the same demand again.
TEST(UpdateDemand, AccumulatesThroughTheHandle)
{
    TEST_NETLIST netlist;
    netlist.add_net({{0, 0}, {2, 0}});
    CONGESTION estimator(3, 2, &netlist);
    estimator.update_demand({0}, kPath);
    EXPECT_EQ(estimator.get_demand(1, 0, kRight), 1.0f);
    estimator.update_demand({0, 0}, kPath);
    EXPECT_EQ(estimator.get_demand(0, 0, kRight), 1.5f);
    EXPECT_EQ(estimator.get_demand(1, 0, kRight), 3.0f);
    estimator.clear_demand();
    EXPECT_EQ(estimator.get_total_demand(kRight), 0.0f);
}

}  // namespace
