// Helpers of the tests that drive CONGESTION_IMPL directly: the one test peer
// that reaches its state, short type names, seeded grid fillers and a seeded
// netlist.
#ifndef ENGINE_SUPPORT_H
#define ENGINE_SUPPORT_H

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

#include "fitter/congestion/congestion_impl.h"
#include "test_support.h"

// The engine's internal names, for the tests that drive it directly.
using namespace congestion_internal;

// The engine's state that no public operation can arrange or read.
struct CONGESTION_TEST_PEER {
    static TYPE_GRIDS& demand(CONGESTION_IMPL& e) { return e.m_demand; }
    static TYPE_GRIDS& supply(CONGESTION_IMPL& e) { return e.m_supply; }
    static TYPE_GRIDS& congestion(CONGESTION_IMPL& e) { return e.m_congestion; }
    static TYPE_GRIDS& smooth_supply(CONGESTION_IMPL& e) { return e.m_smooth_supply; }
    static TYPE_GRIDS& smooth_demand_orig(CONGESTION_IMPL& e) { return e.m_smooth_demand_orig; }
    static TYPE_GRIDS& smooth_demand_new(CONGESTION_IMPL& e) { return e.m_smooth_demand_smeared_new; }
    // Marks the smoothed demand of both algorithms readable.
    static void set_demand_smoothed(CONGESTION_IMPL& e)
    {
        e.m_smooth_demand_is_valid = true;
        e.m_smooth_demand_smeared_new_is_valid = true;
    }
};
using PEER = CONGESTION_TEST_PEER;

constexpr CONGESTION::RESOURCE_TYPE kLeft = CONGESTION::HORIZONTAL_LEFT;
constexpr CONGESTION::RESOURCE_TYPE kRight = CONGESTION::HORIZONTAL_RIGHT;
constexpr CONGESTION::RESOURCE_TYPE kUp = CONGESTION::VERTICAL_UP;
constexpr CONGESTION::RESOURCE_TYPE kDown = CONGESTION::VERTICAL_DOWN;
constexpr CONGESTION::RESOURCE_TYPE kLab = CONGESTION::LAB_INPUT;
const auto kBadType = static_cast<CONGESTION::RESOURCE_TYPE>(5);

inline void fill(GRID_2D<float>& grid, float value)
{
    for (float& v : grid)
        v = value;
}

// Values k / 8 with k drawn uniformly from [lo, hi]: exact in single
// precision, so sums of a few of them are exact too.
inline void fill_random(GRID_2D<float>& grid, std::mt19937& rng, int lo, int hi)
{
    for (float& v : grid)
        v = static_cast<float>(lo + static_cast<int>(rng() % static_cast<unsigned>(hi - lo + 1))) / 8.0f;
}

// Supply and demand of every type from one seed: some tiles without
// supply, some non-positive demand.
inline void fill_random_inputs(CONGESTION_IMPL& impl, unsigned seed)
{
    std::mt19937 rng(seed);
    for (int type = 0; type < CONGESTION::NUM_RESOURCE_TYPES; ++type) {
        fill_random(PEER::supply(impl)[type], rng, -2, 40);
        fill_random(PEER::demand(impl)[type], rng, -8, 80);
    }
}

// The net indices 0 to count - 1.
inline std::vector<int> all_nets(int count)
{
    std::vector<int> nets(count);
    std::iota(nets.begin(), nets.end(), 0);
    return nets;
}

inline TYPE_GRIDS zero_grids(int nx, int ny)
{
    TYPE_GRIDS grids;
    for (GRID_2D<float>& grid : grids)
        grid.resize(nx, ny, 0.0f);
    return grids;
}

// Same dimensions and bit-identical values.
inline bool same_grid(const GRID_2D<float>& a, const GRID_2D<float>& b)
{
    return a.get_num_rows() == b.get_num_rows() && a.get_num_cols() == b.get_num_cols() &&
           (a.begin() == a.end() || std::memcmp(a.data(), b.data(), sizeof(float) * (a.end() - a.begin())) == 0);
}

// nets nets on an nx by ny grid from one seed: every tenth of 1 to 40 pins
// (both procedures of the path model), the others of 1 to 5; loads within 6
// tiles of the driver, some on its row, its column or the tile of the load
// before, some nets wholly on the driver's column or row, some with no load
// on either, and every 50th net reaching across the chip; random weights and
// wire lengths, and random boxes that often leave the driver outside.
inline TEST_NETLIST make_random_netlist(int nx, int ny, int nets, unsigned seed)
{
    TEST_NETLIST netlist;
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> col(0, nx - 1), row(0, ny - 1), step(-6, 6), fanout(1, 40);
    std::uniform_real_distribution<float> weight(0.0f, 4.0f), length(0.0f, 30.0f);
    for (int i = 0; i < nets; ++i) {
        std::vector<CONGESTION::LOC> pins{{col(random), row(random)}};
        for (int k = 1, count = i % 10 ? 1 + fanout(random) % 5 : fanout(random); k < count; ++k) {
            int x = std::clamp(pins[0].x + step(random), 0, nx - 1);
            int y = std::clamp(pins[0].y + step(random), 0, ny - 1);
            if (k % 7 == 3)
                y = pins[0].y;
            if (k % 11 == 5)
                x = pins[0].x;
            if (k % 9 == 8)
                x = pins[k - 1].x, y = pins[k - 1].y;
            if (i % 30 == 10)
                x = pins[0].x;
            if (i % 30 == 20)
                y = pins[0].y;
            if (i % 30 == 0) {
                if (y == pins[0].y)
                    y = y + 1 < ny ? y + 1 : y - 1;
                if (x == pins[0].x)
                    x = x + 1 < nx ? x + 1 : x - 1;
            }
            pins.push_back({x, y});
        }
        if (i % 50 == 0)
            pins.push_back({nx - 1 - pins[0].x, ny - 1 - pins[0].y});
        std::vector<float> weights(pins.size());
        for (float& w : weights)
            w = weight(random);
        const int x1 = col(random), x2 = col(random), y1 = row(random), y2 = row(random);
        netlist.add_net(pins);
        netlist.weights.push_back(weights);
        netlist.wirelengths.push_back({length(random), length(random)});
        netlist.boxes.push_back({std::min(x1, x2), std::max(x1, x2), std::min(y1, y2), std::max(y1, y2)});
    }
    return netlist;
}

#endif
