// Retrospective fit of one SNP probe whose disease model has covariates, none of them
// dependent on the copy number.
//
// Model. Subject i (status y_i, covariate row z_i, intensities x_i, b_i) carries a latent
// class c = (k, l). Status and class are modelled jointly given z_i:
//   P_i(y, c) = w_y,i(c) / Z_i,   w_0,i(c) = e_k C(k, l) p_B^l (1 - p_B)^(k - l),
//   w_1,i(c) = w_0,i(c) exp(beta'A(k, l, z_i)),   Z_i = sum over y = 0, 1 and modelled c;
//   e_ref = 1, e_k = exp(alpha_k), p_B = 1 / (1 + exp(-gamma)). Because Z_i runs over both
//   statuses, the intercept and the covariate main effects are estimated with the rest.
//   f_i(c) = phi(x_i; mu_R, s2_R) g_i(c) (measurement_models.h);
//   l(theta) = sum_i log sum_c f_i(c) P_i(y_i, c).
// Iteration (EM with one Newton step). E-step r[i][c] proportional to P_i(y_i, c) f_i(c).
//   U and E: score and negative Hessian of sum_i sum_c r[i][c] (log P_i(y_i, c) + log f_i(c));
//   the normaliser part -log Z_i is formed subject by subject. Newton step theta += delta, E delta
//   = U solved over the free parameters. Stop when no step entry exceeds the tolerance.
// Finish. Louis's correction gives the observed information; its inverse over the free
//   parameters is the covariance; alpha and gamma are reported as frequencies.

#include <cmath>
#include <utility>
#include <vector>

#include "fit/class_models.h"
#include "fit/cluster_guard.h"
#include "fit/engine.h"
#include "fit/fit.h"
#include "fit/fit_control.h"
#include "fit/information.h"
#include "fit/louis.h"
#include "fit/measurement_models.h"

namespace {

// The engine's model of the fit.
class RetroKLZ {
 public:
  RetroKLZ(const DATA& data, const PARA& para, std::vector<int> subjects,
           std::vector<AlleleClass> classes, std::vector<double> design)
      : data_(data),
        para_(para),
        subjects_(std::move(subjects)),
        classes_(std::move(classes)),
        design_(std::move(design)),
        measurement_(data, para, subjects_),
        t_(static_cast<std::size_t>(ParamLayout(para).head()), 0.0),
        normaliser_(ParamLayout(para).head()),
        head_(ParamLayout(para).head()) {
    const std::size_t cells = static_cast<std::size_t>(num_subjects()) * classes_.size();
    joint_[0].assign(cells, 0.0);
    joint_[1].assign(cells, 0.0);
    prior_.assign(classes_.size(), 0.0);
  }
  int size() const { return para_.num_params; }
  int num_subjects() const { return static_cast<int>(subjects_.size()); }
  int num_classes() const { return static_cast<int>(classes_.size()); }
  // p_B, P_i(y, c), the cluster parameters and the class densities; l(theta).
  double update(const double* params) {
    const int n = num_subjects();
    const int C = num_classes();
    const int ndc = para_.design().num_disease_coefs;
    p_B_ = 1.0 / (1.0 + std::exp(-params[ParamLayout(para_).b_allele_logit()]));
    for (int c = 0; c < C; ++c) {
      const double e_k = classes_[c].slot < 0 ? 1.0 : std::exp(params[classes_[c].slot]);
      prior_[c] = e_k * binomial_weight(classes_[c].k, classes_[c].l, p_B_, para_);
    }
    for (int a = 0; a < n; ++a) {
      double Z = 0.0;
      for (int c = 0; c < C; ++c) {
        double eta = 0.0;
        for (int u = 0; u < ndc; ++u) eta += params[u] * design_[at(a, c) * ndc + u];
        joint_[0][at(a, c)] = prior_[c];
        joint_[1][at(a, c)] = prior_[c] * std::exp(eta);
        Z += joint_[0][at(a, c)] + joint_[1][at(a, c)];
      }
      for (int c = 0; c < C; ++c) {
        joint_[0][at(a, c)] /= Z;
        joint_[1][at(a, c)] /= Z;
      }
    }
    measurement_.update(params);
    double l = 0.0;
    for (int a = 0; a < n; ++a) {
      const int y = data_.disease_status[subjects_[a]];
      double sum = 0.0;
      for (int c = 0; c < C; ++c) sum += joint_[y][at(a, c)] * measurement_.density(a, c);
      l += std::log(sum);
    }
    return l;
  }
  double joint(int a, int c) const {
    return joint_[data_.disease_status[subjects_[a]]][at(a, c)] * measurement_.density(a, c);
  }
  // The stated iteration takes every step; the guarded one (and its safeguarded steps)
  // keeps the clusters where the cluster check accepts them (fit/cluster_guard.h).
  bool plausible(const double* theta) const { return guard_.admits(theta, para_); }
  void guard_clusters() { guard_.engage(); }

  void accumulate(double* U, Information E, const Posteriors& r) {
    const int H = ParamLayout(para_).head();
    const int gamma = H - 1;
    const int n = num_subjects();
    const int C = num_classes();
    const double binomial_var = p_B_ * (1.0 - p_B_);
    measurement_.begin_terms(U, E);
    // Every addition to the head block goes to head_ until it is stored back.
    HeadBlock& head = head_;
    head.load(E);
    for (int a = 0; a < n; ++a) {
      const int i = subjects_[a];
      const int y_i = data_.disease_status[i];
      normaliser_.begin();
      for (int c = 0; c < C; ++c)
        for (int y = 0; y < 2; ++y) {
          statistic(t_.data(), a, y, c);
          normaliser_.add(U, head, 1.0, joint_[y][at(a, c)], t_.data(), classes_[c].k);
        }
      normaliser_.end(head, 1.0, gamma, p_B_);
      for (int c = 0; c < C; ++c) {
        const double rho = r(a, c);
        if (rho < kPosteriorFloor) continue;
        statistic(t_.data(), a, y_i, c);
        for (int u = 0; u < H; ++u) U[u] += rho * t_[u];
        head(gamma, gamma) += rho * classes_[c].k * binomial_var;
        measurement_.add_subject_terms(U, E, a, c, rho);
      }
    }
    head.store(E);
    measurement_.end_terms(U, E);
  }

  Outcome prepare_louis(const Posteriors&) const { return Outcome::kOk; }
  void complete_scores(int a, Information E, const Posteriors& r, SparseScore& s,
                       LouisCorrection& louis) {
    const int H = ParamLayout(para_).head();
    const int i = subjects_[a];
    const int y = data_.disease_status[i];
    const int C = num_classes();
    for (int c = 0; c < C; ++c) {
      const double rho = r(a, c);
      if (rho < kPosteriorFloor) continue;
      s.clear();
      statistic(t_.data(), a, y, c);
      for (int u = 0; u < H; ++u)
        if (t_[u] != 0.0) s.add(u, t_[u]);
      measurement_.add_score(s, a, c);
      louis.add_class(E, rho, s);
    }
  }
  Outcome finish(FitResult& result, Matrix& E, Matrix& V, FitReport* report) const {
    return finish_retro_allele(result, E, V, para_, report);
  }

 private:
  std::size_t at(int a, int c) const { return static_cast<std::size_t>(a) * classes_.size() + c; }
  // Sufficient statistic of (y, c) for subject a: y A(k, l, z_i), the indicator of
  // alpha_k, and delta(c) = l - k p_B.
  void statistic(double* t, int a, int y, int c) const {
    const int H = ParamLayout(para_).head();
    const int ndc = para_.design().num_disease_coefs;
    for (int u = 0; u < H; ++u) t[u] = 0.0;
    for (int u = 0; u < ndc; ++u) t[u] = y * design_[at(a, c) * ndc + u];
    if (classes_[c].slot >= 0) t[classes_[c].slot] = 1.0;
    t[H - 1] = classes_[c].l - classes_[c].k * p_B_;
  }
  const DATA& data_;
  const PARA& para_;
  std::vector<int> subjects_;
  std::vector<AlleleClass> classes_;
  std::vector<double> design_;  // A(k, l, z_i), fixed through the fit
  ClusterGuard guard_{true};
  AlleleClassMeasurement measurement_;
  double p_B_ = 0.5;
  std::vector<double> joint_[2];  // P_i(y, c)
  std::vector<double> prior_;
  std::vector<double> t_;
  NormaliserTerms normaliser_;
  HeadBlock head_;
};

}  // namespace

FitResult fit_retro_KLZ(const double* start, const DATA& data, const PARA& para,
                        const FitControl& control) {
  const int P = para.num_params;
  if (P > kMaxParams) return failed_fit(Outcome::kTooManyParameters);
  if (P < 1) return failed_fit(Outcome::kStartInvalidInput);
  std::vector<double> scratch(static_cast<std::size_t>(P), 0.0);
  std::vector<AlleleClass> classes = modelled_allele_classes(para);
  // Without the reference level the frequency log-ratios are not identified.
  if (classes.empty() || para.cn_class_present[para.ref_cn_class] != 1)
    return failed_fit(Outcome::kNoReferenceClass);
  std::vector<int> subjects;
  if (const Outcome selected = select_fit_subjects(data, subjects); selected != Outcome::kOk)
    return failed_fit(selected);
  std::vector<double> design = allele_design_table(data, para, subjects, classes, scratch.data());
  RetroKLZ model(data, para, std::move(subjects), std::move(classes), std::move(design));
  return run_engine(model, start, para, control, StoppingRule::kLargestStep);
}

FitResult fit_retro_KLZ(const double* start, const DATA& data, const PARA& para) {
  return fit_retro_KLZ(start, data, para, retro_KLZ_control());
}
