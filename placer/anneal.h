// Low-temperature simulated annealing of a finished placement, steered by a
// congestion map that is refreshed as the cells move.
//
// The schedule is the adaptive one of VPR's placer, started cold: the first
// temperature is a fraction of the spread of the cost changes of random
// moves, so that the pass refines the placement it is given instead of
// melting it. Each temperature tries moves_per_temperature moves of a slice
// cell to a random slice bel within the range limit around it (swapping
// with the cell there); the acceptance rate then sets the next temperature
// and the range limit, and the pass ends when the temperature falls below a
// small share of the average net cost, with one more round of moves that
// only take gains. The map is refreshed at the start of every temperature,
// or every refresh_moves moves tried; the net costs are then computed again.
//
// One thread runs the moves, from one seeded generator whose integers and
// fractions are drawn without the standard library's distributions (which
// may differ between implementations), and the library's refresh gives the
// same map whatever its thread count: the same seed gives the same
// placement.
#ifndef CONGESTION_ANNEAL_H
#define CONGESTION_ANNEAL_H

#include <cstdint>
#include <functional>

#include "placer/congestion_map.h"
#include "placer/placement.h"

struct ANNEAL_OPTIONS {
    double congestion_weight = 3.0;  // a of the cost (placement_cost.h)
    // Moves per temperature: effort * (movable cells)^(4/3).
    double effort = 1.0;
    // The first temperature, times the standard deviation of the cost
    // changes of as many random moves as there are movable cells.
    double start_temperature = 0.2;
    // Moves tried between refreshes of the map, counted across temperatures;
    // 0 refreshes it at the start of every temperature. The last round of
    // moves, which only takes gains, starts with a refresh either way.
    long long refresh_moves = 0;
    std::uint64_t seed = 1;
};

struct ANNEAL_RESULT {
    int temperatures = 0;
    long long moves = 0;
    long long accepted = 0;
    int refreshes = 0;
    double refresh_seconds = 0.0;  // the time spent refreshing the map
    double start_cost = 0.0;
    double end_cost = 0.0;
    double start_wirelength = 0.0;  // sums of q(pins) * (width + height)
    double end_wirelength = 0.0;
};

// One temperature's moves, as the annealer reports them.
struct TEMPERATURE_STEP {
    int index = 0;             // 1 for the first temperature
    double temperature = 0.0;  // 0 for the last round, which only takes gains
    double range = 0.0;        // the range limit, tiles
    long long moves = 0;
    long long accepted = 0;
    int refreshes = 0;  // of the map so far
};

// Anneals the placement under the map. on_temperature is called after each
// temperature.
ANNEAL_RESULT anneal(PLACEMENT& placement, CONGESTION_MAP& map, const ANNEAL_OPTIONS& options,
                     const std::function<void(const TEMPERATURE_STEP&)>& on_temperature = {});

#endif
