// The estimate's road through the library, its queries, the baseline and the
// accuracy figures against routed usage.
#include "tools/estimate.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <numeric>

#include <tbb/global_control.h>
#include <tbb/task_arena.h>

#include "front_end/baseline.h"
#include "front_end/statistics.h"
#include "h/parallel_blocks.h"
#include "host/zol_cfg_ini.h"

namespace {

// Lab Input demand is per tile by nature: it is "smoothed" over the tile alone.
constexpr int LAB_INPUT_WINDOW = 1;
// Heatmap value of a tile without supply of the mapped types.
constexpr float NO_SUPPLY = std::numeric_limits<float>::quiet_NaN();
// Tile columns read from the estimator at once; its grids hold each
// column's tiles side by side.
constexpr int COLUMNS_PER_BLOCK = 16;

using TYPE = CONGESTION::RESOURCE_TYPE;

// One heatmap: the types whose demand and supply it sums; its routed usage
// is get_routed_truth's for them.
struct HEATMAP_MAP {
    const char* stem;
    const char* name;
    std::vector<TYPE> types;
};

const std::vector<HEATMAP_MAP> HEATMAP_MAPS = {
    {"horizontal_left", "Horizontal Left", {CONGESTION::HORIZONTAL_LEFT}},
    {"horizontal_right", "Horizontal Right", {CONGESTION::HORIZONTAL_RIGHT}},
    {"vertical_up", "Vertical Up", {CONGESTION::VERTICAL_UP}},
    {"vertical_down", "Vertical Down", {CONGESTION::VERTICAL_DOWN}},
    {"horizontal", "Horizontal (left + right)", {CONGESTION::HORIZONTAL_LEFT, CONGESTION::HORIZONTAL_RIGHT}},
    {"vertical", "Vertical (up + down)", {CONGESTION::VERTICAL_UP, CONGESTION::VERTICAL_DOWN}},
    {"lab_input", "Lab Input", {CONGESTION::LAB_INPUT}},
};

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
      m_nets(get_estimated_nets(design))
{
    m_report.design = design.name;
    m_report.nx = design.nx;
    m_report.ny = design.ny;
    m_report.form = design.form;
    m_report.num_nets = design.get_num_nets();
    m_report.nets_estimated = static_cast<int>(m_nets.size());
    // Every pin of a net but its first, the driver, is a load.
    for (int net : m_nets)
        m_report.load_pins += design.get_num_pins(net) - 1;
    m_report.algorithm = get_algorithm_name();
    m_report.options = options;
    m_report.tracks = get_design_tracks(design);
    m_report.phase_ms.emplace_back("read design", read_ms);
}

void ESTIMATE_RUN::run()
{
    const ESTIMATE_OPTIONS& o = m_options;
    // A limit above the machine's cores allows more threads than can run.
    const auto allowed = tbb::global_control::active_value(tbb::global_control::max_allowed_parallelism);
    m_report.threads = static_cast<int>(
        std::min<std::size_t>(allowed, static_cast<std::size_t>(tbb::this_task_arena::max_concurrency())));
    // Each phase's time is the one its progress line shows.
    const auto phase = [this](const char* name, const std::function<void()>& work) {
        m_progress->begin(name);
        work();
        m_report.phase_ms.emplace_back(name, m_progress->end());
    };
    // The estimator's grids are allocated and cleared here, the first of
    // the library's work.
    phase("create estimator", [&] {
        m_estimator = CONGESTION(m_design.nx, m_design.ny, &m_netlist);
        m_estimator.set_num_chunks(o.num_chunks);
    });
    phase("set supply", [&] { set_design_supply(m_estimator, m_design, o.supply); });
    phase("smooth wire supply", [&] { m_estimator.generate_smooth_wire_supply(o.parallel_dim, o.perpendicular_dim); });
    phase("wire demand", [&] { m_estimator.update_demand(m_nets, o.model); });
    phase("lab input demand", [&] { m_estimator.update_demand({}, CONGESTION::LAB_INPUT_MODEL); });
    phase("smooth wire demand",
          [&] { m_estimator.generate_smooth_wire_demand(o.parallel_dim, o.perpendicular_dim, o.uniform); });
    phase("smooth lab input demand",
          [&] { m_estimator.generate_smooth_demand(LAB_INPUT_WINDOW, LAB_INPUT_WINDOW, CONGESTION::LAB_INPUT); });
    phase("update congestion", [&] { m_estimator.update_congestion(true); });
    phase("queries", [&] { add_queries(); });
    if (m_design.has_routed)
        phase("baseline and accuracy", [&] { add_accuracy(); });
    m_report.cookie = m_estimator.get_cookie();
}

void ESTIMATE_RUN::add_queries()
{
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
    queries.emplace_back([this] {
        const BOX_DEMAND demand(m_design.nx, m_design.ny, m_netlist, m_nets, ROUTABILITY_RULE_CALIBRATED.extent);
        m_report.routability =
            get_placement_routability(m_design.nx, m_design.ny, demand, get_supply_readers(m_estimator),
                                      m_report.tracks, get_design_device(m_design));
    });
    congestion_internal::parallel_loop(static_cast<int>(queries.size()), [&](int i) { queries[i](); });
}

void ESTIMATE_RUN::add_utilization_figures()
{
    // One pass over the smoothed utilization map gives the smoothed peaks and
    // the routability: every (tile, wire type) entry with supply is one
    // value. Blocks of columns run in parallel, each with figures and
    // entries of its own, joined in column order.
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
    struct BLOCK {
        std::array<PEAK, CONGESTION::NUM_RESOURCE_TYPES> peaks;
        std::vector<float> entries;
        int tiles_over_capacity = 0;
    };
    std::vector<BLOCK> blocks(static_cast<std::size_t>((nx + COLUMNS_PER_BLOCK - 1) / COLUMNS_PER_BLOCK));
    congestion_internal::parallel_loop(static_cast<int>(blocks.size()), [&](int b) {
        BLOCK& block = blocks[b];
        const int first_x = b * COLUMNS_PER_BLOCK;
        const int end_x = std::min(nx, first_x + COLUMNS_PER_BLOCK);
        const std::size_t tiles = static_cast<std::size_t>(end_x - first_x) * ny;
        std::array<std::vector<float>, CONGESTION::NUM_RESOURCE_TYPES> demand, supply;
        for (int t = 0; t < CONGESTION::NUM_RESOURCE_TYPES; ++t) {
            const auto type = static_cast<CONGESTION::RESOURCE_TYPE>(t);
            demand[t].resize(tiles);
            supply[t].resize(tiles);
            fill_tile_columns(ny, first_x, end_x, demand[t].data(),
                              [&](int x, int y) { return m_estimator.get_smooth_demand(x, y, type); });
            fill_tile_columns(ny, first_x, end_x, supply[t].data(),
                              [&](int x, int y) { return m_estimator.get_supply(x, y, type); });
        }
        for (int x = first_x; x < end_x; ++x)
            for (int y = 0; y < ny; ++y) {
                const std::size_t tile = static_cast<std::size_t>(x - first_x) * ny + y;
                bool over_capacity = false;
                for (int t = 0; t < CONGESTION::NUM_RESOURCE_TYPES; ++t) {
                    if (supply[t][tile] <= 0.0f)
                        continue;
                    const float utilization = demand[t][tile] / supply[t][tile];
                    block.peaks[t].offer(utilization, {x, y});
                    if (t == CONGESTION::LAB_INPUT)
                        continue;
                    block.entries.push_back(utilization);
                    over_capacity = over_capacity || utilization > 1.0f;
                }
                block.tiles_over_capacity += over_capacity ? 1 : 0;
            }
    });

    std::array<PEAK, CONGESTION::NUM_RESOURCE_TYPES> peaks;
    std::size_t num_entries = 0;
    for (const BLOCK& block : blocks) {
        for (int t = 0; t < CONGESTION::NUM_RESOURCE_TYPES; ++t)
            if (block.peaks[t].tile.x >= 0)
                peaks[t].offer(block.peaks[t].utilization, block.peaks[t].tile);
        m_report.tiles_over_capacity += block.tiles_over_capacity;
        num_entries += block.entries.size();
    }
    for (int t = 0; t < CONGESTION::NUM_RESOURCE_TYPES; ++t) {
        m_report.types[t].smoothed_peak_utilization = peaks[t].utilization;
        m_report.types[t].smoothed_peak_tile = peaks[t].tile;
    }
    std::vector<float> entries;
    entries.reserve(num_entries);
    for (BLOCK& block : blocks) {
        entries.insert(entries.end(), block.entries.begin(), block.entries.end());
        std::vector<float>().swap(block.entries);
    }
    const std::vector<double> aces = get_ace(entries, {ACE_PERCENTS.begin(), ACE_PERCENTS.end()});
    std::copy(aces.begin(), aces.end(), m_report.ace.begin());
    m_report.rc =
        std::accumulate(m_report.ace.begin(), m_report.ace.end(), 0.0) / static_cast<double>(m_report.ace.size());
}

TYPE_TILE_VALUES ESTIMATE_RUN::read_smooth_demand() const
{
    // The estimator keeps its grids column by column and the design row by
    // row: square blocks keep both sides of the copy within a few pages.
    constexpr int BLOCK = 32;
    const int nx = m_design.nx;
    const int ny = m_design.ny;
    TYPE_TILE_VALUES values;
    for (int t = 0; t < CONGESTION::NUM_RESOURCE_TYPES; ++t) {
        const auto type = static_cast<CONGESTION::RESOURCE_TYPE>(t);
        values[t].resize(m_design.get_num_tiles());
        congestion_internal::parallel_loop((nx + BLOCK - 1) / BLOCK, [&](int column_block) {
            const int first_x = column_block * BLOCK;
            const int end_x = std::min(nx, first_x + BLOCK);
            for (int first_y = 0; first_y < ny; first_y += BLOCK)
                for (int x = first_x; x < end_x; ++x)
                    for (int y = first_y; y < std::min(ny, first_y + BLOCK); ++y)
                        values[t][m_design.get_tile_index(x, y)] = m_estimator.get_smooth_demand(x, y, type);
        });
    }
    return values;
}

void ESTIMATE_RUN::add_accuracy()
{
    const BASELINE baseline = compute_baseline(m_design, m_nets);
    const TYPE_TILE_VALUES smooth_demand = read_smooth_demand();

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
                e += smooth_demand[type][tile];
            double b = 0.0;
            if (comparison.baseline_horizontal)
                b += baseline.horizontal[tile];
            if (comparison.baseline_vertical)
                b += baseline.vertical[tile];
            if (!comparison.baseline_horizontal && !comparison.baseline_vertical)
                b = baseline.pins[tile];
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

std::vector<std::string> ESTIMATE_RUN::get_heatmap_stems() const
{
    std::vector<std::string> stems;
    for (const HEATMAP_MAP& map : HEATMAP_MAPS)
        stems.emplace_back(map.stem);
    return stems;
}

void ESTIMATE_RUN::read_utilization(const std::vector<CONGESTION::RESOURCE_TYPE>& types, int first_x, int end_x,
                                    float* out) const
{
    fill_tile_columns(m_design.ny, first_x, end_x, out, [&](int x, int y) {
        float demand = 0.0f;
        float supply = 0.0f;
        for (CONGESTION::RESOURCE_TYPE type : types) {
            demand += m_estimator.get_smooth_demand(x, y, type);
            supply += m_estimator.get_supply(x, y, type);
        }
        return supply > 0.0f ? demand / supply : NO_SUPPLY;
    });
}

HEATMAP ESTIMATE_RUN::get_heatmap(int i) const
{
    const HEATMAP_MAP& map = HEATMAP_MAPS[static_cast<std::size_t>(i)];
    HEATMAP heatmap{map.stem, m_design.name + ": " + map.name, {}};
    heatmap.panels.push_back(
        {"estimated utilization (smoothed demand / supply)", PANEL_KIND::UTILIZATION,
         [this, &map](int first_x, int end_x, float* out) { read_utilization(map.types, first_x, end_x, out); }});
    if (!m_design.has_routed)
        return heatmap;
    const auto get_supply = [this, &map](int x, int y) {
        float supply = 0.0f;
        for (CONGESTION::RESOURCE_TYPE type : map.types)
            supply += m_estimator.get_supply(x, y, type);
        return supply;
    };
    const ROUTED_TRUTH truth = get_routed_truth(m_design.form, map.types);
    const auto get_used = [this, truth](std::size_t tile) { return get_routed_usage(m_design, truth, tile); };
    heatmap.panels.push_back({"routed usage / supply", PANEL_KIND::UTILIZATION,
                              [this, get_supply, get_used](int first_x, int end_x, float* out) {
                                  fill_tile_columns(m_design.ny, first_x, end_x, out, [&](int x, int y) {
                                      const float supply = get_supply(x, y);
                                      const auto used = static_cast<float>(get_used(m_design.get_tile_index(x, y)));
                                      return supply > 0.0f ? used / supply : NO_SUPPLY;
                                  });
                              }});

    // Estimate and truth count in different units, so their percentile
    // ranks among the tiles with supply are compared: (rank - 1) / (n - 1)
    // of the estimate minus that of the routed usage.
    std::vector<std::size_t> tiles;
    std::vector<double> estimate;
    std::vector<double> routed;
    for (int x = 0; x < m_design.nx; ++x)
        for (int y = 0; y < m_design.ny; ++y) {
            if (!(get_supply(x, y) > 0.0f))
                continue;
            double demand = 0.0;
            for (CONGESTION::RESOURCE_TYPE type : map.types)
                demand += m_estimator.get_smooth_demand(x, y, type);
            tiles.push_back(m_design.get_tile_index(x, y));
            estimate.push_back(demand);
            routed.push_back(get_used(tiles.back()));
        }
    const std::vector<double> estimate_ranks = get_average_ranks(estimate);
    const std::vector<double> routed_ranks = get_average_ranks(routed);
    const double last_rank = std::max<double>(1.0, static_cast<double>(tiles.size()) - 1.0);
    std::vector<float> difference(m_design.get_num_tiles(), NO_SUPPLY);
    for (std::size_t i = 0; i < tiles.size(); ++i)
        difference[tiles[i]] = static_cast<float>((estimate_ranks[i] - routed_ranks[i]) / last_rank);
    heatmap.panels.push_back(get_values_panel("percentile rank of the estimate minus routed (red: estimate too high)",
                                              PANEL_KIND::RANK_DIFFERENCE, std::move(difference), m_design.nx,
                                              m_design.ny));
    return heatmap;
}
