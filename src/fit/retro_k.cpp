// Retrospective fit of a CN probe without covariates.
//
// Model: included subjects i with status y_i and intensity R_i; latent total class k among
// the present classes; class weights e_ref = 1, e_k = exp(alpha_k); eta_k = beta . a(k).
//   P(K = k | Y = y) = w[y][k] / W[y],   w[y][k] = e_k exp(y eta_k),  W[y] = sum_k w[y][k]
//   (the retrospective class model that the SNP fit shares, fit/retrospective_classes.h)
//   R | K = k, Y = y ~ N(mu[g][k], sigma2[g][k]),   g = y * differential_measurement_errors
//   l(theta) = sum_i log sum_k w[y_i][k] / W[y_i] phi(R_i; mu, sigma2)
// theta: beta (disease block), alpha (frequency log-ratios), R means, R log-variances.
// Iteration: E-step posteriors r[i][k]; score U and complete-data information E of the
// expected complete-data log-likelihood; one Newton step theta += E^-1 U over the free
// parameters; stop when no step entry exceeds the tolerance (fail after 2000 steps, or as
// soon as the cluster means leave their order). Finish: Louis's correction, V = E^-1,
// standard errors, log-ratios back-transformed to class frequencies.

#include <cmath>
#include <utility>
#include <vector>

#include "checks/cluster_checks.h"
#include "fit/class_models.h"
#include "fit/engine.h"
#include "fit/fit.h"
#include "fit/information.h"
#include "fit/measurement_models.h"
#include "fit/retrospective_classes.h"

namespace {

constexpr int kClasses = 3;

// The design vectors A(k) of the three total classes.
std::vector<std::vector<double>> design_vectors(const PARA& para) {
  const int D = para.design().num_disease_coefs;
  std::vector<std::vector<double>> a(kClasses, std::vector<double>(static_cast<std::size_t>(D)));
  for (int k = 0; k < kClasses; ++k) disease_design(a[k].data(), k, 0, nullptr, para);
  return a;
}

// The class model of the present total classes: slots and design vectors.
RetrospectiveClasses total_class_model(const PARA& para, const std::vector<int>& classes,
                                       const std::vector<std::vector<double>>& a) {
  std::vector<int> slots;
  std::vector<std::vector<double>> design;
  for (const int k : classes) {
    slots.push_back(k == para.ref_cn_class ? -1 : frequency_slot(para, k));
    design.push_back(a[k]);
  }
  return RetrospectiveClasses(std::move(slots), std::move(design), para.design().num_disease_coefs);
}

// The engine's model of the fit.
class RetroK {
 public:
  RetroK(const DATA& data, const PARA& para, std::vector<int> subjects)
      : data_(data),
        para_(para),
        subjects_(std::move(subjects)),
        classes_(present_cn_classes(para)),
        a_(design_vectors(para)),
        t_(total_class_model(para, classes_, a_)),
        measurement_(data, para, subjects_) {
    for (const int i : subjects_) {
      const int y = data.disease_status[i];
      n_case_ += y;
      n_ctrl_ += 1 - y;
    }
  }
  int size() const { return para_.num_params; }
  int num_subjects() const { return static_cast<int>(subjects_.size()); }
  int num_classes() const { return static_cast<int>(classes_.size()); }
  double update(const double* theta) {
    t_.update(theta, nullptr);
    measurement_.update(theta);
    return log_likelihood();
  }
  double joint(int a, int c) const {
    return t_.weight(data_.disease_status[subjects_[a]], c) * measurement_.density(a, c);
  }
  // joint() normalised over the classes, class column by class column.
  void posteriors(Posteriors& r) {
    const int N = num_subjects();
    const int* status = measurement_.columns().status.data();
    sum_.assign(static_cast<std::size_t>(N), 0.0);
    for (int c = 0; c < num_classes(); ++c) {
      const double w[2] = {t_.weight(0, c), t_.weight(1, c)};
      const double* f = measurement_.column(c);
      double* out = r.column(c);
      for (int a = 0; a < N; ++a) {
        out[a] = w[status[a]] * f[a];
        sum_[a] += out[a];
      }
    }
    for (int c = 0; c < num_classes(); ++c) {
      double* out = r.column(c);
      for (int a = 0; a < N; ++a) out[a] /= sum_[a];
    }
  }
  bool plausible(const double* theta) const { return check_cluster_means_CN(theta, para_) != 1; }

  // sum_a log sum_c f_a(c) w[y_a][k] / W[y_a], the sums taken class column by class column.
  double log_likelihood() {
    const int N = num_subjects();
    const int* status = measurement_.columns().status.data();
    sum_.assign(static_cast<std::size_t>(N), 0.0);
    for (int c = 0; c < num_classes(); ++c) {
      const double w[2] = {t_.weight(0, c), t_.weight(1, c)};
      const double W[2] = {t_.total(0), t_.total(1)};
      const double* f = measurement_.column(c);
      for (int a = 0; a < N; ++a) sum_[a] += f[a] * w[status[a]] / W[status[a]];
    }
    double ell = 0.0;
    for (int a = 0; a < N; ++a) ell += std::log(sum_[a]);
    return ell;
  }

  void accumulate(double* U, Information E, const Posteriors& r) {
    const int D = para_.design().num_disease_coefs;
    const int ref = para_.ref_cn_class;
    std::vector<double>& F = F_;
    F.assign(static_cast<std::size_t>(D), 0.0);
    double G[kClasses] = {};
    double H[kClasses] = {};
    const int C = num_classes();
    for (int c = 0; c < C; ++c) {
      const int k = classes_[c];
      const std::vector<double>& ak = a_[k];
      const int j = k != ref ? frequency_slot(para_, k) : -1;
      const double pi = t_.probability(0, c);  // class frequency (H)
      const double g = t_.probability(1, c);   // class probability among cases (G)
      if (k != ref) {
        H[k] = pi;
        E(j, j) += n_ctrl_ * pi;
        G[k] = g;
        E(j, j) += n_case_ * g;
      }
      for (int u = 0; u < D; ++u) {
        F[u] += g * ak[u];
        for (int v = u; v < D; ++v) E(u, v) += n_case_ * g * ak[u] * ak[v];
        if (k != ref) E(u, j) += n_case_ * g * ak[u];
      }
      const int N = num_subjects();
      const double* rho = r.column(c);
      const int* status = measurement_.columns().status.data();
      for (int a = 0; a < N; ++a) {
        const double w = rho[a];
        if (w < kPosteriorFloor) continue;
        const int y = status[a];
        for (int u = 0; u < D; ++u) U[u] += w * y * ak[u];
        if (k != ref) U[j] += w;
      }
      measurement_.add_class_terms(U, E, c, rho, kPosteriorFloor);
    }
    // Expected parts: the derivatives of log W[y].
    for (int u = 0; u < D; ++u) {
      U[u] -= n_case_ * F[u];
      for (int v = u; v < D; ++v) E(u, v) -= n_case_ * F[u] * F[v];
      for (const int k : classes_)
        if (k != ref) E(u, frequency_slot(para_, k)) -= n_case_ * F[u] * G[k];
    }
    for (const int k : classes_) {
      if (k == ref) continue;
      const int j = frequency_slot(para_, k);
      U[j] -= n_ctrl_ * H[k] + n_case_ * G[k];
      for (const int kk : classes_) {
        if (kk == ref) continue;
        const int jj = frequency_slot(para_, kk);
        if (jj >= j) E(j, jj) -= n_ctrl_ * H[k] * H[kk] + n_case_ * G[k] * G[kk];
      }
    }
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
      s.clear();
      for (int u = 0; u < D; ++u) s.add(u, y * a_[k][u]);
      if (k != para_.ref_cn_class) s.add(frequency_slot(para_, k), 1.0);
      measurement_.add_score(s, a, c);
      louis.add_class(E, rho, s);
    }
  }
  // Louis's correction pooled over the subjects of each status (fit/pooled_louis.h): the
  // head is the disease coefficients and the frequency log-ratios.
  LouisGroups louis_groups() const {
    return status_groups(ParamLayout(para_).head(), measurement_.columns().status.data());
  }
  void head_score(int y, int c, double* h) const {
    const int k = classes_[c];
    for (int u = 0; u < ParamLayout(para_).head(); ++u) h[u] = 0.0;
    for (int u = 0; u < para_.design().num_disease_coefs; ++u) h[u] = y * a_[k][u];
    if (k != para_.ref_cn_class) h[frequency_slot(para_, k)] = 1.0;
  }
  static constexpr int kIntensityEntries = TotalClassMeasurement::kScoreEntries;
  auto intensity_positions(int y, int c) const { return measurement_.score_positions(y, c); }
  void intensity_score(int a, int c, double* g) const { measurement_.class_score(a, c, g); }

  Outcome finish(FitResult& result, Matrix& E, Matrix& V, FitReport* report) const {
    return finish_retrospective(result, E, V, para_, report);
  }

 private:
  const DATA& data_;
  const PARA& para_;
  std::vector<int> subjects_;
  std::vector<int> classes_;
  std::vector<std::vector<double>> a_;  // A(k) of every total class
  RetrospectiveClasses t_;
  double n_case_ = 0.0;
  double n_ctrl_ = 0.0;
  std::vector<double> F_;
  std::vector<double> sum_;  // per subject: the E-step's normaliser, the log-likelihood's sum
  TotalClassMeasurement measurement_;
};

}  // namespace

FitResult fit_retro_K(const double* start, const DATA& data, const PARA& para) {
  return fit_retro_K(start, data, para, FitControl{});
}

FitResult fit_retro_K(const double* start, const DATA& data, const PARA& para,
                      const FitControl& control) {
  if (para.num_params > kMaxParams) return failed_fit(Outcome::kTooManyParameters);
  if (reference_cn_class_missing(para)) return failed_fit(Outcome::kNoReferenceClass);
  std::vector<int> subjects;
  if (const Outcome selected = select_fit_subjects(data, subjects); selected != Outcome::kOk)
    return failed_fit(selected);
  RetroK model(data, para, std::move(subjects));
  return run_engine(model, start, para, control, StoppingRule::kLargestStep);
}

