// Retrospective fit of one SNP probe whose disease model has covariates, none of them
// dependent on the copy number.
//
// Model. Subject i (status y_i, covariate row z_i, intensities x_i, b_i) carries a latent
// class c = (k, l). Status and class are modelled jointly given z_i:
//   P_i(y, c) = w_y,i(c) / Z_i,   w_0,i(c) = e_k C(k, l) p_B^l (1 - p_B)^(k - l),
//   w_1,i(c) = w_0,i(c) exp(beta'A(k, l, z_i)),   Z_i = sum over y = 0, 1 and modelled c;
//   e_ref = 1, e_k = exp(alpha_k), p_B = 1 / (1 + exp(-gamma)). Because Z_i runs over both
//   statuses, the intercept and the covariate main effects are estimated with the rest.
//   f_i(c) = phi(x_i; mu_R, s2_R) g_i(c) (allele_model.h);
//   l(theta) = sum_i log sum_c f_i(c) P_i(y_i, c).
// Iteration (EM with one Newton step). E-step r[i][c] proportional to P_i(y_i, c) f_i(c).
//   U and E: score and negative Hessian of sum_i sum_c r[i][c] (log P_i(y_i, c) + log f_i(c));
//   the normaliser part -log Z_i is formed subject by subject. Newton step theta += V U over
//   the free parameters. Stop when no step entry exceeds the tolerance.
// Finish. Louis's correction gives the observed information; its inverse over the free
//   parameters is the covariance; alpha and gamma are reported as frequencies.

#include <cmath>
#include <vector>

#include "fit/allele_fits.h"
#include "fit/allele_model.h"
#include "fit/em_terms.h"
#include "fit/fit.h"
#include "fit/helpers.h"
#include "numeric/vector_ops.h"

int fit_retro_KLZ(double& loglik, int& iterations, double* params, double* std_errors,
                  const DMatrix& cov, const DATA& data, PARA& para, const FitControl& control) {
  iterations = 0;
  const int P = para.num_params;
  if (P < 1 || P > kMaxParams) return 1;
  const int H = para.r_mean_start;
  const int gamma = H - 1;
  const int ndc = para.num_disease_coefs;
  const char array_type = para.array_type;

  std::vector<double> scratch(static_cast<std::size_t>(P), 0.0);
  const std::vector<AlleleClass> classes = modelled_allele_classes(para, scratch.data());
  const int C = static_cast<int>(classes.size());
  // Without the reference level the frequency log-ratios are not identified.
  if (C == 0 || para.cn_class_present[para.ref_cn_class] != 1) return 1;

  std::vector<int> subjects;
  if (!included_subjects(data, subjects)) return 1;
  const int n = static_cast<int>(subjects.size());
  auto at = [C](int a, int c) { return static_cast<std::size_t>(a) * C + c; };

  // Design vectors A(k, l, z_i), fixed through the fit.
  const std::vector<double> design = allele_design_table(data, para, subjects, classes, scratch.data());

  // Model tables: p_B, P_i(y, c), the cluster parameters and the class densities.
  double p_B = 0.5;
  std::vector<double> joint[2] = {std::vector<double>(at(n, 0)), std::vector<double>(at(n, 0))};
  std::vector<Cluster> cluster[2] = {std::vector<Cluster>(C), std::vector<Cluster>(C)};
  std::vector<double> prior(static_cast<std::size_t>(C));
  ClassDensities density;
  auto update = [&]() {
    p_B = 1.0 / (1.0 + std::exp(-params[gamma]));
    for (int c = 0; c < C; ++c) {
      const double e_k = classes[c].slot < 0 ? 1.0 : std::exp(params[classes[c].slot]);
      prior[c] = e_k * binomial_weight(classes[c].k, classes[c].l, p_B, para);
      for (int y = 0; y < 2; ++y) cluster[y][c] = cluster_of(params, classes[c], y);
    }
    for (int a = 0; a < n; ++a) {
      double Z = 0.0;
      for (int c = 0; c < C; ++c) {
        double eta = 0.0;
        for (int u = 0; u < ndc; ++u) eta += params[u] * design[at(a, c) * ndc + u];
        joint[0][at(a, c)] = prior[c];
        joint[1][at(a, c)] = prior[c] * std::exp(eta);
        Z += joint[0][at(a, c)] + joint[1][at(a, c)];
      }
      for (int c = 0; c < C; ++c) {
        joint[0][at(a, c)] /= Z;
        joint[1][at(a, c)] /= Z;
      }
    }
    density.update(cluster, classes, subjects, data, array_type);
  };
  // Sufficient statistic of (y, c) for subject a: y A(k, l, z_i), the indicator of
  // alpha_k, and delta(c) = l - k p_B.
  auto statistic = [&](double* t, int a, int y, int c) {
    for (int u = 0; u < H; ++u) t[u] = 0.0;
    for (int u = 0; u < ndc; ++u) t[u] = y * design[at(a, c) * ndc + u];
    if (classes[c].slot >= 0) t[classes[c].slot] = 1.0;
    t[gamma] = classes[c].l - classes[c].k * p_B;
  };
  auto log_likelihood = [&]() {
    double l = 0.0;
    for (int a = 0; a < n; ++a) {
      const int y = data.disease_status[subjects[a]];
      double sum = 0.0;
      for (int c = 0; c < C; ++c) sum += joint[y][at(a, c)] * density.at(a, c);
      l += std::log(sum);
    }
    return l;
  };

  std::vector<double> r(at(n, 0), 0.0);
  std::vector<double> U(static_cast<std::size_t>(P), 0.0);
  std::vector<double> step(static_cast<std::size_t>(P), 0.0);
  std::vector<double> t(static_cast<std::size_t>(H), 0.0);
  DMatrix V = dmatrix(1, P, 1, P);
  const DMatrix& E = cov;
  NormaliserTerms normaliser(H);
  double l = 0.0;
  update();

  for (;;) {
    // E-step.
    for (int a = 0; a < n; ++a) {
      const int y = data.disease_status[subjects[a]];
      double sum = 0.0;
      for (int c = 0; c < C; ++c) {
        r[at(a, c)] = joint[y][at(a, c)] * density.at(a, c);
        sum += r[at(a, c)];
      }
      for (int c = 0; c < C; ++c) r[at(a, c)] /= sum;
    }

    // Score and complete-data information, subject by subject.
    for (int u = 0; u < P; ++u) U[u] = 0.0;
    for (int u = 1; u <= P; ++u)
      for (int v = 1; v <= P; ++v) E[u][v] = 0.0;
    const double binomial_var = p_B * (1.0 - p_B);
    for (int a = 0; a < n; ++a) {
      const int i = subjects[a];
      const int y_i = data.disease_status[i];
      normaliser.begin();
      for (int c = 0; c < C; ++c)
        for (int y = 0; y < 2; ++y) {
          statistic(t.data(), a, y, c);
          normaliser.add(U.data(), E, 1.0, joint[y][at(a, c)], t.data(), classes[c].k);
        }
      normaliser.end(E, 1.0, gamma, p_B);
      for (int c = 0; c < C; ++c) {
        const double rho = r[at(a, c)];
        if (rho < kPosteriorFloor) continue;
        statistic(t.data(), a, y_i, c);
        for (int u = 0; u < H; ++u) U[u] += rho * t[u];
        E[gamma + 1][gamma + 1] += rho * classes[c].k * binomial_var;
        add_intensity_terms(U.data(), E, classes[c], cluster[y_i][c], y_i, data.intensity_r[i],
                            data.intensity_b[i], array_type, rho);
      }
    }

    // Newton step over the free parameters (E mirrored there).
    if (newton_step(params, step.data(), U.data(), E, V, para) == 1) return 1;

    update();
    l = log_likelihood();
    ++iterations;
    if (iterations == control.max_iterations) return 1;
    if (!(max(step.data(), P) > control.step_tolerance)) break;
  }

  // Louis's correction with the last posteriors and the final parameters.
  LouisCorrection louis(P);
  SparseScore s;
  for (int a = 0; a < n; ++a) {
    const int i = subjects[a];
    const int y = data.disease_status[i];
    louis.begin_subject();
    for (int c = 0; c < C; ++c) {
      const double rho = r[at(a, c)];
      if (rho < kPosteriorFloor) continue;
      s.clear();
      statistic(t.data(), a, y, c);
      for (int u = 0; u < H; ++u)
        if (t[u] != 0.0) s.add(u, t[u]);
      add_intensity_score(s, classes[c], cluster[y][c], y, data.intensity_r[i], data.intensity_b[i],
                          array_type);
      louis.add_class(E, rho, s);
    }
    louis.end_subject(E);
  }

  return finish_retro_allele(loglik, l, params, std_errors, cov, V, para, control.report);
}

int fit_retro_KLZ(double& loglik, int& iterations, double* params, double* std_errors,
                  const DMatrix& cov, const DATA& data, PARA& para) {
  return fit_retro_KLZ(loglik, iterations, params, std_errors, cov, data, para, retro_KLZ_control());
}
