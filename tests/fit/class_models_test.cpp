// Design vector order, measurement indicator, the plausibility tests and the inversion
// over free parameters, and the back-transformation of frequencies.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "fit/class_models.h"
#include "fit/information.h"
#include "fit/measurement_models.h"
#include "fit/model_fixture.h"

namespace {

TEST(DesignVector, OrderOfEntries) {
  // Columns z0, z1, z2 = 2, 3, 5; effects K, L, K x z1, L x z1, L x z2, z0, z0 x z2, z2.
  PARA para = make_para_independent(3);
  RunDesign& design = edit_design(para);
  design.genetic_effects(1, 1) = EffectFlag::kModelled;
  design.gene_covariate_effects(1, 0) = EffectFlag::kModelled;
  design.gene_covariate_effects(1, 1) = EffectFlag::kTested;
  design.gene_covariate_effects(2, 1) = EffectFlag::kModelled;
  design.covariate_effects(1, 1) = EffectFlag::kAbsent;
  design.covariate_effects(0, 2) = EffectFlag::kModelled;
  list_disease_coefficients(design);
  ASSERT_EQ(design.num_disease_coefs, 9);
  const double z[3] = {2.0, 3.0, 5.0};
  struct Case {
    int k, l;
    std::vector<double> expected;  // interactions with genetic variables first, intercept last
  };
  const std::vector<Case> cases = {
      {2, 1, {2, 0, 6, 0, 0, 2, 10, 5, 1, -7}},
      {2, 0, {2, 2, 6, 6, 10, 2, 10, 5, 1, -7}},
      {1, 1, {1, -1, 3, -3, -5, 2, 10, 5, 1, -7}},
  };
  for (const Case& c : cases) {
    std::vector<double> a(10, -7.0);
    disease_design(a.data(), c.k, c.l, z, para);
    EXPECT_EQ(a, c.expected) << c.k << c.l;
  }
}

TEST(DesignVector, KOnlyHasNoIntercept) {
  const PARA para = make_para_k_only();
  double a[2] = {-1.0, -1.0};
  disease_design(a, 2, 0, nullptr, para);
  EXPECT_EQ(a[0], 2.0);
  EXPECT_EQ(a[1], -1.0);
}

TEST(MeasurementIndicator, PicksTheSlotOfStatusAndClass) {
  for (const int dme : {0, 1})
    for (const char type : {'I', 'A', 'T'}) {
      PARA para = make_para_k_only();
      para.array_type = type;
      para.num_cn_classes = 3;
      para.differential_measurement_errors = dme;
      para.r_mean_start = 3;
      para.r_logvar_start = 3 + 3 * (dme + 1);
      para.num_params = 3 + 6 * (dme + 1);
      para.b_mean_start = para.num_params;
      for (int y = 0; y < 2; ++y)
        for (int k = 0; k < 3; ++k) {
          std::vector<double> v(para.num_params, 9.0);
          measurement_indicator(v.data(), y, k, 0, nullptr, para);
          const RSlot slot = r_slot(para, y, k);
          for (int u = 0; u < para.num_params; ++u) {
            const double expected = u < 3 ? 9.0 : (u == slot.mean || u == slot.logvar ? 1.0 : 0.0);
            EXPECT_EQ(v[u], expected) << type << dme << y << k << u;
          }
        }
    }
}

Matrix matrix_of(const std::vector<std::vector<double>>& rows) {
  const int n = static_cast<int>(rows.size());
  Matrix m(n, n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) m(i, j) = rows[i][j];
  return m;
}

TEST(Plausibility, ExplosionAndVariances) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* name;
    std::vector<std::vector<double>> m;
    int explosion, inproper;
  };
  const std::vector<Case> cases = {
      {"ordinary", {{2, 1}, {1, 3}}, 0, 0},
      {"zero row", {{2, 0}, {0, 0}}, 1, 0},
      {"every entry of a row above 1e10", {{2e10, 3e10}, {1, 1}}, 1, 1},
      {"one large entry", {{2e10, 1}, {1, 1}}, 0, 1},
      {"NaN entry", {{nan, 1}, {1, 1}}, 1, 0},
      {"variance exactly 100", {{100, 0}, {0, 1}}, 0, 0},
      {"variance above 100", {{100.0000001, 0}, {0, 1}}, 0, 1},
      {"negative variance", {{1, 0}, {0, -1e-9}}, 0, 1},
  };
  for (const Case& c : cases) {
    const Matrix m = matrix_of(c.m);
    EXPECT_EQ(information_implausible(m), c.explosion == 1) << c.name;
    EXPECT_EQ(variances_improper(m, 2), c.inproper == 1) << c.name;
  }
  EXPECT_FALSE(variances_improper(matrix_of({{nan, 0}, {0, 1}}), 2));  // NaN does not trip the test
}

TEST(InvertOverFreeParameters, FixedRowsAndColumnsAreZero) {
  // Position 1 is fixed; its row is zero and must never reach the inversion or the solve.
  const Matrix E = matrix_of({{4, 0, 2}, {0, 0, 0}, {2, 0, 3}});
  Matrix out;
  ASSERT_TRUE(invert_over_positions(out, E, {0, 2}, 3));
  const double det = 4 * 3 - 2 * 2;
  const std::vector<std::vector<double>> expected = {
      {3 / det, 0, -2 / det}, {0, 0, 0}, {-2 / det, 0, 4 / det}};
  ASSERT_EQ(out.rows(), 3);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(out(i, j), expected[i][j], 1e-14);
  // The solve agrees with the inverse applied to U, and leaves the fixed position at 0.
  const std::vector<double> U = {1.0, 5.0, -2.0};
  std::vector<double> x(3, 9.0);
  ASSERT_EQ(solve_over_positions(x, E, U, {0, 2}), SolveOutcome::kSolved);
  for (int i = 0; i < 3; ++i)
    EXPECT_NEAR(x[i], expected[i][0] * U[0] + expected[i][1] * U[1] + expected[i][2] * U[2], 1e-14);

  // Now the zero row is free.
  EXPECT_FALSE(invert_over_positions(out, E, {0, 1}, 3));
  EXPECT_EQ(solve_over_positions(x, E, U, {0, 1}), SolveOutcome::kSingular);
}

TEST(BackTransform, FrequenciesAndDeltaMethod) {
  // Two log-ratios at positions 1 and 2, with a covariance.
  double theta[3] = {0.3, std::log(0.1 / 0.6), std::log(0.3 / 0.6)};
  double se[3] = {0.1, 0.0, 0.0};
  const Matrix V = matrix_of({{0.01, 0, 0}, {0, 0.04, 0.01}, {0, 0.01, 0.09}});
  const int slots[2] = {1, 2};
  back_transform_frequencies(theta, se, V, slots, 2);
  EXPECT_NEAR(theta[1], 0.1, 1e-14);
  EXPECT_NEAR(theta[2], 0.3, 1e-14);
  EXPECT_EQ(theta[0], 0.3);
  // Jacobian p_a (delta_ab - p_b) by finite differences of the softmax.
  const auto freq = [](double a1, double a2, int which) {
    const double c = 1.0 + std::exp(a1) + std::exp(a2);
    return (which == 0 ? std::exp(a1) : std::exp(a2)) / c;
  };
  const double a1 = std::log(0.1 / 0.6), a2 = std::log(0.3 / 0.6), h = 1e-6;
  for (int w = 0; w < 2; ++w) {
    const double j1 = (freq(a1 + h, a2, w) - freq(a1 - h, a2, w)) / (2 * h);
    const double j2 = (freq(a1, a2 + h, w) - freq(a1, a2 - h, w)) / (2 * h);
    const double var = j1 * j1 * 0.04 + 2 * j1 * j2 * 0.01 + j2 * j2 * 0.09;
    EXPECT_NEAR(se[1 + w], std::sqrt(var), 1e-8);
  }
}

}  // namespace
