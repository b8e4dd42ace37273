// Accuracy and routability statistics over per-tile values.
#ifndef CONGESTION_STATISTICS_H
#define CONGESTION_STATISTICS_H

#include <vector>

// Pearson correlation of two series of equal length; NaN when there are fewer
// than two values or either series is constant.
double get_pearson(const std::vector<double>& a, const std::vector<double>& b);

// Ranks from 1 (smallest) to n; tied values share the mean of their ranks.
std::vector<double> get_average_ranks(const std::vector<double>& values);

// Spearman correlation: Pearson over the average ranks.
double get_spearman(const std::vector<double>& a, const std::vector<double>& b);

// Indices of the floor(n * fraction) (at least one) largest values, largest
// first; among equal values the lower index comes first.
std::vector<int> get_top_indices(const std::vector<double>& values, double fraction);

// Share of the top `fraction` of `truth` that are also in the top `fraction`
// of `estimate`; NaN for empty series.
double get_top_share(const std::vector<double>& truth, const std::vector<double>& estimate, double fraction);

// ACE(percent) for each of `percents`: the mean of the ceil(n * percent / 100)
// (at least one) largest values, summed largest first; 0 for an empty series.
// One selection serves every percentage, and only the values near the top
// are copied and ordered, so a long series is never sorted whole.
// For float and double values; the means are summed in double either way.
template <typename VALUE = double>
std::vector<double> get_ace(const std::vector<VALUE>& values, const std::vector<double>& percents);

#endif
