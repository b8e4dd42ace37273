// CONGESTION: the routing-congestion estimator exported by libcongestion.
#ifndef CONGESTION_EXPORT_H
#define CONGESTION_EXPORT_H

#include <ostream>
#include <utility>
#include <vector>

#include "host/zol_msg.h"

#if defined(_WIN32)
#if defined(CONGESTION_BUILDING)
#define CONGESTION_API __declspec(dllexport)
#else
#define CONGESTION_API __declspec(dllimport)
#endif
#else
#define CONGESTION_API __attribute__((visibility("default")))
#endif

class CONGESTION_IMPL;

// One estimator for a device of nx by ny tiles. x is the device column
// (0 .. nx-1, left to right) and y the device row (0 .. ny-1, bottom to top).
//
// An estimate calls, in this order (nothing enforces it; a skipped step shows
// as a fatal check or as stale or zero grids):
//   1. set_supply for every tile and type with capacity;
//   2. generate_smooth_wire_supply, again after any later set_supply;
//   3. update_demand with a net model, and with LAB_INPUT_MODEL;
//   4. generate_smooth_wire_demand (and generate_smooth_demand per type);
//   5. update_congestion;
//   6. queries and dumps; then clear_demand before the next estimate.
//
// The library trusts its caller. Coordinates, types and windows are checked
// where a comment below names a message: a broken promise then ends the
// process through MSG_INTERNAL_ERROR::report with that message ("fatal").
// Where a comment says "undefined", nothing is checked by design and a broken
// promise corrupts memory or results. Calls that allocate (the constructor,
// update_demand, the three smoothing calls, update_congestion,
// get_peak_utilization and the dumps) can throw std::bad_alloc; exceptions
// thrown by the caller's NETLIST_IF pass through the call that made them.
// The library throws nothing of its own.
//
// set_supply and get_max_supply may run concurrently; every other operation
// must run alone on an object. Results do not depend on the thread count.
class CONGESTION_API CONGESTION {
 public:
    // The four wire directions and the logic blocks' input pins. Every
    // argument of this type must be one of these five values.
    enum RESOURCE_TYPE : int {
        HORIZONTAL_LEFT = 0,
        HORIZONTAL_RIGHT = 1,
        VERTICAL_UP = 2,
        VERTICAL_DOWN = 3,
        LAB_INPUT = 4
    };
    static constexpr int NUM_RESOURCE_TYPES = 5;

    // How update_demand turns nets into demand.
    enum NET_MODEL : int {
        PATH_PROBABILITY_MODEL = 0,  // per-pin crossing probabilities
        BOUNDING_BOX_MODEL = 1,      // box and wire length, spread by supply
        LAB_INPUT_MODEL = 2          // Lab Input demand read tile by tile
    };

    // A tile: x its column, y its row.
    struct LOC {
        int x;
        int y;
    };

    // The caller's netlist, borrowed: it must stay alive and unchanged while
    // update_demand, update_congestion or dump_netlist runs. Called from
    // several worker threads at once during update_demand and
    // update_congestion, so every method must be safe for concurrent calls.
    // A net is the caller's int, passed back unchanged; pin 0 is its driver.
    class NETLIST_IF {
     public:
        virtual ~NETLIST_IF() = default;
        // The pin's tile, the same on every call. Under the path-probability
        // model a pin outside the grid is undefined: that model writes the
        // pins' box unchecked.
        virtual LOC get_pin_loc(int net, int pin) const = 0;
        virtual int get_num_nets() const = 0;  // never called by the library
        // Pins of the net, driver included. Pin 0 is read before the count,
        // so every net handed to the path-probability model needs a driver
        // (undefined otherwise); a count below 2 then adds nothing.
        virtual int get_num_pins(int net) const = 0;
        // Weight of a load of a net of fewer than 16 pins: the path-
        // probability model averages its loads' crossings with weight + 1.
        virtual float get_pin_weight(int net, int pin) const = 0;
        // Lab Input demand of a tile (LAB_INPUT_MODEL), a whole number.
        virtual int get_lab_input_demand(int x, int y) const = 0;
        // The congestion value of a tile and wire type from its smoothed
        // demand and smoothed supply (zero supply included); update_congestion
        // stores it unchanged, e.g. smooth_demand / smooth_supply.
        virtual float compute_congestion(float smooth_demand, float smooth_supply, RESOURCE_TYPE type) const = 0;
        // Horizontal then vertical wire-length estimate of the net, in tiles.
        // Only the excess over the box's width and height counts.
        virtual std::pair<float, float> get_wirelength(int net) const = 0;
        // Inclusive box: leftmost and rightmost column, bottom and top row.
        // A box with xl > xr or yb > yt is empty and adds nothing; a
        // non-empty box must lie in the grid (fatal
        // "m_supply[type].get_num_rows() > x" or a window-sum check).
        virtual void get_bounding_box(int net, int* net_xl, int* net_xr, int* net_yb, int* net_yt) const = 0;
    };

    // Builds an estimator with zero supply and demand and logs the smoothing
    // algorithm in force (debug level 2). Negative sides are fatal ("num_rows
    // >= 0 && num_cols >= 0"); (nx + 1) * (ny + 1) must fit an int
    // (undefined otherwise). net_if is borrowed and may be null when neither
    // update_demand, update_congestion nor dump_netlist is called.
    CONGESTION(int nx = 0, int ny = 0, NETLIST_IF* net_if = nullptr);
    // A moved-from object may only be destroyed or assigned to; any other
    // call on it is undefined.
    CONGESTION(CONGESTION&& other) noexcept;
    CONGESTION& operator=(CONGESTION&& other) noexcept;
    ~CONGESTION();
    CONGESTION(const CONGESTION&) = delete;
    CONGESTION& operator=(const CONGESTION&) = delete;

    // Display name of a resource type ("Horizontal Left", ..., "Lab Input");
    // another value is fatal ("Invalid resource type in
    // get_string_for_resource_type"). Inline: its caller links the host library.
    static const char* get_string_for_resource_type(RESOURCE_TYPE type)
    {
        switch (type) {
        case HORIZONTAL_LEFT: return "Horizontal Left";
        case HORIZONTAL_RIGHT: return "Horizontal Right";
        case VERTICAL_UP: return "Vertical Up";
        case VERTICAL_DOWN: return "Vertical Down";
        case LAB_INPUT: return "Lab Input";
        }
        MSG_INTERNAL_ERROR::report("Invalid resource type in get_string_for_resource_type", "CONGESTION",
                                   "fitter/h/congestion_export.h", __LINE__);
    }
    // The four wire types in processing order: right, left, up, down; the
    // same object on every call.
    static const std::vector<RESOURCE_TYPE>& get_wire_resource_types();

    int get_nx() const;
    int get_ny() const;
    // Number of chunks the chunked parallel loops split their work into
    // (16 by default; each holds whole-grid scratch, so it bounds memory).
    // Not checked: 0 makes the net models and smoothing add nothing, a
    // negative count makes them throw std::length_error. Results may differ
    // in the last bits between counts, never between thread counts.
    void set_num_chunks(int num_chunks);
    // 64-bit hash over the sizes, the grids and the flags of the estimator:
    // equal cookies mean bit-identical state. Callable at any time.
    unsigned long long get_cookie() const;

    // Sets the supply (capacity, in wires or pins) of one tile and type.
    // Fatal: a type outside 0..4 ("type < m_supply.size()"), a tile outside
    // the grid ("m_supply[type].get_num_rows() > x", "... get_num_cols() >
    // y"), a tile whose supply is already positive ("Cannot use set_supply to
    // overwrite supply.  Must use clear_supply() first"). Not checked: a
    // negative or NaN supply, which the smoothing and the bounding-box model
    // add into their sums (meaningless results). Leaves the smoothed supply
    // stale until generate_smooth_wire_supply runs again. May run
    // concurrently for distinct tiles.
    void set_supply(int x, int y, RESOURCE_TYPE type, float supply);
    // One tile's supply; the checks of set_supply.
    float get_supply(int x, int y, RESOURCE_TYPE type) const;
    // The largest supply ever set for the type. A type outside 0..4 is
    // undefined.
    float get_max_supply(RESOURCE_TYPE type) const;
    // Mean supply over the grid (x, y and window_size all -1; otherwise fatal
    // "y==-1" or "window_size==-1") or over a square window of about
    // window_size tiles centred on (x, y), moved to stay inside the grid.
    float get_avg_supply(RESOURCE_TYPE type, int x, int y, int window_size) const;

    // Zeroes demand, smoothed demand and congestion of all types, or of one
    // (a type outside 0..4 is undefined). Supply, the smoothed supply, the
    // congestion window sums and the validity of smoothed demand stay: window
    // queries answer from the last update_congestion until the next one.
    void clear_demand();
    void clear_demand(RESOURCE_TYPE type);
    // Adds the demand of the listed nets (indices the netlist understands,
    // undefined otherwise) to the wire types; demand accumulates until
    // clear_demand. PATH_PROBABILITY_MODEL: pins inside the grid and a driver
    // per net are the caller's promise (undefined otherwise); a load read
    // outside its net's pin box the second time is fatal ("load_loc.x >=
    // net_xl" and its three siblings). BOUNDING_BOX_MODEL: needs
    // generate_smooth_wire_supply after the last set_supply (before the first
    // one fatal "down_left_sum.get_num_rows() > xmax"; after a later
    // set_supply the shares are silently wrong); boxes as get_bounding_box
    // says. LAB_INPUT_MODEL replaces the Lab Input demand with the netlist's
    // per-tile values and reads no nets. Fatal: another model ("Unknown
    // congestion net model"), a null netlist ("net_if != nullptr"; for
    // LAB_INPUT_MODEL "m_net_if != nullptr"). Under the net models an
    // exception (std::bad_alloc, or the netlist's own) leaves demand as it was.
    void update_demand(const std::vector<int>& nets, NET_MODEL model);
    // Smooths one type's demand over windows of parallel_dim by
    // perpendicular_dim tiles with the algorithm in force (the new one unless
    // congestion_use_orig is on). A type outside 0..4 is fatal ("Invalid
    // resource type in get_string_for_resource_type"). The new algorithm
    // spreads a tile's demand evenly over the tiles of its window that have
    // wire supply and needs generate_smooth_wire_supply first (fatal
    // "down_left_sum.get_num_rows() > xmax"); the original one spreads it in
    // proportion to the type's supply, along x by parallel_dim for every
    // type, and does not make smoothed demand readable: only
    // generate_smooth_wire_demand does. Window sizes of 0 act as 1; negative
    // ones are fatal (a window-sum check) or drop all demand.
    void generate_smooth_demand(int parallel_dim, int perpendicular_dim, RESOURCE_TYPE type);
    // Smooths the demand of the four wire types over windows of parallel_dim
    // tiles along each wire's direction and perpendicular_dim across it, and
    // makes smoothed demand readable. Without uniform, demand goes to the
    // tiles with supply, and the new algorithm needs
    // generate_smooth_wire_supply first (fatal
    // "down_left_sum.get_num_rows() > xmax"); with uniform, to every tile of
    // the window, and a negative size is fatal ("parallel_dim >= 0 &&
    // perpendicular_dim >= 0").
    void generate_smooth_wire_demand(int parallel_dim, int perpendicular_dim, bool uniform);
    // Builds, from the supply set so far, the smoothed supply of the wire
    // types (the mean over each tile's window, oriented as in
    // generate_smooth_wire_demand), their supply window sums and the count of
    // tiles with wire supply. Needs a grid of at least one tile (fatal "m_nx
    // > 0 && m_ny > 0" or "in_bounds(irow, icol)") and sizes of 0 or more
    // (fatal "xmin <= xmax" or "ymin <= ymax").
    void generate_smooth_wire_supply(int parallel_dim, int perpendicular_dim);
    // Sets every tile's congestion of the wire types to the netlist's
    // compute_congestion(smoothed demand, smoothed supply, type), called from
    // several threads; with build_window_sums, also the tables of
    // get_congestion_in_window (without, every window sums to 0). Fatal:
    // smoothed demand not readable ("m_smooth_demand_smeared_new_is_valid",
    // or under the original algorithm "m_smooth_demand_is_valid"), no
    // smoothed supply ("m_smooth_supply[type].get_num_rows() == m_nx &&
    // m_smooth_supply[type].get_num_cols() == m_ny"), a null netlist
    // ("m_net_if != nullptr"). It does not notice a stale smoothed supply.
    void update_congestion(bool build_window_sums);

    // The point queries below are fatal for a type outside 0..4 ("type <
    // m_demand.size()" and the like) and a tile outside the grid
    // ("m_demand[type].get_num_rows() > x" and the like).

    // One tile's demand, before smoothing.
    float get_demand(int x, int y, RESOURCE_TYPE type) const;
    // One tile's smoothed demand from the algorithm in force; fatal before
    // the smoothing that makes it readable ("m_smooth_demand_smeared_new_is_valid",
    // or under the original algorithm "m_smooth_demand_is_valid").
    float get_smooth_demand(int x, int y, RESOURCE_TYPE type) const;
    // Utilization of one tile: its demand (not smoothed) over its supply, 0
    // where the supply is not positive. 1 means the tile is full.
    float get_util(int x, int y, RESOURCE_TYPE type) const;
    // The type's demand summed over the grid, x outer, y inner.
    float get_total_demand(RESOURCE_TYPE type) const;
    // The highest utilization of the type and its tile, after smoothing the
    // type's demand over a dim by dim window in proportion to supply (the
    // original algorithm's smoothing, whatever is in force, into scratch:
    // the object does not change and needs no prior smoothing). dim 0 or 1
    // is the tile alone. Ties go to the lowest x, then the lowest y; an empty
    // grid gives (-1, (-1, -1)). debug writes the search to std::cout, one
    // line per new peak. Fatal: a type outside 0..4 ("type < m_supply.size()").
    std::pair<float, LOC> get_peak_utilization(int dim, RESOURCE_TYPE type, bool debug) const;
    // Aggregate utilization of the congested part of the chip: over the
    // (tile, wire type) pairs whose utilization (as get_util) is strictly
    // above threshold, their demand summed over their supply summed; 0 when
    // no pair qualifies. Threshold 0 takes every pair with demand on supply,
    // 1 the overfull ones; a negative one also admits pairs without supply.
    float get_avg_chip_utilization(float threshold) const;
    // Overflow of one tile: its smoothed demand minus its supply (not
    // smoothed), not below 0: the wires the tile lacks. The checks of
    // get_smooth_demand, then those of get_supply.
    float get_apl_style_congestion(int x, int y, RESOURCE_TYPE type) const;
    // That overflow summed over the grid, x outer, y inner.
    float get_total_apl_style_congestion(RESOURCE_TYPE type) const;
    // Windows are inclusive on all four sides and must lie in the grid, with
    // their bounds in order (fatal "down_left_sum.get_num_rows() > xmax",
    // "down_left_sum.get_num_cols() > ymax", "xmin >= 0", "ymin >= 0",
    // "xmin <= xmax", "ymin <= ymax").

    // Sum of a wire type's congestion over the window, from the tables of the
    // last update_congestion(true): fatal before any update_congestion and
    // for LAB_INPUT (the row check); 0 after update_congestion(false).
    float get_congestion_in_window(RESOURCE_TYPE type, int xmin, int xmax, int ymin, int ymax) const;
    // Tiles of the window with supply in some wire type, as of the last
    // generate_smooth_wire_supply (fatal before it: the row check).
    int get_num_non_empty_in_window(int xmin, int xmax, int ymin, int ymax) const;

    // Writes tab-separated tables, one line per y and one column per x: the
    // wire utilization of each tile in percent, then per type its utilization
    // in percent, demand, smoothed demand (of the original algorithm) and
    // supply. skip_cols lists distinct x columns to leave out (a repeat or an
    // x outside the grid is fatal "x_count == unscaled_nx"). A file that
    // cannot be written is silently left out.
    void dump(const char* filename, const std::vector<int>& skip_cols) const;
    // Writes the listed nets as the netlist reports them: the count, then
    // per net a line "net pins x y weight x y weight ... ". Needs a netlist
    // (fatal "m_net_if != nullptr"); a file that cannot be written is
    // silently left out.
    void dump_netlist(const std::vector<int>& nets, const char* filename) const;

 private:
    CONGESTION_IMPL* m_impl;
};

// Writes the location as "(x,y)", without spaces.
CONGESTION_API std::ostream& operator<<(std::ostream& os, const CONGESTION::LOC& loc);

#endif
