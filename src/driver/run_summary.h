#pragma once
// The run's summary: how many probes were analysed and why the others are NA, the
// genomic-control lambda, the probes past the usual significance thresholds, and the
// run's wall and CPU time.

#include <array>
#include <string>
#include <vector>

#include "core/outcome.h"

class RunSummary {
 public:
  // Counts one probe: its outcome, and for an analysed probe its Wald statistic on
  // `degrees_of_freedom` and the -log10 of its p-value, and the path that gave its result.
  void add(Outcome outcome, double statistic, int degrees_of_freedom, double minus_log10_p,
           FitPath path = FitPath::kStated);

  // Number of probes counted with `outcome`.
  long count(Outcome outcome) const { return counts_[static_cast<int>(outcome)]; }

  // The genomic-control lambda: the median statistic over the chi-square median of its
  // degrees of freedom; NaN when no probe was analysed.
  double lambda_gc() const;

  // The summary lines, each ending in a line break, with the run's times in seconds:
  //   "3,912 probes analysed, 88 NA: 41 START_CLUSTER, 30 FIT_ITERATION_CAP, 17 ..."
  //   (with "; 37 rescued" at its end when some analysed probes came from the rescue path)
  //   "Genomic control: lambda_GC = 1.0213 (median chi-square 0.4646 on 1 df)"
  //   "Probes with p < 5e-8: 3; with p < 1e-5: 12"
  //   "Wall time: 62.4 s; CPU time: 58.1 s"
  std::string lines(double wall_seconds, double cpu_seconds) const;

 private:
  std::array<long, kNumOutcomes> counts_{};
  std::vector<double> statistics_;  // of the analysed probes
  int degrees_of_freedom_ = 0;      // 0 until a probe is analysed, -1 when they differ
  long rescued_ = 0;    // analysed probes whose result came from the rescue path
  long continued_ = 0;  // analysed probes whose stated fit was continued to its maximum
  long newton_ = 0;     // analysed probes whose fit was finished by Newton steps
  long below_5e8_ = 0;
  long below_1e5_ = 0;
};

// `value` with a comma between groups of three digits, "3,912".
std::string with_thousands(long value);
