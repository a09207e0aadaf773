#pragma once
// An independent route to the observed log-likelihood of the three CN models, written
// from the model formulas (design vector (k) without covariates; (k, z_1..z_J, 1) for the
// fixture's models with covariates), for finite-difference checks of the fits.

#include <cmath>
#include <vector>

#include "core/data.h"
#include "core/para.h"

namespace oracle {

inline double density(double x, double mu, double logvar) {
  const double s2 = std::exp(logvar);
  return std::exp(-(x - mu) * (x - mu) / (2.0 * s2)) / std::sqrt(s2);
}

// beta . a(k, z) for the fixture's design: K main effect, column main effects, intercept.
inline double linear_predictor(const std::vector<double>& theta, int k, const DATA& data, int i,
                               const PARA& para) {
  const int J = para.design().num_covariate_columns;
  double eta = theta[0] * k;
  for (int j = 0; j < J; ++j) eta += theta[1 + j] * data.covariates(i, j);
  if (J > 0) eta += theta[1 + J];
  return eta;
}

inline double intensity_density(const std::vector<double>& theta, int k, const DATA& data, int i,
                                const PARA& para) {
  const int g = data.disease_status[i] * para.differential_measurement_errors;
  return density(data.intensity_r[i], theta[para.r_mean_start + 3 * g + k],
                 theta[para.r_logvar_start + 3 * g + k]);
}

// Retrospective models (no covariate: P(K | Y); covariates: P(Y, K | z) normalised jointly).
// theta holds frequency log-ratios to class 2 at freq_start + k for k = 0, 1.
inline double retrospective(const std::vector<double>& theta, const DATA& data, const PARA& para) {
  std::vector<int> classes;
  for (int k = 0; k < 3; ++k)
    if (para.cn_class_present[k]) classes.push_back(k);
  const auto weight = [&](int k) { return k == 2 ? 1.0 : std::exp(theta[para.freq_start + k]); };
  double ell = 0.0;
  for (int i = 0; i < data.num_subjects; ++i) {
    if (data.excluded[i] == 1) continue;
    const int y = data.disease_status[i];
    double numerator = 0.0;
    double normaliser = 0.0;
    for (const int k : classes) {
      const double odds = std::exp(linear_predictor(theta, k, data, i, para));
      numerator += weight(k) * (y == 1 ? odds : 1.0) * intensity_density(theta, k, data, i, para);
      normaliser += para.design().num_covariate_columns > 0 ? weight(k) * (1.0 + odds)
                                                   : weight(k) * (y == 1 ? odds : 1.0);
    }
    ell += std::log(numerator / normaliser);
  }
  return ell;
}

// Distinct-value strata of design column 0 over the included subjects, numbered in order
// of their first subject.
inline std::vector<int> strata_of(const DATA& data, int& count) {
  std::vector<double> values;
  std::vector<int> of(data.num_subjects, -1);
  for (int i = 0; i < data.num_subjects; ++i) {
    if (data.excluded[i] == 1) continue;
    int s = 0;
    while (s < static_cast<int>(values.size()) &&
           std::fabs(values[s] - data.covariates(i, 0)) >= 1e-6)
      ++s;
    if (s == static_cast<int>(values.size())) values.push_back(data.covariates(i, 0));
    of[i] = s;
  }
  count = static_cast<int>(values.size());
  return of;
}

// Prospective sieve model; q[s * 3 + k] over the present classes of each stratum.
inline double sieve(const std::vector<double>& theta, const std::vector<double>& q,
                    const std::vector<int>& stratum, const DATA& data, const PARA& para) {
  double ell = 0.0;
  for (int i = 0; i < data.num_subjects; ++i) {
    if (data.excluded[i] == 1) continue;
    const int y = data.disease_status[i];
    double sum = 0.0;
    for (int k = 0; k < 3; ++k) {
      if (!para.cn_class_present[k]) continue;
      const double p = 1.0 / (1.0 + std::exp(-linear_predictor(theta, k, data, i, para)));
      sum += q[stratum[i] * 3 + k] * (y == 1 ? p : 1.0 - p) *
             intensity_density(theta, k, data, i, para);
    }
    ell += std::log(sum);
  }
  return ell;
}

}  // namespace oracle
