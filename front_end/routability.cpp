// The box demand of nets, the routability figure of window utilizations, its
// verdict, and a design's track count and device.
#include "front_end/routability.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The sum of a map's readers at one tile.
double get_tile_sum(const std::vector<TILE_READER>& readers, int x, int y)
{
    double sum = 0.0;
    for (const TILE_READER& reader : readers)
        sum += reader(x, y);
    return sum;
}

// Sums of a per-tile map over any rectangle of tiles from one table of
// prefix sums: at(x, y) holds the sum of the tiles left of x and below y.
class WINDOW_SUMS {
 public:
    WINDOW_SUMS(int nx, int ny, const std::vector<TILE_READER>& readers)
        : m_nx(nx), m_sums(static_cast<std::size_t>(nx + 1) * (ny + 1), 0.0)
    {
        for (int y = 0; y < ny; ++y)
            for (int x = 0; x < nx; ++x)
                at(x + 1, y + 1) = get_tile_sum(readers, x, y) + at(x, y + 1) + at(x + 1, y) - at(x, y);
    }

    // The sum over the tiles x0..x1, y0..y1 (inclusive, inside the grid).
    double get(int x0, int x1, int y0, int y1) const
    {
        return at(x1 + 1, y1 + 1) - at(x0, y1 + 1) - at(x1 + 1, y0) + at(x0, y0);
    }

 private:
    double& at(int x, int y) { return m_sums[static_cast<std::size_t>(y) * (m_nx + 1) + x]; }
    double at(int x, int y) const { return m_sums[static_cast<std::size_t>(y) * (m_nx + 1) + x]; }

    int m_nx;
    std::vector<double> m_sums;
};

// The `keep` largest of the values added (at least one). Values are
// gathered up to twice that many, then cut back to the largest `keep`, whose
// smallest becomes the floor below which a value is not gathered: linear
// time, and memory for 2 x `keep` values.
class TOP_VALUES {
 public:
    explicit TOP_VALUES(std::size_t keep) : m_keep(keep) { m_values.reserve(2 * keep); }
    void add(double value)
    {
        if (m_cut && !(value > m_floor))
            return;
        m_values.push_back(value);
        if (m_values.size() == 2 * m_keep)
            cut();
    }
    double get_smallest()
    {
        cut();
        return m_floor;
    }
    // Their mean, summed smallest first.
    double get_mean()
    {
        cut();
        std::sort(m_values.begin(), m_values.end());
        double sum = 0.0;
        for (double value : m_values)
            sum += value;
        return sum / static_cast<double>(m_values.size());
    }

 private:
    // Keeps the largest `keep` values (all when fewer) and their smallest as the floor.
    void cut()
    {
        const auto first = m_values.end() - static_cast<std::ptrdiff_t>(std::min(m_keep, m_values.size()));
        std::nth_element(m_values.begin(), first, m_values.end());
        m_values.erase(m_values.begin(), first);
        m_floor = m_values.front();
        m_cut = true;
    }

    std::size_t m_keep;
    std::vector<double> m_values;
    bool m_cut = false;
    double m_floor = 0.0;
};

}  // namespace

double get_crossing_factor(int pins)
{
    // Tabulated at 1 to 10 pins, then every 5 pins up to 50.
    static constexpr std::array<double, 10> SMALL{1.0,    1.0,    1.0,    1.0828, 1.1536,
                                                  1.2206, 1.2823, 1.3385, 1.3991, 1.4493};
    static constexpr std::array<double, 9> EVERY_FIVE{1.4493, 1.6899, 1.8924, 2.0743, 2.2334,
                                                      2.3895, 2.5356, 2.6625, 2.7933};
    constexpr double SLOPE_ABOVE_50 = 0.02616;
    if (pins <= 10)
        return SMALL[static_cast<std::size_t>(std::max(pins, 1) - 1)];
    if (pins > 50)
        return EVERY_FIVE.back() + SLOPE_ABOVE_50 * (pins - 50);
    const int step = (pins - 10) / 5;
    const int offset = (pins - 10) % 5;
    if (offset == 0)
        return EVERY_FIVE[static_cast<std::size_t>(step)];
    const double low = EVERY_FIVE[static_cast<std::size_t>(step)];
    const double high = EVERY_FIVE[static_cast<std::size_t>(step) + 1];
    return low + (high - low) * offset / 5.0;
}

const GENERIC_ARCHITECTURE DEFAULT_GENERIC_ARCHITECTURE{4, 4, {{1, 12}, {4, 8}}};

ROUTING_DEVICE get_routing_device(const GENERIC_ARCHITECTURE& architecture)
{
    // Track t of a class of length L starts a wire in every L-th tile, so a
    // class starts count / L wires per tile; summed shortest class first.
    double starting = 0.0;
    double tracks = 0.0;
    for (const WIRE_CLASS& wires : architecture.tracks) {
        starting += static_cast<double>(wires.count) / static_cast<double>(wires.length);
        tracks += wires.count;
    }
    ROUTING_DEVICE device;
    device.starting_share = starting / tracks;
    device.tile_inputs = architecture.slices * architecture.lut + 1;
    return device;
}

ROUTING_DEVICE get_design_device(const DESIGN& design)
{
    if (design.architecture)
        return get_routing_device(*design.architecture);
    ROUTING_DEVICE device = get_routing_device(DEFAULT_GENERIC_ARCHITECTURE);
    device.assumed = true;
    return device;
}

double get_routability_threshold(const ROUTABILITY_RULE& rule, const ROUTING_DEVICE& device)
{
    return rule.constant * std::pow(device.starting_share / device.tile_inputs, rule.exponent);
}

BOX_DEMAND::BOX_DEMAND(int nx, int ny, const CONGESTION::NETLIST_IF& netlist, const std::vector<int>& nets,
                       double extent)
    : m_nx(nx),
      m_horizontal(static_cast<std::size_t>(nx + 1) * (ny + 1), 0.0),
      m_vertical(static_cast<std::size_t>(nx + 1) * (ny + 1), 0.0)
{
    // A net adds its per-tile share at its box's lower-left corner, takes it
    // back past its right and top edges and adds it again past both; the
    // prefix sums then give every tile of the box that share, and no other.
    const auto add_box = [this](std::vector<double>& table, int xl, int xr, int yb, int yt, double share) {
        table[get_index(xl, yb)] += share;
        table[get_index(xr + 1, yb)] -= share;
        table[get_index(xl, yt + 1)] -= share;
        table[get_index(xr + 1, yt + 1)] += share;
    };
    for (int net : nets) {
        int xl = 0, xr = -1, yb = 0, yt = -1;
        netlist.get_bounding_box(net, &xl, &xr, &yb, &yt);
        if (xl > xr || yb > yt)
            continue;
        m_spans_tiles = m_spans_tiles || xl < xr || yb < yt;
        const double factor = get_crossing_factor(netlist.get_num_pins(net));
        const double area = static_cast<double>(xr - xl + 1) * static_cast<double>(yt - yb + 1);
        add_box(m_horizontal, xl, xr, yb, yt, factor * ((xr - xl) + extent) / area);
        add_box(m_vertical, xl, xr, yb, yt, factor * ((yt - yb) + extent) / area);
    }
    for (std::vector<double>* table : {&m_horizontal, &m_vertical}) {
        for (int y = 0; y <= ny; ++y)
            for (int x = 1; x <= nx; ++x)
                (*table)[get_index(x, y)] += (*table)[get_index(x - 1, y)];
        for (int y = 1; y <= ny; ++y)
            for (int x = 0; x <= nx; ++x)
                (*table)[get_index(x, y)] += (*table)[get_index(x, y - 1)];
    }
}

double get_routability_figure(int nx, int ny, const std::vector<DEMAND_AND_SUPPLY>& maps,
                              const ROUTABILITY_FIGURE& figure)
{
    // The values counted first, so that only those from the quantile's rank
    // up are kept.
    std::size_t count = 0;
    for (const DEMAND_AND_SUPPLY& map : maps)
        for (int y = 0; y < ny; ++y)
            for (int x = 0; x < nx; ++x)
                count += get_tile_sum(map.supply, x, y) > 0.0;
    // Without supply no window has a utilization: demand that needs wires
    // has none to take, and nothing to route needs none.
    if (count == 0) {
        for (const DEMAND_AND_SUPPLY& map : maps)
            for (int y = 0; y < ny; ++y)
                for (int x = 0; x < nx; ++x)
                    if (get_tile_sum(map.demand, x, y) > 0.0)
                        return std::numeric_limits<double>::infinity();
        return 0.0;
    }
    const auto rank = static_cast<std::size_t>(std::ceil(figure.quantile * static_cast<double>(count)));
    TOP_VALUES values(count - std::clamp<std::size_t>(rank, 1, count) + 1);
    for (const DEMAND_AND_SUPPLY& map : maps) {
        const int half_x = (map.vertical ? figure.across : figure.along) / 2;
        const int half_y = (map.vertical ? figure.along : figure.across) / 2;
        if (half_x == 0 && half_y == 0) {
            for (int y = 0; y < ny; ++y)
                for (int x = 0; x < nx; ++x) {
                    const double supply = get_tile_sum(map.supply, x, y);
                    if (supply > 0.0)
                        values.add(get_tile_sum(map.demand, x, y) / supply);
                }
            continue;
        }
        const WINDOW_SUMS demand(nx, ny, map.demand);
        const WINDOW_SUMS supply(nx, ny, map.supply);
        for (int y = 0; y < ny; ++y)
            for (int x = 0; x < nx; ++x) {
                if (!(get_tile_sum(map.supply, x, y) > 0.0))
                    continue;
                const int x0 = std::max(0, x - half_x);
                const int x1 = std::min(nx - 1, x + half_x);
                const int y0 = std::max(0, y - half_y);
                const int y1 = std::min(ny - 1, y + half_y);
                values.add(demand.get(x0, x1, y0, y1) / supply.get(x0, x1, y0, y1));
            }
    }
    return figure.mean_above ? values.get_mean() : values.get_smallest();
}

ROUTABILITY get_routability(double figure, double threshold, int tracks)
{
    ROUTABILITY r;
    r.figure = figure;
    r.min_supply_scale = figure / threshold;
    r.margin = r.min_supply_scale > 0.0 ? 1.0 / r.min_supply_scale - 1.0 : std::numeric_limits<double>::infinity();
    r.routes = r.min_supply_scale <= 1.0;
    if (tracks != NO_TRACKS && std::isfinite(r.min_supply_scale))
        r.predicted_min_tracks =
            std::max(1, static_cast<int>(std::ceil(static_cast<double>(tracks) * r.min_supply_scale)));
    return r;
}

ROUTABILITY get_placement_routability(int nx, int ny, const BOX_DEMAND& demand,
                                      const std::array<TILE_READER, NUM_WIRE_TYPES>& supply, int tracks,
                                      const ROUTING_DEVICE& device)
{
    // Wire types 0 and 1 are horizontal, 2 and 3 vertical.
    const TILE_READER horizontal = [&demand](int x, int y) { return demand.get_horizontal(x, y); };
    const TILE_READER vertical = [&demand](int x, int y) { return demand.get_vertical(x, y); };
    const std::vector<DEMAND_AND_SUPPLY> maps{{{horizontal}, {supply[0], supply[1]}, false},
                                              {{vertical}, {supply[2], supply[3]}, true}};
    const ROUTABILITY_RULE& rule = ROUTABILITY_RULE_CALIBRATED;
    double figure = get_routability_figure(nx, ny, maps, rule.figure);
    // Without any wire supply, nets that all lie within single tiles route
    // on the tiles' local tracks: their demand is the extent's alone.
    if (std::isinf(figure) && !demand.spans_tiles())
        figure = 0.0;
    ROUTABILITY routability = get_routability(figure, get_routability_threshold(rule, device), tracks);
    routability.device = device;
    return routability;
}

int get_design_tracks(const DESIGN& design)
{
    if (design.form != DESIGN_FORM::DIRECTIONAL)
        return NO_TRACKS;
    int tracks = NO_TRACKS;
    for (const std::vector<int>& supply : design.direction_supply)
        for (int count : supply)
            tracks = std::max(tracks, count);
    return tracks;
}
