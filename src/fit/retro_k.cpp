// Retrospective fit of a CN probe without covariates.
//
// Model: included subjects i with status y_i and intensity R_i; latent total class k among
// the present classes; class weights e_ref = 1, e_k = exp(alpha_k); eta_k = beta . a(k).
//   P(K = k | Y = y) = w[y][k] / W[y],   w[y][k] = e_k exp(y eta_k),  W[y] = sum_k w[y][k]
//   R | K = k, Y = y ~ N(mu[g][k], sigma2[g][k]),   g = y * differential_measurement_errors
//   l(theta) = sum_i log sum_k w[y_i][k] / W[y_i] phi(R_i; mu, sigma2)
// theta: beta (disease block), alpha (frequency log-ratios), R means, R log-variances.
// Iteration: E-step posteriors r[i][k]; score U and complete-data information E of the
// expected complete-data log-likelihood; one Newton step theta += E^-1 U over the free
// parameters; stop when no step entry exceeds the tolerance (fail after 2000 steps, or as
// soon as the cluster means leave their order). Finish: Louis's correction, V = E^-1,
// standard errors, log-ratios back-transformed to class frequencies.

#include <cmath>
#include <vector>

#include "fit/em_steps.h"
#include "fit/fit.h"
#include "fit/helpers.h"
#include "checks/cluster_checks.h"
#include "numeric/vector_ops.h"

namespace {

constexpr int kClasses = 3;

// Model tables of the current theta.
struct Tables {
  double w[2][kClasses] = {};
  double W[2] = {};
  double pi[kClasses] = {};  // class frequencies (H)
  double g[kClasses] = {};   // class probabilities among cases (G)
};

void compute_tables(Tables& t, const double* theta, const std::vector<int>& classes,
                    const std::vector<std::vector<double>>& a, const PARA& para) {
  const int D = para.num_disease_coefs;
  double d = 0.0;
  t.W[0] = t.W[1] = 0.0;
  for (const int k : classes) {
    const double e = k == para.ref_cn_class ? 1.0 : std::exp(theta[frequency_slot(para, k)]);
    double eta = 0.0;
    for (int u = 0; u < D; ++u) eta += theta[u] * a[k][u];
    t.w[0][k] = e;
    t.w[1][k] = e * std::exp(eta);
    t.W[0] += t.w[0][k];
    t.W[1] += t.w[1][k];
    d += e;
  }
  for (const int k : classes) {
    t.pi[k] = t.w[0][k] / d;
    t.g[k] = t.w[1][k] / t.W[1];
  }
}

double log_likelihood(const Tables& t, const IntensityTables& R, const std::vector<int>& subjects,
                      const std::vector<int>& classes, const DATA& data) {
  double ell = 0.0;
  for (const int i : subjects) {
    const int y = data.disease_status[i];
    double sum = 0.0;
    for (const int k : classes) {
      sum += R.density(i, k) * t.w[y][k] / t.W[y];
    }
    ell += std::log(sum);
  }
  return ell;
}

}  // namespace

int fit_retro_K(double& loglik, int& iterations, double* params, double* std_errors,
                const DMatrix& cov, const DATA& data, PARA& para) {
  return fit_retro_K(loglik, iterations, params, std_errors, cov, data, para, FitControl{});
}

int fit_retro_K(double& loglik, int& iterations, double* params, double* std_errors,
                const DMatrix& cov, const DATA& data, PARA& para, const FitControl& control) {
  iterations = 0;
  const int P = para.num_params;
  const int D = para.num_disease_coefs;
  const int ref = para.ref_cn_class;
  if (P > kMaxParams || reference_cn_class_missing(para)) return 1;
  double* theta = params;
  const DMatrix& E = cov;

  const std::vector<int> classes = present_cn_classes(para);
  std::vector<int> subjects;
  if (!included_subjects(data, subjects)) return 1;
  std::vector<std::vector<double>> a(kClasses, std::vector<double>(static_cast<std::size_t>(D)));
  for (int k = 0; k < kClasses; ++k) Avec(a[k].data(), k, 0, nullptr, para);

  const int n = data.num_subjects;
  std::vector<double> r(static_cast<std::size_t>(n) * kClasses, 0.0);
  const auto post = [&](int i, int k) -> double& {
    return r[static_cast<std::size_t>(i) * kClasses + k];
  };
  std::vector<double> U(static_cast<std::size_t>(P));
  std::vector<double> delta(static_cast<std::size_t>(P), 1.0);
  std::vector<double> F(static_cast<std::size_t>(D));
  double G[kClasses];
  double H[kClasses];
  DMatrix V = dmatrix(1, P, 1, P);

  Tables t;
  IntensityTables R;
  compute_tables(t, theta, classes, a, para);
  R.update(theta, para, data, subjects, classes);
  double ell = 0.0;

  while (max(delta.data(), P) > control.step_tolerance) {
    // E-step.
    double n_case = 0.0;
    double n_ctrl = 0.0;
    for (const int i : subjects) {
      const int y = data.disease_status[i];
      double sum = 0.0;
      for (const int k : classes) {
        post(i, k) = t.w[y][k] * R.density(i, k);
        sum += post(i, k);
      }
      for (const int k : classes) post(i, k) /= sum;
      n_case += y;
      n_ctrl += 1 - y;
    }

    // Score and complete-data information.
    for (int u = 0; u < P; ++u) U[u] = 0.0;
    clear_square(E, P);
    for (int u = 0; u < D; ++u) F[u] = 0.0;
    for (int k = 0; k < kClasses; ++k) G[k] = H[k] = 0.0;
    for (const int k : classes) {
      const std::vector<double>& ak = a[k];
      const int j = k != ref ? frequency_slot(para, k) : -1;
      if (k != ref) {
        H[k] = t.pi[k];
        E[j + 1][j + 1] += n_ctrl * t.pi[k];
        G[k] = t.g[k];
        E[j + 1][j + 1] += n_case * t.g[k];
      }
      for (int u = 0; u < D; ++u) {
        F[u] += t.g[k] * ak[u];
        for (int v = u; v < D; ++v) E[u + 1][v + 1] += n_case * t.g[k] * ak[u] * ak[v];
        if (k != ref) E[u + 1][j + 1] += n_case * t.g[k] * ak[u];
      }
      for (const int i : subjects) {
        const double rho = post(i, k);
        if (rho < kPosteriorFloor) continue;
        const int y = data.disease_status[i];
        for (int u = 0; u < D; ++u) U[u] += rho * y * ak[u];
        if (k != ref) U[j] += rho;
        const RSlot slot = r_slot(para, y, k);
        const double s2 = R.s2[y][k];
        add_normal_terms(U.data(), E, slot.mean, slot.logvar, rho, data.intensity_r[i] - R.mu[y][k],
                         s2);
      }
    }
    // Expected parts: the derivatives of log W[y].
    for (int u = 0; u < D; ++u) {
      U[u] -= n_case * F[u];
      for (int v = u; v < D; ++v) E[u + 1][v + 1] -= n_case * F[u] * F[v];
      for (const int k : classes)
        if (k != ref) E[u + 1][frequency_slot(para, k) + 1] -= n_case * F[u] * G[k];
    }
    for (const int k : classes) {
      if (k == ref) continue;
      const int j = frequency_slot(para, k);
      U[j] -= n_ctrl * H[k] + n_case * G[k];
      for (const int kk : classes) {
        if (kk == ref) continue;
        const int jj = frequency_slot(para, kk);
        if (jj >= j) E[j + 1][jj + 1] -= n_ctrl * H[k] * H[kk] + n_case * G[k] * G[kk];
      }
    }

    if (newton_step(theta, delta.data(), U.data(), E, V, para) == 1) return 1;
    if (check_cluster_means_CN(theta, para) == 1) return 1;
    compute_tables(t, theta, classes, a, para);
    R.update(theta, para, data, subjects, classes);
    ell = log_likelihood(t, R, subjects, classes, data);
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
      s.clear();
      for (int u = 0; u < D; ++u) s.add(u, y * a[k][u]);
      if (k != ref) s.add(frequency_slot(para, k), 1.0);
      const RSlot slot = r_slot(para, y, k);
      add_normal_score(s, slot, data.intensity_r[i] - R.mu[y][k], R.s2[y][k]);
      louis.add_class(E, rho, s);
    }
    louis.end_subject(E);
  }
  return finish_retrospective(loglik, ell, theta, std_errors, cov, E, V, para, control.report);
}
