#include "driver/run_summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "numeric/log_tail.h"

namespace {
// -log10 of the genome-wide and suggestive thresholds 5e-8 and 1e-5.
const double kGenomeWide = -std::log10(5e-8);
constexpr double kSuggestive = 5.0;

double median(std::vector<double> values) {
  const std::size_t n = values.size();
  std::nth_element(values.begin(), values.begin() + n / 2, values.end());
  const double upper = values[n / 2];
  if (n % 2 == 1) return upper;
  return 0.5 * (upper + *std::max_element(values.begin(), values.begin() + n / 2));
}

std::string format(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}
}  // namespace

std::string with_thousands(long value) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
    digits.insert(static_cast<std::size_t>(at), ",");
  return value < 0 ? "-" + digits : digits;
}

void RunSummary::add(Outcome outcome, double statistic, int degrees_of_freedom,
                     double minus_log10_p, FitPath path) {
  ++counts_[static_cast<int>(outcome)];
  if (outcome != Outcome::kOk) return;
  if (path == FitPath::kRescued) ++rescued_;
  if (path == FitPath::kContinued) ++continued_;
  if (path == FitPath::kNewtonFinish) ++newton_;
  statistics_.push_back(statistic);
  if (degrees_of_freedom_ == 0) degrees_of_freedom_ = degrees_of_freedom;
  else if (degrees_of_freedom_ != degrees_of_freedom) degrees_of_freedom_ = -1;
  if (minus_log10_p > kGenomeWide) ++below_5e8_;
  if (minus_log10_p > kSuggestive) ++below_1e5_;
}

double RunSummary::lambda_gc() const {
  if (statistics_.empty() || degrees_of_freedom_ < 1) return std::numeric_limits<double>::quiet_NaN();
  return median(statistics_) / chi_square_median(degrees_of_freedom_);
}

std::string RunSummary::lines(double wall_seconds, double cpu_seconds) const {
  long na = 0;
  std::vector<Outcome> failed;
  for (const OutcomeDescription& d : kOutcomeDescriptions) {
    if (d.outcome == Outcome::kOk || count(d.outcome) == 0) continue;
    na += count(d.outcome);
    failed.push_back(d.outcome);
  }
  // Most frequent reason first; ties in the order of the probe's road.
  std::stable_sort(failed.begin(), failed.end(),
                   [this](Outcome a, Outcome b) { return count(a) > count(b); });
  std::string text = with_thousands(count(Outcome::kOk)) + " probes analysed, " +
                     with_thousands(na) + " NA";
  for (std::size_t f = 0; f < failed.size(); ++f) {
    text += (f == 0 ? ": " : ", ") + with_thousands(count(failed[f])) + " " +
            std::string(describe(failed[f]).code);
  }
  if (rescued_ > 0) text += "; " + with_thousands(rescued_) + " rescued";
  if (continued_ > 0)
    text += (rescued_ > 0 ? ", " : "; ") + with_thousands(continued_) + " continued";
  if (newton_ > 0)
    text += (rescued_ + continued_ > 0 ? ", " : "; ") + with_thousands(newton_) +
            " finished by Newton";
  text += "\n";
  if (statistics_.empty()) {
    text += "Genomic control: lambda_GC = NA (no probe analysed)\n";
  } else if (degrees_of_freedom_ < 1) {
    text += "Genomic control: lambda_GC = NA (the probes were tested on different degrees of freedom)\n";
  } else {
    text += "Genomic control: lambda_GC = " + format("%.4f", lambda_gc()) +
            " (median chi-square " + format("%.4f", median(statistics_)) + " on " +
            std::to_string(degrees_of_freedom_) + " df)\n";
  }
  text += "Probes with p < 5e-8: " + with_thousands(below_5e8_) + "; with p < 1e-5: " +
          with_thousands(below_1e5_) + "\n";
  text += "Wall time: " + format("%.1f", wall_seconds) + " s; CPU time: " +
          format("%.1f", cpu_seconds) + " s\n";
  return text;
}
