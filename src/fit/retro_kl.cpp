// Retrospective fit of one SNP probe whose disease model has no covariate.
//
// Model. Subject i (status y_i, R intensity x_i, B intensity b_i) carries a latent class
// c = (k, l): k copies, l of them B alleles.
//   P(c | y) = w_y(c) / S_y,   w_y(c) = e_k C(k, l) p_B^l (1 - p_B)^(k - l) exp(y beta'A(c)),
//   e_ref = 1, e_k = exp(alpha_k), p_B = 1 / (1 + exp(-gamma)), S_y = sum over modelled c;
//   f_i(c) = phi(x_i; mu_R, s2_R) g_i(c), the R kernel times the B factor (allele_model.h);
//   l(theta) = sum_i log sum_c f_i(c) P(c | y_i).
// Iteration (EM with one Newton step). E-step r[i][c] proportional to P(c | y_i) f_i(c).
//   U and E are the score and the negative Hessian of the expected complete-data
//   log-likelihood sum_i sum_c r[i][c] (log P(c | y_i) + log f_i(c)); the normaliser part
//   -n_y log S_y of each status is taken with the exact probabilities P(c | y) over the
//   modelled classes, so a class left out of a modelled level keeps the controls'
//   normaliser dependent on alpha and gamma. Newton step theta += V U with V the inverse of E
//   over the free parameters. Stop when the relative change of l is within its tolerance
//   and no step entry exceeds the step tolerance.
// Finish. Louis's correction turns E into the observed information; its inverse over the
//   free parameters is the covariance; alpha and gamma are reported as frequencies.

#include <cmath>
#include <vector>

#include "fit/allele_fits.h"
#include "fit/allele_model.h"
#include "fit/em_terms.h"
#include "fit/fit.h"
#include "fit/helpers.h"
#include "numeric/vector_ops.h"

namespace {

struct Model {
  const PARA& para;
  const std::vector<AlleleClass>& classes;
  const std::vector<std::vector<double>>& design;  // A(c) per class
  double p_B = 0.5;
  std::vector<double> prob[2];                     // P(c | y)
  std::vector<Cluster> cluster[2];

  void update(const double* theta) {
    const int C = static_cast<int>(classes.size());
    p_B = 1.0 / (1.0 + std::exp(-theta[para.r_mean_start - 1]));
    for (int y = 0; y < 2; ++y) {
      prob[y].resize(C);
      cluster[y].resize(C);
      double S = 0.0;
      for (int c = 0; c < C; ++c) {
        const AlleleClass& cls = classes[c];
        double eta = 0.0;
        for (int u = 0; u < para.num_disease_coefs; ++u) eta += theta[u] * design[c][u];
        const double e_k = cls.slot < 0 ? 1.0 : std::exp(theta[cls.slot]);
        prob[y][c] = e_k * binomial_weight(cls.k, cls.l, p_B, para) * std::exp(y * eta);
        S += prob[y][c];
        cluster[y][c] = cluster_of(theta, cls, y);
      }
      for (int c = 0; c < C; ++c) prob[y][c] /= S;
    }
  }

  // Sufficient statistic of (y, c) over the head positions: y A(c), the indicator of
  // alpha_k, and delta(c) = l - k p_B.
  void statistic(double* t, int y, int c) const {
    const int H = para.r_mean_start;
    for (int u = 0; u < H; ++u) t[u] = 0.0;
    for (int u = 0; u < para.num_disease_coefs; ++u) t[u] = y * design[c][u];
    if (classes[c].slot >= 0) t[classes[c].slot] = 1.0;
    t[H - 1] = classes[c].l - classes[c].k * p_B;
  }
};

}  // namespace

int fit_retro_KL(double& loglik, int& iterations, double* params, double* std_errors,
                 const DMatrix& cov, const DATA& data, PARA& para, const FitControl& control) {
  iterations = 0;
  const int P = para.num_params;
  if (P < 1 || P > kMaxParams) return 1;
  const int H = para.r_mean_start;
  const int gamma = H - 1;
  const char array_type = para.array_type;

  std::vector<double> scratch(static_cast<std::size_t>(P), 0.0);
  const std::vector<AlleleClass> classes = modelled_allele_classes(para, scratch.data());
  const int C = static_cast<int>(classes.size());
  // Without the reference level the frequency log-ratios are not identified.
  if (C == 0 || para.cn_class_present[para.ref_cn_class] != 1) return 1;
  std::vector<std::vector<double>> design(static_cast<std::size_t>(C));
  for (int c = 0; c < C; ++c) {
    Avec(scratch.data(), classes[c].k, classes[c].l, nullptr, para);
    design[c].assign(scratch.begin(), scratch.begin() + para.num_disease_coefs);
  }

  std::vector<int> subjects;
  if (!included_subjects(data, subjects)) return 1;
  double n_status[2] = {0.0, 0.0};
  for (const int i : subjects) n_status[data.disease_status[i]] += 1.0;
  const int n = static_cast<int>(subjects.size());

  Model model{para, classes, design, 0.5, {}, {}};
  ClassDensities density;
  // The model tables and the class densities at theta.
  auto update = [&](const double* theta) {
    model.update(theta);
    density.update(model.cluster, classes, subjects, data, array_type);
  };
  update(params);
  auto log_likelihood = [&]() {
    double l = 0.0;
    for (int a = 0; a < n; ++a) {
      const int y = data.disease_status[subjects[a]];
      double sum = 0.0;
      for (int c = 0; c < C; ++c) sum += model.prob[y][c] * density.at(a, c);
      l += std::log(sum);
    }
    return l;
  };

  std::vector<double> r(static_cast<std::size_t>(n) * C, 0.0);
  std::vector<double> U(static_cast<std::size_t>(P), 0.0);
  std::vector<double> step(static_cast<std::size_t>(P), 0.0);
  std::vector<double> t(static_cast<std::size_t>(H), 0.0);
  DMatrix V = dmatrix(1, P, 1, P);
  const DMatrix& E = cov;
  NormaliserTerms normaliser(H);
  double l_prev = 2.0;
  double l = 0.0;

  for (;;) {
    // E-step.
    for (int a = 0; a < n; ++a) {
      const int i = subjects[a];
      const int y = data.disease_status[i];
      double sum = 0.0;
      for (int c = 0; c < C; ++c) {
        double& w = r[static_cast<std::size_t>(a) * C + c];
        w = model.prob[y][c] * density.at(a, c);
        sum += w;
      }
      for (int c = 0; c < C; ++c) r[static_cast<std::size_t>(a) * C + c] /= sum;
    }

    // Score and complete-data information.
    for (int u = 0; u < P; ++u) U[u] = 0.0;
    for (int u = 1; u <= P; ++u)
      for (int v = 1; v <= P; ++v) E[u][v] = 0.0;
    for (int y = 0; y < 2; ++y) {
      normaliser.begin();
      for (int c = 0; c < C; ++c) {
        model.statistic(t.data(), y, c);
        normaliser.add(U.data(), E, n_status[y], model.prob[y][c], t.data(), classes[c].k);
      }
      normaliser.end(E, n_status[y], gamma, model.p_B);
    }
    const double binomial_var = model.p_B * (1.0 - model.p_B);
    for (int c = 0; c < C; ++c) {
      for (int a = 0; a < n; ++a) {
        const double rho = r[static_cast<std::size_t>(a) * C + c];
        if (rho < kPosteriorFloor) continue;
        const int i = subjects[a];
        const int y = data.disease_status[i];
        model.statistic(t.data(), y, c);
        for (int u = 0; u < H; ++u) U[u] += rho * t[u];
        E[gamma + 1][gamma + 1] += rho * classes[c].k * binomial_var;
        add_intensity_terms(U.data(), E, classes[c], model.cluster[y][c], y, data.intensity_r[i],
                            data.intensity_b[i], array_type, rho);
      }
    }

    // Newton step over the free parameters (E mirrored there).
    if (newton_step(params, step.data(), U.data(), E, V, para) == 1) return 1;

    update(params);
    l = log_likelihood();
    ++iterations;
    if (iterations == control.max_iterations) return 1;
    // The log-likelihood lacks its constant, so its relative change has no fixed scale:
    // on a probe with tight clusters it reaches the tolerance while the estimates still
    // move, and Louis's correction at such a point need not be positive definite. The
    // fit also waits for the step to come down.
    const bool moving = std::fabs((l - l_prev) / l_prev) > control.loglik_tolerance ||
                        max(step.data(), P) > control.step_tolerance;
    if (moving)
      l_prev = l;
    else
      break;
  }

  // Louis's correction with the last posteriors and the final parameters.
  LouisCorrection louis(P);
  SparseScore s;
  for (int a = 0; a < n; ++a) {
    const int i = subjects[a];
    const int y = data.disease_status[i];
    louis.begin_subject();
    for (int c = 0; c < C; ++c) {
      const double rho = r[static_cast<std::size_t>(a) * C + c];
      if (rho < kPosteriorFloor) continue;
      s.clear();
      model.statistic(t.data(), y, c);
      for (int u = 0; u < H; ++u)
        if (t[u] != 0.0) s.add(u, t[u]);
      add_intensity_score(s, classes[c], model.cluster[y][c], y, data.intensity_r[i], data.intensity_b[i],
                          array_type);
      louis.add_class(E, rho, s);
    }
    louis.end_subject(E);
  }

  return finish_retro_allele(loglik, l, params, std_errors, cov, V, para, control.report);
}

int fit_retro_KL(double& loglik, int& iterations, double* params, double* std_errors,
                 const DMatrix& cov, const DATA& data, PARA& para) {
  return fit_retro_KL(loglik, iterations, params, std_errors, cov, data, para, retro_KL_control());
}
