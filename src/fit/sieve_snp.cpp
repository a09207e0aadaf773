// Prospective sieve fit of one SNP probe whose disease model has one covariate that may
// depend on the copy number.
//
// Model. Subject i (status y_i, covariate row z_i, intensities x_i, b_i) lies in stratum
// s(i) of the dependent covariate (strata.h) and carries a latent class c = (k, l) with
// probability q[s(i)][c], free in every stratum (the sieve). The disease model is logistic:
//   p_i(c) = 1 / (1 + exp(-beta'A(k, l, z_i))), the disease factor p_i(c) for a case and
//   1 - p_i(c) for a control; f_i(c) = phi(x_i; mu_R, s2_R) g_i(c) (allele_model.h);
//   l(theta, q) = sum_i log sum_c f_i(c) (disease factor) q[s(i)][c].
// Iteration (EM). E-step r[i][c] proportional to q[s(i)][c] f_i(c) (disease factor). The
//   sieve gets its closed-form update q[s][c] = sum of r over the stratum / n_s; beta and
//   the intensity parameters one Newton step with the complete-data information. Stop
//   when the relative change of l is within the tolerance.
// Finish. Louis's correction over the parameter vector extended by the sieve
//   probabilities q[s][c] of the non-reference classes (the reference class AB holds one
//   minus the others). Only the probabilities of modelled classes that are above 0 in
//   their stratum are free; a class with probability 0 sits on the boundary and is held
//   there, as are the slots of unmodelled classes. Complete-data score of q[s][j] given
//   class c: 1/q[s][j] when c = j, -1/q[s][ref] when c = ref, 0 otherwise; complete-data
//   information 1/q[s][j]^2 at (j, j) for c = j and 1/q[s][ref]^2 at every pair of the
//   stratum's free slots for c = ref. A stratum whose reference class has probability 0
//   fails the fit; a stratum left empty by the quantile binning has no term in the
//   likelihood and no free slot.

#include <cmath>
#include <vector>

#include "fit/allele_fits.h"
#include "fit/allele_model.h"
#include "fit/em_terms.h"
#include "fit/fit.h"
#include "fit/helpers.h"
#include "fit/strata.h"

namespace {
// Restores num_params and num_free_params of PARA when the extended inversion is done.
class ExtendedLayout {
 public:
  explicit ExtendedLayout(PARA& para)
      : para_(para), num_params_(para.num_params), num_free_(para.num_free_params) {}
  ExtendedLayout(const ExtendedLayout&) = delete;
  ExtendedLayout& operator=(const ExtendedLayout&) = delete;
  ~ExtendedLayout() {
    para_.num_params = num_params_;
    para_.num_free_params = num_free_;
  }

 private:
  PARA& para_;
  int num_params_;
  int num_free_;
};
}  // namespace

int fit_pro_KLZ_sieve(double& loglik, int& iterations, double* params, double* std_errors,
                      const DMatrix& cov, const DATA& data, PARA& para, const FitControl& control) {
  iterations = 0;
  const int P = para.num_params;
  if (P < 1 || P > kMaxParams) return 1;
  const int ndc = para.num_disease_coefs;
  const int M = para.num_allele_classes;
  const int ref = para.ref_allele_class;
  const char array_type = para.array_type;

  std::vector<double> scratch(static_cast<std::size_t>(P), 0.0);
  const std::vector<AlleleClass> classes = modelled_allele_classes(para, scratch.data());
  const int C = static_cast<int>(classes.size());
  if (C == 0) return 1;

  const Strata strata = form_strata(data, para.num_dependent_columns);
  const int S = strata.count();
  if (S == 0) return 1;  // no included subject
  const int Q = (M - 1) * S;
  // The extended information lives in the caller's 1..200 matrix.
  if (P + Q > kMaxParams) return 1;
  auto sieve_position = [&](int s, int c) { return P + s * (M - 1) + (c < ref ? c : c - 1); };

  std::vector<int> subjects;
  if (!included_subjects(data, subjects)) return 1;
  const int n = static_cast<int>(subjects.size());
  auto at = [C](int a, int c) { return static_cast<std::size_t>(a) * C + c; };

  const std::vector<double> design = allele_design_table(data, para, subjects, classes, scratch.data());

  // Sieve distributions over the modelled classes (index into `classes`).
  std::vector<double> q(static_cast<std::size_t>(S) * C, 1.0 / M);
  auto sieve = [&](int s, int c) -> double& { return q[static_cast<std::size_t>(s) * C + c]; };

  // Model tables: p_i(c), the cluster parameters and the class densities.
  std::vector<double> p(at(n, 0), 0.5);
  std::vector<Cluster> cluster[2] = {std::vector<Cluster>(C), std::vector<Cluster>(C)};
  ClassDensities density;
  auto update = [&]() {
    for (int c = 0; c < C; ++c)
      for (int y = 0; y < 2; ++y) cluster[y][c] = cluster_of(params, classes[c], y);
    for (int a = 0; a < n; ++a)
      for (int c = 0; c < C; ++c) {
        double eta = 0.0;
        for (int u = 0; u < ndc; ++u) eta += params[u] * design[at(a, c) * ndc + u];
        p[at(a, c)] = 1.0 / (1.0 + std::exp(-eta));
      }
    density.update(cluster, classes, subjects, data, array_type);
  };
  auto term = [&](int a, int c) {  // f_i(c) times the disease factor
    const int i = subjects[a];
    const int y = data.disease_status[i];
    const double disease = y == 1 ? p[at(a, c)] : 1.0 - p[at(a, c)];
    return disease * density.at(a, c);
  };
  auto log_likelihood = [&]() {
    double l = 0.0;
    for (int a = 0; a < n; ++a) {
      const int s = strata.stratum_of[subjects[a]];
      double sum = 0.0;
      for (int c = 0; c < C; ++c) sum += sieve(s, c) * term(a, c);
      l += std::log(sum);
    }
    return l;
  };

  const int PQ = P + Q;
  std::vector<double> r(at(n, 0), 0.0);
  std::vector<double> U(static_cast<std::size_t>(PQ), 0.0);
  std::vector<double> step(static_cast<std::size_t>(P), 0.0);
  DMatrix V = dmatrix(1, PQ, 1, PQ);
  const DMatrix& E = cov;
  double l_prev = 2.0;
  double l = 0.0;
  update();

  for (;;) {
    // E-step.
    for (int a = 0; a < n; ++a) {
      const int s = strata.stratum_of[subjects[a]];
      double sum = 0.0;
      for (int c = 0; c < C; ++c) {
        r[at(a, c)] = sieve(s, c) * term(a, c);
        sum += r[at(a, c)];
      }
      for (int c = 0; c < C; ++c) r[at(a, c)] /= sum;
    }

    // Sieve update, score and complete-data information of the parameter vector.
    for (int u = 0; u < PQ; ++u) U[u] = 0.0;
    for (int u = 1; u <= PQ; ++u)
      for (int v = 1; v <= PQ; ++v) E[u][v] = 0.0;
    for (double& x : q) x = 0.0;
    for (int a = 0; a < n; ++a) {
      const int i = subjects[a];
      const int y = data.disease_status[i];
      for (int c = 0; c < C; ++c) {
        const double rho = r[at(a, c)];
        if (rho < kPosteriorFloor) continue;
        sieve(strata.stratum_of[i], c) += rho;
        const double pc = p[at(a, c)];
        const double* A = &design[at(a, c) * ndc];
        for (int u = 0; u < ndc; ++u) {
          U[u] += rho * (y - pc) * A[u];
          for (int v = u; v < ndc; ++v) E[u + 1][v + 1] += rho * pc * (1.0 - pc) * A[u] * A[v];
        }
        add_intensity_terms(U.data(), E, classes[c], cluster[y][c], y, data.intensity_r[i],
                            data.intensity_b[i], array_type, rho);
      }
    }
    for (int s = 0; s < S; ++s)
      if (strata.size[s] > 0)
        for (int c = 0; c < C; ++c) sieve(s, c) /= strata.size[s];

    // Newton step over the free parameters of the vector (E mirrored there).
    if (newton_step(params, step.data(), U.data(), E, V, para) == 1) return 1;

    update();
    l = log_likelihood();
    ++iterations;
    if (iterations == control.max_iterations) return 1;
    if (std::fabs((l - l_prev) / l_prev) > control.loglik_tolerance)
      l_prev = l;
    else
      break;
  }

  // Free sieve parameters. A stratum without its reference class cannot carry the others'
  // probabilities as free parameters (their sum is pinned at 1).
  int ref_index = -1;
  for (int c = 0; c < C; ++c)
    if (classes[c].c == ref) ref_index = c;
  if (ref_index < 0) return 1;
  std::vector<char> free_slot(static_cast<std::size_t>(S) * C, 0);
  std::vector<int> extra;
  for (int s = 0; s < S; ++s) {
    if (strata.size[s] == 0) continue;  // an empty stratum does not enter the likelihood
    if (!(sieve(s, ref_index) > 0.0)) return 1;
    for (int c = 0; c < C; ++c)
      if (c != ref_index && sieve(s, c) > 0.0) {
        free_slot[static_cast<std::size_t>(s) * C + c] = 1;
        extra.push_back(sieve_position(s, classes[c].c) + 1);
      }
  }
  const int F = para.num_free_params;
  if (para.free_params.hi() < F + static_cast<int>(extra.size())) return 1;

  // Louis's correction over the extended vector.
  LouisCorrection louis(PQ);
  SparseScore sc;
  for (int a = 0; a < n; ++a) {
    const int i = subjects[a];
    const int y = data.disease_status[i];
    const int s = strata.stratum_of[i];
    louis.begin_subject();
    for (int c = 0; c < C; ++c) {
      const double rho = r[at(a, c)];
      if (rho < kPosteriorFloor) continue;
      sc.clear();
      const double pc = p[at(a, c)];
      for (int u = 0; u < ndc; ++u) sc.add(u, (y - pc) * design[at(a, c) * ndc + u]);
      if (c == ref_index) {
        const double qr = sieve(s, c);
        for (int j = 0; j < C; ++j) {
          if (free_slot[static_cast<std::size_t>(s) * C + j] == 0) continue;
          const int x = sieve_position(s, classes[j].c);
          sc.add(x, -1.0 / qr);
          for (int j2 = j; j2 < C; ++j2)
            if (free_slot[static_cast<std::size_t>(s) * C + j2] == 1) {
              const int x2 = sieve_position(s, classes[j2].c);
              E[x + 1][x2 + 1] += rho / (qr * qr);
            }
        }
      } else if (free_slot[static_cast<std::size_t>(s) * C + c] == 1) {
        const double qc = sieve(s, c);
        const int x = sieve_position(s, classes[c].c);
        sc.add(x, 1.0 / qc);
        E[x + 1][x + 1] += rho / (qc * qc);
      }
      add_intensity_score(sc, classes[c], cluster[y][c], y, data.intensity_r[i], data.intensity_b[i],
                          array_type);
      louis.add_class(E, rho, sc);
    }
    louis.end_subject(E);
  }
  mirror_upper(E, PQ);

  // Inversion over the extended free list.
  int failed = 0;
  {
    const ExtendedLayout restore(para);
    for (std::size_t e = 0; e < extra.size(); ++e) para.free_params[F + 1 + static_cast<int>(e)] = extra[e];
    para.num_free_params = F + static_cast<int>(extra.size());
    para.num_params = PQ;
    failed = invert_E(V, E, para) == 1 || inproper_std(V, PQ) == 1;
    if (!failed) record_finish(control.report, E, V, para);
  }
  if (failed) return 1;

  if (control.report != nullptr) {
    control.report->num_strata = S;
    control.report->sieve_q.assign(static_cast<std::size_t>(S) * M, 0.0);
    for (int s = 0; s < S; ++s)
      for (int c = 0; c < C; ++c) control.report->sieve_q[static_cast<std::size_t>(s) * M + classes[c].c] = sieve(s, c);
  }
  hand_over_covariance(std_errors, P, cov, V, para);
  loglik = l;
  return 0;
}

int fit_pro_KLZ_sieve(double& loglik, int& iterations, double* params, double* std_errors,
                      const DMatrix& cov, const DATA& data, PARA& para) {
  return fit_pro_KLZ_sieve(loglik, iterations, params, std_errors, cov, data, para, sieve_KLZ_control());
}
