#pragma once
// Stratification of the included subjects by the dependent covariate, for the sieve fits.

#include <vector>

#include "core/data.h"

struct Strata {
  std::vector<int> stratum_of;  // per subject; -1 for excluded subjects
  std::vector<int> size;        // included subjects per stratum
  int count() const { return static_cast<int>(size.size()); }
};

// Distinct-value strata over the first num_dependent_columns columns of the design
// matrix (agreement within 1e-6 of a stratum's representative, strata numbered in
// order of their first subject); with one column and more than 20 of them, 20 quantile
// strata of that column taken over all subjects.
Strata form_strata(const DATA& data, int num_dependent_columns);
