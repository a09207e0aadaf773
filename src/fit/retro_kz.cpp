// Retrospective fit of a CN probe whose disease model holds covariates that are
// independent of the copy number.
//
// Model: included subjects i with status y_i, covariate row z_i and intensity R_i; latent
// total class k among the present classes; e_ref = 1, e_k = exp(alpha_k);
// eta_ik = beta . a(k, z_i) (the design vector ends with the intercept).
//   P(Y = 0, K = k | z_i) = e_k / h_i,   P(Y = 1, K = k | z_i) = w_ik / h_i,
//   w_ik = e_k exp(eta_ik),   h_i = sum_k (e_k + w_ik)
//   R | K = k, Y = y ~ N(mu[g][k], sigma2[g][k]),   g = y * differential_measurement_errors
//   l(theta) = sum_i log sum_k phi(R_i; mu, sigma2) (e_k or w_ik) / h_i
// theta: beta (intercept included), alpha, R means, R log-variances. The normaliser runs
// over status and class jointly, so every coefficient is estimated.
// Iteration: as the fit without covariates, but the disease-model and frequency terms are
// per subject: the score subtracts and the information adds the mean and variance of
// (Y a(K, z_i), indicator of K) under the model's joint law of (Y, K) given z_i.
// Finish: Louis's correction, V = E^-1, frequencies back-transformed.

#include <algorithm>
#include <cmath>
#include <vector>

#include "fit/em_steps.h"
#include "fit/fit.h"
#include "fit/helpers.h"
#include "checks/cluster_checks.h"
#include "numeric/vector_ops.h"

namespace {

constexpr int kClasses = 3;

// Per-subject model tables of the current theta.
struct Tables {
  double e[kClasses] = {};
  std::vector<double> w;  // w_ik at [i * kClasses + k]
  std::vector<double> h;  // h_i
};

// Recomputes the tables and returns l(theta).
double compute_tables(Tables& t, IntensityTables& R, const double* theta,
                      const std::vector<int>& subjects, const std::vector<int>& classes,
                      const std::vector<double>& a, const DATA& data, const PARA& para) {
  const int D = para.num_disease_coefs;
  for (const int k : classes)
    t.e[k] = k == para.ref_cn_class ? 1.0 : std::exp(theta[frequency_slot(para, k)]);
  R.update(theta, para, data, subjects, classes);
  double ell = 0.0;
  for (const int i : subjects) {
    const int y = data.disease_status[i];
    double h = 0.0;
    double sum = 0.0;
    for (const int k : classes) {
      const std::size_t ik = static_cast<std::size_t>(i) * kClasses + k;
      double eta = 0.0;
      for (int u = 0; u < D; ++u) eta += theta[u] * a[ik * D + u];
      t.w[ik] = t.e[k] * std::exp(eta);
      h += t.e[k] + t.w[ik];
      sum += R.density(i, k) * (y > 0.5 ? t.w[ik] : t.e[k]);
    }
    t.h[i] = h;
    ell += std::log(sum / h);
  }
  return ell;
}

}  // namespace

int fit_retro_KZ(double& loglik, int& iterations, double* params, double* std_errors,
                 const DMatrix& cov, const DATA& data, PARA& para) {
  return fit_retro_KZ(loglik, iterations, params, std_errors, cov, data, para, FitControl{});
}

int fit_retro_KZ(double& loglik, int& iterations, double* params, double* std_errors,
                 const DMatrix& cov, const DATA& data, PARA& para, const FitControl& control) {
  iterations = 0;
  const int P = para.num_params;
  const int D = para.num_disease_coefs;
  const int ref = para.ref_cn_class;
  const int B = para.r_mean_start;  // disease-model and frequency positions lie below
  if (P > kMaxParams || reference_cn_class_missing(para)) return 1;
  double* theta = params;
  const DMatrix& E = cov;

  const int n = data.num_subjects;
  const std::vector<int> classes = present_cn_classes(para);
  std::vector<int> subjects;
  if (!included_subjects(data, subjects)) return 1;
  const std::vector<double> a = cn_design_table(data, para, subjects, classes);
  const auto design = [&](int i, int k) {
    return &a[(static_cast<std::size_t>(i) * kClasses + k) * D];
  };

  std::vector<double> q(static_cast<std::size_t>(n) * kClasses, 0.0);
  const auto post = [&](int i, int k) -> double& {
    return q[static_cast<std::size_t>(i) * kClasses + k];
  };
  std::vector<double> U(static_cast<std::size_t>(P));
  std::vector<double> delta(static_cast<std::size_t>(P), 0.0);
  delta[0] = 1.0;
  std::vector<double> M1(static_cast<std::size_t>(B));
  std::vector<double> M2(static_cast<std::size_t>(B) * B);
  std::vector<double> E_head(static_cast<std::size_t>(B) * B);  // E over those positions
  DMatrix V = dmatrix(1, P, 1, P);

  Tables t;
  IntensityTables R;
  t.w.assign(static_cast<std::size_t>(n) * kClasses, 0.0);
  t.h.assign(static_cast<std::size_t>(n), 0.0);
  double ell = compute_tables(t, R, theta, subjects, classes, a, data, para);

  while (max(delta.data(), P) > control.step_tolerance) {
    // E-step.
    for (const int i : subjects) {
      const int y = data.disease_status[i];
      double sum = 0.0;
      for (const int k : classes) {
        const std::size_t ik = static_cast<std::size_t>(i) * kClasses + k;
        post(i, k) = R.density(i, k) * (y > 0.5 ? t.w[ik] : t.e[k]);
        sum += post(i, k);
      }
      for (const int k : classes) post(i, k) /= sum;
    }

    // Score and complete-data information, subject by subject.
    for (int u = 0; u < P; ++u) U[u] = 0.0;
    clear_square(E, P);
    std::fill(E_head.begin(), E_head.end(), 0.0);
    for (const int i : subjects) {
      const int y = data.disease_status[i];
      for (int u = 0; u < B; ++u) M1[u] = 0.0;
      for (std::size_t u = 0; u < M2.size(); ++u) M2[u] = 0.0;
      double h = 0.0;
      for (const int k : classes) {
        const double* ak = design(i, k);
        const double wik = t.w[static_cast<std::size_t>(i) * kClasses + k];
        const double rho = post(i, k);
        const int j = k != ref ? frequency_slot(para, k) : -1;
        for (int u = 0; u < D; ++u) {
          U[u] += y * rho * ak[u];
          M1[u] += wik * ak[u];
          for (int v = u; v < D; ++v)
            M2[static_cast<std::size_t>(u) * B + v] += wik * ak[u] * ak[v];
          if (k != ref) M2[static_cast<std::size_t>(u) * B + j] += wik * ak[u];
        }
        if (k != ref) {
          U[j] += rho;
          M1[j] += t.e[k] + wik;
          M2[static_cast<std::size_t>(j) * B + j] += t.e[k] + wik;
        }
        const RSlot slot = r_slot(para, y, k);
        const double s2 = R.s2[y][k];
        add_normal_terms(U.data(), E, slot.mean, slot.logvar, rho, data.intensity_r[i] - R.mu[y][k],
                         s2);
        h += t.e[k] + wik;
      }
      const double inv_h = 1.0 / h;
      for (int u = 0; u < B; ++u) {
        const double m1 = M1[u] * inv_h;
        U[u] -= m1;
        for (int v = u; v < B; ++v)
          E_head[static_cast<std::size_t>(u) * B + v] +=
              M2[static_cast<std::size_t>(u) * B + v] * inv_h - m1 * (M1[v] * inv_h);
      }
    }
    for (int u = 0; u < B; ++u)
      for (int v = u; v < B; ++v) E[u + 1][v + 1] += E_head[static_cast<std::size_t>(u) * B + v];

    if (newton_step(theta, delta.data(), U.data(), E, V, para) == 1) return 1;
    if (check_cluster_means_CN(theta, para) == 1) return 1;
    ell = compute_tables(t, R, theta, subjects, classes, a, data, para);
    if (++iterations >= control.max_iterations) return 1;
  }

  // Louis's correction with the posteriors of the last E-step and the final tables.
  LouisCorrection louis(P);
  SparseScore s;
  for (const int i : subjects) {
    const int y = data.disease_status[i];
    louis.begin_subject();
    for (const int k : classes) {
      const double rho = post(i, k);
      if (rho < kPosteriorFloor) continue;
      const double* ak = design(i, k);
      s.clear();
      for (int u = 0; u < D; ++u) s.add(u, y * ak[u]);
      if (k != ref) s.add(frequency_slot(para, k), 1.0);
      const RSlot slot = r_slot(para, y, k);
      add_normal_score(s, slot, data.intensity_r[i] - R.mu[y][k], R.s2[y][k]);
      louis.add_class(E, rho, s);
    }
    louis.end_subject(E);
  }
  return finish_retrospective(loglik, ell, theta, std_errors, cov, E, V, para, control.report);
}
