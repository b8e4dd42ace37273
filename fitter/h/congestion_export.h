// CONGESTION: the routing-congestion estimator exported by libcongestion.
#ifndef CONGESTION_EXPORT_H
#define CONGESTION_EXPORT_H

#include <ostream>
#include <utility>
#include <vector>

#include "host/zol_msg.h"

#if defined(_WIN32)
#  if defined(CONGESTION_BUILDING)
#    define CONGESTION_API __declspec(dllexport)
#  else
#    define CONGESTION_API __declspec(dllimport)
#  endif
#else
#  define CONGESTION_API __attribute__((visibility("default")))
#endif

class CONGESTION_IMPL;

// One estimator for a device of nx by ny tiles. x is the device column
// (0 .. nx-1, left to right) and y the device row (0 .. ny-1, bottom to top).
// Every failed check ends the process through MSG_INTERNAL_ERROR::report.
// set_supply and get_max_supply may run concurrently; every other operation
// must run alone on an object. Results do not depend on the thread count.
class CONGESTION_API CONGESTION {
 public:
    enum RESOURCE_TYPE : int {
        HORIZONTAL_LEFT = 0,
        HORIZONTAL_RIGHT = 1,
        VERTICAL_UP = 2,
        VERTICAL_DOWN = 3,
        LAB_INPUT = 4
    };
    static constexpr int NUM_RESOURCE_TYPES = 5;

    enum NET_MODEL : int {
        PATH_PROBABILITY_MODEL = 0,  // per-pin crossing probabilities
        BOUNDING_BOX_MODEL = 1,      // box and wire length, spread by supply
        LAB_INPUT_MODEL = 2          // Lab Input demand read tile by tile
    };

    struct LOC {
        int x;
        int y;
    };

    // The caller's netlist. Called from several worker threads at once during
    // update_demand and update_congestion, so every method must be safe for
    // concurrent calls. Pin 0 of a net is its driver.
    class NETLIST_IF {
     public:
        virtual ~NETLIST_IF() = default;
        virtual LOC get_pin_loc(int net, int pin) const = 0;
        virtual int get_num_nets() const = 0;  // never called by the library
        virtual int get_num_pins(int net) const = 0;
        virtual float get_pin_weight(int net, int pin) const = 0;
        virtual int get_lab_input_demand(int x, int y) const = 0;
        virtual float compute_congestion(float smooth_demand, float smooth_supply, RESOURCE_TYPE type) const = 0;
        // Horizontal then vertical wire-length estimate of the net, in tiles.
        virtual std::pair<float, float> get_wirelength(int net) const = 0;
        // Inclusive box: leftmost and rightmost column, bottom and top row.
        virtual void get_bounding_box(int net, int* net_xl, int* net_xr, int* net_yb, int* net_yt) const = 0;
    };

    // Builds an estimator with zero supply and demand. net_if is borrowed
    // and may be null when no net model or congestion update is used.
    CONGESTION(int nx = 0, int ny = 0, NETLIST_IF* net_if = nullptr);
    CONGESTION(CONGESTION&& other) noexcept;
    CONGESTION& operator=(CONGESTION&& other) noexcept;
    ~CONGESTION();
    CONGESTION(const CONGESTION&) = delete;
    CONGESTION& operator=(const CONGESTION&) = delete;

    // Display name of a resource type ("Horizontal Left", ..., "Lab Input").
    static const char* get_string_for_resource_type(RESOURCE_TYPE type)
    {
        switch (type) {
        case HORIZONTAL_LEFT:
            return "Horizontal Left";
        case HORIZONTAL_RIGHT:
            return "Horizontal Right";
        case VERTICAL_UP:
            return "Vertical Up";
        case VERTICAL_DOWN:
            return "Vertical Down";
        case LAB_INPUT:
            return "Lab Input";
        }
        MSG_INTERNAL_ERROR::report("Invalid resource type in get_string_for_resource_type", "CONGESTION",
                                   "fitter/h/congestion_export.h", __LINE__);
    }
    // The four wire types in processing order: right, left, up, down.
    static const std::vector<RESOURCE_TYPE>& get_wire_resource_types();

    int get_nx() const;
    int get_ny() const;
    // Number of chunks the chunked parallel loops split their work into
    // (16 by default). Results may differ in the last bits between counts.
    void set_num_chunks(int num_chunks);
    // 64-bit hash over the sizes, the grids and the flags of the estimator.
    unsigned long long get_cookie() const;

    // Supply (capacity) of one tile and type; a positive value is final.
    void set_supply(int x, int y, RESOURCE_TYPE type, float supply);
    float get_supply(int x, int y, RESOURCE_TYPE type) const;
    float get_max_supply(RESOURCE_TYPE type) const;
    // Mean supply over the grid (x, y and window_size all -1) or over a
    // square window around (x, y) kept inside the grid.
    float get_avg_supply(RESOURCE_TYPE type, int x, int y, int window_size) const;

    // Zeroes demand, smoothed demand and congestion (all types, or one).
    void clear_demand();
    void clear_demand(RESOURCE_TYPE type);
    // Adds the demand of the listed nets; LAB_INPUT_MODEL replaces the Lab
    // Input demand with the netlist's per-tile values instead.
    void update_demand(const std::vector<int>& nets, NET_MODEL model);
    void generate_smooth_demand(int parallel_dim, int perpendicular_dim, RESOURCE_TYPE type);
    void generate_smooth_wire_demand(int parallel_dim, int perpendicular_dim, bool uniform);
    void generate_smooth_wire_supply(int parallel_dim, int perpendicular_dim);
    // Asks the netlist's compute_congestion for every tile and wire type.
    void update_congestion(bool build_window_sums);

    float get_demand(int x, int y, RESOURCE_TYPE type) const;
    float get_smooth_demand(int x, int y, RESOURCE_TYPE type) const;
    float get_util(int x, int y, RESOURCE_TYPE type) const;
    float get_total_demand(RESOURCE_TYPE type) const;
    std::pair<float, LOC> get_peak_utilization(int dim, RESOURCE_TYPE type, bool debug) const;
    float get_avg_chip_utilization(float threshold) const;
    float get_apl_style_congestion(int x, int y, RESOURCE_TYPE type) const;
    float get_total_apl_style_congestion(RESOURCE_TYPE type) const;
    // Windows are inclusive on all four sides.
    float get_congestion_in_window(RESOURCE_TYPE type, int xmin, int xmax, int ymin, int ymax) const;
    int get_num_non_empty_in_window(int xmin, int xmax, int ymin, int ymax) const;

    void dump(const char* filename, const std::vector<int>& skip_cols) const;
    void dump_netlist(const std::vector<int>& nets, const char* filename) const;

 private:
    CONGESTION_IMPL* m_impl;
};

// Writes the location as "(x,y)".
CONGESTION_API std::ostream& operator<<(std::ostream& os, const CONGESTION::LOC& loc);

#endif
