#include "wald/wald.h"

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

std::vector<DiseaseCoefficient> disease_coefficients(const PARA& para) {
  static const char* const kGenetic[2] = {"K", "L"};
  const int J = para.num_covariate_columns;
  const auto column = [&para](int j) {
    return j < static_cast<int>(para.covariate_names.size()) ? para.covariate_names[j]
                                                              : "Z" + std::to_string(j + 1);
  };
  std::vector<DiseaseCoefficient> coefficients;
  for (int g = 0; g < para.num_genetic_variables; ++g)
    if (para.genetic_effects[g][g] > 0) coefficients.push_back({kGenetic[g], para.genetic_effects[g][g]});
  for (int j = 0; j < J; ++j)
    for (int g = 0; g < para.num_genetic_variables; ++g)
      if (para.gene_covariate_effects[j][g] > 0)
        coefficients.push_back({std::string(kGenetic[g]) + ":" + column(j),
                                para.gene_covariate_effects[j][g]});
  for (int j = 0; j < J; ++j)
    for (int jj = j; jj < J; ++jj)
      if (para.covariate_effects[j][jj] > 0)
        coefficients.push_back({jj == j ? column(j) : column(j) + ":" + column(jj),
                                para.covariate_effects[j][jj]});
  if (J > 0) coefficients.push_back({"(intercept)", 1});
  return coefficients;
}

int get_testing_results(double& statistic, double& p_value, const double* theta,
                        const DMatrix& cov, const PARA& para) {
  statistic = 0.0;
  p_value = 1.0;
  const int J = para.num_covariate_columns;
  const int q = J > 0 ? para.num_disease_coefs - 1 : para.num_disease_coefs;

  const std::vector<DiseaseCoefficient> coefficients = disease_coefficients(para);
  std::vector<int> tested;
  for (int t = 0; t < q && t < static_cast<int>(coefficients.size()); ++t)
    if (coefficients[t].flag == 2) tested.push_back(t);
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
