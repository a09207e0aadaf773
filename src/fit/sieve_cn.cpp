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
#include <utility>
#include <vector>

#include "fit/class_models.h"
#include "fit/engine.h"
#include "fit/fit.h"
#include "fit/information.h"
#include "fit/measurement_models.h"
#include "fit/strata.h"

namespace {

constexpr int kClasses = 3;

double expit(double eta) { return std::exp(eta) / (std::exp(eta) + 1.0); }

// P(y | p)
double status_probability(int y, double p) { return (1.0 - p) * (1 - y) + y * p; }

// The engine's model of the fit; the sieve q is its own state, updated in closed form.
class SieveKZ {
 public:
  SieveKZ(const DATA& data, const PARA& para, std::vector<int> subjects, Strata strata)
      : data_(data),
        para_(para),
        subjects_(std::move(subjects)),
        classes_(present_cn_classes(para)),
        strata_(std::move(strata)),
        a_(cn_design_table(data, para, subjects_, classes_)) {
    const int n = data.num_subjects;
    q_.assign(static_cast<std::size_t>(strata_.count()) * kClasses, 1.0 / kClasses);
    p_.assign(static_cast<std::size_t>(n) * kClasses, 0.0);
    free_slot_.assign(static_cast<std::size_t>(num_slots()), 0);
  }
  // The sieve slots appended after the vector: one per stratum and non-reference class.
  int num_slots() const { return (kClasses - 1) * strata_.count(); }
  int size() const { return para_.num_params + num_slots(); }
  int num_subjects() const { return static_cast<int>(subjects_.size()); }
  int num_classes() const { return static_cast<int>(classes_.size()); }
  double update(const double* theta) {
    const int D = para_.num_disease_coefs;
    for (const int i : subjects_)
      for (const int k : classes_) {
        const double* ak = design(i, k);
        double eta = 0.0;
        for (int u = 0; u < D; ++u) eta += theta[u] * ak[u];
        p_[at(i, k)] = expit(eta);
      }
    R_.update(theta, para_, data_, subjects_, classes_);
    double ell = 0.0;
    for (const int i : subjects_) {
      double sum = 0.0;
      for (const int k : classes_) sum += joint_of(i, k);
      ell += std::log(sum);
    }
    return ell;
  }
  double joint(int a, int c) const { return joint_of(subjects_[a], classes_[c]); }
  bool plausible(const double*) const { return true; }

  void accumulate(double* U, const DMatrix& E, const Posteriors& r) {
    const int D = para_.num_disease_coefs;
    const int S = strata_.count();
    for (int s = 0; s < S; ++s)
      for (const int k : classes_) sieve(s, k) = 0.0;
    const int N = num_subjects();
    const int C = num_classes();
    for (int a = 0; a < N; ++a) {
      const int i = subjects_[a];
      const int y = data_.disease_status[i];
      for (int c = 0; c < C; ++c) {
        const double rho = r(a, c);
        if (rho < kPosteriorFloor) continue;
        const int k = classes_[c];
        const double* ak = design(i, k);
        const double pik = p_[at(i, k)];
        sieve(strata_.stratum_of[i], k) += rho;
        for (int u = 0; u < D; ++u) {
          U[u] += rho * ak[u] * (y - pik);
          for (int v = u; v < D; ++v) E[u + 1][v + 1] += rho * pik * (1.0 - pik) * ak[u] * ak[v];
        }
        const RSlot slot = r_slot(para_, y, k);
        add_normal_terms(U, E, slot.mean, slot.logvar, rho, data_.intensity_r[i] - R_.mu[y][k],
                         R_.s2[y][k]);
      }
    }
    for (int s = 0; s < S; ++s)
      if (strata_.size[s] > 0)
        for (const int k : classes_) sieve(s, k) /= strata_.size[s];
  }

  // The free sieve slots: a stratum without its reference class cannot carry the others'
  // probabilities (their sum is pinned at 1).
  Outcome prepare_louis(const Posteriors&) {
    const int P = para_.num_params;
    const int ref = para_.ref_cn_class;
    for (int s = 0; s < strata_.count(); ++s) {
      if (strata_.size[s] == 0) continue;
      if (!(sieve(s, ref) > 0.0)) return Outcome::kFitSieveReference;
      for (const int k : classes_)
        if (k != ref && sieve(s, k) > 0.0) free_slot_[sieve_position(s, k) - P] = 1;
    }
    return Outcome::kOk;
  }
  void complete_scores(int a, const DMatrix& E, const Posteriors& r, SparseScore& d,
                       LouisCorrection& louis) const {
    const int D = para_.num_disease_coefs;
    const int P = para_.num_params;
    const int ref = para_.ref_cn_class;
    const int i = subjects_[a];
    const int y = data_.disease_status[i];
    const int s = strata_.stratum_of[i];
    const int C = num_classes();
    for (int c = 0; c < C; ++c) {
      const double rho = r(a, c);
      if (rho < kPosteriorFloor) continue;
      const int k = classes_[c];
      const double* ak = design(i, k);
      const double pik = p_[at(i, k)];
      d.clear();
      for (int u = 0; u < D; ++u) d.add(u, ak[u] * (y - pik));
      if (k != ref) {
        const int x = sieve_position(s, k);
        if (free_slot_[x - P]) {
          const double qk = sieve(s, k);
          E[x + 1][x + 1] += rho / (qk * qk);
          d.add(x, 1.0 / qk);
        }
      } else {
        const double qr = sieve(s, ref);
        for (const int kx : classes_) {
          if (kx == ref || !free_slot_[sieve_position(s, kx) - P]) continue;
          const int x = sieve_position(s, kx);
          for (const int kz : classes_) {
            if (kz == ref || !free_slot_[sieve_position(s, kz) - P]) continue;
            const int z = sieve_position(s, kz);
            if (x <= z) E[x + 1][z + 1] += rho / (qr * qr);
          }
          d.add(x, -1.0 / qr);
        }
      }
      add_normal_score(d, r_slot(para_, y, k), data_.intensity_r[i] - R_.mu[y][k], R_.s2[y][k]);
      louis.add_class(E, rho, d);
    }
  }

  // Inversion over the free parameters and the free sieve slots.
  Outcome finish(FitResult& result, const DMatrix& E, const DMatrix& V, FitReport* report) const {
    const int P = para_.num_params;
    std::vector<int> free_positions = free_positions_of(para_);
    for (int x = 0; x < num_slots(); ++x)
      if (free_slot_[x]) free_positions.push_back(P + x + 1);
    const Outcome inverted = invert_observed_information(E, V, size(), free_positions);
    if (inverted != Outcome::kOk) return inverted;
    hand_over(result, E, V, size(), free_positions, para_, report);
    if (report != nullptr) {
      report->num_strata = strata_.count();
      report->sieve_q = q_;
    }
    return Outcome::kOk;
  }

 private:
  static std::size_t at(int i, int k) { return static_cast<std::size_t>(i) * kClasses + k; }
  const double* design(int i, int k) const {
    return &a_[at(i, k) * para_.num_disease_coefs];
  }
  double& sieve(int s, int k) { return q_[static_cast<std::size_t>(s) * kClasses + k]; }
  double sieve(int s, int k) const { return q_[static_cast<std::size_t>(s) * kClasses + k]; }
  int sieve_position(int s, int k) const {  // 0-based, k != ref
    const int ref = para_.ref_cn_class;
    return para_.num_params + s * (kClasses - 1) + (k < ref ? k : k - 1);
  }
  // q P(y | p) phi for subject i and class k.
  double joint_of(int i, int k) const {
    const int y = data_.disease_status[i];
    return sieve(strata_.stratum_of[i], k) * status_probability(y, p_[at(i, k)]) *
           R_.density(i, k);
  }
  const DATA& data_;
  const PARA& para_;
  std::vector<int> subjects_;
  std::vector<int> classes_;
  Strata strata_;
  std::vector<double> a_;
  std::vector<double> q_;  // q[s][k] at [s * kClasses + k]
  std::vector<double> p_;  // p_ik at [i * kClasses + k]
  std::vector<char> free_slot_;
  IntensityTables R_;
};

}  // namespace

FitResult fit_pro_KZ_sieve(const double* start, const DATA& data, const PARA& para) {
  return fit_pro_KZ_sieve(start, data, para, FitControl{});
}

FitResult fit_pro_KZ_sieve(const double* start, const DATA& data, const PARA& para,
                           const FitControl& control) {
  if (reference_cn_class_missing(para)) return failed_fit(Outcome::kNoReferenceClass);
  std::vector<int> subjects;
  if (!included_subjects(data, subjects)) return failed_fit(Outcome::kStartInvalidInput);
  if (subjects.empty()) return failed_fit(Outcome::kNoUsableSubject);
  if (present_cn_classes(para).empty()) return failed_fit(Outcome::kNoReferenceClass);
  Strata strata = form_strata(data, para.num_dependent_columns);
  if (para.num_params + (kClasses - 1) * strata.count() > kMaxParams)
    return failed_fit(Outcome::kTooManyParameters);
  SieveKZ model(data, para, std::move(subjects), std::move(strata));
  return run_engine(model, start, para, control, StoppingRule::kRelativeLoglik);
}
