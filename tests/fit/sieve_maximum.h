#pragma once
// The check that a finished CN fit is a maximum, over the vector and (sieve fits) the free
// sieve slots: the finite-difference gradient of the independently written observed
// log-likelihood vanishes (within `gradient_tolerance` standard errors per coordinate: a
// thousandth by default, for a fit stopped at the maximum itself) and Louis's information
// is its negative Hessian (within 2e-3 of the diagonal scale).

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "fit/cn_fit_harness.h"

inline void expect_fit_maximum(const FitRun& run, int model_type, const std::string& what,
                               double gradient_tolerance = 1e-3) {
  const Objective f(run, model_type);
  std::vector<double> gradient;
  std::vector<std::vector<double>> hessian;
  finite_differences(f, gradient, hessian);
  const int m = f.size();
  for (int a = 0; a < m; ++a)
    EXPECT_LT(std::fabs(gradient[a]) / std::sqrt(-hessian[a][a]), gradient_tolerance)
        << what << " coordinate " << a;
  const std::vector<int>& pos = run.report.free_positions;
  for (int a = 0; a < m; ++a)
    for (int b = 0; b < m; ++b) {
      const double scale = std::sqrt(hessian[a][a] * hessian[b][b]);
      EXPECT_NEAR(run.report.information(pos[a], pos[b]) / scale, -hessian[a][b] / scale, 2e-3)
          << what << " coordinates " << a << ", " << b;
    }
}
