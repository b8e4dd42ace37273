// Tests of the path-probability net model: worked nets, the large-net
// quadrant rule, the netlist call protocol and mirror symmetry.
#include <algorithm>
#include <cmath>
#include <ostream>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "fitter/congestion/congestion_impl.h"
#include "engine_support.h"
#include "test_support.h"

namespace {


TYPE_GRIDS zero_grids(int nx, int ny)
{
    TYPE_GRIDS grids;
    for (GRID_2D<float>& grid : grids)
        grid.resize(nx, ny, 0.0f);
    return grids;
}

// Runs the model over `nets` as one chunk into fresh nx by ny grids.
TYPE_GRIDS run(const NETLIST_IF& netlist, const std::vector<int>& nets, int nx, int ny)
{
    TYPE_GRIDS grids = zero_grids(nx, ny);
    add_path_probability_demand(nets, 0, 1, grids, &netlist);
    return grids;
}

// Number of non-zero tiles over all five grids.
int non_zero_tiles(const TYPE_GRIDS& grids)
{
    int count = 0;
    for (const GRID_2D<float>& grid : grids)
        count += static_cast<int>(std::count_if(grid.begin(), grid.end(), [](float v) { return v != 0.0f; }));
    return count;
}

// Records every call per net; a net's calls come from one thread, in order.
struct CALL {
    enum KIND { PIN_LOC, NUM_PINS, WEIGHT } kind;
    int pin;
    bool operator==(const CALL& other) const { return kind == other.kind && pin == other.pin; }
};
void PrintTo(const CALL& call, std::ostream* os)
{
    static const char* const names[] = {"get_pin_loc", "get_num_pins", "get_pin_weight"};
    *os << names[call.kind] << "(" << call.pin << ")";
}

class RECORDING_NETLIST : public TEST_NETLIST {
 public:
    mutable std::vector<std::vector<CALL>> log;

    CONGESTION::LOC get_pin_loc(int net, int pin) const override
    {
        log.at(net).push_back({CALL::PIN_LOC, pin});
        return TEST_NETLIST::get_pin_loc(net, pin);
    }
    int get_num_pins(int net) const override
    {
        log.at(net).push_back({CALL::NUM_PINS, -1});
        return TEST_NETLIST::get_num_pins(net);
    }
    float get_pin_weight(int net, int pin) const override
    {
        log.at(net).push_back({CALL::WEIGHT, pin});
        return TEST_NETLIST::get_pin_weight(net, pin);
    }
};

// The calls the model must make for a net with these pins.
std::vector<CALL> expected_calls(const std::vector<CONGESTION::LOC>& pins)
{
    std::vector<CALL> calls = {{CALL::PIN_LOC, 0}, {CALL::NUM_PINS, -1}};
    const int n = static_cast<int>(pins.size());
    bool one_tile = true;
    for (int k = 1; k < n; ++k) {
        calls.push_back({CALL::PIN_LOC, k});
        one_tile = one_tile && pins[k].x == pins[0].x && pins[k].y == pins[0].y;
    }
    if (one_tile)
        return calls;
    std::set<std::pair<int, int>> seen = {{pins[0].x, pins[0].y}};
    for (int k = 1; k < n; ++k) {
        calls.push_back({CALL::PIN_LOC, k});
        if (n < 16 && seen.insert({pins[k].x, pins[k].y}).second)
            calls.push_back({CALL::WEIGHT, k});
    }
    return calls;
}

// Nets of 1 to 24 pins clustered around a random centre of an nx by ny
// grid, so that shared tiles, pins on the driver and both procedures occur.
void add_random_nets(TEST_NETLIST& netlist, int count, int nx, int ny, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> pins(1, 24);
    std::uniform_int_distribution<int> radius(0, 4);
    std::uniform_real_distribution<float> weight(0.0f, 3.0f);
    for (int i = 0; i < count; ++i) {
        const int r = radius(random);
        const int cx = std::uniform_int_distribution<int>(0, nx - 1)(random);
        const int cy = std::uniform_int_distribution<int>(0, ny - 1)(random);
        std::uniform_int_distribution<int> dx(std::max(0, cx - r), std::min(nx - 1, cx + r));
        std::uniform_int_distribution<int> dy(std::max(0, cy - r), std::min(ny - 1, cy + r));
        std::vector<CONGESTION::LOC> locs;
        std::vector<float> weights;
        for (int p = pins(random); p > 0; --p) {
            locs.push_back({dx(random), dy(random)});
            weights.push_back(weight(random));
        }
        netlist.add_net(locs);
        netlist.weights.push_back(weights);
    }
}

// ---------------------------------------------------------------------------
// Small nets
// ---------------------------------------------------------------------------

// (0,0) -> (3,0): every boundary of the row is crossed rightwards for sure,
// and each tile gets half of each boundary it touches.
TEST(PathProbability, StraightTwoPinNetHeadsRightOrLeft)
{
    TEST_NETLIST netlist;
    netlist.add_net({{0, 0}, {3, 0}});
    netlist.add_net({{3, 0}, {0, 0}});
    const TYPE_GRIDS right = run(netlist, {0}, 5, 2);
    const float expected[] = {0.5f, 1.0f, 1.0f, 0.5f};
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(right[kRight](x, 0), expected[x]) << x;
    EXPECT_EQ(non_zero_tiles(right), 4);

    const TYPE_GRIDS left = run(netlist, {1}, 5, 2);
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(left[kLeft](x, 0), expected[x]) << x;
    EXPECT_EQ(non_zero_tiles(left), 4);
}

//   y=1 |  .   .   B        right crossings   row 1: 1/3 2/3
//   y=0 |  A   .   .                          row 0: 2/3 1/3
//        x=0  1   2         up crossings 1/3 in each column
TEST(PathProbability, LShapedNetSplitsByTwoPinProbabilities)
{
    TEST_NETLIST netlist;
    netlist.add_net({{0, 0}, {2, 1}});
    const TYPE_GRIDS g = run(netlist, {0}, 3, 2);
    const float third = 1.0f / 3.0f;
    const float two_thirds = 2.0f / 3.0f;
    // Row 0 crossings 2/3, 1/3; each tile adds its east boundary, then its west.
    EXPECT_EQ(g[kRight](0, 0), 0.0f + 0.5f * two_thirds);
    EXPECT_EQ(g[kRight](1, 0), (0.0f + 0.5f * third) + 0.5f * two_thirds);
    EXPECT_EQ(g[kRight](2, 0), 0.0f + 0.5f * third);
    EXPECT_EQ(g[kRight](0, 1), 0.0f + 0.5f * third);
    EXPECT_EQ(g[kRight](1, 1), (0.0f + 0.5f * two_thirds) + 0.5f * third);
    EXPECT_EQ(g[kRight](2, 1), 0.0f + 0.5f * two_thirds);
    EXPECT_FLOAT_EQ(g[kRight](1, 0), 0.5f);
    EXPECT_FLOAT_EQ(g[kRight](2, 0), 1.0f / 6.0f);
    for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 2; ++y) {
            EXPECT_EQ(g[kUp](x, y), 0.5f * third) << x << "," << y;
            EXPECT_EQ(g[kLeft](x, y), 0.0f);
            EXPECT_EQ(g[kDown](x, y), 0.0f);
        }
}

// Loads (2,0) with w = 1 and (2,1) with w = 2 averaged per boundary.
TEST(PathProbability, LoadsAreAveragedByWeightPerBoundary)
{
    RECORDING_NETLIST netlist;
    netlist.add_net({{0, 0}, {2, 0}, {2, 1}});
    netlist.weights = {{5.0f, 0.0f, 1.0f}};
    netlist.log.resize(1);
    const TYPE_GRIDS g = run(netlist, {0}, 3, 2);

    const float third = 1.0f / 3.0f;
    const float two_thirds = 2.0f / 3.0f;
    const float r00 = (1.0f + 2.0f * two_thirds) / 3.0f;  // 7/9
    const float r10 = (1.0f + 2.0f * third) / 3.0f;       // 5/9
    const float r01 = (0.0f + 2.0f * third) / 2.0f;       // 1/3
    const float r11 = (0.0f + 2.0f * two_thirds) / 2.0f;  // 2/3
    const float up = (0.0f + 2.0f * third) / 2.0f;
    EXPECT_EQ(g[kRight](0, 0), 0.0f + 0.5f * r00);
    EXPECT_EQ(g[kRight](1, 0), (0.0f + 0.5f * r10) + 0.5f * r00);
    EXPECT_EQ(g[kRight](2, 0), 0.0f + 0.5f * r10);
    EXPECT_EQ(g[kRight](0, 1), 0.0f + 0.5f * r01);
    EXPECT_EQ(g[kRight](1, 1), (0.0f + 0.5f * r11) + 0.5f * r01);
    EXPECT_EQ(g[kRight](2, 1), 0.0f + 0.5f * r11);
    EXPECT_FLOAT_EQ(g[kRight](0, 0), 7.0f / 18.0f);
    EXPECT_FLOAT_EQ(g[kRight](1, 0), 2.0f / 3.0f);
    EXPECT_FLOAT_EQ(g[kRight](2, 0), 5.0f / 18.0f);
    for (int x = 0; x < 3; ++x)
        EXPECT_EQ(g[kUp](x, 1), 0.5f * up);
    // The driver's weight is never asked for.
    const CALL driver_weight = {CALL::WEIGHT, 0};
    EXPECT_EQ(std::count(netlist.log[0].begin(), netlist.log[0].end(), driver_weight), 0);
}

TEST(PathProbability, RepeatedTilesCountOnceAndAreNotWeighted)
{
    RECORDING_NETLIST netlist;
    netlist.add_net({{1, 1}, {3, 2}, {3, 2}, {1, 1}, {0, 2}});
    netlist.add_net({{1, 1}, {3, 2}, {0, 2}});
    // Different weights on the repeated pins would show if they were used.
    netlist.weights = {{0.0f, 1.0f, 7.0f, 9.0f, 2.0f}, {0.0f, 1.0f, 2.0f}};
    netlist.log.resize(2);
    const TYPE_GRIDS repeated = run(netlist, {0}, 4, 3);
    const TYPE_GRIDS distinct = run(netlist, {1}, 4, 3);
    for (int type = 0; type < CONGESTION::NUM_RESOURCE_TYPES; ++type)
        EXPECT_TRUE(std::equal(repeated[type].begin(), repeated[type].end(), distinct[type].begin())) << type;
    EXPECT_GT(non_zero_tiles(repeated), 0);
    EXPECT_EQ(netlist.log[0], expected_calls(netlist.nets[0]));
    const std::vector<CALL>& log = netlist.log[0];
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const CALL& c) { return c.kind == CALL::WEIGHT; }), 2);
}

TEST(PathProbability, NetsOnOneTileAddNothingAndReadOnlyTheFirstPass)
{
    RECORDING_NETLIST netlist;
    netlist.add_net({{2, 1}, {2, 1}, {2, 1}});
    netlist.add_net({{1, 1}});
    netlist.log.resize(2);
    const TYPE_GRIDS g = run(netlist, {0, 1}, 4, 3);
    EXPECT_EQ(non_zero_tiles(g), 0);
    const std::vector<CALL> first = {{CALL::PIN_LOC, 0}, {CALL::NUM_PINS, -1}, {CALL::PIN_LOC, 1}, {CALL::PIN_LOC, 2}};
    EXPECT_EQ(netlist.log[0], first);
    const std::vector<CALL> single = {{CALL::PIN_LOC, 0}, {CALL::NUM_PINS, -1}};
    EXPECT_EQ(netlist.log[1], single);
}

// ---------------------------------------------------------------------------
// Large nets
// ---------------------------------------------------------------------------

TEST(PathProbability, FifteenPinsReadWeightsSixteenDoNot)
{
    RECORDING_NETLIST netlist;
    std::vector<CONGESTION::LOC> row;
    for (int x = 0; x < 16; ++x)
        row.push_back({x, 0});
    netlist.add_net(std::vector<CONGESTION::LOC>(row.begin(), row.end() - 1));
    netlist.add_net(row);
    netlist.log.resize(2);
    const TYPE_GRIDS fifteen = run(netlist, {0}, 17, 2);
    const TYPE_GRIDS sixteen = run(netlist, {1}, 17, 2);
    EXPECT_EQ(netlist.log[0], expected_calls(netlist.nets[0]));
    EXPECT_EQ(netlist.log[1], expected_calls(netlist.nets[1]));
    const CALL last_weight = {CALL::WEIGHT, 14};
    EXPECT_EQ(std::count(netlist.log[0].begin(), netlist.log[0].end(), last_weight), 1);
    for (const CALL& call : netlist.log[1])
        EXPECT_NE(call.kind, CALL::WEIGHT);

    // Driver (0,0), loads (1,0)..(15,0): every load lies east, so each right
    // crossing of the row is 1.
    EXPECT_EQ(sixteen[kRight](0, 0), 0.5f);
    for (int x = 1; x <= 14; ++x)
        EXPECT_EQ(sixteen[kRight](x, 0), 1.0f) << x;
    EXPECT_EQ(sixteen[kRight](15, 0), 0.5f);
    EXPECT_EQ(non_zero_tiles(sixteen), 16);
    EXPECT_EQ(fifteen[kRight](14, 0), 0.5f);
    EXPECT_EQ(non_zero_tiles(fifteen), 15);
}

//   y=6 |  .  N  N  N  N  N      driver D at (0,4), 9 loads N north-east
//   y=5 |  .  N  N  N  N  .      (distance north 2), 1 load S south-east
//   y=4 |  D  .  .  .  .  .      (distance south 4); 5 more pins on D's
//   y=3 |  .  .  .  .  .  .      tile are ignored. 16 pins in all.
//   y=0 |  .  S  .  .  .  .
//        x=0  1  2  3  4  5
TEST(PathProbability, LargeNetDensitiesComeFromQuadrantCounts)
{
    std::vector<CONGESTION::LOC> pins = {{0, 4}, {1, 0}};
    for (int x = 1; x <= 5; ++x)
        pins.push_back({x, 6});
    for (int x = 1; x <= 4; ++x)
        pins.push_back({x, 5});
    while (pins.size() < 16)
        pins.push_back({0, 4});
    TEST_NETLIST netlist;
    netlist.add_net(pins);
    const TYPE_GRIDS g = run(netlist, {0}, 7, 8);

    const float h_ne = 1.0f;   // sqrt(9) / 2, limited to 1
    const float h_se = 0.25f;  // sqrt(1) / 4
    const float on_row = (h_se + h_ne) * 0.5f;
    EXPECT_EQ(g[kRight](0, 0), 0.5f * h_se);
    EXPECT_EQ(g[kRight](2, 0), 0.5f * h_se + 0.5f * h_se);
    EXPECT_EQ(g[kRight](2, 4), 0.5f * on_row + 0.5f * on_row);
    EXPECT_EQ(g[kRight](2, 6), 1.0f);
    EXPECT_EQ(g[kRight](5, 6), 0.5f);

    const float v_ne = std::sqrt(9.0f) / 5.0f;  // distance east 5
    const float v_se = std::sqrt(1.0f) / 5.0f;
    const float up_line = (0.0f + v_ne) * 0.5f;
    const float down_line = (v_se + 0.0f) * 0.5f;
    EXPECT_EQ(g[kUp](0, 4), 0.5f * up_line);
    EXPECT_EQ(g[kUp](0, 5), 0.5f * up_line + 0.5f * up_line);
    EXPECT_EQ(g[kUp](3, 5), 0.5f * v_ne + 0.5f * v_ne);
    EXPECT_EQ(g[kUp](3, 3), 0.0f);
    EXPECT_EQ(g[kDown](3, 2), 0.5f * v_se + 0.5f * v_se);
    EXPECT_EQ(g[kDown](0, 0), 0.5f * down_line);
    EXPECT_EQ(g[kDown](3, 4), 0.0f + 0.5f * v_se);
    for (int x = 0; x < 7; ++x)
        for (int y = 0; y < 8; ++y)
            EXPECT_EQ(g[kLeft](x, y), 0.0f);
    // Nothing outside the pin box.
    EXPECT_EQ(g[kRight](6, 6), 0.0f);
    EXPECT_EQ(g[kUp](3, 7), 0.0f);
}

// ---------------------------------------------------------------------------
// Protocol, symmetry and failures
// ---------------------------------------------------------------------------

TEST(PathProbability, CallsFollowTheProtocolPerNetInEveryChunk)
{
    constexpr int kNx = 20;
    constexpr int kNy = 13;
    RECORDING_NETLIST netlist;
    add_random_nets(netlist, 120, kNx, kNy, 11);
    netlist.log.resize(netlist.nets.size());
    std::vector<int> order(netlist.nets.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<int>(order.size() - 1 - i);
    CONGESTION_IMPL impl(kNx, kNy, &netlist);
    impl.set_num_chunks(5);
    impl.update_demand(order, CONGESTION::PATH_PROBABILITY_MODEL);
    for (size_t net = 0; net < netlist.nets.size(); ++net)
        EXPECT_EQ(netlist.log[net], expected_calls(netlist.nets[net])) << "net " << net;
    EXPECT_GT(impl.get_total_demand(kRight), 0.0f);
    EXPECT_EQ(impl.get_total_demand(kLab), 0.0f);
}

// Flipping a net left to right swaps its right and left demand exactly, and
// top to bottom its up and down demand.
TEST(PathProbability, MirroredNetsGiveMirroredDemand)
{
    constexpr int kNx = 9;
    constexpr int kNy = 6;
    TEST_NETLIST netlist;
    add_random_nets(netlist, 60, kNx, kNy, 5);
    TEST_NETLIST mirrored = netlist;
    for (std::vector<CONGESTION::LOC>& pins : mirrored.nets)
        for (CONGESTION::LOC& pin : pins)
            pin = {kNx - 1 - pin.x, kNy - 1 - pin.y};
    for (int net = 0; net < static_cast<int>(netlist.nets.size()); ++net) {
        const TYPE_GRIDS g = run(netlist, {net}, kNx, kNy);
        const TYPE_GRIDS m = run(mirrored, {net}, kNx, kNy);
        for (int x = 0; x < kNx; ++x)
            for (int y = 0; y < kNy; ++y) {
                const int mx = kNx - 1 - x;
                const int my = kNy - 1 - y;
                ASSERT_EQ(g[kRight](x, y), m[kLeft](mx, my)) << net << " " << x << "," << y;
                ASSERT_EQ(g[kLeft](x, y), m[kRight](mx, my)) << net << " " << x << "," << y;
                ASSERT_EQ(g[kUp](x, y), m[kDown](mx, my)) << net << " " << x << "," << y;
                ASSERT_EQ(g[kDown](x, y), m[kUp](mx, my)) << net << " " << x << "," << y;
                ASSERT_EQ(g[kLab](x, y), 0.0f);
            }
    }
}

// Answers a different location for load 1 on its second reading.
class MOVING_NETLIST : public TEST_NETLIST {
 public:
    CONGESTION::LOC second;
    mutable int readings = 0;
    CONGESTION::LOC get_pin_loc(int net, int pin) const override
    {
        if (pin == 1 && ++readings == 2)
            return second;
        return TEST_NETLIST::get_pin_loc(net, pin);
    }
};

TEST(PathProbability, LoadsMovedOutsideTheBoxAreFatalInCheckOrder)
{
    // Box of the first reading: x 1..2, y 1..2.
    const std::pair<CONGESTION::LOC, const char*> cases[] = {
        {{0, 0}, "load_loc.x >= net_xl"},
        {{3, 3}, "load_loc.x <= net_xr"},
        {{2, 0}, "load_loc.y >= net_yb"},
        {{1, 3}, "load_loc.y <= net_yt"},
    };
    for (const auto& [second, message] : cases) {
        MOVING_NETLIST netlist;
        netlist.add_net({{1, 1}, {2, 2}});
        netlist.second = second;
        EXPECT_FATAL(run(netlist, {0}, 4, 4), message);
    }
}

TEST(PathProbability, NullInterfaceIsFatalEvenWithoutNets)
{
    TYPE_GRIDS grids = zero_grids(2, 2);
    EXPECT_FATAL(add_path_probability_demand({}, 0, 1, grids, nullptr), "net_if != nullptr");
}

}  // namespace
