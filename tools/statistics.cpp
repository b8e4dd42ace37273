// Correlations, rank overlap and the mean of the most congested entries.
#include "tools/statistics.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace {

constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();

double get_mean(const std::vector<double>& values)
{
    return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

// Indices ordered by value, largest first, the lower index first among equals.
std::vector<int> get_descending_order(const std::vector<double>& values)
{
    std::vector<int> order(values.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return values[a] > values[b]; });
    return order;
}

}  // namespace

double get_pearson(const std::vector<double>& a, const std::vector<double>& b)
{
    if (a.size() != b.size() || a.size() < 2)
        return NOT_A_NUMBER;
    const double mean_a = get_mean(a);
    const double mean_b = get_mean(b);
    double covariance = 0.0;
    double variance_a = 0.0;
    double variance_b = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double da = a[i] - mean_a;
        const double db = b[i] - mean_b;
        covariance += da * db;
        variance_a += da * da;
        variance_b += db * db;
    }
    if (variance_a <= 0.0 || variance_b <= 0.0)
        return NOT_A_NUMBER;
    // Rounding can push a perfect correlation a hair past 1.
    return std::clamp(covariance / std::sqrt(variance_a * variance_b), -1.0, 1.0);
}

std::vector<double> get_average_ranks(const std::vector<double>& values)
{
    std::vector<int> order(values.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return values[a] < values[b]; });
    std::vector<double> ranks(values.size());
    std::size_t first = 0;
    while (first < order.size()) {
        std::size_t last = first;
        while (last + 1 < order.size() && values[order[last + 1]] == values[order[first]])
            ++last;
        // Positions first..last (ranks first+1..last+1) share their mean.
        const double rank = 0.5 * static_cast<double>(first + last) + 1.0;
        for (std::size_t i = first; i <= last; ++i)
            ranks[order[i]] = rank;
        first = last + 1;
    }
    return ranks;
}

double get_spearman(const std::vector<double>& a, const std::vector<double>& b)
{
    return get_pearson(get_average_ranks(a), get_average_ranks(b));
}

std::vector<int> get_top_indices(const std::vector<double>& values, double fraction)
{
    if (values.empty())
        return {};
    const auto count = static_cast<std::size_t>(std::floor(static_cast<double>(values.size()) * fraction));
    std::vector<int> order = get_descending_order(values);
    order.resize(std::clamp<std::size_t>(count, 1, values.size()));
    return order;
}

double get_top_share(const std::vector<double>& truth, const std::vector<double>& estimate, double fraction)
{
    if (truth.empty() || truth.size() != estimate.size())
        return NOT_A_NUMBER;
    std::vector<int> top_truth = get_top_indices(truth, fraction);
    std::vector<int> top_estimate = get_top_indices(estimate, fraction);
    std::sort(top_truth.begin(), top_truth.end());
    std::sort(top_estimate.begin(), top_estimate.end());
    std::vector<int> common;
    std::set_intersection(top_truth.begin(), top_truth.end(), top_estimate.begin(), top_estimate.end(),
                          std::back_inserter(common));
    return static_cast<double>(common.size()) / static_cast<double>(top_truth.size());
}

std::vector<double> get_ace(std::vector<double> values, const std::vector<double>& percents)
{
    std::vector<double> aces(percents.size(), 0.0);
    if (values.empty())
        return aces;
    std::vector<std::size_t> counts;
    for (double percent : percents) {
        const auto count = static_cast<std::size_t>(std::ceil(static_cast<double>(values.size()) * percent / 100.0));
        counts.push_back(std::clamp<std::size_t>(count, 1, values.size()));
    }
    // Only the largest `widest` values matter: select them, then order just
    // those, largest first, so that every mean adds the same values in the
    // same order as over a fully sorted series.
    const std::size_t widest = *std::max_element(counts.begin(), counts.end());
    const auto top_end = values.begin() + static_cast<std::ptrdiff_t>(widest);
    std::nth_element(values.begin(), top_end - 1, values.end(), std::greater<double>());
    std::sort(values.begin(), top_end, std::greater<double>());
    for (std::size_t i = 0; i < counts.size(); ++i)
        aces[i] = std::accumulate(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(counts[i]), 0.0) /
                  static_cast<double>(counts[i]);
    return aces;
}
