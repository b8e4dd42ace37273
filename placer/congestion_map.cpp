// The library's estimate and the net boxes as maps that steer the pass.
#include "placer/congestion_map.h"

#include <algorithm>

#include "front_end/design_netlist.h"
#include "front_end/routability.h"

namespace {

// The estimate of congestion-estimate's defaults: the path model, smoothed
// over 3 tiles along each wire direction and 1 across, not uniformly.
constexpr int PARALLEL_WINDOW = 3;
constexpr int PERPENDICULAR_WINDOW = 1;
constexpr bool UNIFORM = false;

// Each axis's utilization is the mean of its two directions' (the estimate)
// or its demand over both directions' supply (the boxes).
constexpr double DIRECTIONS_PER_AXIS = 2.0;
// The boxes map spreads each net's box as it is, unlengthened: the pass's
// threshold and weights were tuned on that map.
constexpr double BOX_EXTENT = 0.0;

// Sums over boxes of a per-tile map, from one table of prefix sums: at(x, y)
// holds the sum of the tiles left of x and below y.
class BOX_SUMS {
 public:
    BOX_SUMS(int nx, int ny) : m_nx(nx), m_sums(static_cast<std::size_t>(nx + 1) * static_cast<std::size_t>(ny + 1)) {}

    // Fills the table from value(x, y).
    template <typename VALUE>
    void fill(int ny, const VALUE& value)
    {
        for (int y = 0; y < ny; ++y)
            for (int x = 0; x < m_nx; ++x)
                at(x + 1, y + 1) = value(x, y) + at(x, y + 1) + at(x + 1, y) - at(x, y);
    }
    double get(const NET_BOX& box) const
    {
        return at(box.xr + 1, box.yt + 1) - at(box.xl, box.yt + 1) - at(box.xr + 1, box.yb) + at(box.xl, box.yb);
    }

 private:
    double& at(int x, int y) { return m_sums[static_cast<std::size_t>(y) * static_cast<std::size_t>(m_nx + 1) + x]; }
    double at(int x, int y) const
    {
        return m_sums[static_cast<std::size_t>(y) * static_cast<std::size_t>(m_nx + 1) + x];
    }

    int m_nx;
    std::vector<double> m_sums;
};

// The mean of horizontal(x, y) + vertical(x, y) over the tiles with wire
// supply, halved; 1 when it is not positive, so that a map of no demand
// stays 0.
template <typename HORIZONTAL, typename VERTICAL>
double get_reference(const DESIGN& design, const HORIZONTAL& horizontal, const VERTICAL& vertical)
{
    double sum = 0.0;
    std::size_t tiles = 0;
    for (int y = 0; y < design.ny; ++y)
        for (int x = 0; x < design.nx; ++x)
            if (design.has_wire_supply(design.get_tile_index(x, y))) {
                sum += horizontal(x, y) + vertical(x, y);
                ++tiles;
            }
    const double mean = tiles > 0 ? sum / (DIRECTIONS_PER_AXIS * static_cast<double>(tiles)) : 0.0;
    return mean > 0.0 ? mean : 1.0;
}

// The netlist the estimator reads: the placement's arrays, and congestion
// values that are the utilization, or once the reference is known the
// utilization over it less the threshold, not below 0, so that the
// library's window sums sum the map the cost reads.
class STEERING_NETLIST : public FLAT_NETLIST {
 public:
    explicit STEERING_NETLIST(const NETLIST_ARRAYS& arrays) : FLAT_NETLIST(arrays) {}

    void set_reference(float reference, float threshold)
    {
        m_inverse_reference = 1.0f / reference;
        m_threshold = threshold;
        m_normalised = true;
    }
    float compute_congestion(float smooth_demand, float smooth_supply, CONGESTION::RESOURCE_TYPE) const override
    {
        const float utilization = smooth_supply > 0.0f ? smooth_demand / smooth_supply : 0.0f;
        if (!m_normalised)
            return utilization;
        const float above = utilization * m_inverse_reference - m_threshold;
        return above > 0.0f ? above : 0.0f;
    }

 private:
    bool m_normalised = false;
    float m_inverse_reference = 1.0f;
    float m_threshold = 0.0f;
};

class ESTIMATE_MAP : public CONGESTION_MAP {
 public:
    ESTIMATE_MAP(const PLACEMENT& placement, double threshold)
        : m_placement(placement),
          m_netlist(placement.get_netlist_arrays()),
          m_estimator(placement.get_nx(), placement.get_ny(), &m_netlist)
    {
        set_design_supply(m_estimator, placement.get_placed().design, SUPPLY_MAPPING::HALF);
        m_estimator.generate_smooth_wire_supply(PARALLEL_WINDOW, PERPENDICULAR_WINDOW);
        refresh();
        const auto axis = [this](CONGESTION::RESOURCE_TYPE first, CONGESTION::RESOURCE_TYPE second) {
            return [this, first, second](int x, int y) {
                return (static_cast<double>(m_estimator.get_congestion_in_window(first, x, x, y, y)) +
                        static_cast<double>(m_estimator.get_congestion_in_window(second, x, x, y, y))) /
                       DIRECTIONS_PER_AXIS;
            };
        };
        const double reference = get_reference(placement.get_placed().design,
                                               axis(CONGESTION::HORIZONTAL_LEFT, CONGESTION::HORIZONTAL_RIGHT),
                                               axis(CONGESTION::VERTICAL_UP, CONGESTION::VERTICAL_DOWN));
        m_netlist.set_reference(static_cast<float>(reference), static_cast<float>(threshold));
        m_estimator.update_congestion(true);
    }

    void refresh() override
    {
        m_estimator.clear_demand();
        m_estimator.update_demand(m_placement.get_wired_nets(), CONGESTION::PATH_PROBABILITY_MODEL);
        m_estimator.generate_smooth_wire_demand(PARALLEL_WINDOW, PERPENDICULAR_WINDOW, UNIFORM);
        m_estimator.update_congestion(true);
    }
    double get_horizontal_sum(const NET_BOX& box) const override
    {
        return get_sum(CONGESTION::HORIZONTAL_LEFT, CONGESTION::HORIZONTAL_RIGHT, box);
    }
    double get_vertical_sum(const NET_BOX& box) const override
    {
        return get_sum(CONGESTION::VERTICAL_UP, CONGESTION::VERTICAL_DOWN, box);
    }

 private:
    double get_sum(CONGESTION::RESOURCE_TYPE first, CONGESTION::RESOURCE_TYPE second, const NET_BOX& box) const
    {
        return (static_cast<double>(m_estimator.get_congestion_in_window(first, box.xl, box.xr, box.yb, box.yt)) +
                static_cast<double>(m_estimator.get_congestion_in_window(second, box.xl, box.xr, box.yb, box.yt))) /
               DIRECTIONS_PER_AXIS;
    }

    const PLACEMENT& m_placement;
    STEERING_NETLIST m_netlist;
    CONGESTION m_estimator;
};

class BOX_MAP : public CONGESTION_MAP {
 public:
    BOX_MAP(const PLACEMENT& placement, double threshold)
        : m_placement(placement),
          m_threshold(threshold),
          m_netlist(placement.get_netlist_arrays()),
          m_horizontal(placement.get_nx(), placement.get_ny()),
          m_vertical(placement.get_nx(), placement.get_ny())
    {
        const DESIGN& design = placement.get_placed().design;
        const auto axis_supply = [&design](CONGESTION::RESOURCE_TYPE first, CONGESTION::RESOURCE_TYPE second) {
            std::vector<double> supply(design.get_num_tiles());
            for (int y = 0; y < design.ny; ++y)
                for (int x = 0; x < design.nx; ++x)
                    supply[design.get_tile_index(x, y)] =
                        static_cast<double>(get_design_supply(design, x, y, first, SUPPLY_MAPPING::HALF)) +
                        static_cast<double>(get_design_supply(design, x, y, second, SUPPLY_MAPPING::HALF));
            return supply;
        };
        m_horizontal_supply = axis_supply(CONGESTION::HORIZONTAL_LEFT, CONGESTION::HORIZONTAL_RIGHT);
        m_vertical_supply = axis_supply(CONGESTION::VERTICAL_UP, CONGESTION::VERTICAL_DOWN);
        const BOX_DEMAND demand = get_demand();
        m_inverse_reference =
            1.0 /
            get_reference(
                design,
                [&](int x, int y) { return get_utilization(demand.get_horizontal(x, y), m_horizontal_supply, x, y); },
                [&](int x, int y) { return get_utilization(demand.get_vertical(x, y), m_vertical_supply, x, y); });
        fill(demand);
    }

    void refresh() override { fill(get_demand()); }
    double get_horizontal_sum(const NET_BOX& box) const override { return m_horizontal.get(box); }
    double get_vertical_sum(const NET_BOX& box) const override { return m_vertical.get(box); }

 private:
    BOX_DEMAND get_demand() const
    {
        return BOX_DEMAND(m_placement.get_nx(), m_placement.get_ny(), m_netlist, m_placement.get_wired_nets(),
                          BOX_EXTENT);
    }
    double get_utilization(double demand, const std::vector<double>& supply, int x, int y) const
    {
        const double tile_supply = supply[m_placement.get_placed().design.get_tile_index(x, y)];
        return tile_supply > 0.0 ? demand / tile_supply : 0.0;
    }
    void fill(const BOX_DEMAND& demand)
    {
        const int ny = m_placement.get_ny();
        const auto above = [this](double utilization) {
            return std::max(0.0, utilization * m_inverse_reference - m_threshold);
        };
        m_horizontal.fill(ny, [&](int x, int y) {
            return above(get_utilization(demand.get_horizontal(x, y), m_horizontal_supply, x, y));
        });
        m_vertical.fill(ny, [&](int x, int y) {
            return above(get_utilization(demand.get_vertical(x, y), m_vertical_supply, x, y));
        });
    }

    const PLACEMENT& m_placement;
    double m_threshold;
    FLAT_NETLIST m_netlist;
    std::vector<double> m_horizontal_supply;
    std::vector<double> m_vertical_supply;
    BOX_SUMS m_horizontal;
    BOX_SUMS m_vertical;
    double m_inverse_reference = 1.0;
};

}  // namespace

std::unique_ptr<CONGESTION_MAP> make_congestion_map(MAP_KIND kind, const PLACEMENT& placement, double threshold)
{
    if (kind == MAP_KIND::BOXES)
        return std::make_unique<BOX_MAP>(placement, threshold);
    return std::make_unique<ESTIMATE_MAP>(placement, threshold);
}
