// Helpers shared by the tests that drive CONGESTION_IMPL and its kernels
// directly: short type names and grid fillers.
#ifndef ENGINE_SUPPORT_H
#define ENGINE_SUPPORT_H

#include <algorithm>
#include <random>

#include "fitter/congestion/congestion_impl.h"

constexpr CONGESTION::RESOURCE_TYPE kLeft = CONGESTION::HORIZONTAL_LEFT;
constexpr CONGESTION::RESOURCE_TYPE kRight = CONGESTION::HORIZONTAL_RIGHT;
constexpr CONGESTION::RESOURCE_TYPE kUp = CONGESTION::VERTICAL_UP;
constexpr CONGESTION::RESOURCE_TYPE kDown = CONGESTION::VERTICAL_DOWN;
constexpr CONGESTION::RESOURCE_TYPE kLab = CONGESTION::LAB_INPUT;
const auto kBadType = static_cast<CONGESTION::RESOURCE_TYPE>(5);
const auto kNegativeType = static_cast<CONGESTION::RESOURCE_TYPE>(-1);

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

// Same dimensions and bit-identical values.
inline bool same_grid(const GRID_2D<float>& a, const GRID_2D<float>& b)
{
    return a.get_num_rows() == b.get_num_rows() && a.get_num_cols() == b.get_num_cols() &&
           std::equal(a.begin(), a.end(), b.begin());
}

// Builds the supply window sums of the wire types from the current supply.
inline void build_supply_tables(CONGESTION_IMPL& impl)
{
    for (RESOURCE_TYPE type : WIRE_TYPES) {
        impl.m_supply_down_left_sum[type].resize(impl.m_nx, impl.m_ny, 0.0f);
        build_down_left_sum(impl.m_supply[type], impl.m_supply_down_left_sum[type]);
    }
}

#endif
