// The chi-square tail on the log scale against closed forms: erfc for 1 degree of
// freedom (and its asymptotic series where erfc underflows), e^(-x/2) for 2, and the
// plain tail elsewhere.
#include "numeric/log_tail.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "numeric/gamma.h"

namespace {
// ln erfc(z) for large z: -z^2 - ln(z sqrt(pi)) + ln(1 - 1/(2z^2) + 3/(4z^4) - 15/(8z^6)
// + 105/(16z^8)); the first omitted term is below 1e-12 of the sum for z above 20.
double log_erfc_asymptotic(double z) {
  const double u = 1.0 / (2.0 * z * z);
  const double series = 1.0 - u + 3.0 * u * u - 15.0 * u * u * u + 105.0 * u * u * u * u;
  return -z * z - std::log(z * std::sqrt(std::numbers::pi)) + std::log(series);
}
}  // namespace

TEST(LogChiSquareTail, OneDegreeOfFreedomIsErfc) {
  for (double x : {1e-6, 0.01, 0.4549364, 1.0, 3.841459, 10.0, 29.7, 80.0, 300.0, 1400.0}) {
    const double closed = std::log(std::erfc(std::sqrt(x / 2.0)));
    EXPECT_NEAR(log_chi_square_tail(x, 1), closed, 1e-12 * std::max(1.0, std::fabs(closed))) << x;
  }
  // 3.841459 is the 5% point.
  EXPECT_NEAR(minus_log10_chi_square_tail(3.841459, 1), -std::log10(0.05), 1e-6);
}

TEST(LogChiSquareTail, ExactWhereThePValueUnderflows) {
  // erfc is 0 in double beyond z = 27.3 (x = 1490); the log tail keeps going.
  for (double x : {1600.0, 2009.0, 5000.0, 1e5, 1e7}) {
    EXPECT_EQ(std::erfc(std::sqrt(x / 2.0)), 0.0);
    const double closed = log_erfc_asymptotic(std::sqrt(x / 2.0));
    EXPECT_NEAR(log_chi_square_tail(x, 1), closed, 1e-12 * std::fabs(closed)) << x;
    EXPECT_NEAR(minus_log10_chi_square_tail(x, 1), -closed / std::log(10.0),
                1e-12 * std::fabs(closed))
        << x;
  }
  // Chi-square 2009 on 1 df: -log10 p = 1004.5 log10(e) + log10(sqrt(1004.5 pi)) + ... = 437.9986.
  EXPECT_NEAR(minus_log10_chi_square_tail(2009.0, 1), 437.9986, 1e-4);
  // Two degrees of freedom: the tail is e^(-x/2) exactly, at any size.
  for (double x : {0.5, 3.0, 40.0, 2000.0, 1e6})
    EXPECT_NEAR(log_chi_square_tail(x, 2), -x / 2.0, 1e-12 * x) << x;
}

TEST(LogChiSquareTail, AgreesWithThePlainTailOnMoreDegreesOfFreedom) {
  for (int df : {3, 4, 7, 12}) {
    for (double x : {0.2, 1.0, df - 0.5, df + 2.0, 3.0 * df, 60.0, 200.0}) {
      const double plain = chi_square_upper_tail(x, df);
      EXPECT_NEAR(std::exp(log_chi_square_tail(x, df)), plain, 1e-10 * plain) << df << " " << x;
    }
  }
  EXPECT_EQ(log_chi_square_tail(0.0, 1), 0.0);
  EXPECT_EQ(minus_log10_chi_square_tail(0.0, 3), 0.0);
}

TEST(ChiSquareMedian, KnownValues) {
  EXPECT_NEAR(chi_square_median(1), 0.454936423119572, 1e-12);
  EXPECT_NEAR(chi_square_median(2), 2.0 * std::log(2.0), 1e-12);
  for (int df : {3, 5, 10, 40}) EXPECT_NEAR(std::exp(log_chi_square_tail(chi_square_median(df), df)), 0.5, 1e-12);
}
