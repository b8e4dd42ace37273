// The whole estimate a placer runs through the public handle, from supply
// to the queries it reads, timed by the whole-estimate benchmarks of the
// synthetic chip and of real designs.
#ifndef PLACER_ESTIMATE_H
#define PLACER_ESTIMATE_H

#include <vector>

#include <benchmark/benchmark.h>

#include "fitter/h/congestion_export.h"

// The settings of one placer-style estimate.
struct PLACER_ESTIMATE {
    CONGESTION::NET_MODEL model = CONGESTION::PATH_PROBABILITY_MODEL;
    // The window of the supply's and the demand's smoothing.
    int parallel_dim = 3;
    int perpendicular_dim = 1;
    int peak_dim = 1;                    // of get_peak_utilization
    float utilization_threshold = 0.0f;  // of get_avg_chip_utilization
};

// Smooths the supply already set on `estimator`, turns `nets` and Lab Input
// into demand, smooths it, updates congestion and asks every wire type's
// peak and total congestion and the chip's average utilization; returns the
// cookie of the final state.
inline unsigned long long run_placer_estimate(CONGESTION& estimator, const std::vector<int>& nets,
                                              const PLACER_ESTIMATE& settings)
{
    estimator.generate_smooth_wire_supply(settings.parallel_dim, settings.perpendicular_dim);
    estimator.update_demand(nets, settings.model);
    estimator.update_demand({}, CONGESTION::LAB_INPUT_MODEL);
    estimator.generate_smooth_wire_demand(settings.parallel_dim, settings.perpendicular_dim, false);
    estimator.update_congestion(true);
    for (CONGESTION::RESOURCE_TYPE type : CONGESTION::get_wire_resource_types()) {
        benchmark::DoNotOptimize(estimator.get_peak_utilization(settings.peak_dim, type, false));
        benchmark::DoNotOptimize(estimator.get_total_apl_style_congestion(type));
    }
    benchmark::DoNotOptimize(estimator.get_avg_chip_utilization(settings.utilization_threshold));
    return estimator.get_cookie();
}

#endif
