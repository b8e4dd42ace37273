// The congestion-weighted box cost of the wired nets, net by net.
#include "placer/placement_cost.h"

#include "front_end/routability.h"

namespace {

double get_box_length(double factor, const NET_BOX& box) { return factor * ((box.xr - box.xl) + (box.yt - box.yb)); }

}  // namespace

PLACEMENT_COST::PLACEMENT_COST(const PLACEMENT& placement, const CONGESTION_MAP& map, double congestion_weight)
    : m_placement(placement), m_map(map), m_weight(congestion_weight)
{
    const DESIGN& design = placement.get_placed().design;
    m_factor.assign(static_cast<std::size_t>(design.get_num_nets()), 0.0);
    m_costs.assign(static_cast<std::size_t>(design.get_num_nets()), 0.0);
    for (int net : placement.get_wired_nets())
        m_factor[static_cast<std::size_t>(net)] = get_crossing_factor(design.get_num_pins(net));
    recompute();
}

double PLACEMENT_COST::get_cost(int net, const NET_BOX& box) const
{
    const int width = box.xr - box.xl;
    const int height = box.yt - box.yb;
    const double area = static_cast<double>(width + 1) * static_cast<double>(height + 1);
    // An axis the box does not extend along costs nothing, whatever the map says.
    const double horizontal = width > 0 ? width * (1.0 + m_weight * m_map.get_horizontal_sum(box) / area) : 0.0;
    const double vertical = height > 0 ? height * (1.0 + m_weight * m_map.get_vertical_sum(box) / area) : 0.0;
    return m_factor[static_cast<std::size_t>(net)] * (horizontal + vertical);
}

void PLACEMENT_COST::recompute()
{
    m_total = 0.0;
    m_wirelength = 0.0;
    for (int net : m_placement.get_wired_nets()) {
        const NET_BOX& box = m_placement.get_box(net);
        m_costs[static_cast<std::size_t>(net)] = get_cost(net, box);
        m_total += m_costs[static_cast<std::size_t>(net)];
        m_wirelength += get_box_length(m_factor[static_cast<std::size_t>(net)], box);
    }
}

double PLACEMENT_COST::get_change(const std::vector<TOUCHED_NET>& touched)
{
    m_tried_costs.resize(touched.size());
    m_tried_change = 0.0;
    m_tried_wirelength = 0.0;
    for (std::size_t i = 0; i < touched.size(); ++i) {
        const int net = touched[i].net;
        m_tried_costs[i] = get_cost(net, touched[i].box.box);
        m_tried_change += m_tried_costs[i] - m_costs[static_cast<std::size_t>(net)];
        const double factor = m_factor[static_cast<std::size_t>(net)];
        m_tried_wirelength +=
            get_box_length(factor, touched[i].box.box) - get_box_length(factor, m_placement.get_box(net));
    }
    return m_tried_change;
}

void PLACEMENT_COST::commit(const std::vector<TOUCHED_NET>& touched)
{
    for (std::size_t i = 0; i < touched.size(); ++i)
        m_costs[static_cast<std::size_t>(touched[i].net)] = m_tried_costs[i];
    m_total += m_tried_change;
    m_wirelength += m_tried_wirelength;
}
