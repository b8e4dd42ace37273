// The routability figure of window utilizations, its verdict, and a design's
// track count.
#include "tools/routability.h"

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

const char* get_routability_maps_word(ROUTABILITY_MAPS maps)
{
    return maps == ROUTABILITY_MAPS::AXES ? "axes" : "directions";
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
    if (count == 0)
        return 0.0;
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
    if (tracks != NO_TRACKS)
        r.predicted_min_tracks =
            std::max(1, static_cast<int>(std::ceil(static_cast<double>(tracks) * r.min_supply_scale)));
    return r;
}

ROUTABILITY get_estimate_routability(int nx, int ny, const std::array<TILE_READER, NUM_WIRE_TYPES>& smooth_demand,
                                     const std::array<TILE_READER, NUM_WIRE_TYPES>& supply, int tracks)
{
    // Wire types 0 and 1 are horizontal, 2 and 3 vertical.
    const ROUTABILITY_RULE& rule = ROUTABILITY_RULE_CALIBRATED;
    std::vector<DEMAND_AND_SUPPLY> maps;
    if (rule.maps == ROUTABILITY_MAPS::AXES)
        for (int t = 0; t < NUM_WIRE_TYPES; t += 2)
            maps.push_back({{smooth_demand[t], smooth_demand[t + 1]}, {supply[t], supply[t + 1]}, t >= 2});
    else
        for (int t = 0; t < NUM_WIRE_TYPES; ++t)
            maps.push_back({{smooth_demand[t]}, {supply[t]}, t >= 2});
    return get_routability(get_routability_figure(nx, ny, maps, rule.figure), rule.threshold, tracks);
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
