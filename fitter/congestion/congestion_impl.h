// CONGESTION_IMPL, the engine behind the CONGESTION handle, with its kernels
// and the summed-area (window-sum) templates.
#ifndef CONGESTION_IMPL_H
#define CONGESTION_IMPL_H

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

#include <tbb/spin_rw_mutex.h>

#include "fitter/congestion/parallel_loops.h"
#include "fitter/congestion/tile_ranges.h"
#include "fitter/h/congestion_export.h"
#include "h/vmx_2d_array_sys.h"
#include "host/zol_gen.h"
#include "host/zol_msg.h"

// Stops the process through the host reporter, with `text` as the message,
// when `condition` does not hold.
#define CONGESTION_CHECK(condition, text)                                       \
    do {                                                                        \
        if (!(condition))                                                       \
            MSG_INTERNAL_ERROR::report(text, "CONGESTION", __FILE__, __LINE__); \
    } while (0)

namespace congestion_internal {

// The checked build (CMake option CONGESTION_CHECKED) adds checks of what
// the library otherwise trusts its caller for (the pins under the path
// model) and of its own rules where they are cheap to test (ZERO_COLUMNS,
// POSITIVE_ZERO); each stops through the reporter and says what it found.
// Each comes after the checks that every build makes, never instead of one.
// The default build leaves them out: `if constexpr (CHECKED_BUILD)`.
#if defined(CONGESTION_CHECKED)
constexpr bool CHECKED_BUILD = true;
#else
constexpr bool CHECKED_BUILD = false;
#endif

using RESOURCE_TYPE = CONGESTION::RESOURCE_TYPE;
using NETLIST_IF = CONGESTION::NETLIST_IF;
// One float grid per resource type, indexed by the type's value.
using TYPE_GRIDS = std::array<GRID_2D<float>, CONGESTION::NUM_RESOURCE_TYPES>;

// ---------------------------------------------------------------------------
// Process-wide state, set while the library loads.
// ---------------------------------------------------------------------------

// True when "congestion_use_orig" selected the original smoothing algorithm.
extern bool s_use_orig_algorithm;
// The wire types in processing order: 1, 0, 2, 3.
extern const std::vector<RESOURCE_TYPE> WIRE_TYPES;

// printf-style debug message of module "CONGESTION" at `level`.
void debug_msg(MSG_D_LEVEL level, const char* format, ...);

// True when `index` lies in [0, bound). Negative indices are rejected with
// the same report as too large ones, so no query ever reads outside a grid.
inline bool below(int index, int bound) { return index >= 0 && index < bound; }
inline bool is_valid_type(int type) { return static_cast<unsigned>(type) < CONGESTION::NUM_RESOURCE_TYPES; }

// ---------------------------------------------------------------------------
// Window extents.
// ---------------------------------------------------------------------------

// A window of `size` tiles splits into a high extent (size - 1) / 2, taken in
// single precision and truncated, and a low extent one larger when size is
// even, so low + high + 1 == size for size >= 1. Each kernel says on which
// side of the tile the low extent lies.
struct WINDOW_EXTENTS {
    int low;
    int high;
};
inline WINDOW_EXTENTS split_window(int size)
{
    const int high = static_cast<int>(static_cast<float>(size - 1) * 0.5f);
    const int low = (2 * high < size - 1) ? high + 1 : high;
    return {low, high};
}

// ---------------------------------------------------------------------------
// Summed-area tables ("down-left sums"): entry (x, y) holds the sum of the
// source over every (i, j) with i <= x and j <= y, so any inclusive rectangle
// sum costs four reads.
//
//   source      table          window x 1..2, y 1..1 of the table:
//   y=1 | 1 1 1   y=1 | 2 4 6    D(2,1) - D(0,1) - D(2,0) + D(0,0)
//   y=0 | 1 1 1   y=0 | 1 2 3    = 6 - 2 - 3 + 1 = 2
//        x=0 1 2       x=0 1 2
// ---------------------------------------------------------------------------

// Rows summed together by one iteration of the row pass, and columns by one
// iteration of the column pass. Neither changes any result: every entry
// still receives exactly the additions below, in the same order.
constexpr int DOWN_LEFT_SUM_ROW_GROUP = 8;
constexpr int DOWN_LEFT_SUM_COLUMN_BLOCK = 256;

// Overwrites every entry of `down_left_sum` (already sized by the caller) with
// the summed-area table of `source`: first running sums along each row,
//   D(r, 0) = S(r, 0),  D(r, c) = S(r, c) + D(r, c - 1),
// then running sums of those down each column,
//   D(r, c) = D(r, c) + D(r - 1, c),
// each pass parallel over lines. The additions happen in exactly this order,
// so float tables are reproducible bit for bit. The row pass advances a
// group of rows column by column, so that their independent running sums
// overlap in the pipeline; the column pass walks a block of columns row by
// row, so that it reads memory in order.
template <typename T>
void build_down_left_sum(const GRID_2D<T>& source, GRID_2D<T>& down_left_sum)
{
    const int rows = down_left_sum.get_num_rows();
    const int cols = down_left_sum.get_num_cols();
    if (rows == 0 || cols == 0) {
        // A table with rows must have a column to start each running sum in.
        if (rows != 0)
            MSG_INTERNAL_ERROR::report("in_bounds(irow, icol)", "CONGESTION", __FILE__, __LINE__);
        return;
    }
    // Every entry of the table is read from the source at the same place.
    if (!source.in_bounds(rows - 1, cols - 1))
        MSG_INTERNAL_ERROR::report("in_bounds(irow, icol)", "CONGESTION", __FILE__, __LINE__);

    const int row_groups = (rows + DOWN_LEFT_SUM_ROW_GROUP - 1) / DOWN_LEFT_SUM_ROW_GROUP;
    parallel_loop(row_groups, [&](int group) {
        const int first = group * DOWN_LEFT_SUM_ROW_GROUP;
        const int last = std::min(first + DOWN_LEFT_SUM_ROW_GROUP, rows) - 1;
        for (int r = first; r <= last; ++r)
            down_left_sum(r, 0) = source(r, 0);
        for (int c = 1; c < cols; ++c)
            for (int r = first; r <= last; ++r)
                down_left_sum(r, c) = source(r, c) + down_left_sum(r, c - 1);
    });
    const int column_blocks = (cols + DOWN_LEFT_SUM_COLUMN_BLOCK - 1) / DOWN_LEFT_SUM_COLUMN_BLOCK;
    parallel_loop(column_blocks, [&](int block) {
        const int first = block * DOWN_LEFT_SUM_COLUMN_BLOCK;
        const int end = std::min(first + DOWN_LEFT_SUM_COLUMN_BLOCK, cols);
        for (int r = 1; r < rows; ++r) {
            const T* below_row = &down_left_sum(r - 1, 0);
            T* row = &down_left_sum(r, 0);
            for (int c = first; c < end; ++c)
                row[c] = row[c] + below_row[c];
        }
    });
}

// Stops unless rows xmin..xmax and columns ymin..ymax form a window inside
// `down_left_sum`.
template <typename T>
void check_window(const GRID_2D<T>& down_left_sum, int xmin, int xmax, int ymin, int ymax)
{
    CONGESTION_CHECK(down_left_sum.get_num_rows() > xmax, "down_left_sum.get_num_rows() > xmax");
    CONGESTION_CHECK(down_left_sum.get_num_cols() > ymax, "down_left_sum.get_num_cols() > ymax");
    CONGESTION_CHECK(xmin >= 0, "xmin >= 0");
    CONGESTION_CHECK(ymin >= 0, "ymin >= 0");
    CONGESTION_CHECK(xmin <= xmax, "xmin <= xmax");
    CONGESTION_CHECK(ymin <= ymax, "ymin <= ymax");
}

// get_window_sum without the checks, for callers that made them.
template <typename T>
T sum_window(const GRID_2D<T>& down_left_sum, int xmin, int xmax, int ymin, int ymax)
{
    T sum = down_left_sum(xmax, ymax);
    if (xmin > 0)
        sum = sum - down_left_sum(xmin - 1, ymax);
    if (ymin > 0) {
        sum = sum - down_left_sum(xmax, ymin - 1);
        if (xmin > 0)
            sum = sum + down_left_sum(xmin - 1, ymin - 1);
    }
    return sum;
}

// Sum of the source over rows xmin..xmax and columns ymin..ymax, inclusive.
template <typename T>
T get_window_sum(const GRID_2D<T>& down_left_sum, int xmin, int xmax, int ymin, int ymax)
{
    check_window(down_left_sum, xmin, xmax, ymin, ymax);
    return sum_window(down_left_sum, xmin, xmax, ymin, ymax);
}

// ---------------------------------------------------------------------------
// Profiling.
// ---------------------------------------------------------------------------

// Every operation is profiled under every profiler mask.
constexpr unsigned int PROFILE_ALL = 0x7fffffff;

// The scoped host profiler of one operation; `tag` is "CONGESTION_" followed
// by the operation's name.
inline GEN_PROFILER profile_operation(const char* tag)
{
    return GEN_PROFILER("CONGESTION", tag, PROFILE_ALL, nullptr, nullptr);
}

// ---------------------------------------------------------------------------
// Kernels: free functions that touch only their arguments.
// ---------------------------------------------------------------------------

// Shares the positive demand of every source tile in rows x_start..x_end
// (columns 0..y_end) over its window x-x_low..x+x_high by y-y_low..y+y_high,
// in proportion to the window's supply, adding into `smooth_demand_for_type`
// ((nx + 1) by (ny + 1), nx by ny being the demand's size).
void spread_demand_by_supply(int x_low, int x_high, int y_low, int y_high, int x_start, int x_end, int y_end,
                             const GRID_2D<float>& supply_for_type, const GRID_2D<float>& demand_for_type,
                             GRID_2D<float>& smooth_demand_for_type);

// Row by row, what spread_demand_by_supply over each row chunk of an nx by
// ny grid scatters into a zeroed grid of its own, the chunks' grids added in
// chunk order, bit for bit, computed per destination tile without chunk
// grids: row_done(x, values) receives each row x < nx (ny values) once, from
// any worker. A negative chunk count throws std::length_error before any
// loop.
using SPREAD_ROW_SINK = std::function<void(int, const float*)>;
void spread_rows(int nx, int ny, int num_chunks, WINDOW_EXTENTS x_extents, WINDOW_EXTENTS y_extents,
                 const GRID_2D<float>& supply, const GRID_2D<float>& demand, const SPREAD_ROW_SINK& row_done);

// The same rows written into the first nx rows and ny columns of `smooth`.
void spread_in_chunks(int nx, int ny, int num_chunks, WINDOW_EXTENTS x_extents, WINDOW_EXTENTS y_extents,
                      const GRID_2D<float>& supply, const GRID_2D<float>& demand, GRID_2D<float>& smooth);

// Spreads the demand of every source tile in rows x_start..x_end evenly over
// its window x-x_high..x+x_low by y-y_high..y+y_low, through a difference
// grid turned into sums in place; `smooth_wire_for_type` is (nx + 1) by
// (ny + 1) and should start zeroed.
void smear_demand_uniformly(int x_low, int x_high, int y_low, int y_high, int x_start, int x_end, int y_end,
                            const GRID_2D<float>& demand_for_type, GRID_2D<float>& smooth_wire_for_type);

// How the share step of the new smoothing divides a tile's demand: over every
// tile of its clipped window, or over the window's non-empty tiles only.
enum class SHARE_RULE { EVERY_TILE, NON_EMPTY_TILES };

// Share step of the new smoothing: `shares` (resized to nx by ny) gets each
// tile's demand divided by the size of its window (x_size by y_size, the
// larger extent towards higher coordinates) under `rule`; the non-empty
// count comes from `non_empty_table`, the summed-area table of the tiles with
// wire supply, which only NON_EMPTY_TILES reads.
void compute_demand_shares(int nx, int ny, int x_size, int y_size, const GRID_2D<float>& demand_for_type,
                           const GRID_2D<unsigned>& non_empty_table, SHARE_RULE rule, GRID_2D<float>& shares);

// What the gather step of the new smoothing stores for a tile: the average
// over its clipped window, the window's sum, or that sum only where the
// tile's own supply is positive (0.0 elsewhere).
enum class GATHER_RULE { AVERAGE, SUM, SUM_WHERE_SUPPLIED };

// Gather step: `out` (resized to nx by ny) gets, per tile, `rule` applied to
// the window of `table` around it (x_size by y_size, the larger extent
// towards lower coordinates). Only SUM_WHERE_SUPPLIED reads
// `supply_for_type`.
void gather_from_window(int nx, int ny, int x_size, int y_size, const GRID_2D<float>& supply_for_type,
                        const GRID_2D<float>& table, GATHER_RULE rule, GRID_2D<float>& out);

class PATH_BATCH;
struct BOX_BATCH;

// Chunk routine of the path-probability model: adds the demand of the nets at
// positions chunk, chunk + num_chunks, ... of `nets` into `grids` (only the
// four wire types are written). `batch` is the calling worker's working
// storage; without it the call uses storage of its own.
void add_path_probability_demand(const std::vector<int>& nets, int chunk, int num_chunks, TYPE_GRIDS& grids,
                                 const NETLIST_IF* net_if, PATH_BATCH* batch = nullptr);

// Chunk routine of the bounding-box model: the same dealing of nets and
// written types, with each net's demand shared in proportion to `supply` and the row and column
// sums read from `supply_tables` (the summed-area tables of the supply).
// `batch` is the calling worker's working storage; without it the call uses
// storage of its own.
void add_bounding_box_demand(const TYPE_GRIDS& supply, const TYPE_GRIDS& supply_tables, const std::vector<int>& nets,
                             int chunk, int num_chunks, TYPE_GRIDS& grids, const NETLIST_IF* net_if,
                             BOX_BATCH* batch = nullptr);

}  // namespace congestion_internal

// ---------------------------------------------------------------------------
// CONGESTION_IMPL
// ---------------------------------------------------------------------------

class CONGESTION_IMPL {
 public:
    using RESOURCE_TYPE = congestion_internal::RESOURCE_TYPE;
    using NETLIST_IF = congestion_internal::NETLIST_IF;
    using TYPE_GRIDS = congestion_internal::TYPE_GRIDS;

    // --- core and state hash (congestion_core.cpp) ---
    CONGESTION_IMPL(int nx, int ny, NETLIST_IF* net_if);
    ~CONGESTION_IMPL() = default;
    CONGESTION_IMPL(const CONGESTION_IMPL&) = delete;
    CONGESTION_IMPL& operator=(const CONGESTION_IMPL&) = delete;

    int get_nx() const { return m_nx; }
    int get_ny() const { return m_ny; }
    void clear_demand();
    void clear_demand(RESOURCE_TYPE type);
    void set_num_chunks(int num_chunks) { m_num_chunks = num_chunks; }
    unsigned long long get_cookie() const;

    // --- supply (congestion_supply.cpp) ---
    void set_supply(int x, int y, RESOURCE_TYPE type, float supply);
    float get_supply(int x, int y, RESOURCE_TYPE type) const;
    float get_max_supply(RESOURCE_TYPE type) const;
    float get_avg_supply(RESOURCE_TYPE type, int x, int y, int window_size) const;

    // --- demand (congestion_demand.cpp, net models in their own files) ---
    void update_demand(const std::vector<int>& nets, CONGESTION::NET_MODEL model);

    // --- smoothing: dispatch and original algorithm (congestion_smooth_orig.cpp) ---
    void dispatch_smooth_demand(int parallel_dim, int perpendicular_dim, bool uniform,
                                const std::vector<RESOURCE_TYPE>& resources);
    void generate_smooth_demand(int parallel_dim, int perpendicular_dim, RESOURCE_TYPE type);
    void generate_smooth_wire_demand(int parallel_dim, int perpendicular_dim, bool uniform);

    // --- smoothing: new algorithm and smoothed supply (congestion_smooth_new.cpp) ---
    void generate_smooth_demand_smeared_new(int parallel_dim, int perpendicular_dim, bool uniform,
                                            const std::vector<RESOURCE_TYPE>& resources);
    void generate_smooth_supply(int parallel_dim, int perpendicular_dim, const std::vector<RESOURCE_TYPE>& types);

    // --- congestion update (congestion_update.cpp) ---
    void update_congestion(bool build_window_sums);

    // --- point and total queries (congestion_queries.cpp) ---
    float get_demand(int x, int y, RESOURCE_TYPE type) const;
    float get_smooth_demand(int x, int y, RESOURCE_TYPE type) const;
    float get_util(int x, int y, RESOURCE_TYPE type) const;
    float get_total_demand(RESOURCE_TYPE type) const;
    // --- chip and window metrics (congestion_metrics.cpp) ---
    float get_avg_chip_utilization(float threshold) const;
    float get_apl_style_congestion(int x, int y, RESOURCE_TYPE type) const;
    float get_total_apl_style_congestion(RESOURCE_TYPE type) const;
    float get_congestion_in_window(RESOURCE_TYPE type, int xmin, int xmax, int ymin, int ymax) const;
    int get_num_non_empty_in_window(int xmin, int xmax, int ymin, int ymax) const;

    // --- peak search (congestion_peak.cpp) ---
    std::pair<float, CONGESTION::LOC> get_peak_utilization(int dim, RESOURCE_TYPE type, bool debug) const;

    // --- text dumps (congestion_dump.cpp) ---
    void dump(const char* filename, const std::vector<int>& skip_cols) const;
    void dump_netlist(const std::vector<int>& nets, const char* filename) const;

    // --- read-only view for front ends and benchmarks ---
    // The grids of one kind, all five types; a kind that no operation has
    // built yet holds empty grids.
    enum class GRID_KIND {
        DEMAND,
        SUPPLY,
        SUPPLY_TABLE,  // summed-area tables of the supply (smoothed supply)
        SMOOTH_SUPPLY,
        SMOOTH_DEMAND,  // of the algorithm in force
        SMOOTH_DEMAND_ORIG,
        SMOOTH_DEMAND_NEW,
        CONGESTION,
        CONGESTION_TABLE,
    };
    const TYPE_GRIDS& get_grids(GRID_KIND kind) const;
    // Summed-area table of the tiles with wire supply, built with the
    // smoothed supply.
    const GRID_2D<unsigned>& get_non_empty_table() const { return m_non_empty_down_left_sum; }
    // True once the smoothed supply was built and no set_supply came since.
    bool is_smooth_supply_valid() const { return m_smooth_supply_is_valid.load(std::memory_order_relaxed); }
    // True once the algorithm in force has smoothed demand readable by the
    // point queries.
    bool is_smooth_demand_valid() const;
    // True when "congestion_use_orig" selected the original algorithm.
    static bool uses_original_algorithm() { return congestion_internal::s_use_orig_algorithm; }
    int get_num_chunks() const { return m_num_chunks; }
    NETLIST_IF* get_net_if() const { return m_net_if; }

 private:
    // Tests reach the state that no public call can arrange through this
    // one peer.
    friend struct CONGESTION_TEST_PEER;

    // --- sizes and the caller's interface ---
    int m_nx;
    int m_ny;
    int m_num_chunks;
    NETLIST_IF* m_net_if;
    // --- demand and congestion ---
    TYPE_GRIDS m_demand;
    TYPE_GRIDS m_congestion;
    TYPE_GRIDS m_congestion_down_left_sum;
    // --- validity of the smoothed products ---
    // Cleared by set_supply, which may run on several threads at once.
    std::atomic<bool> m_smooth_supply_is_valid{false};
    bool m_smooth_demand_is_valid = false;
    bool m_smooth_demand_smeared_new_is_valid = false;
    // --- smoothed demand of each algorithm ---
    TYPE_GRIDS m_smooth_demand_orig;
    TYPE_GRIDS m_smooth_demand_smeared_new;
    // --- supply and its smoothed forms ---
    TYPE_GRIDS m_supply;
    TYPE_GRIDS m_supply_down_left_sum;
    GRID_2D<unsigned> m_non_empty_down_left_sum;
    TYPE_GRIDS m_smooth_supply;
    mutable tbb::spin_rw_mutex m_max_supply_mutex;
    float m_max_supply[CONGESTION::NUM_RESOURCE_TYPES];
};

#endif
