#include "test/wald.h"

#include <cmath>
#include <vector>

#include "numeric/gamma.h"
#include "numeric/lu.h"

namespace {
// True when the m x m matrix a (1-based) is positive definite: every pivot of its Cholesky
// factorisation, read from the lower triangle, is positive and finite. A covariance that
// fails this has no Wald statistic: inverting it may stop the run (a zero row) or give a
// statistic of either sign that means nothing.
bool positive_definite(const DMatrix& a, int m) {
  std::vector<double> L(static_cast<std::size_t>(m) * static_cast<std::size_t>(m), 0.0);
  auto l = [&L, m](int i, int j) -> double& {
    return L[static_cast<std::size_t>(i) * static_cast<std::size_t>(m) + static_cast<std::size_t>(j)];
  };
  for (int j = 0; j < m; ++j) {
    double d = a[j + 1][j + 1];
    for (int k = 0; k < j; ++k) d -= l(j, k) * l(j, k);
    if (!(d > 0.0) || !std::isfinite(d)) return false;
    l(j, j) = std::sqrt(d);
    for (int i = j + 1; i < m; ++i) {
      double s = a[i + 1][j + 1];
      for (int k = 0; k < j; ++k) s -= l(i, k) * l(j, k);
      l(i, j) = s / l(j, j);
    }
  }
  return true;
}
}  // namespace

int get_testing_results(double& statistic, double& p_value, const double* theta,
                        const DMatrix& cov, const PARA& para) {
  statistic = 0.0;
  p_value = 1.0;
  const int J = para.num_covariate_columns;
  const int q = J > 0 ? para.num_disease_coefs - 1 : para.num_disease_coefs;

  // Flags of the non-intercept coefficients, in design-vector order.
  std::vector<int> flags;
  for (int j = 0; j < para.num_genetic_variables; ++j)
    if (para.genetic_effects[j][j] > 0) flags.push_back(para.genetic_effects[j][j]);
  for (int j = 0; j < J; ++j)
    for (int t = 0; t < para.num_genetic_variables; ++t)
      if (para.gene_covariate_effects[j][t] > 0) flags.push_back(para.gene_covariate_effects[j][t]);
  for (int j = 0; j < J; ++j)
    for (int jj = j; jj < J; ++jj)
      if (para.covariate_effects[j][jj] > 0) flags.push_back(para.covariate_effects[j][jj]);

  std::vector<int> tested;
  for (int t = 0; t < q && t < static_cast<int>(flags.size()); ++t)
    if (flags[t] == 2) tested.push_back(t);
  const int m = static_cast<int>(tested.size());
  if (m == 0) return 1;

  DMatrix sigma = dmatrix(1, m, 1, m);
  for (int a = 0; a < m; ++a)
    for (int b = 0; b < m; ++b) sigma[a + 1][b + 1] = cov[tested[a] + 1][tested[b] + 1];
  if (!positive_definite(sigma, m)) return 1;
  invv(sigma, m);
  double w = 0.0;
  for (int a = 0; a < m; ++a)
    for (int b = 0; b < m; ++b) w += theta[tested[a]] * sigma[a + 1][b + 1] * theta[tested[b]];
  if (!std::isfinite(w)) return 1;
  // Positive definite: a negative W is rounding of a W near 0, where gammq would stop.
  if (w < 0.0) w = 0.0;
  statistic = w;
  p_value = gammq(m / 2.0, w / 2.0);
  return 0;
}
