#include "fit/strata.h"

#include <algorithm>

namespace {
// Dependent-covariate values closer than this belong to one stratum.
constexpr double kSameValue = 1e-6;
// With one dependent column and more strata than this, quantile strata replace them.
constexpr int kMaxDistinctStrata = 20;

bool agrees(const DATA& data, int i, int rep, int columns) {
  for (int c = 0; c < columns; ++c) {
    const double v = data.covariates(i, c);
    const double w = data.covariates(rep, c);
    if (!(w - kSameValue < v && v < w + kSameValue)) return false;
  }
  return true;
}
}  // namespace

Strata form_strata(const DATA& data, int num_dependent_columns) {
  const int n = data.num_subjects;
  Strata strata;
  strata.stratum_of.assign(static_cast<std::size_t>(n), -1);
  std::vector<int> representative;
  for (int i = 0; i < n; ++i) {
    if (data.excluded[i] == 1) continue;
    int s = 0;
    const int count = static_cast<int>(representative.size());
    while (s < count && !agrees(data, i, representative[s], num_dependent_columns)) ++s;
    if (s == count) {
      representative.push_back(i);
      strata.size.push_back(0);
    }
    strata.stratum_of[i] = s;
    ++strata.size[s];
  }
  if (num_dependent_columns != 1 || strata.count() <= kMaxDistinctStrata) return strata;

  // Quantile strata of the single column, cut points over all subjects.
  std::vector<double> sorted(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) sorted[i] = data.covariates(i, 0);
  std::sort(sorted.begin(), sorted.end());
  double cut[kMaxDistinctStrata];
  for (int m = 0; m < kMaxDistinctStrata; ++m)
    cut[m] = sorted[static_cast<std::size_t>((static_cast<long>(n) - 1) * (m + 1) / kMaxDistinctStrata)];
  strata.size.assign(kMaxDistinctStrata, 0);
  for (int i = 0; i < n; ++i) {
    if (data.excluded[i] == 1) continue;
    const double x = data.covariates(i, 0);
    int s = 0;
    while (s < kMaxDistinctStrata - 1 && x > cut[s]) ++s;
    strata.stratum_of[i] = s;
    ++strata.size[s];
  }
  return strata;
}
