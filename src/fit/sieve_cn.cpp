// Prospective sieve fit of a CN probe whose disease model holds one covariate that may
// depend on the copy number.
//
// Model: included subjects i in stratum s_i of the dependent covariate, with status y_i,
// covariate row z_i and intensity R_i; latent total class k among the present classes.
//   P(K = k | stratum s) = q[s][k]  (the sieve: free within each stratum)
//   P(Y = 1 | K = k, z_i) = p_ik = expit(beta . a(k, z_i))
//   R | K = k, Y = y ~ N(mu[g][k], sigma2[g][k]),   g = y * differential_measurement_errors
//   l(theta, q) = sum_i log sum_k q[s_i][k] P(y_i | p_ik) phi(R_i; mu, sigma2)
// theta: beta (intercept included), R means, R log-variances; q outside the vector.
// Iteration: E-step posteriors r[i][k]; closed-form M-step q[s][k] = sum r / n_s; one
// Newton step on theta with the complete-data information; stop when the relative change
// of l is at most the tolerance (fail after 2000 steps).
// Finish: Louis's correction over theta and the free sieve probabilities, the latter
// appended after the vector, stratum by stratum, for each non-reference class; the
// reference probability is one minus the others. A slot is free when its class is
// modelled and its estimate is above 0; the others are fixed (zero rows and columns).
// V = E^-1 over the free positions gives the covariance.

#include <cmath>
#include <vector>

#include "fit/em_steps.h"
#include "fit/fit.h"
#include "fit/helpers.h"
#include "fit/strata.h"

namespace {

constexpr int kClasses = 3;

double expit(double eta) { return std::exp(eta) / (std::exp(eta) + 1.0); }

// P(y | p)
double status_probability(int y, double p) { return (1.0 - p) * (1 - y) + y * p; }

}  // namespace

int fit_pro_KZ_sieve(double& loglik, int& iterations, double* params, double* std_errors,
                     const DMatrix& cov, const DATA& data, PARA& para) {
  return fit_pro_KZ_sieve(loglik, iterations, params, std_errors, cov, data, para, FitControl{});
}

int fit_pro_KZ_sieve(double& loglik, int& iterations, double* params, double* std_errors,
                     const DMatrix& cov, const DATA& data, PARA& para, const FitControl& control) {
  iterations = 0;
  const int P = para.num_params;
  const int D = para.num_disease_coefs;
  const int ref = para.ref_cn_class;
  // The reference probability is one minus the others: without the reference class the
  // modelled probabilities of a stratum are tied to each other and cannot all be free.
  if (reference_cn_class_missing(para)) return 1;
  double* theta = params;
  const DMatrix& E = cov;

  const int n = data.num_subjects;
  const std::vector<int> classes = present_cn_classes(para);
  std::vector<int> subjects;
  if (!included_subjects(data, subjects)) return 1;
  if (subjects.empty() || classes.empty()) return 1;

  const Strata strata = form_strata(data, para.num_dependent_columns);
  const int S = strata.count();
  const int A = (kClasses - 1) * S;
  // Every position, sieve slots included, must fit the caller's 1..200 matrix.
  if (P + A > kMaxParams) return 1;
  const auto sieve_position = [&](int s, int k) {  // 0-based, k != ref
    return P + s * (kClasses - 1) + (k < ref ? k : k - 1);
  };

  const std::vector<double> a = cn_design_table(data, para, subjects, classes);
  const auto design = [&](int i, int k) {
    return &a[(static_cast<std::size_t>(i) * kClasses + k) * D];
  };
  const auto at = [](int i, int k) { return static_cast<std::size_t>(i) * kClasses + k; };

  std::vector<double> q(static_cast<std::size_t>(S) * kClasses, 1.0 / kClasses);
  const auto sieve = [&](int s, int k) -> double& {
    return q[static_cast<std::size_t>(s) * kClasses + k];
  };
  std::vector<double> r(static_cast<std::size_t>(n) * kClasses, 0.0);
  std::vector<double> p(static_cast<std::size_t>(n) * kClasses, 0.0);
  std::vector<double> U(static_cast<std::size_t>(P + A));
  std::vector<double> delta(static_cast<std::size_t>(P));
  DMatrix V = dmatrix(1, P + A, 1, P + A);

  const auto compute_p = [&]() {
    for (const int i : subjects)
      for (const int k : classes) {
        const double* ak = design(i, k);
        double eta = 0.0;
        for (int u = 0; u < D; ++u) eta += theta[u] * ak[u];
        p[at(i, k)] = expit(eta);
      }
  };
  IntensityTables R;
  const auto joint = [&](int i, int k) {  // q P(y | p) phi for subject i and class k
    const int y = data.disease_status[i];
    return sieve(strata.stratum_of[i], k) * status_probability(y, p[at(i, k)]) * R.density(i, k);
  };

  compute_p();
  R.update(theta, para, data, subjects, classes);
  double ell_previous = 1.0;
  double ell = 2.0;
  while (!(std::fabs((ell - ell_previous) / ell_previous) <= control.loglik_tolerance)) {
    // E-step.
    for (const int i : subjects) {
      double sum = 0.0;
      for (const int k : classes) sum += (r[at(i, k)] = joint(i, k));
      for (const int k : classes) r[at(i, k)] /= sum;
    }

    // Score, complete-data information and the sieve's sufficient statistics.
    for (int u = 0; u < P + A; ++u) U[u] = 0.0;
    clear_square(E, P + A);
    for (int s = 0; s < S; ++s)
      for (const int k : classes) sieve(s, k) = 0.0;
    for (const int i : subjects) {
      const int y = data.disease_status[i];
      for (const int k : classes) {
        const double rho = r[at(i, k)];
        if (rho < kPosteriorFloor) continue;
        const double* ak = design(i, k);
        const double pik = p[at(i, k)];
        sieve(strata.stratum_of[i], k) += rho;
        for (int u = 0; u < D; ++u) {
          U[u] += rho * ak[u] * (y - pik);
          for (int v = u; v < D; ++v) E[u + 1][v + 1] += rho * pik * (1.0 - pik) * ak[u] * ak[v];
        }
        const RSlot slot = r_slot(para, y, k);
        const double s2 = R.s2[y][k];
        add_normal_terms(U.data(), E, slot.mean, slot.logvar, rho, data.intensity_r[i] - R.mu[y][k],
                         s2);
      }
    }
    // M-step of the sieve (a stratum without subjects keeps probabilities 0).
    for (int s = 0; s < S; ++s)
      if (strata.size[s] > 0)
        for (const int k : classes) sieve(s, k) /= strata.size[s];

    if (newton_step(theta, delta.data(), U.data(), E, V, para) == 1) return 1;
    compute_p();
    R.update(theta, para, data, subjects, classes);
    ell_previous = ell;
    ell = 0.0;
    for (const int i : subjects) {
      double sum = 0.0;
      for (const int k : classes) sum += joint(i, k);
      ell += std::log(sum);
    }
    if (++iterations >= control.max_iterations) return 1;
  }

  // The free sieve slots; a stratum whose reference class has probability 0 leaves the
  // others without their complement.
  std::vector<char> free_slot(static_cast<std::size_t>(A), 0);
  for (int s = 0; s < S; ++s) {
    if (strata.size[s] == 0) continue;
    if (!(sieve(s, ref) > 0.0)) return 1;
    for (const int k : classes)
      if (k != ref && sieve(s, k) > 0.0) free_slot[sieve_position(s, k) - P] = 1;
  }

  // Louis's correction over theta and the free sieve slots.
  LouisCorrection louis(P + A);
  SparseScore d;
  for (const int i : subjects) {
    const int y = data.disease_status[i];
    const int s = strata.stratum_of[i];
    louis.begin_subject();
    for (const int k : classes) {
      const double rho = r[at(i, k)];
      if (rho < kPosteriorFloor) continue;
      const double* ak = design(i, k);
      const double pik = p[at(i, k)];
      d.clear();
      for (int u = 0; u < D; ++u) d.add(u, ak[u] * (y - pik));
      // Complete-data score and information of the stratum's probabilities given class k:
      // log q[s][k] with q[s][ref] = 1 - sum of the others.
      if (k != ref) {
        const int x = sieve_position(s, k);
        if (free_slot[x - P]) {
          const double qk = sieve(s, k);
          E[x + 1][x + 1] += rho / (qk * qk);
          d.add(x, 1.0 / qk);
        }
      } else {
        const double qr = sieve(s, ref);
        for (const int kx : classes) {
          if (kx == ref || !free_slot[sieve_position(s, kx) - P]) continue;
          const int x = sieve_position(s, kx);
          for (const int kz : classes) {
            if (kz == ref || !free_slot[sieve_position(s, kz) - P]) continue;
            const int z = sieve_position(s, kz);
            if (x <= z) E[x + 1][z + 1] += rho / (qr * qr);
          }
          d.add(x, -1.0 / qr);
        }
      }
      const RSlot slot = r_slot(para, y, k);
      add_normal_score(d, slot, data.intensity_r[i] - R.mu[y][k], R.s2[y][k]);
      louis.add_class(E, rho, d);
    }
    louis.end_subject(E);
  }

  // Invert over theta and the free sieve slots, then restore the vector's counts.
  const int saved_free = para.num_free_params;
  for (int x = 0; x < A; ++x)
    if (free_slot[x]) para.free_params[++para.num_free_params] = P + x + 1;
  para.num_params = P + A;
  int status = invert_observed_information(E, V, para);
  if (status == 0) record_finish(control.report, E, V, para);
  para.num_params = P;
  para.num_free_params = saved_free;
  if (status == 1) return 1;

  if (control.report != nullptr) {
    control.report->num_strata = S;
    control.report->sieve_q = q;
  }
  hand_over_covariance(std_errors, P, cov, V, para);
  loglik = ell;
  return 0;
}
