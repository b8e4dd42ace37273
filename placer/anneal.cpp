// The annealing loop: moves, the adaptive schedule and the map's refreshes.
#include "placer/anneal.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>

#include "placer/placement_cost.h"

namespace {

// VPR's schedule: the temperature falls fastest when nearly every move or
// nearly none is accepted, and the range limit grows or shrinks to keep the
// acceptance rate near TARGET_RATE.
constexpr double TARGET_RATE = 0.44;
constexpr double EXIT_SHARE = 0.005;  // of the average net cost
constexpr double CELL_EXPONENT = 4.0 / 3.0;
// Tries for a target tile other than the cell's own before the move is given up.
constexpr int TARGET_TRIES = 4;
// A bound on temperatures, far above what the schedule reaches.
constexpr int MAX_TEMPERATURES = 2000;

double get_cooling(double rate)
{
    if (rate > 0.96)
        return 0.5;
    if (rate > 0.8)
        return 0.9;
    if (rate > 0.15)
        return 0.95;
    return 0.8;
}

// Integers and fractions from a 64-bit Mersenne twister, whose sequence the
// standard fixes.
class RANDOM {
 public:
    explicit RANDOM(std::uint64_t seed) : m_engine(seed) {}
    // 0 .. n - 1, n > 0.
    int get_below(int n)
    {
        return static_cast<int>((static_cast<unsigned __int128>(m_engine()) * static_cast<unsigned>(n)) >> 64);
    }
    // [0, 1).
    double get_fraction() { return static_cast<double>(m_engine() >> 11) * 0x1.0p-53; }

 private:
    std::mt19937_64 m_engine;
};

class ANNEALER {
 public:
    ANNEALER(PLACEMENT& placement, CONGESTION_MAP& map, const ANNEAL_OPTIONS& options)
        : m_placement(placement),
          m_map(map),
          m_options(options),
          m_cost(placement, map, options.congestion_weight),
          m_random(options.seed),
          m_max_range(std::max(placement.get_nx(), placement.get_ny())),
          m_range(m_max_range)
    {}

    ANNEAL_RESULT run(const std::function<void(const TEMPERATURE_STEP&)>& on_temperature)
    {
        const std::vector<int>& cells = m_placement.get_movable_cells();
        m_result.start_cost = m_result.end_cost = m_cost.get_total();
        m_result.start_wirelength = m_result.end_wirelength = m_cost.get_wirelength();
        if (cells.empty() || m_placement.get_wired_nets().empty())
            return m_result;
        const auto moves = static_cast<long long>(
            std::max(1.0, std::round(m_options.effort * std::pow(static_cast<double>(cells.size()), CELL_EXPONENT))));
        double temperature = m_options.start_temperature * get_change_spread();
        const double nets = static_cast<double>(m_placement.get_wired_nets().size());
        while (m_result.temperatures < MAX_TEMPERATURES) {
            const TEMPERATURE_STEP step = run_temperature(temperature, moves);
            if (on_temperature)
                on_temperature(step);
            if (temperature < EXIT_SHARE * m_cost.get_total() / nets)
                break;
            const double rate = static_cast<double>(step.accepted) / static_cast<double>(step.moves);
            temperature *= get_cooling(rate);
            m_range = std::clamp(m_range * (1.0 - TARGET_RATE + rate), 1.0, static_cast<double>(m_max_range));
        }
        const TEMPERATURE_STEP last = run_temperature(0.0, moves);
        if (on_temperature)
            on_temperature(last);
        m_result.end_cost = m_cost.get_total();
        m_result.end_wirelength = m_cost.get_wirelength();
        return m_result;
    }

 private:
    // Makes the map again and the costs under it, unless no move was kept
    // since it was last made.
    void refresh()
    {
        m_since_refresh = 0;
        if (!m_moved)
            return;
        m_moved = false;
        const auto start = std::chrono::steady_clock::now();
        m_map.refresh();
        m_result.refresh_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ++m_result.refreshes;
        m_cost.recompute();
    }

    // A random move within the range limit, tried: the cost change, or
    // nothing when no legal target was drawn.
    bool try_random_move(double* change)
    {
        const std::vector<int>& cells = m_placement.get_movable_cells();
        const int cell = cells[static_cast<std::size_t>(m_random.get_below(static_cast<int>(cells.size())))];
        const BEL& from = m_placement.get_bel(cell);
        const int range = static_cast<int>(m_range);
        const int x0 = std::max(0, from.x - range);
        const int x1 = std::min(m_placement.get_nx() - 1, from.x + range);
        const int y0 = std::max(0, from.y - range);
        const int y1 = std::min(m_placement.get_ny() - 1, from.y + range);
        for (int t = 0; t < TARGET_TRIES; ++t) {
            const int x = x0 + m_random.get_below(x1 - x0 + 1);
            const int y = y0 + m_random.get_below(y1 - y0 + 1);
            const int z = m_random.get_below(m_placement.get_placed().slices);
            if (x == from.x && y == from.y)
                continue;
            if (!m_placement.is_legal_move(cell, x, y, z))
                return false;
            *change = m_cost.get_change(m_placement.try_move(cell, x, y, z));
            return true;
        }
        return false;
    }

    // The standard deviation of the cost changes of as many random moves as
    // there are movable cells, none kept.
    double get_change_spread()
    {
        double sum = 0.0;
        double squares = 0.0;
        int count = 0;
        for (std::size_t i = 0; i < m_placement.get_movable_cells().size(); ++i) {
            double change = 0.0;
            if (!try_random_move(&change))
                continue;
            m_placement.undo();
            sum += change;
            squares += change * change;
            ++count;
        }
        if (count == 0)
            return 0.0;
        const double mean = sum / count;
        return std::sqrt(std::max(0.0, squares / count - mean * mean));
    }

    // One temperature's moves.
    TEMPERATURE_STEP run_temperature(double temperature, long long moves)
    {
        if (m_options.refresh_moves == 0 || temperature == 0.0)
            refresh();
        long long accepted = 0;
        for (long long m = 0; m < moves; ++m) {
            if (m_options.refresh_moves > 0 && ++m_since_refresh >= m_options.refresh_moves)
                refresh();
            double change = 0.0;
            if (!try_random_move(&change))
                continue;
            const bool keep =
                change <= 0.0 || (temperature > 0.0 && m_random.get_fraction() < std::exp(-change / temperature));
            if (keep) {
                m_cost.commit(m_placement.get_touched());
                m_placement.commit();
                m_moved = true;
                ++accepted;
            } else {
                m_placement.undo();
            }
        }
        ++m_result.temperatures;
        m_result.moves += moves;
        m_result.accepted += accepted;
        return {m_result.temperatures, temperature, m_range, moves, accepted, m_result.refreshes};
    }

    PLACEMENT& m_placement;
    CONGESTION_MAP& m_map;
    const ANNEAL_OPTIONS& m_options;
    PLACEMENT_COST m_cost;
    RANDOM m_random;
    int m_max_range;
    double m_range;
    ANNEAL_RESULT m_result;
    bool m_moved = false;           // a move was kept since the map was last made
    long long m_since_refresh = 0;  // moves tried since then
};

}  // namespace

ANNEAL_RESULT anneal(PLACEMENT& placement, CONGESTION_MAP& map, const ANNEAL_OPTIONS& options,
                     const std::function<void(const TEMPERATURE_STEP&)>& on_temperature)
{
    return ANNEALER(placement, map, options).run(on_temperature);
}
