// The estimator's view of a design: supply mapping, the nets it estimates,
// and a NETLIST_IF over the reader's flat arrays.
#ifndef CONGESTION_DESIGN_NETLIST_H
#define CONGESTION_DESIGN_NETLIST_H

#include <array>
#include <string>
#include <vector>

#include "fitter/h/congestion_export.h"
#include "front_end/design_reader.h"
#include "front_end/front_end.h"

// Where get_wirelength's estimates come from.
enum class WIRELENGTH_SOURCE {
    HALF_PERIMETER,  // the box's width and height (xr - xl, yt - yb)
    ROUTED_ORACLE    // the routed lengths routed_x, routed_y: uses the routing result
};

// How an undirected design's wire counts become supply per direction; a
// directional design's supply per direction is used as it is.
enum class SUPPLY_MAPPING {
    HALF,  // each direction gets half the wires: (h4 + h12) / 2, (v4 + v12) / 2
    FULL   // each direction gets all of them: h4 + h12, v4 + v12
};

// The supply of one tile and type: an undirected design's under the mapping,
// a directional design's count of the type's direction; Lab Input is lab_in.
float get_design_supply(const DESIGN& design, int x, int y, CONGESTION::RESOURCE_TYPE type, SUPPLY_MAPPING mapping);

// The routed usage that the estimate of `types` is compared with: columns of
// the design's routed.txt (indices into DESIGN::routed, ascending, so that
// sums keep one order) and their names joined by '+'. A directional design
// gives each type its direction's column. An undirected design gives one
// direction its column (h_left, h_right, v_up, v_down) and both directions
// of an axis the axis's whole usage (h_all, v_all), which holds the wires in
// the driving switch's column or row too; Lab Input is lab_in in both forms.
struct ROUTED_TRUTH {
    std::string name;
    std::vector<int> columns;
};
ROUTED_TRUTH get_routed_truth(DESIGN_FORM form, const std::vector<CONGESTION::RESOURCE_TYPE>& types);

// A tile's routed usage under the truth's columns, summed in their order.
double get_routed_usage(const DESIGN& design, const ROUTED_TRUTH& truth, std::size_t tile);

// One value per resource type and tile (index y * nx + x).
using TYPE_TILE_VALUES = std::array<std::vector<float>, CONGESTION::NUM_RESOURCE_TYPES>;

// Sets every positive supply of the design under the mapping into the
// estimator; the others stay 0, the estimator's default.
void set_design_supply(CONGESTION& estimator, const DESIGN& design, SUPPLY_MAPPING mapping);

// The nets that routing wires carry (DESIGN::is_routed_net), in id order.
std::vector<int> get_estimated_nets(const DESIGN& design);

// Load pins of the listed nets per tile (y * nx + x): the Lab Input demand.
std::vector<int> count_load_pins(const DESIGN& design, const std::vector<int>& nets);

// The netlist of a design that outlives it. Pin weights are the file's
// weight column; the Lab Input demand of a tile is the number of load pins
// of the estimated nets on it.
class DESIGN_NETLIST : public FLAT_NETLIST {
 public:
    DESIGN_NETLIST(const DESIGN& design, CONGESTION_POLICY policy, WIRELENGTH_SOURCE wirelength);

 private:
    std::vector<int> m_load_pins;
    std::vector<float> m_routed_lengths;  // for ROUTED_ORACLE
};

#endif
