// The cost the pass lowers: per wired net, its box's width and height, each
// weighted by the congestion the map shows over the box along that axis,
// times the crossing factor of its pin count:
//
//   q(pins) * (width * (1 + a * H) + height * (1 + a * V))
//
// with H and V the mean normalised horizontal and vertical utilization of
// the map over the box and a the congestion weight. With a = 0 it is the
// plain wire-length cost of box placers. The map is read in constant time
// per net, so a move costs the nets it touches and no more.
#ifndef CONGESTION_PLACEMENT_COST_H
#define CONGESTION_PLACEMENT_COST_H

#include <vector>

#include "placer/congestion_map.h"
#include "placer/placement.h"

class PLACEMENT_COST {
 public:
    // The cost of every wired net of the placement under the map, computed
    // now; both must outlive the object.
    PLACEMENT_COST(const PLACEMENT& placement, const CONGESTION_MAP& map, double congestion_weight);

    // A wired net's cost if its box were `box`.
    double get_cost(int net, const NET_BOX& box) const;
    // The cost a net has now.
    double get_net_cost(int net) const { return m_costs[static_cast<std::size_t>(net)]; }
    // The sum of the wired nets' costs, in net order when last recomputed,
    // with the changes of the moves committed since added.
    double get_total() const { return m_total; }
    // The total plain wire length of the wired nets' boxes: sum of
    // q(pins) * (width + height), updated as the cost is.
    double get_wirelength() const { return m_wirelength; }

    // Every net's cost again from its box and the map as it is now (after a
    // refresh).
    void recompute();
    // The change of the total that the tried move (its touched nets) would
    // bring; the new costs are kept for commit.
    double get_change(const std::vector<TOUCHED_NET>& touched);
    // Takes the costs of the last get_change.
    void commit(const std::vector<TOUCHED_NET>& touched);

 private:
    const PLACEMENT& m_placement;
    const CONGESTION_MAP& m_map;
    double m_weight;
    std::vector<double> m_factor;  // per net: its crossing factor q(pins)
    std::vector<double> m_costs;
    double m_total = 0.0;
    double m_wirelength = 0.0;
    std::vector<double> m_tried_costs;
    double m_tried_change = 0.0;
    double m_tried_wirelength = 0.0;
};

#endif
