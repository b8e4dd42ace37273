// The path-probability model against the algorithm transcribed net by net
// in its written order, on random nets of every size class.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "engine_support.h"
#include "test_support.h"

namespace {

// W by H arrays of one net, indexed (x - xl, y - yb).
struct ARRAY {
    int xl, yb, h;
    std::vector<float> v;
    ARRAY(int xl_, int yb_, int w, int h_) : xl(xl_), yb(yb_), h(h_), v(static_cast<size_t>(w) * h_, 0.0f) {}
    float& operator()(int x, int y) { return v[static_cast<size_t>(x - xl) * h + (y - yb)]; }
};

// Two-pin crossing probability of boundary (i, j) of the pair A -> B.
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

float pv(int ax, int ay, int bx, int by, int i, int j)
{
    const int dx = std::abs(ax - bx), dy = std::abs(ay - by), lx = std::min(ax, bx);
    const float s = static_cast<float>(dx + dy);
    if (dx == 0)
        return 1.0f;
    if (i == ax - lx)
        return static_cast<float>(ay < by ? dy - j : j + 1) / s;
    if (i == bx - lx)
        return static_cast<float>(ay < by ? j + 1 : dy - j) / s;
    return 1.0f / s;
}

float density(int count, int distance)
{
    const float q = std::sqrt(static_cast<float>(count)) / static_cast<float>(distance);
    return q >= 1.0f ? 1.0f : q;
}

void reference_net(const TEST_NETLIST& n, int net, TYPE_GRIDS& g)
{
    const std::vector<CONGESTION::LOC>& pins = n.nets[net];
    const int xd = pins[0].x, yd = pins[0].y, np = static_cast<int>(pins.size());
    int xl = xd, xr = xd, yb = yd, yt = yd;
    for (int k = 1; k < np; ++k) {
        xl = std::min(xl, pins[k].x), xr = std::max(xr, pins[k].x);
        yb = std::min(yb, pins[k].y), yt = std::max(yt, pins[k].y);
    }
    const int W = xr - xl + 1, H = yt - yb + 1;
    if (W == 1 && H == 1)
        return;
    ARRAY right(xl, yb, W, H), left = right, up = right, down = right, hc = right, vc = right;
    std::vector<int> count(static_cast<size_t>(W) * H, 0);
    count[static_cast<size_t>(xd - xl) * H + (yd - yb)] = 1;
    int cE = 0, cN = 0, cW = 0, cS = 0, cNE = 0, cNW = 0, cSW = 0, cSE = 0;
    for (int k = 1; k < np; ++k) {
        const int xk = pins[k].x, yk = pins[k].y;
        if (++count[static_cast<size_t>(xk - xl) * H + (yk - yb)] > 1)
            continue;
        if (np >= 16) {
            if (yk == yd) ++(xk > xd ? cE : cW);
            else if (xk == xd) ++(yk > yd ? cN : cS);
            else if (yk > yd) ++(xk > xd ? cNE : cNW);
            else ++(xk > xd ? cSE : cSW);
            continue;
        }
        const float w = n.get_pin_weight(net, k) + 1.0f;
        const int lx = std::min(xd, xk), hx = std::max(xd, xk), ly = std::min(yd, yk), hy = std::max(yd, yk);
        for (int x = lx; x <= hx - 1; ++x)
            for (int y = ly; y <= hy; ++y)
                hc(x, y) = hc(x, y) + w;
        for (int x = lx; x <= hx; ++x)
            for (int y = ly; y <= hy - 1; ++y)
                vc(x, y) = vc(x, y) + w;
        if (xd != xk)
            for (int x = lx; x <= hx - 1; ++x)
                for (int y = ly; y <= hy; ++y) {
                    float& c = xd < xk ? right(x, y) : left(x, y);
                    c = c + w * ph(xd, yd, xk, yk, x - lx, y - ly);
                }
        if (yd != yk)
            for (int x = lx; x <= hx; ++x)
                for (int y = ly; y <= hy - 1; ++y) {
                    float& c = yd < yk ? up(x, y) : down(x, y);
                    c = c + w * pv(xd, yd, xk, yk, x - lx, y - ly);
                }
    }
    if (np < 16) {
        for (int x = xl; x <= xr; ++x)
            for (int y = yb; y <= yt; ++y) {
                if (x < xr && hc(x, y) > 0.0f) {
                    right(x, y) = right(x, y) / hc(x, y);
                    left(x, y) = left(x, y) / hc(x, y);
                }
                if (y < yt && vc(x, y) > 0.0f) {
                    up(x, y) = up(x, y) / vc(x, y);
                    down(x, y) = down(x, y) / vc(x, y);
                }
            }
    } else {
        const int dN = std::max(yt - yd, 1), dS = std::max(yd - yb, 1);
        const int dE = std::max(xr - xd, 1), dW = std::max(xd - xl, 1);
        const float hNE = density(cNE, dN), hNW = density(cNW, dN), hSW = density(cSW, dS), hSE = density(cSE, dS);
        const float vNE = density(cNE, dE), vNW = density(cNW, dW), vSW = density(cSW, dW), vSE = density(cSE, dE);
        for (int x = xd; x <= xr - 1; ++x)
            for (int y = yb; y <= yt; ++y)
                right(x, y) = y < yd ? hSE : y > yd ? hNE : cE >= 1 ? 1.0f : (hSE + hNE) * 0.5f;
        for (int x = xl; x <= xd - 1; ++x)
            for (int y = yb; y <= yt; ++y)
                left(x, y) = y < yd ? hSW : y > yd ? hNW : cW >= 1 ? 1.0f : (hSW + hNW) * 0.5f;
        for (int y = yd; y <= yt - 1; ++y)
            for (int x = xl; x <= xr; ++x)
                up(x, y) = x < xd ? vNW : x > xd ? vNE : cN >= 1 ? 1.0f : (vNW + vNE) * 0.5f;
        for (int y = yb; y <= yd - 1; ++y)
            for (int x = xl; x <= xr; ++x)
                down(x, y) = x < xd ? vSW : x > xd ? vSE : cS >= 1 ? 1.0f : (vSE + vSW) * 0.5f;
    }
    for (int x = xl; x <= xr; ++x)
        for (int y = yb; y <= yt; ++y) {
            if (x < xr) {
                g[kRight](x, y) = g[kRight](x, y) + 0.5f * right(x, y);
                g[kLeft](x, y) = g[kLeft](x, y) + 0.5f * left(x, y);
            }
            if (x > xl) {
                g[kRight](x, y) = g[kRight](x, y) + 0.5f * right(x - 1, y);
                g[kLeft](x, y) = g[kLeft](x, y) + 0.5f * left(x - 1, y);
            }
            if (y < yt) {
                g[kUp](x, y) = g[kUp](x, y) + 0.5f * up(x, y);
                g[kDown](x, y) = g[kDown](x, y) + 0.5f * down(x, y);
            }
            if (y > yb) {
                g[kUp](x, y) = g[kUp](x, y) + 0.5f * up(x, y - 1);
                g[kDown](x, y) = g[kDown](x, y) + 0.5f * down(x, y - 1);
            }
        }
}

TEST(PathProbabilityReference, RandomNetsMatchTheNetByNetAlgorithmBitForBit)
{
    constexpr int kNx = 31;
    constexpr int kNy = 26;
    TEST_NETLIST netlist;
    std::mt19937 random(41);
    std::uniform_int_distribution<int> col(0, kNx - 1), row(0, kNy - 1), reach(0, 12), fanout(1, 40);
    std::uniform_real_distribution<float> weight(0.0f, 4.0f);
    for (int i = 0; i < 400; ++i) {
        const CONGESTION::LOC driver{col(random), row(random)};
        const int pins = i % 10 == 0 ? fanout(random) : 1 + fanout(random) % 5;
        std::vector<CONGESTION::LOC> net{driver};
        std::vector<float> weights{0.0f};
        for (int k = 1; k < pins; ++k) {
            // Some loads on the driver's row or column, some on earlier tiles.
            int x = std::clamp(driver.x + reach(random) - 6, 0, kNx - 1);
            int y = std::clamp(driver.y + reach(random) - 6, 0, kNy - 1);
            if (k % 7 == 3) y = driver.y;
            if (k % 11 == 5) x = driver.x;
            if (k % 9 == 8) { x = net[k - 1].x; y = net[k - 1].y; }
            net.push_back({x, y});
            weights.push_back(weight(random));
        }
        netlist.add_net(net);
        netlist.weights.push_back(weights);
    }
    TYPE_GRIDS expected;
    for (GRID_2D<float>& grid : expected)
        grid.resize(kNx, kNy, 0.0f);
    std::vector<int> nets;
    for (int net = 0; net < static_cast<int>(netlist.nets.size()); ++net) {
        reference_net(netlist, net, expected);
        nets.push_back(net);
    }
    TYPE_GRIDS actual;
    for (GRID_2D<float>& grid : actual)
        grid.resize(kNx, kNy, 0.0f);
    add_path_probability_demand(nets, 0, 1, actual, &netlist);
    for (int type = 0; type < CONGESTION::NUM_RESOURCE_TYPES; ++type)
        EXPECT_TRUE(same_grid(actual[type], expected[type])) << type;
}

}  // namespace
