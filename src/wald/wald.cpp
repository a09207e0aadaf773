#include "wald/wald.h"

#include <cmath>
#include <vector>

#include "numeric/cholesky.h"
#include "numeric/gamma.h"

int get_testing_results(double& statistic, double& p_value, const double* theta,
                        const Matrix& cov, const PARA& para) {
  statistic = 0.0;
  p_value = 1.0;
  const int J = para.design().num_covariate_columns;
  const int q = J > 0 ? para.design().num_disease_coefs - 1 : para.design().num_disease_coefs;

  const std::vector<DiseaseCoefficient>& coefficients = para.design().coefficients;
  std::vector<int> tested;
  for (int t = 0; t < q && t < static_cast<int>(coefficients.size()); ++t)
    if (coefficients[t].flag == EffectFlag::kTested) tested.push_back(t);
  const int m = static_cast<int>(tested.size());
  if (m == 0) return 1;

  Matrix sigma(m, m);
  std::vector<double> beta(static_cast<std::size_t>(m));
  for (int a = 0; a < m; ++a) {
    beta[a] = theta[tested[a]];
    for (int b = 0; b < m; ++b) sigma(a, b) = cov(tested[a], tested[b]);
  }
  // A covariance that is not positive definite has no Wald statistic: its inverse may
  // not exist or give a statistic of either sign that means nothing.
  const Cholesky factor(sigma);
  if (!factor.positive_definite()) return 1;
  const double w = factor.inverse_quadratic_form(beta);
  if (!std::isfinite(w)) return 1;
  statistic = w;
  p_value = chi_square_upper_tail(w, m);
  return 0;
}
