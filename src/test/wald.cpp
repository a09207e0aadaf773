#include "test/wald.h"

#include <cmath>
#include <vector>

#include "numeric/gamma.h"
#include "numeric/lu.h"

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
  // A zero row would stop the LU decomposition and end the whole run: report the probe instead.
  for (int a = 1; a <= m; ++a) {
    bool zero = true;
    for (int b = 1; b <= m; ++b) zero = zero && sigma[a][b] == 0.0;
    if (zero) return 1;
  }
  invv(sigma, m);
  double w = 0.0;
  for (int a = 0; a < m; ++a)
    for (int b = 0; b < m; ++b) w += theta[tested[a]] * sigma[a + 1][b + 1] * theta[tested[b]];
  // A covariance that is not positive definite gives a negative or undefined statistic.
  if (!std::isfinite(w) || w < 0.0) return 1;
  statistic = w;
  p_value = gammq(m / 2.0, w / 2.0);
  return 0;
}
