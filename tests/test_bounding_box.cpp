// Tests of the bounding-box net model: base amounts, excess wire length,
// supply-proportional shares, the call protocol and the range checks.
#include <algorithm>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fitter/congestion/congestion_impl.h"
#include "engine_support.h"
#include "test_support.h"

namespace {


void set_uniform_supply(CONGESTION_IMPL& impl, float value)
{
    for (RESOURCE_TYPE type : WIRE_TYPES)
        impl.m_supply[type].resize(impl.m_nx, impl.m_ny, value);
    build_supply_tables(impl);
}

// A netlist of one net per call of `net`, with an explicit box, wire
// lengths and driver.
struct BOX_NET {
    int xl, xr, yb, yt;
    float fx, fy;
    CONGESTION::LOC driver;
};

int add_box_net(TEST_NETLIST& netlist, const BOX_NET& net)
{
    const int index = netlist.add_net({net.driver});
    netlist.boxes.resize(netlist.nets.size());
    netlist.boxes[index] = {net.xl, net.xr, net.yb, net.yt};
    netlist.wirelengths.resize(netlist.nets.size());
    netlist.wirelengths[index] = {net.fx, net.fy};
    return index;
}

// The demand of `nets` added by the model as one chunk into fresh grids.
TYPE_GRIDS run(const CONGESTION_IMPL& impl, const NETLIST_IF& netlist, const std::vector<int>& nets)
{
    TYPE_GRIDS grids;
    for (GRID_2D<float>& grid : grids)
        grid.resize(impl.m_nx, impl.m_ny, 0.0f);
    add_bounding_box_demand(impl, nets, 0, 1, grids, &netlist);
    return grids;
}

float total(const GRID_2D<float>& grid)
{
    float sum = 0.0f;
    for (float value : grid)
        sum += value;
    return sum;
}

// Expects exactly the listed non-zero tiles of `type` and nothing in any
// other grid.
void expect_only(const TYPE_GRIDS& grids, RESOURCE_TYPE type, const std::vector<std::pair<CONGESTION::LOC, float>>& tiles)
{
    GRID_2D<float> expected;
    expected.resize(grids[type].get_num_rows(), grids[type].get_num_cols(), 0.0f);
    for (const auto& [loc, value] : tiles)
        expected(loc.x, loc.y) = value;
    for (int t = 0; t < CONGESTION::NUM_RESOURCE_TYPES; ++t)
        for (int x = 0; x < expected.get_num_rows(); ++x)
            for (int y = 0; y < expected.get_num_cols(); ++y)
                EXPECT_EQ(grids[t](x, y), t == type ? expected(x, y) : 0.0f)
                    << CONGESTION::get_string_for_resource_type(static_cast<RESOURCE_TYPE>(t)) << " at " << x << ","
                    << y;
}

class BoundingBox : public ::testing::Test {
 protected:
    // 4 by 3 grid, supply 1.0 of every wire type on every tile.
    BoundingBox() : impl(4, 3, &netlist) { set_uniform_supply(impl, 1.0f); }
    TYPE_GRIDS run_net(const BOX_NET& net) { return run(impl, netlist, {add_box_net(netlist, net)}); }

    TEST_NETLIST netlist;
    CONGESTION_IMPL impl;
};

// ---------------------------------------------------------------------------
// Base amounts and excess
// ---------------------------------------------------------------------------

//   row 0:  D  .  .     box columns 0..2; columns right of D get 1.0 rightwards
TEST_F(BoundingBox, ColumnsRightOfTheDriverGetTheBaseAmount)
{
    const TYPE_GRIDS g = run_net({0, 2, 0, 0, 2.0f, 0.0f, {0, 0}});
    expect_only(g, kRight, {{{1, 0}, 1.0f}, {{2, 0}, 1.0f}});
}

TEST_F(BoundingBox, ExcessWireLengthIsSpreadHalfEachWay)
{
    // fx = 5 over a span of 2 in 3 columns: 1.0 per column, half each way.
    const TYPE_GRIDS g = run_net({0, 2, 0, 0, 5.0f, 0.0f, {0, 0}});
    for (int x = 0; x < 3; ++x)
        EXPECT_EQ(g[kLeft](x, 0), 0.5f) << x;
    EXPECT_EQ(g[kRight](0, 0), 0.5f);
    EXPECT_EQ(g[kRight](1, 0), 1.5f);
    EXPECT_EQ(g[kRight](2, 0), 1.5f);
    EXPECT_EQ(total(g[kLeft]) + total(g[kRight]), 5.0f);
    EXPECT_EQ(total(g[kUp]) + total(g[kDown]), 0.0f);
}

TEST_F(BoundingBox, DriverOutsideTheBoxIsMovedToItsNearestTile)
{
    // (5, 1) lies past the grid as well; only its clamped column (2) counts.
    const TYPE_GRIDS g = run_net({0, 2, 0, 0, 2.0f, 0.0f, {5, 1}});
    expect_only(g, kLeft, {{{0, 0}, 1.0f}, {{1, 0}, 1.0f}});
}

TEST_F(BoundingBox, TwoColumnBoxesHalveBaseAndExcess)
{
    expect_only(run_net({0, 1, 0, 0, 0.0f, 0.0f, {0, 0}}), kRight, {{{1, 0}, 0.5f}});

    // ex = (2.5 - 0.5) * 0.5 = 1.0; the net's total is max(fx, 0.5).
    const TYPE_GRIDS g = run_net({0, 1, 0, 0, 2.5f, 0.0f, {1, 0}});
    EXPECT_EQ(g[kLeft](0, 0), 0.5f + 0.5f);
    EXPECT_EQ(g[kLeft](1, 0), 0.5f);
    EXPECT_EQ(g[kRight](0, 0), 0.5f);
    EXPECT_EQ(g[kRight](1, 0), 0.5f);
    EXPECT_EQ(total(g[kLeft]) + total(g[kRight]), 2.5f);
}

TEST_F(BoundingBox, TwoRowBoxesKeepTheWholeBaseAmount)
{
    expect_only(run_net({0, 0, 0, 1, 0.0f, 0.0f, {0, 0}}), kUp, {{{0, 1}, 1.0f}});
}

// Rows 0..2 of column 3, driver in row 1, fy = 4: ey = (4 - 2) / 3.
TEST_F(BoundingBox, RowsAboveAndBelowTheDriverGetVerticalDemand)
{
    const TYPE_GRIDS g = run_net({3, 3, 0, 2, 0.0f, 4.0f, {3, 1}});
    const float ey = 2.0f / 3.0f;
    EXPECT_EQ(g[kUp](3, 2), (ey * 0.5f + 1.0f) * 1.0f / 1.0f);
    EXPECT_EQ(g[kUp](3, 1), (ey * 0.5f + 0.0f) * 1.0f / 1.0f);
    EXPECT_EQ(g[kUp](3, 0), (ey * 0.5f + 0.0f) * 1.0f / 1.0f);
    EXPECT_EQ(g[kDown](3, 0), (ey * 0.5f + 1.0f) * 1.0f / 1.0f);
    EXPECT_EQ(g[kDown](3, 2), ey * 0.5f);
    EXPECT_NEAR(total(g[kUp]) + total(g[kDown]), 4.0f, 1e-6f);
    EXPECT_EQ(total(g[kLeft]) + total(g[kRight]), 0.0f);
}

TEST_F(BoundingBox, OneTileBoxAddsNothing)
{
    expect_only(run_net({2, 2, 1, 1, 7.0f, 9.0f, {2, 1}}), kLab, {});
}

// ---------------------------------------------------------------------------
// Supply-proportional shares
// ---------------------------------------------------------------------------

//   HORIZONTAL_LEFT supply      box columns 0..2, rows 0..1, driver (2,0)
//   y=1 |  3  1  1
//   y=0 |  1  1  1
//        x=0  1  2
TEST_F(BoundingBox, ColumnDemandFollowsTheTilesSupply)
{
    impl.m_supply[kLeft](0, 1) = 3.0f;
    build_supply_tables(impl);
    const TYPE_GRIDS g = run_net({0, 2, 0, 1, 2.0f, 0.0f, {2, 0}});
    EXPECT_EQ(g[kLeft](0, 0), 0.25f);
    EXPECT_EQ(g[kLeft](0, 1), 0.75f);
    EXPECT_EQ(g[kLeft](1, 0), 0.5f);
    EXPECT_EQ(g[kLeft](1, 1), 0.5f);
    EXPECT_EQ(g[kLeft](2, 0), 0.0f);
    // The vertical base amount goes down from row 1, split over three columns.
    EXPECT_EQ(g[kDown](1, 0), 0.0f);
    EXPECT_EQ(g[kUp](1, 1), (0.0f * 0.5f + 1.0f) * 1.0f / 3.0f);
}

TEST_F(BoundingBox, ColumnWithoutSupplyLosesItsShare)
{
    impl.m_supply[kRight](1, 0) = 0.0f;
    build_supply_tables(impl);
    const TYPE_GRIDS g = run_net({0, 2, 0, 0, 2.0f, 0.0f, {0, 0}});
    expect_only(g, kRight, {{{2, 0}, 1.0f}});
}

// With positive supply everywhere the net's horizontal demand adds up to
// max(fx, w) (W > 2), max(fx, 0.5) (W = 2) or 0, and vertically to max(fy, h)
// when H > 1, whatever the supply's shape.
TEST(BoundingBoxTotals, NetTotalsFollowTheWireLengthWhateverTheSupply)
{
    constexpr int kNx = 11;
    constexpr int kNy = 7;
    TEST_NETLIST netlist;
    CONGESTION_IMPL impl(kNx, kNy, &netlist);
    std::mt19937 random(3);
    std::uniform_real_distribution<float> supply(0.5f, 4.0f);
    for (RESOURCE_TYPE type : WIRE_TYPES)
        for (float& value : impl.m_supply[type])
            value = supply(random);
    build_supply_tables(impl);
    std::uniform_int_distribution<int> col(0, kNx - 1);
    std::uniform_int_distribution<int> row(0, kNy - 1);
    std::uniform_real_distribution<float> length(0.0f, 20.0f);
    for (int i = 0; i < 200; ++i) {
        const int x1 = col(random), x2 = col(random), y1 = row(random), y2 = row(random);
        const BOX_NET net = {std::min(x1, x2), std::max(x1, x2), std::min(y1, y2), std::max(y1, y2),
                             length(random), length(random), {col(random), row(random)}};
        const TYPE_GRIDS g = run(impl, netlist, {add_box_net(netlist, net)});
        const int w = net.xr - net.xl;
        const int h = net.yt - net.yb;
        const float horizontal = w > 1 ? std::max(net.fx, float(w)) : w == 1 ? std::max(net.fx, 0.5f) : 0.0f;
        const float vertical = h > 0 ? std::max(net.fy, float(h)) : 0.0f;
        ASSERT_NEAR(total(g[kLeft]) + total(g[kRight]), horizontal, 1e-4f * (1.0f + horizontal)) << i;
        ASSERT_NEAR(total(g[kUp]) + total(g[kDown]), vertical, 1e-4f * (1.0f + vertical)) << i;
        ASSERT_EQ(total(g[kLab]), 0.0f);
    }
}

// The model's grids against the algorithm transcribed tile by tile in its
// written order (columns, then rows, every expression in single precision),
// over many nets accumulated into the same grids, with tiles without supply
// and supply that varies from tile to tile.
void add_reference_demand(const CONGESTION_IMPL& impl, const BOX_NET& net, TYPE_GRIDS& g)
{
    const int cx = std::min(net.xr, std::max(net.driver.x, net.xl));
    const int cy = std::min(net.yt, std::max(net.driver.y, net.yb));
    const int w = net.xr - net.xl, h = net.yt - net.yb;
    const float ex = w + 1 > 2 ? std::max(net.fx - float(w), 0.0f) / float(w + 1)
                     : w + 1 == 2 ? std::max(net.fx - 0.5f, 0.0f) * 0.5f : 0.0f;
    const float base = w + 1 == 2 ? 0.5f : 1.0f;
    for (int x = net.xl; x <= net.xr; ++x) {
        const float sl = get_window_sum(impl.m_supply_down_left_sum[kLeft], x, x, net.yb, net.yt);
        const float sr = get_window_sum(impl.m_supply_down_left_sum[kRight], x, x, net.yb, net.yt);
        for (int y = net.yb; y <= net.yt; ++y) {
            if (const float s = impl.m_supply[kLeft](x, y); s > 0.0f)
                g[kLeft](x, y) += ((ex * 0.5f + (x < cx ? base : 0.0f)) * s) / sl;
            if (const float s = impl.m_supply[kRight](x, y); s > 0.0f)
                g[kRight](x, y) += ((ex * 0.5f + (x > cx ? base : 0.0f)) * s) / sr;
        }
    }
    const float ey = h + 1 > 1 ? std::max(net.fy - float(h), 0.0f) / float(h + 1) : 0.0f;
    for (int y = net.yb; y <= net.yt; ++y) {
        const float su = get_window_sum(impl.m_supply_down_left_sum[kUp], net.xl, net.xr, y, y);
        const float sd = get_window_sum(impl.m_supply_down_left_sum[kDown], net.xl, net.xr, y, y);
        for (int x = net.xl; x <= net.xr; ++x) {
            if (const float s = impl.m_supply[kUp](x, y); s > 0.0f)
                g[kUp](x, y) += ((ey * 0.5f + (y > cy ? 1.0f : 0.0f)) * s) / su;
            if (const float s = impl.m_supply[kDown](x, y); s > 0.0f)
                g[kDown](x, y) += ((ey * 0.5f + (y < cy ? 1.0f : 0.0f)) * s) / sd;
        }
    }
}

TEST(BoundingBoxReference, ManyNetsMatchTheTileByTileAlgorithmBitForBit)
{
    constexpr int kNx = 17;
    constexpr int kNy = 23;
    TEST_NETLIST netlist;
    CONGESTION_IMPL impl(kNx, kNy, &netlist);
    std::mt19937 random(29);
    for (RESOURCE_TYPE type : WIRE_TYPES)
        fill_random(impl.m_supply[type], random, -3, 50);  // about one tile in fifteen without supply
    build_supply_tables(impl);
    std::uniform_int_distribution<int> col(0, kNx - 1), row(0, kNy - 1);
    std::uniform_real_distribution<float> length(0.0f, 30.0f);
    TYPE_GRIDS expected;
    for (GRID_2D<float>& grid : expected)
        grid.resize(kNx, kNy, 0.0f);
    std::vector<int> nets;
    for (int i = 0; i < 300; ++i) {
        const int x1 = col(random), x2 = col(random), y1 = row(random), y2 = row(random);
        const BOX_NET net = {std::min(x1, x2), std::max(x1, x2), std::min(y1, y2), std::max(y1, y2),
                             length(random), length(random), {col(random) - 3, row(random) + 2}};
        nets.push_back(add_box_net(netlist, net));
        add_reference_demand(impl, net, expected);
    }
    const TYPE_GRIDS actual = run(impl, netlist, nets);
    for (int type = 0; type < CONGESTION::NUM_RESOURCE_TYPES; ++type)
        EXPECT_TRUE(same_grid(actual[type], expected[type])) << type;
}

// ---------------------------------------------------------------------------
// Protocol and failures
// ---------------------------------------------------------------------------

class LOGGING_NETLIST : public TEST_NETLIST {
 public:
    mutable std::mutex mutex;
    mutable std::vector<std::string> calls;
    void record(const std::string& call) const
    {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back(call);
    }
    CONGESTION::LOC get_pin_loc(int net, int pin) const override
    {
        record("get_pin_loc " + std::to_string(net) + " " + std::to_string(pin));
        return TEST_NETLIST::get_pin_loc(net, pin);
    }
    std::pair<float, float> get_wirelength(int net) const override
    {
        record("get_wirelength " + std::to_string(net));
        return TEST_NETLIST::get_wirelength(net);
    }
    void get_bounding_box(int net, int* xl, int* xr, int* yb, int* yt) const override
    {
        record("get_bounding_box " + std::to_string(net));
        TEST_NETLIST::get_bounding_box(net, xl, xr, yb, yt);
    }
};

TEST(BoundingBoxProtocol, EmptyBoxesEndAfterTheBoxQuery)
{
    LOGGING_NETLIST netlist;
    CONGESTION_IMPL impl(4, 3, &netlist);
    set_uniform_supply(impl, 1.0f);
    add_box_net(netlist, {2, 1, 0, 0, 5.0f, 5.0f, {0, 0}});
    add_box_net(netlist, {0, 1, 2, 1, 5.0f, 5.0f, {0, 0}});
    add_box_net(netlist, {0, 1, 0, 1, 5.0f, 5.0f, {0, 0}});
    const TYPE_GRIDS g = run(impl, netlist, {0, 1, 2});
    const std::vector<std::string> expected = {"get_bounding_box 0", "get_bounding_box 1", "get_bounding_box 2",
                                               "get_wirelength 2", "get_pin_loc 2 0"};
    EXPECT_EQ(netlist.calls, expected);
    EXPECT_GT(total(g[kRight]), 0.0f);
}

TEST(BoundingBoxFailures, NullInterfaceIsFatalEvenWithoutNets)
{
    CONGESTION_IMPL impl(2, 2, nullptr);
    TYPE_GRIDS grids;
    EXPECT_FATAL(add_bounding_box_demand(impl, {}, 0, 1, grids, nullptr), "net_if != nullptr");
}

TEST(BoundingBoxFailures, SupplyTablesMustHaveBeenBuilt)
{
    TEST_NETLIST netlist;
    CONGESTION_IMPL impl(4, 3, &netlist);
    add_box_net(netlist, {0, 1, 0, 0, 0.0f, 0.0f, {0, 0}});
    EXPECT_FATAL(run(impl, netlist, {0}), "down_left_sum.get_num_rows() > xmax");
}

TEST(BoundingBoxFailures, BoxesPastTheGridAreFatal)
{
    TEST_NETLIST netlist;
    CONGESTION_IMPL impl(4, 3, &netlist);
    set_uniform_supply(impl, 1.0f);
    add_box_net(netlist, {2, 4, 0, 0, 0.0f, 0.0f, {2, 0}});
    add_box_net(netlist, {-1, 1, 0, 0, 0.0f, 0.0f, {0, 0}});
    add_box_net(netlist, {0, 1, 0, 3, 0.0f, 0.0f, {0, 0}});
    add_box_net(netlist, {0, 3, 0, 2, 0.0f, 0.0f, {0, 0}});
    EXPECT_FATAL(run(impl, netlist, {0}), "down_left_sum.get_num_rows() > xmax");
    EXPECT_FATAL(run(impl, netlist, {1}), "xmin >= 0");
    EXPECT_FATAL(run(impl, netlist, {2}), "down_left_sum.get_num_cols() > ymax");

    // Tables larger than the supply let the tile checks speak.
    impl.m_supply[kRight].resize(2, 3, 1.0f);
    EXPECT_FATAL(run(impl, netlist, {3}), "m_supply[type].get_num_rows() > x");
    impl.m_supply[kRight].resize(4, 3, 1.0f);
    impl.m_supply[kUp].resize(4, 2, 1.0f);
    EXPECT_FATAL(run(impl, netlist, {3}), "m_supply[type].get_num_cols() > y");
}

}  // namespace
