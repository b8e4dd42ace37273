// Helpers of the tests that drive CONGESTION_IMPL directly: the one test peer
// that reaches its state, short type names and seeded grid fillers.
#ifndef ENGINE_SUPPORT_H
#define ENGINE_SUPPORT_H

#include <algorithm>
#include <random>

#include "fitter/congestion/congestion_impl.h"

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
           std::equal(a.begin(), a.end(), b.begin());
}

inline bool same_grids(const TYPE_GRIDS& a, const TYPE_GRIDS& b)
{
    for (int type = 0; type < CONGESTION::NUM_RESOURCE_TYPES; ++type)
        if (!same_grid(a[type], b[type]))
            return false;
    return true;
}

#endif
