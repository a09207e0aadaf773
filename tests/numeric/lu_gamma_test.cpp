#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <limits>
#include <vector>

#include "numeric/numeric.h"

namespace {
Matrix make(int n, std::initializer_list<double> values) {
  Matrix m(n, n);
  auto it = values.begin();
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) m(i, j) = *it++;
  return m;
}

// Largest |a b - I| over the entries.
double identity_error(const Matrix& a, const Matrix& b) {
  double worst = 0.0;
  for (int i = 0; i < a.rows(); ++i)
    for (int j = 0; j < a.rows(); ++j) {
      double s = 0.0;
      for (int k = 0; k < a.rows(); ++k) s += a(i, k) * b(k, j);
      worst = std::max(worst, std::fabs(s - (i == j ? 1.0 : 0.0)));
    }
  return worst;
}
}  // namespace

TEST(Matrix, RowMajorStorageAndRowExchange) {
  Matrix m(2, 3, 7.0);
  EXPECT_EQ(m.rows(), 2);
  EXPECT_EQ(m.cols(), 3);
  m(1, 2) = 5.0;
  EXPECT_EQ(m.data()[1 * 3 + 2], 5.0);
  EXPECT_EQ(m.row(1)[2], 5.0);
  m.swap_rows(0, 1);
  EXPECT_EQ(m(0, 2), 5.0);
  EXPECT_EQ(m(1, 2), 7.0);
  EXPECT_TRUE(Matrix().empty());
}

TEST(LuDecomposition, SolvesAndInvertsWithPivoting) {
  // The first pivot is zero: only a row exchange lets the decomposition go on.
  for (const Matrix& a : {make(1, {4.0}), make(3, {4, 1, 2, 1, 5, 3, 2, 3, 6}),
                          make(3, {0, 2, 1, 3, 1, 0, 1, 1, 4}),
                          make(4, {1e-3, 2, 0, 1, 5, -1, 2, 0, 0, 3, 8, 1, 2, 0, 1, 9})}) {
    const LuDecomposition lu(a);
    ASSERT_FALSE(lu.singular());
    EXPECT_LT(identity_error(a, lu.inverse()), 1e-12);
    // Solve against a known solution x = (1, -2, 3, ...).
    const int n = a.rows();
    std::vector<double> x(static_cast<std::size_t>(n)), b(static_cast<std::size_t>(n), 0.0);
    for (int i = 0; i < n; ++i) x[i] = (i % 2 == 0 ? 1.0 : -1.0) * (i + 1);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) b[i] += a(i, j) * x[j];
    lu.solve(b);
    for (int i = 0; i < n; ++i) EXPECT_NEAR(b[i], x[i], 1e-12) << i;
  }
}

TEST(LuDecomposition, ReportsSingularAndZeroRows) {
  const LuDecomposition singular(make(2, {1, 2, 2, 4}));
  EXPECT_TRUE(singular.singular());
  EXPECT_FALSE(singular.zero_row());
  double largest = 0.0;  // the zero pivot stands in as 1e-40: huge entries, no stop
  const Matrix inverse = singular.inverse();
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j) largest = std::max(largest, std::fabs(inverse(i, j)));
  EXPECT_GT(largest, 1e30);

  const LuDecomposition zero_row(make(2, {1, 2, 0, 0}));
  EXPECT_TRUE(zero_row.zero_row());
  EXPECT_TRUE(zero_row.singular());
}

TEST(Cholesky, SolvesAndGivesTheInverseQuadraticForm) {
  // a = L L' with L = [[2, 0, 0], [1, 3, 0], [-1, 0.5, 1]]; only the lower triangle is read.
  Matrix a = make(3, {4, 99, 99, 2, 10, 99, -2, -0.5, 2.25});
  const Cholesky factor(a);
  ASSERT_TRUE(factor.positive_definite());
  const Matrix full = make(3, {4, 2, -2, 2, 10, -0.5, -2, -0.5, 2.25});
  const std::vector<double> x = {1.0, -2.0, 0.5};
  std::vector<double> b(3, 0.0);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) b[i] += full(i, j) * x[j];
  const double form = factor.inverse_quadratic_form(b);  // b' a^-1 b = x' a x
  double expected = 0.0;
  for (int i = 0; i < 3; ++i) expected += x[i] * b[i];
  EXPECT_NEAR(form, expected, 1e-12);
  factor.solve(b);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(b[i], x[i], 1e-12);
}

TEST(Cholesky, RejectsMatricesNotPositiveDefinite) {
  const double inf = std::numeric_limits<double>::infinity();
  for (const Matrix& a : {make(2, {1, 0, 2, 1}),       // indefinite: 1 - 4 < 0
                          make(2, {1, 0, 1, 1 - 1e-17}),  // singular to rounding
                          make(2, {0, 0, 0, 1}), make(1, {-1}),
                          make(2, {inf, 0, 0, 1}), make(2, {std::nan(""), 0, 0, 1})})
    EXPECT_FALSE(Cholesky(a).positive_definite());
}

TEST(ChiSquareUpperTail, MatchesClosedForms) {
  struct Case {
    double statistic;
    int df;
    double expected, tolerance;
  };
  // Closed forms: one degree of freedom erfc(sqrt(w / 2)); two exp(-w / 2); three
  // erfc(sqrt(w / 2)) + sqrt(2 w / pi) exp(-w / 2); four exp(-w / 2) (1 + w / 2). Both the
  // series (w / 2 < df / 2 + 1) and the continued fraction are reached.
  for (const Case& c : std::vector<Case>{
           {0.0, 1, 1.0, 0.0},
           {1.4, 2, std::exp(-0.7), 1e-13},
           {24.0, 2, std::exp(-12.0), 1e-13},
           {3.84146, 1, 0.05, 1e-5},
           {5.991465, 2, 0.05, 1e-6},
           {0.6, 1, std::erfc(std::sqrt(0.3)), 1e-13},
           {27.0, 1, std::erfc(std::sqrt(13.5)), 1e-19},
           {2.0, 3, std::erfc(1.0) + 2.0 * std::sqrt(1.0 / M_PI) * std::exp(-1.0), 1e-13},
           {80.0, 3, std::erfc(std::sqrt(40.0)) + 2.0 * std::sqrt(40.0 / M_PI) * std::exp(-40.0), 1e-28},
           {18.0, 4, std::exp(-9.0) * 10.0, 1e-15},
       }) {
    EXPECT_NEAR(chi_square_upper_tail(c.statistic, c.df), c.expected, c.tolerance)
        << c.statistic << " " << c.df;
  }
}

TEST(ChiSquareUpperTailDeathTest, InvalidArgumentsStop) {
  EXPECT_EXIT(chi_square_upper_tail(1.0, 0), testing::ExitedWithCode(1),
              "Invalid arguments in routine gammq");
  EXPECT_EXIT(chi_square_upper_tail(-1.0, 1), testing::ExitedWithCode(1),
              "Invalid arguments in routine gammq");
}

TEST(NrerrorDeathTest, WritesThreeLinesAndStops) {
  EXPECT_EXIT(nrerror("allocation failure in vector()"), testing::ExitedWithCode(1),
              "Numerical Recipes run-time error...\nallocation failure in vector\\(\\)\n"
              "...now exiting to system...");
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
