// Retrospective fit of one SNP probe whose disease model has no covariate.
//
// Model. Subject i (status y_i, R intensity x_i, B intensity b_i) carries a latent class
// c = (k, l): k copies, l of them B alleles.
//   P(c | y) = w_y(c) / S_y,   w_y(c) = e_k C(k, l) p_B^l (1 - p_B)^(k - l) exp(y beta'A(c)),
//   e_ref = 1, e_k = exp(alpha_k), p_B = 1 / (1 + exp(-gamma)), S_y = sum over modelled c
//   (the retrospective class model that the CN fit shares, fit/retrospective_classes.h);
//   f_i(c) = phi(x_i; mu_R, s2_R) g_i(c), the R kernel times the B factor (measurement_models.h);
//   l(theta) = sum_i log sum_c f_i(c) P(c | y_i).
// Iteration (EM with one Newton step). E-step r[i][c] proportional to P(c | y_i) f_i(c).
//   U and E are the score and the negative Hessian of the expected complete-data
//   log-likelihood sum_i sum_c r[i][c] (log P(c | y_i) + log f_i(c)); the normaliser part
//   -n_y log S_y of each status is taken with the exact probabilities P(c | y) over the
//   modelled classes, so a class left out of a modelled level keeps the controls'
//   normaliser dependent on alpha and gamma. Newton step theta += delta with E delta = U
//   solved over the free parameters. Stop when the relative change of l is within its tolerance
//   and no step entry exceeds the step tolerance.
// Finish. Louis's correction turns E into the observed information; its inverse over the
//   free parameters is the covariance; alpha and gamma are reported as frequencies.

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
#include "fit/retrospective_classes.h"

namespace {

// The allele-specific classes' model: the shared retrospective class model with the
// binomial weights of the B-allele frequency within each level.
struct Model {
  const PARA& para;
  const std::vector<AlleleClass>& classes;
  RetrospectiveClasses law;       // P(c | y)
  double p_B = 0.5;
  std::vector<double> within;     // C(k, l) p_B^l (1 - p_B)^(k - l) per class

  void update(const double* theta) {
    const int C = static_cast<int>(classes.size());
    p_B = 1.0 / (1.0 + std::exp(-theta[ParamLayout(para).b_allele_logit()]));
    within.resize(static_cast<std::size_t>(C));
    for (int c = 0; c < C; ++c) within[c] = binomial_weight(classes[c].k, classes[c].l, p_B, para);
    law.update(theta, within.data());
  }

  // Sufficient statistic of (y, c) over the head positions: y A(c), the indicator of
  // alpha_k, and delta(c) = l - k p_B.
  void statistic(double* t, int y, int c) const {
    const int H = ParamLayout(para).head();
    for (int u = 0; u < H; ++u) t[u] = 0.0;
    const std::vector<double>& design = law.design(c);
    for (int u = 0; u < para.design().num_disease_coefs; ++u) t[u] = y * design[u];
    if (classes[c].slot >= 0) t[classes[c].slot] = 1.0;
    t[H - 1] = classes[c].l - classes[c].k * p_B;
  }
};

// The shared class model over the modelled allele-specific classes.
RetrospectiveClasses allele_class_model(const PARA& para, const std::vector<AlleleClass>& classes,
                                        std::vector<std::vector<double>> design) {
  std::vector<int> slots;
  for (const AlleleClass& cls : classes) slots.push_back(cls.slot);
  return RetrospectiveClasses(std::move(slots), std::move(design), para.design().num_disease_coefs);
}

// The engine's model of the fit.
class RetroKL {
 public:
  RetroKL(const DATA& data, const PARA& para, std::vector<int> subjects,
          std::vector<AlleleClass> classes, std::vector<std::vector<double>> design)
      : data_(data),
        para_(para),
        subjects_(std::move(subjects)),
        classes_(std::move(classes)),
        model_{para, classes_, allele_class_model(para, classes_, std::move(design)), 0.5, {}},
        measurement_(data, para, subjects_),
        t_(static_cast<std::size_t>(ParamLayout(para).head()), 0.0),
        t_by_status_(t_),
        normaliser_(ParamLayout(para).head()) {
    for (const int i : subjects_) n_status_[data.disease_status[i]] += 1.0;
  }
  int size() const { return para_.num_params; }
  int num_subjects() const { return static_cast<int>(subjects_.size()); }
  int num_classes() const { return static_cast<int>(classes_.size()); }
  double update(const double* theta) {
    model_.update(theta);
    measurement_.update(theta);
    // The joint weights P(c | y_a) f_a(c) and their sums, class column by class column,
    // kept for the next E-step.
    const int n = num_subjects();
    const int C = num_classes();
    const int* status = measurement_.columns().status.data();
    joint_.resize(static_cast<std::size_t>(n) * C);
    sum_.assign(static_cast<std::size_t>(n), 0.0);
    for (int c = 0; c < C; ++c) {
      const double prob[2] = {model_.law.probability(0, c), model_.law.probability(1, c)};
      const double* f = measurement_.column(c);
      double* joint = &joint_[static_cast<std::size_t>(c) * n];
      for (int a = 0; a < n; ++a) {
        joint[a] = prob[status[a]] * f[a];
        sum_[a] += joint[a];
      }
    }
    double l = 0.0;
    for (int a = 0; a < n; ++a) l += std::log(sum_[a]);
    return l;
  }
  double joint(int a, int c) const {
    return model_.law.probability(data_.disease_status[subjects_[a]], c) * measurement_.density(a, c);
  }
  // The joint weights of the last update normalised over the classes.
  void posteriors(Posteriors& r) const {
    const int n = num_subjects();
    for (int c = 0; c < num_classes(); ++c) {
      const double* joint = &joint_[static_cast<std::size_t>(c) * n];
      double* out = r.column(c);
      for (int a = 0; a < n; ++a) out[a] = joint[a] / sum_[a];
    }
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
    for (int y = 0; y < 2; ++y) {
      normaliser_.begin();
      for (int c = 0; c < C; ++c) {
        model_.statistic(t_.data(), y, c);
        normaliser_.add(U, E, n_status_[y], model_.law.probability(y, c), t_.data(), classes_[c].k);
      }
      normaliser_.end(E, n_status_[y], gamma, model_.p_B);
    }
    const double binomial_var = model_.p_B * (1.0 - model_.p_B);
    const int* status = measurement_.columns().status.data();
    for (int c = 0; c < C; ++c) {
      const double* rho = r.column(c);
      double* t[2] = {t_.data(), t_by_status_.data()};
      model_.statistic(t[0], 0, c);
      model_.statistic(t[1], 1, c);
      double E_gamma = E(gamma, gamma);
      const double k = classes_[c].k;
      for (int a = 0; a < n; ++a) {
        const double w = rho[a];
        if (w < kPosteriorFloor) continue;
        const double* ty = t[status[a]];
        for (int u = 0; u < H; ++u) U[u] += w * ty[u];
        E_gamma += w * k * binomial_var;
      }
      E(gamma, gamma) = E_gamma;
      measurement_.add_class_terms(U, E, c, rho, kPosteriorFloor);
    }
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
      model_.statistic(t_.data(), y, c);
      for (int u = 0; u < H; ++u)
        if (t_[u] != 0.0) s.add(u, t_[u]);
      measurement_.add_score(s, a, c);
      louis.add_class(E, rho, s);
    }
  }
  // Louis's correction pooled over the subjects of each status (fit/pooled_louis.h): the
  // head is where the statistic of (y, c) lies.
  LouisGroups louis_groups() const {
    return status_groups(ParamLayout(para_).head(), measurement_.columns().status.data());
  }
  void head_score(int y, int c, double* h) const { model_.statistic(h, y, c); }
  static constexpr int kIntensityEntries = AlleleClassMeasurement::kScoreEntries;
  auto intensity_positions(int y, int c) const { return measurement_.score_positions(y, c); }
  void intensity_score(int a, int c, double* g) const { measurement_.class_score(a, c, g); }

  Outcome finish(FitResult& result, Matrix& E, Matrix& V, FitReport* report) const {
    return finish_retro_allele(result, E, V, para_, report);
  }

 private:
  const DATA& data_;
  const PARA& para_;
  std::vector<int> subjects_;
  std::vector<AlleleClass> classes_;
  Model model_;
  ClusterGuard guard_{true};
  AlleleClassMeasurement measurement_;
  double n_status_[2] = {0.0, 0.0};
  std::vector<double> t_;
  std::vector<double> t_by_status_;  // the statistic of a case, beside t_ for a control
  std::vector<double> joint_;        // P(c | y_a) f_a(c) at [c * n + a]
  std::vector<double> sum_;          // sum over c of the joint weights of subject a
  NormaliserTerms normaliser_;
};

}  // namespace

FitResult fit_retro_KL(const double* start, const DATA& data, const PARA& para,
                       const FitControl& control) {
  const int P = para.num_params;
  if (P > kMaxParams) return failed_fit(Outcome::kTooManyParameters);
  if (P < 1) return failed_fit(Outcome::kStartInvalidInput);
  std::vector<double> scratch(static_cast<std::size_t>(P), 0.0);
  std::vector<AlleleClass> classes = modelled_allele_classes(para);
  const int C = static_cast<int>(classes.size());
  // Without the reference level the frequency log-ratios are not identified.
  if (C == 0 || para.cn_class_present[para.ref_cn_class] != 1)
    return failed_fit(Outcome::kNoReferenceClass);
  std::vector<std::vector<double>> design(static_cast<std::size_t>(C));
  for (int c = 0; c < C; ++c) {
    disease_design(scratch.data(), classes[c].k, classes[c].l, nullptr, para);
    design[c].assign(scratch.begin(), scratch.begin() + para.design().num_disease_coefs);
  }
  std::vector<int> subjects;
  if (const Outcome selected = select_fit_subjects(data, subjects); selected != Outcome::kOk)
    return failed_fit(selected);
  RetroKL model(data, para, std::move(subjects), std::move(classes), std::move(design));
  return run_engine(model, start, para, control, StoppingRule::kRelativeLoglikAndStep);
}

FitResult fit_retro_KL(const double* start, const DATA& data, const PARA& para) {
  return fit_retro_KL(start, data, para, retro_KL_control());
}
