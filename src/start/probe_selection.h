#pragma once
// The subjects a start selects at one probe, and the working calls it selected them by.
// A start fills one of these from the calls it is given and never rewrites those; the
// caller puts `excluded` where the fits read it (DATA::excluded).

#include <algorithm>
#include <vector>

struct ProbeSelection {
  std::vector<int> calls;     // the start's own copy of the calls: capped at two copies on
                              // CN probes, reassigned by the SNP cleaning
  std::vector<int> excluded;  // per subject: 1 when left out of the probe's fit, else 0

  // Starts from the first `n` of `given`, every subject included; subjects beyond a
  // shorter `given` get the call -1, outside the data model.
  void begin(const std::vector<int>& given, int n) {
    const auto size = static_cast<std::size_t>(std::max(n, 0));
    const auto copied = std::min(size, given.size());
    calls.assign(given.begin(), given.begin() + static_cast<std::ptrdiff_t>(copied));
    calls.resize(size, -1);
    excluded.assign(size, 0);
  }
  bool retained(int i) const { return excluded[static_cast<std::size_t>(i)] != 1; }
  // Writes the flags over the first entries of `fit_excluded` (the one the fits read),
  // growing it when it is shorter.
  void apply_to(std::vector<int>& fit_excluded) const {
    if (fit_excluded.size() < excluded.size()) fit_excluded.resize(excluded.size());
    std::copy(excluded.begin(), excluded.end(), fit_excluded.begin());
  }
};

// Runs `start` (called with a fresh selection; returns the start status) and writes the
// selection into `fit_excluded`; returns the status.
template <typename Start>
int with_selection_applied(std::vector<int>& fit_excluded, Start start) {
  ProbeSelection selection;
  const int status = start(selection);
  selection.apply_to(fit_excluded);
  return status;
}
