// One congestion estimate of a design: the library's whole road from supply
// to queries, timed, with its figures and their accuracy against routing.
#ifndef CONGESTION_ESTIMATE_H
#define CONGESTION_ESTIMATE_H

#include <array>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "fitter/h/congestion_export.h"
#include "front_end/design_netlist.h"
#include "front_end/design_reader.h"
#include "front_end/routability.h"
#include "tools/heatmap.h"
#include "front_end/progress.h"

// Settings of one estimate; the defaults are the tool's defaults.
struct ESTIMATE_OPTIONS {
    CONGESTION::NET_MODEL model = CONGESTION::PATH_PROBABILITY_MODEL;
    int parallel_dim = 3;
    int perpendicular_dim = 1;
    bool uniform = false;
    CONGESTION_POLICY policy = CONGESTION_POLICY::RATIO;
    SUPPLY_MAPPING supply = SUPPLY_MAPPING::HALF;
    WIRELENGTH_SOURCE wirelength = WIRELENGTH_SOURCE::HALF_PERIMETER;
    int peak_dim = 1;  // square window of get_peak_utilization
    int num_chunks = 16;
};

// ACE percentages of the routability figures.
constexpr std::array<double, 4> ACE_PERCENTS = {0.5, 1.0, 2.0, 5.0};
// Share of the most-used tiles that the top-share figure compares.
constexpr double TOP_SHARE_FRACTION = 0.1;

struct TYPE_FIGURES {
    CONGESTION::RESOURCE_TYPE type = CONGESTION::HORIZONTAL_LEFT;
    float total_demand = 0.0f;
    // The library's get_peak_utilization: demand before smoothing over
    // supply, in the peak window.
    float peak_utilization = 0.0f;
    CONGESTION::LOC peak_tile{-1, -1};
    // The largest smoothed demand over supply of one tile, the value the
    // heatmaps and the routability figures use; the first such tile in
    // column order, (-1, -1) when no tile has supply.
    double smoothed_peak_utilization = 0.0;
    CONGESTION::LOC smoothed_peak_tile{-1, -1};
    float total_overflow = 0.0f;
};

// Pearson, Spearman and top-10 % share of one comparison with routed usage.
struct AGREEMENT {
    double pearson = 0.0;
    double spearman = 0.0;
    double top_share = 0.0;
};

struct ACCURACY_ROW {
    std::string estimate;  // what the estimate side sums, e.g. "HORIZONTAL_LEFT"
    std::string truth;     // the routed.txt column or sum it is compared with
    AGREEMENT estimate_figures;
    AGREEMENT baseline_figures;
    double estimate_sum = 0.0;
    double baseline_sum = 0.0;
    double truth_sum = 0.0;
};

struct REPORT {
    std::string design;
    int nx = 0;
    int ny = 0;
    DESIGN_FORM form = DESIGN_FORM::UNDIRECTED;  // a directional design's supply ignores options.supply
    int num_nets = 0;
    int nets_estimated = 0;
    int load_pins = 0;
    std::string algorithm;  // "new" or "original"
    ESTIMATE_OPTIONS options;
    // The estimator's get_cookie after the whole estimate: equal cookies
    // mean bit-identical grids.
    unsigned long long cookie = 0;
    int threads = 0;  // the worker threads the estimate could use
    std::vector<std::pair<std::string, double>> phase_ms;
    std::vector<TYPE_FIGURES> types;  // the four wire types in enum order, then Lab Input
    float avg_chip_utilization_0 = 0.0f;
    float avg_chip_utilization_1 = 0.0f;
    std::array<double, ACE_PERCENTS.size()> ace{};
    double rc = 0.0;
    int tiles_over_capacity = 0;
    int tracks = NO_TRACKS;  // the design's tracks per direction, get_design_tracks
    ROUTABILITY routability;
    bool has_truth = false;
    int tiles_compared = 0;
    std::vector<ACCURACY_ROW> accuracy;
};

// "new" or "original": the smoothing algorithm the library selected at load.
const char* get_algorithm_name();

// Runs the estimate of a design that outlives the object.
class ESTIMATE_RUN {
 public:
    ESTIMATE_RUN(const DESIGN& design, const ESTIMATE_OPTIONS& options, double read_ms);

    // The estimator, supply, smoothed supply, demand, Lab Input demand,
    // smoothing, congestion update, queries, baseline and accuracy, each
    // timed by the progress display (one of its own, not shown, when none
    // was set).
    void run();
    // Shows the phases of run() on `progress`, which must outlive the run.
    void set_progress(PROGRESS* progress) { m_progress = progress != nullptr ? progress : &m_silent_progress; }

    const REPORT& get_report() const { return m_report; }
    const CONGESTION& get_estimator() const { return m_estimator; }
    const DESIGN& get_design() const { return m_design; }
    const std::vector<int>& get_nets() const { return m_nets; }
    // Appends a phase timed outside run(), e.g. the drawing of heatmaps.
    void add_phase_time(const std::string& phase, double ms) { m_report.phase_ms.emplace_back(phase, ms); }
    // The file stems of the heatmaps, in the order of get_heatmap.
    std::vector<std::string> get_heatmap_stems() const;
    // Heatmap i: the estimate's utilization of one map (smoothed demand over
    // supply of its types) and, with routed truth, routed usage over the
    // same supply and the difference of the two's percentile ranks. Its
    // panels read the estimator and the design, which must outlive them;
    // after run().
    HEATMAP get_heatmap(int i) const;
    // Smoothed demand over supply of the summed types (NaN without supply)
    // for the tile columns first_x .. end_x - 1, as TILE_COLUMNS writes them;
    // the value of the heatmaps and the routability figures. After run().
    void read_utilization(const std::vector<CONGESTION::RESOURCE_TYPE>& types, int first_x, int end_x,
                          float* out) const;

 private:
    void add_queries();
    void add_utilization_figures();
    void add_accuracy();
    // The smoothed demand of every type, index y * nx + x.
    TYPE_TILE_VALUES read_smooth_demand() const;

    const DESIGN& m_design;
    ESTIMATE_OPTIONS m_options;
    DESIGN_NETLIST m_netlist;
    CONGESTION m_estimator;  // of no tiles until run() makes it
    std::vector<int> m_nets;
    REPORT m_report;
    PROGRESS m_silent_progress{false, "", std::cerr};
    PROGRESS* m_progress = &m_silent_progress;
};

#endif
