// Wald statistic, degrees of freedom and the order of the tested coefficients.

#include "wald/wald.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "fit/model_fixture.h"

namespace {

Matrix covariance(const std::vector<std::vector<double>>& rows) {
  const int n = static_cast<int>(rows.size());
  Matrix m(n, n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) m(i, j) = rows[i][j];
  return m;
}

TEST(WaldTest, DegreesOfFreedomAndTestedCoefficients) {
  struct Case {
    const char* name;
    PARA para;
    std::vector<double> theta;
    std::vector<std::vector<double>> cov;
    double statistic;
    int df;
  };
  std::vector<Case> cases;
  // Only K: W = beta^2 / var.
  cases.push_back({"K only", make_para_k_only(), {0.6}, {{0.04}}, 9.0, 1});
  // K and a covariate, only K tested: the covariate and the intercept stay out.
  cases.push_back({"K tested, covariate not",
                   make_para_independent(1),
                   {0.6, 5.0, -3.0},
                   {{0.04, 0.01, 0.0}, {0.01, 1.0, 0.0}, {0.0, 0.0, 1.0}},
                   9.0,
                   1});
  // K and K x z tested: their 2 x 2 block with its covariance.
  {
    ModelSpec spec;
    spec.num_columns = 1;
    spec.kz_flags = {2};
    cases.push_back({"K and K x z tested",
                     make_para(spec),
                     {0.6, 0.3, 5.0, -3.0},
                     {{0.04, 0.01, 0.5, 0.0},
                      {0.01, 0.09, 0.5, 0.0},
                      {0.5, 0.5, 9.0, 0.0},
                      {0.0, 0.0, 0.0, 1.0}},
                     0.0,
                     2});
    const double det = 0.04 * 0.09 - 0.01 * 0.01;
    cases.back().statistic = (0.6 * 0.6 * 0.09 - 2 * 0.6 * 0.3 * 0.01 + 0.3 * 0.3 * 0.04) / det;
  }
  // K not tested (flag 1), K x z tested: the tested coefficient is found at its place.
  {
    ModelSpec spec;
    spec.num_columns = 1;
    spec.k_flag = 1;
    spec.kz_flags = {2};
    cases.push_back({"flag 1 keeps its place",
                     make_para(spec),
                     {0.6, 0.3, 5.0, -3.0},
                     {{0.04, 0.01, 0.0, 0.0},
                      {0.01, 0.09, 0.0, 0.0},
                      {0.0, 0.0, 9.0, 0.0},
                      {0.0, 0.0, 0.0, 1.0}},
                     1.0,
                     1});
  }
  for (const Case& c : cases) {
    double w = -1.0, p = -1.0;
    ASSERT_EQ(get_testing_results(w, p, c.theta.data(), covariance(c.cov), c.para), 0) << c.name;
    EXPECT_NEAR(w, c.statistic, 1e-10) << c.name;
    // Chi-square upper tails in closed form: erfc for one degree of freedom, exp for two.
    const double expected = c.df == 1 ? std::erfc(std::sqrt(w / 2.0)) : std::exp(-w / 2.0);
    EXPECT_NEAR(p, expected, 1e-10 * std::max(1.0, expected)) << c.name;
  }
}

TEST(WaldTest, UnusableCovarianceIsReportedNotFatal) {
  ModelSpec spec;
  spec.num_columns = 1;
  spec.kz_flags = {2};
  const double nan = std::nan("");
  struct Case {
    const char* name;
    PARA para;
    std::vector<double> theta;
    std::vector<std::vector<double>> cov;
  };
  const std::vector<Case> cases = {
      {"not positive definite, W would be negative", make_para(spec), {0.6, -0.6, 0.0, 0.0},
       {{0.04, 0.1, 0, 0}, {0.1, 0.04, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}},
      // The same block with b along its positive direction: W comes out positive (about
      // 5.1) and would be reported although the block is no covariance.
      {"not positive definite, W would be positive", make_para(spec), {0.6, 0.6, 0.0, 0.0},
       {{0.04, 0.1, 0, 0}, {0.1, 0.04, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}},
      // A zero row would stop the LU decomposition, and with it the run.
      {"zero row", make_para(spec), {0.6, -0.6, 0.0, 0.0},
       {{0.04, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}},
      {"undefined covariance", make_para(spec), {0.6, -0.6, 0.0, 0.0},
       {{0.04, nan, 0, 0}, {nan, 0.09, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}},
      {"K only, zero variance", make_para_k_only(), {0.6}, {{0.0}}},
      {"K only, negative variance", make_para_k_only(), {0.6}, {{-0.04}}},
  };
  for (const Case& c : cases) {
    double w = -1.0, p = -1.0;
    EXPECT_EQ(get_testing_results(w, p, c.theta.data(), covariance(c.cov), c.para), 1) << c.name;
    // Both outputs are still written: no statistic, p-value 1.
    EXPECT_EQ(w, 0.0) << c.name;
    EXPECT_EQ(p, 1.0) << c.name;
  }
}

}  // namespace
