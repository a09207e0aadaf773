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
#include <utility>
#include <vector>

#include "checks/cluster_checks.h"
#include "fit/class_models.h"
#include "fit/engine.h"
#include "fit/fit.h"
#include "fit/information.h"
#include "fit/measurement_models.h"

namespace {

constexpr int kClasses = 3;

// Per-subject model tables of the current theta.
struct Tables {
  double e[kClasses] = {};
  std::vector<double> w;  // w_ik at [i * kClasses + k]
  std::vector<double> h;  // h_i
};

// Recomputes the tables and returns l(theta).
double compute_tables(Tables& t, TotalClassMeasurement& m, const double* theta,
                      const std::vector<int>& subjects, const std::vector<int>& classes,
                      const std::vector<double>& a, const DATA& data, const PARA& para) {
  const int D = para.design().num_disease_coefs;
  for (const int k : classes)
    t.e[k] = k == para.ref_cn_class ? 1.0 : std::exp(theta[frequency_slot(para, k)]);
  m.update(theta);
  double ell = 0.0;
  const int C = static_cast<int>(classes.size());
  for (std::size_t s = 0; s < subjects.size(); ++s) {
    const int i = subjects[s];
    const int y = data.disease_status[i];
    double h = 0.0;
    double sum = 0.0;
    for (int c = 0; c < C; ++c) {
      const int k = classes[c];
      const std::size_t ik = static_cast<std::size_t>(i) * kClasses + k;
      double eta = 0.0;
      for (int u = 0; u < D; ++u) eta += theta[u] * a[ik * D + u];
      t.w[ik] = t.e[k] * std::exp(eta);
      h += t.e[k] + t.w[ik];
      sum += m.density(static_cast<int>(s), c) * (y > 0.5 ? t.w[ik] : t.e[k]);
    }
    t.h[i] = h;
    ell += std::log(sum / h);
  }
  return ell;
}

// The engine's model of the fit.
class RetroKZ {
 public:
  RetroKZ(const DATA& data, const PARA& para, std::vector<int> subjects)
      : data_(data),
        para_(para),
        subjects_(std::move(subjects)),
        classes_(present_cn_classes(para)),
        a_(cn_design_table(data, para, subjects_, classes_)),
        measurement_(data, para, subjects_) {
    const int n = data.num_subjects;
    const int B = ParamLayout(para).head();  // disease-model and frequency positions
    t_.w.assign(static_cast<std::size_t>(n) * kClasses, 0.0);
    t_.h.assign(static_cast<std::size_t>(n), 0.0);
    M1_.assign(static_cast<std::size_t>(B), 0.0);
    M2_.assign(static_cast<std::size_t>(B) * B, 0.0);
    E_head_.assign(static_cast<std::size_t>(B) * B, 0.0);
  }
  int size() const { return para_.num_params; }
  int num_subjects() const { return static_cast<int>(subjects_.size()); }
  int num_classes() const { return static_cast<int>(classes_.size()); }
  double update(const double* theta) {
    return compute_tables(t_, measurement_, theta, subjects_, classes_, a_, data_, para_);
  }
  double joint(int a, int c) const {
    const int i = subjects_[a];
    const int k = classes_[c];
    const std::size_t ik = static_cast<std::size_t>(i) * kClasses + k;
    return measurement_.density(a, c) * (data_.disease_status[i] > 0.5 ? t_.w[ik] : t_.e[k]);
  }
  bool plausible(const double* theta) const { return check_cluster_means_CN(theta, para_) != 1; }

  void accumulate(double* U, Information E, const Posteriors& r) {
    const int D = para_.design().num_disease_coefs;
    const int ref = para_.ref_cn_class;
    const int B = ParamLayout(para_).head();
    std::fill(E_head_.begin(), E_head_.end(), 0.0);
    const int N = num_subjects();
    const int C = num_classes();
    // Locals, so that the compiler keeps them out of the stores of the inner loops.
    double* const M1 = M1_.data();
    double* const M2 = M2_.data();
    double* const E_head = E_head_.data();
    const std::size_t m2_size = M2_.size();
    int slot[kClasses];
    for (int c = 0; c < C; ++c) slot[c] = classes_[c] != ref ? frequency_slot(para_, classes_[c]) : -1;
    // With its own positions per class, the measurement terms are summed class after
    // class below: the same additions to every entry in the same order.
    const bool apart = measurement_.classes_apart();
    for (int a = 0; a < N; ++a) {
      const int i = subjects_[a];
      const int y = data_.disease_status[i];
      for (int u = 0; u < B; ++u) M1[u] = 0.0;
      for (std::size_t u = 0; u < m2_size; ++u) M2[u] = 0.0;
      double h = 0.0;
      for (int c = 0; c < C; ++c) {
        const int k = classes_[c];
        const double* ak = design(i, k);
        const double wik = t_.w[static_cast<std::size_t>(i) * kClasses + k];
        const double rho = r(a, c);
        const int j = slot[c];
        for (int u = 0; u < D; ++u) {
          U[u] += y * rho * ak[u];
          M1[u] += wik * ak[u];
          for (int v = u; v < D; ++v)
            M2[static_cast<std::size_t>(u) * B + v] += wik * ak[u] * ak[v];
          if (k != ref) M2[static_cast<std::size_t>(u) * B + j] += wik * ak[u];
        }
        if (k != ref) {
          U[j] += rho;
          M1[j] += t_.e[k] + wik;
          M2[static_cast<std::size_t>(j) * B + j] += t_.e[k] + wik;
        }
        if (!apart) measurement_.add_terms(U, E, a, c, rho);
        h += t_.e[k] + wik;
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
      for (int v = u; v < B; ++v) E(u, v) += E_head[static_cast<std::size_t>(u) * B + v];
    // Every subject's terms of every class, class after class (no floor here).
    if (apart)
      for (int c = 0; c < C; ++c) measurement_.add_class_terms(U, E, c, r.column(c), 0.0);
  }

  Outcome prepare_louis(const Posteriors&) const { return Outcome::kOk; }
  void complete_scores(int a, Information E, const Posteriors& r, SparseScore& s,
                       LouisCorrection& louis) const {
    const int D = para_.design().num_disease_coefs;
    const int i = subjects_[a];
    const int y = data_.disease_status[i];
    const int C = num_classes();
    for (int c = 0; c < C; ++c) {
      const double rho = r(a, c);
      if (rho < kPosteriorFloor) continue;
      const int k = classes_[c];
      const double* ak = design(i, k);
      s.clear();
      for (int u = 0; u < D; ++u) s.add(u, y * ak[u]);
      if (k != para_.ref_cn_class) s.add(frequency_slot(para_, k), 1.0);
      measurement_.add_score(s, a, c);
      louis.add_class(E, rho, s);
    }
  }
  Outcome finish(FitResult& result, Matrix& E, Matrix& V, FitReport* report) const {
    return finish_retrospective(result, E, V, para_, report);
  }

 private:
  const double* design(int i, int k) const {
    return &a_[(static_cast<std::size_t>(i) * kClasses + k) * para_.design().num_disease_coefs];
  }
  const DATA& data_;
  const PARA& para_;
  std::vector<int> subjects_;
  std::vector<int> classes_;
  std::vector<double> a_;
  std::vector<double> M1_, M2_, E_head_;  // per-subject moments of the head positions
  Tables t_;
  TotalClassMeasurement measurement_;
};

}  // namespace

FitResult fit_retro_KZ(const double* start, const DATA& data, const PARA& para) {
  return fit_retro_KZ(start, data, para, FitControl{});
}

FitResult fit_retro_KZ(const double* start, const DATA& data, const PARA& para,
                       const FitControl& control) {
  if (para.num_params > kMaxParams) return failed_fit(Outcome::kTooManyParameters);
  if (reference_cn_class_missing(para)) return failed_fit(Outcome::kNoReferenceClass);
  std::vector<int> subjects;
  if (const Outcome selected = select_fit_subjects(data, subjects); selected != Outcome::kOk)
    return failed_fit(selected);
  RetroKZ model(data, para, std::move(subjects));
  return run_engine(model, start, para, control, StoppingRule::kLargestStep);
}
