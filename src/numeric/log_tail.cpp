#include "numeric/log_tail.h"

#include <cmath>
#include <limits>

namespace {
constexpr int kMaxTerms = 100000;
constexpr double kEps = std::numeric_limits<double>::epsilon();
constexpr double kTiny = 1e-300;

// P(a, x) by its series, for x < a + 1 where it converges fast (Q is then not tiny).
double lower_series(double a, double x) {
  double term = 1.0 / a;
  double sum = term;
  for (int n = 1; n <= kMaxTerms; ++n) {
    term *= x / (a + n);
    sum += term;
    if (std::fabs(term) < std::fabs(sum) * kEps) break;
  }
  return sum * std::exp(-x + a * std::log(x) - std::lgamma(a));
}

// ln Q(a, x) by the continued fraction (modified Lentz), for x >= a + 1. The fraction
// itself stays near x^-1, so only its prefactor e^-x x^a / Gamma(a) is taken in logs.
double log_upper_fraction(double a, double x) {
  double b = x + 1.0 - a;
  double c = 1.0 / kTiny;
  double d = 1.0 / b;
  double h = d;
  for (int i = 1; i <= kMaxTerms; ++i) {
    const double an = -i * (i - a);
    b += 2.0;
    d = an * d + b;
    if (std::fabs(d) < kTiny) d = kTiny;
    c = b + an / c;
    if (std::fabs(c) < kTiny) c = kTiny;
    d = 1.0 / d;
    const double del = d * c;
    h *= del;
    if (std::fabs(del - 1.0) <= kEps) break;
  }
  return -x + a * std::log(x) - std::lgamma(a) + std::log(h);
}
}  // namespace

double log_gamma_upper(double a, double x) {
  if (!(x > 0.0)) return 0.0;
  if (std::isinf(x)) return -std::numeric_limits<double>::infinity();
  if (x < a + 1.0) return std::log1p(-lower_series(a, x));
  return log_upper_fraction(a, x);
}

double log_chi_square_tail(double statistic, int degrees_of_freedom) {
  return log_gamma_upper(0.5 * degrees_of_freedom, 0.5 * statistic);
}

double minus_log10_chi_square_tail(double statistic, int degrees_of_freedom) {
  const double value = -log_chi_square_tail(statistic, degrees_of_freedom) / std::log(10.0);
  return value == 0.0 ? 0.0 : value;  // no "-0"
}

double chi_square_median(int degrees_of_freedom) {
  // The tail falls from 1 to 0 as the statistic grows; bisect where it is one half.
  double low = 0.0;
  double high = degrees_of_freedom + 10.0;
  const double log_half = std::log(0.5);
  for (int step = 0; step < 200; ++step) {
    const double mid = 0.5 * (low + high);
    if (log_chi_square_tail(mid, degrees_of_freedom) > log_half) low = mid;
    else high = mid;
  }
  return 0.5 * (low + high);
}
