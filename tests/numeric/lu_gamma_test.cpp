#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <vector>

#include "numeric/numeric.h"

namespace {
DMatrix make(int n, std::initializer_list<double> values) {
  DMatrix m = dmatrix(1, n, 1, n);
  auto it = values.begin();
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) m[i][j] = *it++;
  return m;
}
}  // namespace

TEST(Invv, InvertsSmallMatrices) {
  DMatrix one = make(1, {4.0});
  invv(one, 1);
  EXPECT_DOUBLE_EQ(one[1][1], 0.25);

  DMatrix a = make(3, {4, 1, 2, 1, 5, 3, 2, 3, 6});
  const DMatrix original = a;
  invv(a, 3);
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) {
      double s = 0.0;
      for (int k = 1; k <= 3; ++k) s += original[i][k] * a[k][j];
      EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-12);
    }
}

TEST(Invv, SingularMatrixWithoutZeroRowGivesHugeEntries) {
  DMatrix a = make(2, {1, 2, 2, 4});
  invv(a, 2);
  double largest = 0.0;
  for (int i = 1; i <= 2; ++i)
    for (int j = 1; j <= 2; ++j) largest = std::max(largest, std::fabs(a[i][j]));
  EXPECT_GT(largest, 1e30);
}

TEST(Ludcmp, TiesInScaledCandidatesPickTheLaterRow) {
  // Both rows scale to candidates of 1 in the first column: the later row pivots.
  DMatrix a = make(2, {1, 0.5, 2, 1.5});
  IVector indx = ivector(1, 2);
  ludcmp(a, 2, indx);
  EXPECT_EQ(indx[1], 2);
}

TEST(LudcmpDeathTest, ZeroRowStops) {
  DMatrix a = make(2, {1, 2, 0, 0});
  IVector indx = ivector(1, 2);
  EXPECT_EXIT(ludcmp(a, 2, indx), testing::ExitedWithCode(1), "Sigmatrix in ludcmp");
}

TEST(Gammq, MatchesKnownChiSquareTails) {
  struct Case {
    double a, x, expected, tolerance;
  };
  for (const Case& c : std::vector<Case>{
           {0.5, 0.0, 1.0, 0.0},
           {1.0, 0.7, std::exp(-0.7), 1e-13},
           {1.0, 12.0, std::exp(-12.0), 1e-13},
           {0.5, 1.92073, 0.05, 1e-5},       // chi-square 1 df at 3.84146
           {1.0, 2.995732, 0.05, 1e-6},      // 2 df at 5.991465
           // Closed forms: Q(1/2, x) = erfc(sqrt x), Q(3/2, x) = erfc(sqrt x) + 2 sqrt(x / pi) e^-x,
           // Q(2, x) = e^-x (1 + x); both the series and the continued fraction are reached.
           {0.5, 0.3, std::erfc(std::sqrt(0.3)), 1e-13},
           {0.5, 13.5, std::erfc(std::sqrt(13.5)), 1e-19},
           {1.5, 1.0, std::erfc(1.0) + 2.0 * std::sqrt(1.0 / M_PI) * std::exp(-1.0), 1e-13},
           {1.5, 40.0, std::erfc(std::sqrt(40.0)) + 2.0 * std::sqrt(40.0 / M_PI) * std::exp(-40.0), 1e-28},
           {2.0, 9.0, std::exp(-9.0) * 10.0, 1e-15},
       }) {
    EXPECT_NEAR(gammq(c.a, c.x), c.expected, c.tolerance) << c.a << " " << c.x;
  }
}

TEST(GammqDeathTest, InvalidArgumentsStop) {
  EXPECT_EXIT(gammq(0.0, 1.0), testing::ExitedWithCode(1), "Invalid arguments in routine gammq");
  EXPECT_EXIT(gammq(1.0, -1.0), testing::ExitedWithCode(1), "Invalid arguments in routine gammq");
}

TEST(Gammln, MatchesLogFactorials) {
  EXPECT_NEAR(gammln(1.0), 0.0, 1e-10);
  EXPECT_NEAR(gammln(5.0), std::log(24.0), 1e-10);
  EXPECT_NEAR(gammln(0.5), std::log(std::sqrt(M_PI)), 1e-10);
}

TEST(VectorOps, MaxIgnoresNaNAndMyIsnanDetectsIt) {
  const double nan = std::nan("");
  const double v[] = {-3.0, 2.0, nan};
  EXPECT_EQ(max(v, 2), 3.0);
  EXPECT_EQ(max(v, 3), 3.0);
  const double all_nan[] = {nan, nan};
  EXPECT_EQ(max(all_nan, 2), 0.0);
  EXPECT_EQ(max(v, 0), 0.0);
  EXPECT_TRUE(my_isnan(nan));
  EXPECT_FALSE(my_isnan(1.0));
}
