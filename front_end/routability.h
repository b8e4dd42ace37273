// Will the placement route? A verdict, the smallest wire supply it would
// route with and, for a channel of tracks, the smallest track count, all
// from the placed nets and the supply.
//
// The figure is a high quantile of window utilization: for every tile with
// supply, the demand summed over a window centred on it (cut at the grid's
// edge) over the supply summed over the same window. Demand does not change
// with the supply, so scaling every supply by s divides the figure by s, and
// the placement is predicted to route while the figure stays at or below the
// threshold: it routes with any supply scale of at least figure / threshold.
// The demand is each net's expected routed length (its box's half-perimeter,
// each side lengthened by a tile, times a factor for its pin count) spread
// evenly over its box: a router connects a net of many pins with one tree,
// whose length grows with the pin count far slower than the paths from the
// driver to each load that the path model counts. The threshold follows the
// device: it falls as fewer of the tracks start a wire in each tile and as a
// logic tile has more input pins. The rule's constants were chosen against
// the minimum channel widths the router needs on generic designs of three
// architectures.
#ifndef CONGESTION_ROUTABILITY_H
#define CONGESTION_ROUTABILITY_H

#include <array>
#include <cmath>
#include <functional>
#include <optional>
#include <vector>

#include "fitter/h/congestion_export.h"
#include "front_end/design_reader.h"

// A per-tile map read in place, e.g. from the estimator: the value at (x, y).
using TILE_READER = std::function<double(int x, int y)>;

// One map the figure looks at: the sum of its demand maps against the sum of
// its supply maps, e.g. one wire direction with its own supply. Its wires
// run along x (horizontal) or along y (vertical), which orients the window.
struct DEMAND_AND_SUPPLY {
    std::vector<TILE_READER> demand;
    std::vector<TILE_READER> supply;
    bool vertical = false;
};

// How the figure reduces the window utilizations of the maps to one value.
struct ROUTABILITY_FIGURE {
    int along = 1;   // side of the window along each map's wires, tiles (odd)
    int across = 1;  // side of the window across them, tiles (odd)
    // The rank ceil(quantile * n) of the n values, smallest first, in (0, 1].
    double quantile = 1.0;
    // The mean of the values from that rank up (the top share 1 - quantile,
    // at least one value) instead of the value at it.
    bool mean_above = false;
};

// What the tool's figure reads: the box demand of the nets (below) of each
// axis against the supply of both directions of the axis.
constexpr const char* ROUTABILITY_MAPS_WORD = "net boxes";

// The figures of a device that the threshold follows: the share of a
// direction's tracks that start a wire in a tile (the sum over the wire
// classes of count / length, over the tracks per direction: a connection
// enters or turns only onto a wire that starts where it is) and the input
// pins of a logic tile (slices x LUT inputs + the clock: the more pins a
// tile's wires must reach, the fewer connections its local tracks make).
struct ROUTING_DEVICE {
    double starting_share = 0.0;
    int tile_inputs = 0;
    // True when the design does not describe its device and the default
    // generic device's figures stand in.
    bool assumed = false;
};

// The generic device of congestion-import's defaults: 4 slices of 4-input
// LUTs, wires of length 1 and 4 in the ratio 12 : 8.
extern const GENERIC_ARCHITECTURE DEFAULT_GENERIC_ARCHITECTURE;

// The figures of a generic device.
ROUTING_DEVICE get_routing_device(const GENERIC_ARCHITECTURE& architecture);

// The figures of a design's device: those of the generic device its
// meta.txt describes, else (an iCE40 design, or a folder whose meta.txt says
// nothing of its device) the default generic device's, marked assumed.
ROUTING_DEVICE get_design_device(const DESIGN& design);

struct ROUTABILITY_RULE {
    ROUTABILITY_FIGURE figure;
    // Tiles added to each net box's width and to its height before its
    // demand is spread: a net within one column still takes a wire out of
    // its tile and back.
    double extent = 0.0;
    // The threshold, the largest figure at which a placement routes, is
    // constant x (starting share / tile inputs) ^ exponent.
    double constant = 1.0;
    double exponent = 0.0;
};

// The tool's rule: the 95th percentile of the utilizations of windows of 5
// tiles along each axis's wires and 1 across, the boxes lengthened by a tile,
// against 1.692 (s / p)^(1/4). Of the figures, extents and exponents tried on
// routed designs of three architectures, it predicted the minimum channel
// with the least worst error when each netlist was left out of the
// constant's fit in turn; a window along the wires takes in the tiles over
// which a router can slide a wire of several tiles.
constexpr ROUTABILITY_RULE ROUTABILITY_RULE_CALIBRATED{{5, 1, 0.95, false}, 1.0, 1.692, 0.25};

// The rule's threshold on a device.
double get_routability_threshold(const ROUTABILITY_RULE& rule, const ROUTING_DEVICE& device);

// The rule as applied to one design: its constants and its device.
struct RULE_IN_FORCE {
    ROUTABILITY_RULE rule;
    ROUTING_DEVICE device;
};

// Calls visit(name, value) for each field of the rule in force, in the
// order and with the names that the JSON report and the Python module give
// them: the rule's constants, the device's figures and the threshold.
template <typename VISIT>
void visit_rule_fields(const RULE_IN_FORCE& in_force, VISIT&& visit)
{
    const ROUTABILITY_RULE& rule = in_force.rule;
    visit("maps", ROUTABILITY_MAPS_WORD);
    visit("extent", rule.extent);
    visit("along", rule.figure.along);
    visit("across", rule.figure.across);
    visit("quantile", rule.figure.quantile);
    visit("mean_above", rule.figure.mean_above);
    visit("constant", rule.constant);
    visit("exponent", rule.exponent);
    visit("starting_share", in_force.device.starting_share);
    visit("tile_inputs", in_force.device.tile_inputs);
    visit("device_assumed", in_force.device.assumed);
    visit("threshold", get_routability_threshold(rule, in_force.device));
}

// The expected routed length of a net of `pins` pins (driver included) over
// its box's half-perimeter: the crossing factors of Cheng's routability model
// (ICCAD 1994), 1 up to 3 pins, 1.45 at 10, 2.79 at 50, linear between the
// tabulated counts and beyond 50.
double get_crossing_factor(int pins);

// Wire demand of nets spread over their boxes, per axis: each net's box
// width (height) plus `extent` tiles, times its crossing factor, spread
// evenly over the tiles of its box as horizontal (vertical) demand. Summed
// with one table of differences per axis, so the time grows with the nets
// and the tiles, not with the boxes' areas.
class BOX_DEMAND {
 public:
    // The listed nets of the netlist on an nx x ny grid; empty boxes add
    // nothing, the others must lie in the grid. `extent` is at least 0.
    BOX_DEMAND(int nx, int ny, const CONGESTION::NETLIST_IF& netlist, const std::vector<int>& nets, double extent);
    double get_horizontal(int x, int y) const { return m_horizontal[get_index(x, y)]; }
    double get_vertical(int x, int y) const { return m_vertical[get_index(x, y)]; }
    // Whether some net's box spans more than one tile: the nets within one
    // tile take demand only from the extent, and need no wire where there
    // is none.
    bool spans_tiles() const { return m_spans_tiles; }

 private:
    std::size_t get_index(int x, int y) const { return static_cast<std::size_t>(y) * (m_nx + 1) + x; }

    int m_nx;
    bool m_spans_tiles = false;
    // (nx + 1) x (ny + 1) tables, the differences turned in place into their
    // prefix sums: a tile's demand at its own index.
    std::vector<double> m_horizontal;
    std::vector<double> m_vertical;
};

// The figure of the maps on an nx x ny grid: of the window utilizations of
// every map at every tile where the map has supply, the value at rank
// ceil(quantile * n) (1 the smallest, at least 1), or the mean of the values
// from that rank up. When no map has supply: infinite if some tile's demand
// is above 0 (no supply is enough), else 0. The supply is read twice per
// tile (the values are counted first; three times with a window larger than
// 1 x 1) and the demand once; at most twice as many values as there are from
// the rank up are held, and a window larger than 1 x 1 holds two tables of
// prefix sums of one map at a time.
double get_routability_figure(int nx, int ny, const std::vector<DEMAND_AND_SUPPLY>& maps,
                              const ROUTABILITY_FIGURE& figure);

// The track count of a design whose channel is not a count of tracks per
// direction.
constexpr int NO_TRACKS = 0;

struct ROUTABILITY {
    double figure = 0.0;
    // figure / threshold: the smallest factor by which every supply could be
    // scaled and the placement still route; infinite for an infinite figure
    // (demand without supply).
    double min_supply_scale = 0.0;
    // 1 / min_supply_scale - 1: the share of supply to spare, negative when
    // the placement does not route; infinite for a figure of 0, -1 for an
    // infinite one.
    double margin = 0.0;
    bool routes = true;  // min_supply_scale <= 1
    // The smallest whole track count at or above tracks * min_supply_scale
    // (at least 1), or NO_TRACKS when the design's channel is not a count of
    // tracks per direction or no count of tracks is enough.
    int predicted_min_tracks = NO_TRACKS;
    // The device whose threshold the verdict used (get_placement_routability).
    ROUTING_DEVICE device;
};

// The verdict of a figure under a threshold, for a channel of `tracks`
// tracks per direction (NO_TRACKS for none).
ROUTABILITY get_routability(double figure, double threshold, int tracks);

// The verdict's word in the reports and in Python: "routes" or "does not
// route".
inline const char* get_verdict_word(const ROUTABILITY& routability)
{
    return routability.routes ? "routes" : "does not route";
}

// Calls visit(name, value) for each field of the routability object that the
// JSON report and the Python module give, in their order: the verdict's word;
// the numbers as std::optional, empty where a value is not finite or the
// design's channel is not a count of tracks; and the calibrated rule on the
// verdict's device, whose fields visit_rule_fields names.
template <typename VISIT>
void visit_routability_fields(const ROUTABILITY& routability, int tracks, VISIT&& visit)
{
    const auto finite = [](double value) { return std::isfinite(value) ? std::optional(value) : std::nullopt; };
    const auto count = [](int value) { return value != NO_TRACKS ? std::optional(value) : std::nullopt; };
    visit("verdict", get_verdict_word(routability));
    visit("min_supply_scale", finite(routability.min_supply_scale));
    visit("margin", finite(routability.margin));
    visit("predicted_min_tracks", count(routability.predicted_min_tracks));
    visit("tracks", count(tracks));
    visit("figure", finite(routability.figure));
    visit("rule", RULE_IN_FORCE{ROUTABILITY_RULE_CALIBRATED, routability.device});
}

// Wire types of an estimate, in the order of the estimator's resource types:
// horizontal left, horizontal right, vertical up, vertical down.
constexpr int NUM_WIRE_TYPES = 4;

// The supply of the wire types read in place from an estimator (anything
// with get_supply(x, y, type), the library's or its implementation), which
// must outlive the readers.
template <typename ESTIMATOR>
std::array<TILE_READER, NUM_WIRE_TYPES> get_supply_readers(const ESTIMATOR& estimator)
{
    std::array<TILE_READER, NUM_WIRE_TYPES> supply;
    for (int t = 0; t < NUM_WIRE_TYPES; ++t) {
        const auto type = static_cast<CONGESTION::RESOURCE_TYPE>(t);
        supply[t] = [&estimator, type](int x, int y) { return estimator.get_supply(x, y, type); };
    }
    return supply;
}

// The tool's verdict on a placement: the calibrated rule over the box demand
// of its nets (with the rule's extent) against the supply of the wire types,
// with the threshold of the device.
ROUTABILITY get_placement_routability(int nx, int ny, const BOX_DEMAND& demand,
                                      const std::array<TILE_READER, NUM_WIRE_TYPES>& supply, int tracks,
                                      const ROUTING_DEVICE& device);

// The tracks per direction of a directional design's channel (its largest
// supply of one direction in one tile, which every logic tile has in every
// direction); NO_TRACKS for an undirected design, whose channel is fixed.
int get_design_tracks(const DESIGN& design);

#endif
