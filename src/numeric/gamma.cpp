#include "numeric/gamma.h"

#include <cmath>
#include <limits>

#include "numeric/nrerror.h"

namespace {
constexpr int kItmax = 1000;
constexpr double kEps = std::numeric_limits<double>::epsilon();
constexpr double kFpmin = std::numeric_limits<double>::min() / kEps;

// Natural logarithm of the gamma function for x > 0 (six-term Lanczos).
double log_gamma(double x) {
  static const double cof[6] = {76.18009172947146,     -86.50532032941678,
                                24.01409824083091,     -1.231739572450155,
                                0.001208650973866179, -5.395239384953e-06};
  double y = x;
  double tmp = x + 5.5;
  tmp -= (x + 0.5) * std::log(tmp);
  double ser = 1.000000000190015;
  for (const double c : cof) ser += c / ++y;
  return -tmp + std::log(2.5066282746310007 * ser / x);
}

// Regularised lower incomplete gamma P(a, x) by its series; gln receives ln Gamma(a).
void lower_gamma_series(double& gamser, double a, double x, double& gln) {
  gln = log_gamma(a);
  if (x <= 0.0) {
    if (x < 0.0) nrerror("x less than 0 in routine gser");
    gamser = 0.0;
    return;
  }
  double ap = a;
  double del = 1.0 / a;
  double sum = del;
  for (int n = 1; n <= kItmax; ++n) {
    ++ap;
    del *= x / ap;
    sum += del;
    if (std::fabs(del) < std::fabs(sum) * kEps) {
      gamser = sum * std::exp(-x + a * std::log(x) - gln);
      return;
    }
  }
  nrerror("a too large, ITMAX too small in routine gser");
}

// Regularised upper incomplete gamma Q(a, x) by its continued fraction; gln receives
// ln Gamma(a).
void upper_gamma_fraction(double& gammcf, double a, double x, double& gln) {
  gln = log_gamma(a);
  double b = x + 1.0 - a;
  double c = 1.0 / kFpmin;
  double d = 1.0 / b;
  double h = d;
  int i = 1;
  for (; i <= kItmax; ++i) {
    const double an = -i * (i - a);
    b += 2.0;
    d = an * d + b;
    if (std::fabs(d) < kFpmin) d = kFpmin;
    c = b + an / c;
    if (std::fabs(c) < kFpmin) c = kFpmin;
    d = 1.0 / d;
    const double del = d * c;
    h *= del;
    if (std::fabs(del - 1.0) <= kEps) break;
  }
  if (i > kItmax) nrerror("a too large, ITMAX too small in gcf");
  gammcf = std::exp(-x + a * std::log(x) - gln) * h;
}

// Q(a, x) = 1 - P(a, x): the series below a + 1, the continued fraction above.
double upper_gamma(double a, double x) {
  if (x < 0.0 || a <= 0.0) nrerror("Invalid arguments in routine gammq");
  double gln = 0.0;
  if (x < a + 1.0) {
    double gamser = 0.0;
    lower_gamma_series(gamser, a, x, gln);
    return 1.0 - gamser;
  }
  double gammcf = 0.0;
  upper_gamma_fraction(gammcf, a, x, gln);
  return gammcf;
}
}  // namespace

double chi_square_upper_tail(double statistic, int degrees_of_freedom) {
  return upper_gamma(degrees_of_freedom / 2.0, statistic / 2.0);
}
