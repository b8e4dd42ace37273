// Correlations, rank overlap and the mean of the most congested entries.
#include "front_end/statistics.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <numeric>
#include <utility>

namespace {

constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();
constexpr int BUCKET_BITS = 16;

// A value's bits read as an unsigned key that grows with the value (negative
// values have every bit flipped, the others only the sign bit).
template <typename VALUE, typename KEY>
KEY get_key(VALUE value)
{
    static_assert(sizeof(VALUE) == sizeof(KEY));
    KEY bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    constexpr KEY SIGN = KEY{1} << (8 * sizeof(KEY) - 1);
    return (bits & SIGN) != 0 ? static_cast<KEY>(~bits) : static_cast<KEY>(bits | SIGN);
}
std::uint64_t get_key(double value) { return get_key<double, std::uint64_t>(value); }
std::uint32_t get_key(float value) { return get_key<float, std::uint32_t>(value); }

// The histogram bucket of a value: the leading bits of its key.
template <typename VALUE, typename KEY>
std::size_t get_bucket(VALUE value)
{
    return static_cast<std::size_t>(get_key(value) >> (8 * sizeof(KEY) - BUCKET_BITS));
}
std::size_t get_bucket(double value) { return get_bucket<double, std::uint64_t>(value); }
std::size_t get_bucket(float value) { return get_bucket<float, std::uint32_t>(value); }

// Orders values largest first by a radix sort of their keys, BUCKET_BITS
// bits per pass from the lowest. Values of equal keys are identical, and the
// only equal values of different keys, -0 and +0, add alike to a sum that
// starts at +0: every sum over a prefix is the one of any descending sort.
template <typename VALUE>
void sort_descending(std::vector<VALUE>& values)
{
    constexpr int WIDTH = 8 * sizeof(VALUE);
    constexpr std::size_t DIGITS = std::size_t{1} << BUCKET_BITS;
    std::vector<VALUE> sorted(values.size());
    std::vector<std::size_t> place(DIGITS);
    for (int shift = 0; shift < WIDTH; shift += BUCKET_BITS) {
        const auto digit = [shift](VALUE value) {
            return static_cast<std::size_t>(get_key(value) >> shift) & (DIGITS - 1);
        };
        std::fill(place.begin(), place.end(), 0);
        for (VALUE value : values)
            ++place[digit(value)];
        // Larger digits first; each digit's values keep their order.
        std::size_t next = 0;
        for (std::size_t d = DIGITS; d-- > 0;)
            next += std::exchange(place[d], next);
        for (VALUE value : values)
            sorted[place[digit(value)]++] = value;
        values.swap(sorted);
    }
}

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
    // A constant series has no variance, whatever its deviations from a
    // rounded mean add up to.
    const auto is_constant = [](const std::vector<double>& v) {
        return std::adjacent_find(v.begin(), v.end(), std::not_equal_to<>()) == v.end();
    };
    variance_a = is_constant(a) ? 0.0 : variance_a;
    variance_b = is_constant(b) ? 0.0 : variance_b;
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

template <typename VALUE>
std::vector<double> get_ace(const std::vector<VALUE>& values, const std::vector<double>& percents)
{
    std::vector<double> aces(percents.size(), 0.0);
    if (values.empty())
        return aces;
    std::vector<std::size_t> counts;
    for (double percent : percents) {
        const auto count = static_cast<std::size_t>(std::ceil(static_cast<double>(values.size()) * percent / 100.0));
        counts.push_back(std::clamp<std::size_t>(count, 1, values.size()));
    }
    // Only the largest `widest` values matter. A histogram of the values'
    // leading key bits finds the buckets, from the top down, that hold at
    // least that many; only their values are copied and ordered, largest
    // first, so that every mean adds the same values in the same
    // order as over a fully sorted series.
    const std::size_t widest = *std::max_element(counts.begin(), counts.end());
    std::vector<std::size_t> histogram(std::size_t{1} << BUCKET_BITS, 0);
    for (VALUE value : values)
        ++histogram[get_bucket(value)];
    std::size_t lowest = histogram.size();
    std::size_t kept = 0;
    while (kept < widest)
        kept += histogram[--lowest];
    std::vector<VALUE> top;
    top.reserve(kept);
    for (VALUE value : values)
        if (get_bucket(value) >= lowest)
            top.push_back(value);
    sort_descending(top);
    for (std::size_t i = 0; i < counts.size(); ++i)
        aces[i] = std::accumulate(top.begin(), top.begin() + static_cast<std::ptrdiff_t>(counts[i]), 0.0) /
                  static_cast<double>(counts[i]);
    return aces;
}

template std::vector<double> get_ace(const std::vector<double>& values, const std::vector<double>& percents);
template std::vector<double> get_ace(const std::vector<float>& values, const std::vector<double>& percents);
