// The estimate's road through the library, its queries, the baseline and the
// accuracy figures against routed usage.
#include "tools/estimate.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <limits>
#include <numeric>

#include <tbb/global_control.h>
#include <tbb/task_arena.h>

#include "h/parallel_blocks.h"
#include "host/zol_cfg_ini.h"
#include "tools/baseline.h"
#include "tools/statistics.h"

namespace {

// Lab Input demand is per tile by nature: it is "smoothed" over the tile alone.
constexpr int LAB_INPUT_WINDOW = 1;
constexpr double MS_PER_SECOND = 1000.0;
// Heatmap value of a tile without supply of the mapped types.
constexpr double NO_SUPPLY = std::numeric_limits<double>::quiet_NaN();

double time_ms(const std::function<void()>& phase)
{
    const auto start = std::chrono::steady_clock::now();
    phase();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count() * MS_PER_SECOND;
}

double sum(const std::vector<double>& values) { return std::accumulate(values.begin(), values.end(), 0.0); }

AGREEMENT get_agreement(const std::vector<double>& truth, const std::vector<double>& estimate)
{
    return AGREEMENT{get_pearson(estimate, truth), get_spearman(estimate, truth),
                     get_top_share(truth, estimate, TOP_SHARE_FRACTION)};
}

}  // namespace

const char* get_algorithm_name()
{
    // The library reads the same switch, with the same default, when it loads.
    return cfg_is_on("congestion_use_orig", false).get_value() ? "original" : "new";
}

ESTIMATE_RUN::ESTIMATE_RUN(const DESIGN& design, const ESTIMATE_OPTIONS& options, double read_ms)
    : m_design(design),
      m_options(options),
      m_netlist(design, options.policy, options.wirelength),
      m_estimator(design.nx, design.ny, &m_netlist),
      m_nets(get_estimated_nets(design))
{
    m_estimator.set_num_chunks(options.num_chunks);
    m_report.design = design.name;
    m_report.nx = design.nx;
    m_report.ny = design.ny;
    m_report.form = design.form;
    m_report.num_nets = design.get_num_nets();
    m_report.nets_estimated = static_cast<int>(m_nets.size());
    const std::vector<int> loads = count_load_pins(design, m_nets);
    m_report.load_pins = std::accumulate(loads.begin(), loads.end(), 0);
    m_report.algorithm = get_algorithm_name();
    m_report.options = options;
    m_report.phase_ms.emplace_back("read design", read_ms);
}

void ESTIMATE_RUN::run()
{
    const ESTIMATE_OPTIONS& o = m_options;
    // A limit above the machine's cores allows more threads than can run.
    const auto allowed = tbb::global_control::active_value(tbb::global_control::max_allowed_parallelism);
    m_report.threads = static_cast<int>(
        std::min<std::size_t>(allowed, static_cast<std::size_t>(tbb::this_task_arena::max_concurrency())));
    auto& phases = m_report.phase_ms;
    phases.emplace_back("set supply", time_ms([&] {
                            m_supply = get_design_supplies(m_design, o.supply);
                            set_design_supply(m_estimator, m_design, m_supply);
                        }));
    phases.emplace_back("smooth wire supply",
                        time_ms([&] { m_estimator.generate_smooth_wire_supply(o.parallel_dim, o.perpendicular_dim); }));
    phases.emplace_back("wire demand", time_ms([&] { m_estimator.update_demand(m_nets, o.model); }));
    phases.emplace_back("lab input demand",
                        time_ms([&] { m_estimator.update_demand({}, CONGESTION::LAB_INPUT_MODEL); }));
    phases.emplace_back("smooth wire demand", time_ms([&] {
                            m_estimator.generate_smooth_wire_demand(o.parallel_dim, o.perpendicular_dim, o.uniform);
                        }));
    phases.emplace_back("smooth lab input demand", time_ms([&] {
                            m_estimator.generate_smooth_demand(LAB_INPUT_WINDOW, LAB_INPUT_WINDOW,
                                                               CONGESTION::LAB_INPUT);
                        }));
    phases.emplace_back("update congestion", time_ms([&] { m_estimator.update_congestion(true); }));
    phases.emplace_back("queries", time_ms([&] { add_queries(); }));
    if (m_design.has_routed)
        phases.emplace_back("baseline and accuracy", time_ms([&] { add_accuracy(); }));
    m_report.cookie = m_estimator.get_cookie();
}

void ESTIMATE_RUN::add_queries()
{
    read_tile_values();
    m_report.types.resize(CONGESTION::NUM_RESOURCE_TYPES);
    // The library's queries only read the estimate, so the independent ones
    // run side by side; each writes its own figure.
    std::vector<std::function<void()>> queries;
    for (int t = 0; t < CONGESTION::NUM_RESOURCE_TYPES; ++t)
        queries.emplace_back([this, t] {
            TYPE_FIGURES& figures = m_report.types[t];
            figures.type = static_cast<CONGESTION::RESOURCE_TYPE>(t);
            figures.total_demand = m_estimator.get_total_demand(figures.type);
            const auto [peak, tile] = m_estimator.get_peak_utilization(m_options.peak_dim, figures.type, false);
            figures.peak_utilization = peak;
            figures.peak_tile = tile;
            figures.total_overflow = m_estimator.get_total_apl_style_congestion(figures.type);
        });
    queries.emplace_back([this] { m_report.avg_chip_utilization_0 = m_estimator.get_avg_chip_utilization(0.0f); });
    queries.emplace_back([this] { m_report.avg_chip_utilization_1 = m_estimator.get_avg_chip_utilization(1.0f); });
    queries.emplace_back([this] { add_utilization_figures(); });
    congestion_internal::parallel_loop(static_cast<int>(queries.size()), [&](int i) { queries[i](); });
}

void ESTIMATE_RUN::read_tile_values()
{
    // The estimator keeps its grids column by column and the design row by
    // row: square blocks keep both sides of the copy within a few pages.
    constexpr int BLOCK = 32;
    const int nx = m_design.nx;
    const int ny = m_design.ny;
    for (int t = 0; t < CONGESTION::NUM_RESOURCE_TYPES; ++t) {
        const auto type = static_cast<CONGESTION::RESOURCE_TYPE>(t);
        std::vector<float>& values = m_smooth_demand[t];
        values.resize(m_design.get_num_tiles());
        congestion_internal::parallel_loop((nx + BLOCK - 1) / BLOCK, [&](int column_block) {
            const int first_x = column_block * BLOCK;
            const int end_x = std::min(nx, first_x + BLOCK);
            for (int first_y = 0; first_y < ny; first_y += BLOCK)
                for (int x = first_x; x < end_x; ++x)
                    for (int y = first_y; y < std::min(ny, first_y + BLOCK); ++y)
                        values[m_design.get_tile_index(x, y)] = m_estimator.get_smooth_demand(x, y, type);
        });
    }
}

void ESTIMATE_RUN::add_utilization_figures()
{
    // One pass over the smoothed utilization map gives the smoothed peaks and
    // the routability: every (tile, wire type) entry with supply is one
    // value. Rows of tiles run in parallel, each with figures of its own.
    const int nx = m_design.nx;
    const int ny = m_design.ny;
    struct PEAK {
        float utilization = 0.0f;
        CONGESTION::LOC tile{-1, -1};
        // Of equal peaks the first tile in column-major order wins, as in
        // the library's own searches.
        void offer(float value, CONGESTION::LOC at)
        {
            const bool earlier = at.x < tile.x || (at.x == tile.x && at.y < tile.y);
            if (tile.x < 0 || value > utilization || (value == utilization && earlier)) {
                utilization = value;
                tile = at;
            }
        }
    };
    struct ROW {
        std::array<PEAK, CONGESTION::NUM_RESOURCE_TYPES> peaks;
        std::size_t num_entries = 0;
        int tiles_over_capacity = 0;
    };
    std::vector<ROW> rows(static_cast<std::size_t>(ny));
    // First the count of entries per row, so that each row writes its
    // entries at their place; then the figures and the entries.
    congestion_internal::parallel_blocks(ny, [&](int first_y, int end_y) {
        for (int y = first_y; y != end_y; ++y)
            for (int t = 0; t < CONGESTION::NUM_RESOURCE_TYPES; ++t) {
                if (t == CONGESTION::LAB_INPUT)
                    continue;
                const float* supply = &m_supply[t][m_design.get_tile_index(0, y)];
                rows[y].num_entries += static_cast<std::size_t>(
                    std::count_if(supply, supply + nx, [](float value) { return value > 0.0f; }));
            }
    });
    std::vector<std::size_t> first_entry(static_cast<std::size_t>(ny) + 1, 0);
    for (int y = 0; y < ny; ++y)
        first_entry[y + 1] = first_entry[y] + rows[y].num_entries;
    std::vector<float> entries(first_entry.back());
    congestion_internal::parallel_blocks(ny, [&](int first_y, int end_y) {
        for (int y = first_y; y != end_y; ++y) {
            ROW& row = rows[y];
            float* entry = entries.data() + first_entry[y];
            for (int x = 0; x < nx; ++x) {
                const std::size_t tile = m_design.get_tile_index(x, y);
                bool over_capacity = false;
                for (int t = 0; t < CONGESTION::NUM_RESOURCE_TYPES; ++t) {
                    const float supply = m_supply[t][tile];
                    if (supply <= 0.0f)
                        continue;
                    const float utilization = m_smooth_demand[t][tile] / supply;
                    row.peaks[t].offer(utilization, {x, y});
                    if (t == CONGESTION::LAB_INPUT)
                        continue;
                    *entry++ = utilization;
                    over_capacity = over_capacity || utilization > 1.0f;
                }
                row.tiles_over_capacity += over_capacity ? 1 : 0;
            }
        }
    });

    std::array<PEAK, CONGESTION::NUM_RESOURCE_TYPES> peaks;
    for (const ROW& row : rows) {
        for (int t = 0; t < CONGESTION::NUM_RESOURCE_TYPES; ++t)
            if (row.peaks[t].tile.x >= 0)
                peaks[t].offer(row.peaks[t].utilization, row.peaks[t].tile);
        m_report.tiles_over_capacity += row.tiles_over_capacity;
    }
    for (int t = 0; t < CONGESTION::NUM_RESOURCE_TYPES; ++t) {
        m_report.types[t].smoothed_peak_utilization = peaks[t].utilization;
        m_report.types[t].smoothed_peak_tile = peaks[t].tile;
    }
    const std::vector<double> aces = get_ace(entries, {ACE_PERCENTS.begin(), ACE_PERCENTS.end()});
    std::copy(aces.begin(), aces.end(), m_report.ace.begin());
    m_report.rc =
        std::accumulate(m_report.ace.begin(), m_report.ace.end(), 0.0) / static_cast<double>(m_report.ace.size());
}

void ESTIMATE_RUN::add_accuracy()
{
    const BASELINE baseline = compute_baseline(m_design, m_nets);
    // The baseline's Lab Input is every pin of the estimated nets, drivers too.
    std::vector<int> pins(m_design.get_num_tiles(), 0);
    for (int net : m_nets)
        for (int pin = m_design.net_start[net]; pin < m_design.net_start[net + 1]; ++pin)
            ++pins[m_design.get_tile_index(m_design.pin_x[pin], m_design.pin_y[pin])];

    using TYPE = CONGESTION::RESOURCE_TYPE;
    struct COMPARISON {
        const char* estimate;
        std::vector<TYPE> estimate_types;
        bool baseline_horizontal;
        bool baseline_vertical;
    };
    const std::vector<COMPARISON> comparisons = {
        {"HORIZONTAL_LEFT", {CONGESTION::HORIZONTAL_LEFT}, true, false},
        {"HORIZONTAL_RIGHT", {CONGESTION::HORIZONTAL_RIGHT}, true, false},
        {"VERTICAL_UP", {CONGESTION::VERTICAL_UP}, false, true},
        {"VERTICAL_DOWN", {CONGESTION::VERTICAL_DOWN}, false, true},
        {"H (left+right)", {CONGESTION::HORIZONTAL_LEFT, CONGESTION::HORIZONTAL_RIGHT}, true, false},
        {"V (up+down)", {CONGESTION::VERTICAL_UP, CONGESTION::VERTICAL_DOWN}, false, true},
        {"all wires",
         {CONGESTION::HORIZONTAL_LEFT, CONGESTION::HORIZONTAL_RIGHT, CONGESTION::VERTICAL_UP,
          CONGESTION::VERTICAL_DOWN},
         true,
         true},
        {"LAB_INPUT", {CONGESTION::LAB_INPUT}, false, false},
    };

    std::vector<std::size_t> tiles;
    for (std::size_t tile = 0; tile < m_design.get_num_tiles(); ++tile)
        if (m_design.has_wire_supply(tile))
            tiles.push_back(tile);
    m_report.has_truth = true;
    m_report.tiles_compared = static_cast<int>(tiles.size());
    for (const COMPARISON& comparison : comparisons) {
        const ROUTED_TRUTH routed = get_routed_truth(m_design.form, comparison.estimate_types);
        std::vector<double> estimate, base, truth;
        for (std::size_t tile : tiles) {
            double e = 0.0;
            for (TYPE type : comparison.estimate_types)
                e += m_smooth_demand[type][tile];
            double b = 0.0;
            if (comparison.baseline_horizontal)
                b += baseline.horizontal[tile];
            if (comparison.baseline_vertical)
                b += baseline.vertical[tile];
            if (!comparison.baseline_horizontal && !comparison.baseline_vertical)
                b = pins[tile];
            estimate.push_back(e);
            base.push_back(b);
            truth.push_back(get_routed_usage(m_design, routed, tile));
        }
        ACCURACY_ROW row;
        row.estimate = comparison.estimate;
        row.truth = routed.name;
        row.estimate_figures = get_agreement(truth, estimate);
        row.baseline_figures = get_agreement(truth, base);
        row.estimate_sum = sum(estimate);
        row.baseline_sum = sum(base);
        row.truth_sum = sum(truth);
        m_report.accuracy.push_back(row);
    }
}

std::vector<HEATMAP> ESTIMATE_RUN::get_heatmaps() const
{
    using TYPE = CONGESTION::RESOURCE_TYPE;
    struct MAP {
        const char* stem;
        const char* name;
        std::vector<TYPE> types;
    };
    const std::vector<MAP> maps = {
        {"horizontal_left", "Horizontal Left", {CONGESTION::HORIZONTAL_LEFT}},
        {"horizontal_right", "Horizontal Right", {CONGESTION::HORIZONTAL_RIGHT}},
        {"vertical_up", "Vertical Up", {CONGESTION::VERTICAL_UP}},
        {"vertical_down", "Vertical Down", {CONGESTION::VERTICAL_DOWN}},
        {"horizontal", "Horizontal (left + right)", {CONGESTION::HORIZONTAL_LEFT, CONGESTION::HORIZONTAL_RIGHT}},
        {"vertical", "Vertical (up + down)", {CONGESTION::VERTICAL_UP, CONGESTION::VERTICAL_DOWN}},
        {"lab_input", "Lab Input", {CONGESTION::LAB_INPUT}},
    };
    std::vector<HEATMAP> heatmaps;
    for (const MAP& map : maps) {
        const ROUTED_TRUTH truth = get_routed_truth(m_design.form, map.types);
        TILE_MAP estimate{"estimated utilization (smoothed demand / supply)", {}};
        TILE_MAP routed{"routed usage / supply", {}};
        for (std::size_t tile = 0; tile < m_design.get_num_tiles(); ++tile) {
            double demand = 0.0;
            double supply = 0.0;
            for (TYPE type : map.types) {
                demand += m_smooth_demand[type][tile];
                supply += m_supply[type][tile];
            }
            const double used = m_design.has_routed ? get_routed_usage(m_design, truth, tile) : 0.0;
            estimate.values.push_back(supply > 0.0 ? demand / supply : NO_SUPPLY);
            routed.values.push_back(supply > 0.0 ? used / supply : NO_SUPPLY);
        }
        HEATMAP heatmap{map.stem, m_design.name + ": " + map.name, {std::move(estimate)}};
        if (m_design.has_routed)
            heatmap.panels.push_back(std::move(routed));
        heatmaps.push_back(std::move(heatmap));
    }
    return heatmaps;
}
