// Tests of demand accumulation: both net models against their algorithms
// transcribed net by net and tile by tile, merged chunk by chunk; the
// netlist calls of each model; the Lab Input model.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engine_support.h"
#include "fitter/congestion/bounding_box_batch.h"
#include "fitter/congestion/path_probability_batch.h"
#include "test_support.h"

namespace {

constexpr auto kPath = CONGESTION::PATH_PROBABILITY_MODEL;
constexpr auto kBox = CONGESTION::BOUNDING_BOX_MODEL;

// Records every call in order.
class RECORDING_NETLIST : public TEST_NETLIST {
 public:
    mutable std::mutex mutex;
    mutable std::vector<std::string> calls;
    void record(const std::string& call, int net, int pin = -1) const
    {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back(call + " " + std::to_string(net) + (pin < 0 ? "" : " " + std::to_string(pin)));
    }
    CONGESTION::LOC get_pin_loc(int n, int p) const override
    {
        return record("loc", n, p), TEST_NETLIST::get_pin_loc(n, p);
    }
    int get_num_pins(int n) const override { return record("pins", n), TEST_NETLIST::get_num_pins(n); }
    float get_pin_weight(int n, int p) const override
    {
        return record("weight", n, p), TEST_NETLIST::get_pin_weight(n, p);
    }
    std::pair<float, float> get_wirelength(int n) const override
    {
        return record("length", n), TEST_NETLIST::get_wirelength(n);
    }
    void get_bounding_box(int n, int* xl, int* xr, int* yb, int* yt) const override
    {
        record("box", n);
        TEST_NETLIST::get_bounding_box(n, xl, xr, yb, yt);
    }
};

// The path model, for a net below 16 pins: the driver, the pin count, every
// load's location, then every load again with the weight of each load on a
// tile not seen before. The bounding-box model asks each net's box first; an
// empty box ends the net there, any other goes on to the wire lengths and
// the driver.
TEST(NetModels, AskTheNetlistInTheirOrder)
{
    RECORDING_NETLIST path;
    path.add_net({{0, 0}, {2, 0}, {2, 1}, {2, 1}});
    CONGESTION(3, 2, &path).update_demand({0}, kPath);
    const std::vector<std::string> path_calls = {"loc 0 0", "pins 0",     "loc 0 1", "loc 0 2",    "loc 0 3",
                                                 "loc 0 1", "weight 0 1", "loc 0 2", "weight 0 2", "loc 0 3"};
    EXPECT_EQ(path.calls, path_calls);

    RECORDING_NETLIST box;
    box.add_net({{0, 0}});
    box.add_net({{0, 0}});
    box.add_net({{0, 0}, {1, 1}});
    box.boxes = {{2, 1, 0, 0}, {0, 1, 2, 1}, {0, 1, 0, 1}};
    CONGESTION estimator(4, 3, &box);
    estimator.generate_smooth_wire_supply(1, 1);
    estimator.set_num_chunks(1);
    estimator.update_demand({0, 1, 2}, kBox);
    const std::vector<std::string> box_calls = {"box 0", "box 1", "box 2", "length 2", "loc 2 0"};
    EXPECT_EQ(box.calls, box_calls);
}

// --- Both models transcribed in their written order --------------------------

// Two-pin crossing probabilities of boundary (i, j) of the pair A -> B,
// horizontal (ph) and vertical (pv).
float ph(int ax, int ay, int bx, int by, int i, int j)
{
    const int dx = std::abs(ax - bx), dy = std::abs(ay - by), ly = std::min(ay, by);
    const float s = static_cast<float>(dx + dy);
    if (dy == 0)
        return 1.0f;
    if (j == ay - ly)
        return static_cast<float>(ax < bx ? dx - i : i + 1) / s;
    if (j == by - ly)
        return static_cast<float>(ax < bx ? i + 1 : dx - i) / s;
    return 1.0f / s;
}

float pv(int ax, int ay, int bx, int by, int i, int j) { return ph(ay, ax, by, bx, j, i); }

float density(int count, int distance)
{
    return std::min(std::sqrt(static_cast<float>(count)) / static_cast<float>(distance), 1.0f);
}

// W by H arrays of one net, indexed (x - xl, y - yb).
struct ARRAY {
    int xl, yb, h;
    std::vector<float> v;
    ARRAY(int xl_, int yb_, int w, int h_) : xl(xl_), yb(yb_), h(h_), v(static_cast<size_t>(w) * h_, 0.0f) {}
    float& operator()(int x, int y) { return v[static_cast<size_t>(x - xl) * h + (y - yb)]; }
};

// `second`, when given, is what the second reading of the pins returns: the
// box comes from the first, the loads from the second.
void reference_path_net(const TEST_NETLIST& n, int net, TYPE_GRIDS& g,
                        const std::vector<CONGESTION::LOC>* second = nullptr)
{
    const std::vector<CONGESTION::LOC>& pins = n.nets[net];
    const std::vector<CONGESTION::LOC>& loads = second != nullptr ? *second : pins;
    const int xd = pins[0].x, yd = pins[0].y, np = static_cast<int>(pins.size());
    int xl = xd, xr = xd, yb = yd, yt = yd;
    for (const CONGESTION::LOC& p : pins)
        xl = std::min(xl, p.x), xr = std::max(xr, p.x), yb = std::min(yb, p.y), yt = std::max(yt, p.y);
    const int W = xr - xl + 1, H = yt - yb + 1;
    if (W == 1 && H == 1)
        return;
    ARRAY right(xl, yb, W, H), left = right, up = right, down = right, hc = right, vc = right, seen = right;
    seen(xd, yd) = 1.0f;
    int cE = 0, cN = 0, cW = 0, cS = 0, cNE = 0, cNW = 0, cSW = 0, cSE = 0;
    for (int k = 1; k < np; ++k) {
        const int xk = loads[k].x, yk = loads[k].y;
        if ((seen(xk, yk) += 1.0f) > 1.0f)
            continue;
        if (np >= 16) {
            if (yk == yd)
                ++(xk > xd ? cE : cW);
            else if (xk == xd)
                ++(yk > yd ? cN : cS);
            else if (yk > yd)
                ++(xk > xd ? cNE : cNW);
            else
                ++(xk > xd ? cSE : cSW);
            continue;
        }
        const float w = n.get_pin_weight(net, k) + 1.0f;
        const int lx = std::min(xd, xk), hx = std::max(xd, xk), ly = std::min(yd, yk), hy = std::max(yd, yk);
        for (int x = lx; x <= hx; ++x)
            for (int y = ly; y <= hy; ++y) {
                if (x < hx) {
                    hc(x, y) = hc(x, y) + w;
                    if (xd != xk) {
                        float& c = xd < xk ? right(x, y) : left(x, y);
                        c = c + w * ph(xd, yd, xk, yk, x - lx, y - ly);
                    }
                }
                if (y < hy) {
                    vc(x, y) = vc(x, y) + w;
                    if (yd != yk) {
                        float& c = yd < yk ? up(x, y) : down(x, y);
                        c = c + w * pv(xd, yd, xk, yk, x - lx, y - ly);
                    }
                }
            }
    }
    if (np < 16) {
        for (int x = xl; x <= xr; ++x)
            for (int y = yb; y <= yt; ++y) {
                if (x < xr && hc(x, y) > 0.0f)
                    right(x, y) = right(x, y) / hc(x, y), left(x, y) = left(x, y) / hc(x, y);
                if (y < yt && vc(x, y) > 0.0f)
                    up(x, y) = up(x, y) / vc(x, y), down(x, y) = down(x, y) / vc(x, y);
            }
    } else {
        const int dN = std::max(yt - yd, 1), dS = std::max(yd - yb, 1);
        const int dE = std::max(xr - xd, 1), dW = std::max(xd - xl, 1);
        const float hNE = density(cNE, dN), hNW = density(cNW, dN), hSW = density(cSW, dS), hSE = density(cSE, dS);
        const float vNE = density(cNE, dE), vNW = density(cNW, dW), vSW = density(cSW, dW), vSE = density(cSE, dE);
        for (int x = xl; x <= xr; ++x)
            for (int y = yb; y <= yt; ++y) {
                if (x >= xd && x < xr)
                    right(x, y) = y < yd ? hSE : y > yd ? hNE : cE >= 1 ? 1.0f : (hSE + hNE) * 0.5f;
                if (x < xd)
                    left(x, y) = y < yd ? hSW : y > yd ? hNW : cW >= 1 ? 1.0f : (hSW + hNW) * 0.5f;
                if (y >= yd && y < yt)
                    up(x, y) = x < xd ? vNW : x > xd ? vNE : cN >= 1 ? 1.0f : (vNW + vNE) * 0.5f;
                if (y < yd)
                    down(x, y) = x < xd ? vSW : x > xd ? vSE : cS >= 1 ? 1.0f : (vSE + vSW) * 0.5f;
            }
    }
    for (int x = xl; x <= xr; ++x)
        for (int y = yb; y <= yt; ++y) {
            if (x < xr)
                g[kRight](x, y) += 0.5f * right(x, y), g[kLeft](x, y) += 0.5f * left(x, y);
            if (x > xl)
                g[kRight](x, y) += 0.5f * right(x - 1, y), g[kLeft](x, y) += 0.5f * left(x - 1, y);
            if (y < yt)
                g[kUp](x, y) += 0.5f * up(x, y), g[kDown](x, y) += 0.5f * down(x, y);
            if (y > yb)
                g[kUp](x, y) += 0.5f * up(x, y - 1), g[kDown](x, y) += 0.5f * down(x, y - 1);
        }
}

// Supplies of k / 8 keep window sums exact, so a plain sum gives the value
// of the engine's table.
void reference_box_net(CONGESTION_IMPL& impl, const TEST_NETLIST& n, int index, TYPE_GRIDS& g)
{
    const struct {
        int xl, xr, yb, yt;
        float fx, fy;
        CONGESTION::LOC driver;
    } net = {n.boxes[index][0],          n.boxes[index][1],           n.boxes[index][2], n.boxes[index][3],
             n.wirelengths[index].first, n.wirelengths[index].second, n.nets[index][0]};
    const TYPE_GRIDS& s = PEER::supply(impl);
    const auto window = [&](RESOURCE_TYPE type, int x0, int x1, int y0, int y1) {
        float sum = 0.0f;
        for (int x = x0; x <= x1; ++x)
            for (int y = y0; y <= y1; ++y)
                sum += s[type](x, y);
        return sum;
    };
    const int cx = std::min(net.xr, std::max(net.driver.x, net.xl));
    const int cy = std::min(net.yt, std::max(net.driver.y, net.yb));
    const int w = net.xr - net.xl, h = net.yt - net.yb;
    const float ex = w + 1 > 2    ? std::max(net.fx - float(w), 0.0f) / float(w + 1)
                     : w + 1 == 2 ? std::max(net.fx - 0.5f, 0.0f) * 0.5f
                                  : 0.0f;
    const float base = w + 1 == 2 ? 0.5f : 1.0f;
    for (int x = net.xl; x <= net.xr; ++x) {
        const float sl = window(kLeft, x, x, net.yb, net.yt), sr = window(kRight, x, x, net.yb, net.yt);
        for (int y = net.yb; y <= net.yt; ++y) {
            if (s[kLeft](x, y) > 0.0f)
                g[kLeft](x, y) += ((ex * 0.5f + (x < cx ? base : 0.0f)) * s[kLeft](x, y)) / sl;
            if (s[kRight](x, y) > 0.0f)
                g[kRight](x, y) += ((ex * 0.5f + (x > cx ? base : 0.0f)) * s[kRight](x, y)) / sr;
        }
    }
    const float ey = h > 0 ? std::max(net.fy - float(h), 0.0f) / float(h + 1) : 0.0f;
    for (int y = net.yb; y <= net.yt; ++y) {
        const float su = window(kUp, net.xl, net.xr, y, y), sd = window(kDown, net.xl, net.xr, y, y);
        for (int x = net.xl; x <= net.xr; ++x) {
            if (s[kUp](x, y) > 0.0f)
                g[kUp](x, y) += ((ey * 0.5f + (y > cy ? 1.0f : 0.0f)) * s[kUp](x, y)) / su;
            if (s[kDown](x, y) > 0.0f)
                g[kDown](x, y) += ((ey * 0.5f + (y < cy ? 1.0f : 0.0f)) * s[kDown](x, y)) / sd;
        }
    }
}

// The seeded netlist; supply with tiles without any; demand already present.
// Chunk c of 3 takes the nets at positions c, c + 3, ..., and the chunks are
// added into the demand one at a time, chunk 0 first.
TEST(NetModels, ChunksMatchTheNetByNetAlgorithmsBitForBit)
{
    constexpr int kNx = 31, kNy = 26, kNets = 400, kChunks = 3;
    TEST_NETLIST netlist = make_random_netlist(kNx, kNy, kNets, 41);
    const std::vector<int> nets = all_nets(kNets);
    std::mt19937 random(43);
    for (CONGESTION::NET_MODEL model : {kPath, kBox}) {
        CONGESTION_IMPL impl(kNx, kNy, &netlist);
        fill_random_inputs(impl, 29);
        for (RESOURCE_TYPE type : WIRE_TYPES)
            fill_random(PEER::supply(impl)[type], random, -3, 50);
        impl.generate_smooth_supply(1, 1, WIRE_TYPES);
        TYPE_GRIDS expected = PEER::demand(impl);
        // Both models add a chunk's nets in batches, band of grid rows by
        // band: bands of one row up to the whole grid, batches of one net up
        // to the whole chunk, and storage kept from chunk to chunk.
        std::vector<BOX_BATCH> batches(4);
        batches[0].band_rows = 1, batches[0].max_nets = 1;
        batches[1].band_rows = 4, batches[1].max_nets = 7;
        batches[2].band_rows = 9, batches[2].max_rows = 40;
        std::vector<PATH_BATCH> path_batches(4);
        path_batches[0].band_rows = 1, path_batches[0].max_nets = 1;
        path_batches[1].band_rows = 4, path_batches[1].max_nets = 7;
        path_batches[2].band_rows = 9, path_batches[2].max_loads = 40;
        for (int chunk = 0; chunk < kChunks; ++chunk) {
            TYPE_GRIDS g = zero_grids(kNx, kNy);
            for (int net = chunk; net < kNets; net += kChunks)
                model == kPath ? reference_path_net(netlist, net, g) : reference_box_net(impl, netlist, net, g);
            for (size_t k = 0; k < batches.size(); ++k) {
                TYPE_GRIDS banded = zero_grids(kNx, kNy);
                if (model == kBox)
                    add_bounding_box_demand(PEER::supply(impl),
                                            impl.get_grids(CONGESTION_IMPL::GRID_KIND::SUPPLY_TABLE), nets, chunk,
                                            kChunks, banded, &netlist, &batches[k]);
                else
                    add_path_probability_demand(nets, chunk, kChunks, banded, &netlist, &path_batches[k]);
                for (RESOURCE_TYPE type : WIRE_TYPES)
                    EXPECT_TRUE(same_grid(banded[type], g[type])) << model << " " << chunk << " " << type << " " << k;
            }
            for (int type = 0; type < CONGESTION::NUM_RESOURCE_TYPES; ++type)
                for (int x = 0; x < kNx; ++x)
                    for (int y = 0; y < kNy; ++y)
                        expected[type](x, y) = g[type](x, y) + expected[type](x, y);
        }
        // Either limit sends a batch to the grids; a vector grows to less than twice its peak.
        for (const BOX_BATCH& batch : batches)
            EXPECT_TRUE(batch.plans.capacity() < 2 * batch.max_nets &&
                        batch.row_totals.capacity() < 2 * (batch.max_rows + 2 * kNy));
        impl.set_num_chunks(kChunks);
        impl.update_demand(nets, model);
        for (int type = 0; type < CONGESTION::NUM_RESOURCE_TYPES; ++type)
            EXPECT_TRUE(same_grid(PEER::demand(impl)[type], expected[type])) << model << " " << type;
    }
}

// A netlist whose loads move between the path model's two readings of a
// net's pins: the first (the driver and a pass over the loads) returns
// `nets`, later ones `second`.
class MOVING_NETLIST : public TEST_NETLIST {
 public:
    std::vector<std::vector<CONGESTION::LOC>> second;
    mutable std::vector<int> reads;  // per net; each net is read by one chunk

    CONGESTION::LOC get_pin_loc(int net, int pin) const override
    {
        const bool first_reading = reads.at(net)++ < get_num_pins(net);
        return first_reading ? nets.at(net).at(pin) : second.at(net).at(pin);
    }
};

// The path model takes the box from the first reading and the loads from
// the second, as long as they stay in the box: two-pin nets whose load moved
// off the far corner, loads moved onto the driver or onto each other. A
// load read outside the box stops it; in the checked build, so does a pin
// read outside the grid.
TEST(NetModels, PathModelTakesTheLoadsFromTheSecondReading)
{
    constexpr int kNx = 23, kNy = 19, kNets = 300;
    MOVING_NETLIST netlist;
    static_cast<TEST_NETLIST&>(netlist) = make_random_netlist(kNx, kNy, kNets, 61);
    std::mt19937 random(67);
    for (const std::vector<CONGESTION::LOC>& pins : netlist.nets) {
        int xl = pins[0].x, xr = xl, yb = pins[0].y, yt = yb;
        for (const CONGESTION::LOC& pin : pins)
            xl = std::min(xl, pin.x), xr = std::max(xr, pin.x), yb = std::min(yb, pin.y), yt = std::max(yt, pin.y);
        std::vector<CONGESTION::LOC> moved = pins;
        for (size_t k = 1; k < moved.size(); ++k)
            if (random() % 2 == 0)
                moved[k] = {xl + static_cast<int>(random() % (xr - xl + 1)),
                            yb + static_cast<int>(random() % (yt - yb + 1))};
        netlist.second.push_back(moved);
    }
    const std::vector<int> nets = all_nets(kNets);
    TYPE_GRIDS expected = zero_grids(kNx, kNy);
    for (int i = 0; i < kNets; ++i)
        reference_path_net(netlist, i, expected, &netlist.second[i]);
    CONGESTION_IMPL impl(kNx, kNy, &netlist);
    impl.set_num_chunks(1);
    netlist.reads.assign(kNets, 0);
    impl.update_demand(nets, kPath);
    for (RESOURCE_TYPE type : WIRE_TYPES) {
        for (int x = 0; x < kNx; ++x)
            for (int y = 0; y < kNy; ++y)
                expected[type](x, y) = expected[type](x, y) + 0.0f;
        EXPECT_TRUE(same_grid(PEER::demand(impl)[type], expected[type])) << type;
    }

    const auto two_pins = std::find_if(netlist.nets.begin(), netlist.nets.end(),
                                       [](const std::vector<CONGESTION::LOC>& pins) { return pins.size() >= 2; });
    const size_t net = static_cast<size_t>(two_pins - netlist.nets.begin());
    netlist.second[net][1].x = kNx;  // beyond the box's right
    netlist.reads.assign(kNets, 0);
    EXPECT_FATAL(impl.update_demand(nets, kPath), "load_loc.x <= net_xr");
    if (CHECKED_BUILD) {  // which also stops on a pin of the first reading outside the grid
        netlist.nets[net][1].x = kNx;
        netlist.reads.assign(kNets, 0);
        EXPECT_FATAL(impl.update_demand(nets, kPath), "pin 1 of net " + std::to_string(net) + " at (23, " +
                                                          std::to_string(netlist.nets[net][1].y) +
                                                          ") lies outside the 23 x 19 grid");
    }
}

// The bounding-box model on grids it cannot fit: a grid of no rows takes
// no demand from a net with an empty box; a box that leaves the grid stops
// the model at the window sum that its first read outside the supply tables
// would fail, and the checked build names the net and its box instead.
TEST(NetModels, BoxModelOnAGridWithoutRowsAndOnABoxOutsideTheGrid)
{
    TEST_NETLIST empty;
    empty.add_net({{0, 0}});
    empty.boxes = {{1, 0, 0, -1}};
    CONGESTION_IMPL rowless(3, 0, &empty);
    rowless.update_demand({0}, kBox);
    EXPECT_EQ(PEER::demand(rowless)[kRight].get_num_rows(), 3);
    EXPECT_EQ(PEER::demand(rowless)[kRight].get_num_cols(), 0);

    TEST_NETLIST netlist;
    netlist.add_net({{0, 0}, {1, 1}});
    netlist.add_net({{2, 0}, {4, 1}});
    netlist.boxes = {{0, 1, 0, 1}, {2, 5, 0, 1}};
    CONGESTION_IMPL impl(5, 4, &netlist);
    impl.generate_smooth_supply(1, 1, WIRE_TYPES);
    EXPECT_FATAL(impl.update_demand({0, 1}, kBox), CHECKED_BUILD
                                                       ? "the box of net 1, x 2..5, y 0..1, leaves the 5 x 4 grid"
                                                       : "down_left_sum.get_num_rows() > xmax");
}

// Lab Input demand is replaced, not added to, and the wire demand stays.
TEST(LabInput, ReplacesOnlyTheLabInputDemand)
{
    TEST_NETLIST netlist;
    netlist.lab_input = [](int x, int y) { return x == 2 && y == 1 ? 16777217 : 10 * x - y; };
    CONGESTION_IMPL impl(3, 4, &netlist);
    PEER::demand(impl)[kLab](0, 0) = 100.0f;
    PEER::demand(impl)[kRight](1, 3) = 2.5f;
    impl.update_demand({0, 1}, CONGESTION::LAB_INPUT_MODEL);  // the list is not read
    for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 4; ++y)
            EXPECT_EQ(impl.get_demand(x, y, kLab), static_cast<float>(netlist.lab_input(x, y))) << x << "," << y;
    EXPECT_EQ(impl.get_total_demand(kRight), 2.5f);
    EXPECT_FATAL(impl.update_demand({0}, static_cast<CONGESTION::NET_MODEL>(3)), "Unknown congestion net model");
    EXPECT_FATAL(CONGESTION_IMPL(2, 2, nullptr).update_demand({}, kPath), "net_if != nullptr");
}

}  // namespace
