// Prospective sieve fit of one SNP probe whose disease model has one covariate that may
// depend on the copy number.
//
// Model. Subject i (status y_i, covariate row z_i, intensities x_i, b_i) lies in stratum
// s(i) of the dependent covariate (strata.h) and carries a latent class c = (k, l) with
// probability q[s(i)][c], free in every stratum (the sieve). The disease model is logistic:
//   p_i(c) = 1 / (1 + exp(-beta'A(k, l, z_i))), the disease factor p_i(c) for a case and
//   1 - p_i(c) for a control; f_i(c) = phi(x_i; mu_R, s2_R) g_i(c) (measurement_models.h);
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
#include <utility>
#include <vector>

#include "fit/class_models.h"
#include "fit/engine.h"
#include "fit/fit.h"
#include "fit/fit_control.h"
#include "fit/information.h"
#include "fit/louis.h"
#include "fit/measurement_models.h"
#include "fit/strata.h"

namespace {

// The engine's model of the fit; the sieve q is its own state, updated in closed form.
class SieveKLZ {
 public:
  SieveKLZ(const DATA& data, const PARA& para, std::vector<int> subjects,
           std::vector<AlleleClass> classes, std::vector<double> design, Strata strata)
      : data_(data),
        para_(para),
        subjects_(std::move(subjects)),
        classes_(std::move(classes)),
        design_(std::move(design)),
        strata_(std::move(strata)) {
    const int M = para.num_allele_classes;
    const std::size_t C = classes_.size();
    q_.assign(static_cast<std::size_t>(strata_.count()) * C, 1.0 / M);
    p_.assign(static_cast<std::size_t>(num_subjects()) * C, 0.5);
    cluster_[0].assign(C, Cluster{});
    cluster_[1].assign(C, Cluster{});
    free_slot_.assign(static_cast<std::size_t>(strata_.count()) * C, 0);
    for (std::size_t c = 0; c < C; ++c)
      if (classes_[c].c == para.ref_allele_class) ref_index_ = static_cast<int>(c);
  }
  // The sieve slots appended after the vector: one per stratum and non-reference class.
  int num_slots() const { return (para_.num_allele_classes - 1) * strata_.count(); }
  int size() const { return para_.num_params + num_slots(); }
  int num_subjects() const { return static_cast<int>(subjects_.size()); }
  int num_classes() const { return static_cast<int>(classes_.size()); }
  // p_i(c), the cluster parameters and the class densities; l(theta, q).
  double update(const double* params) {
    const int n = num_subjects();
    const int C = num_classes();
    const int ndc = para_.num_disease_coefs;
    for (int c = 0; c < C; ++c)
      for (int y = 0; y < 2; ++y) cluster_[y][c] = cluster_of(params, classes_[c], y);
    for (int a = 0; a < n; ++a)
      for (int c = 0; c < C; ++c) {
        double eta = 0.0;
        for (int u = 0; u < ndc; ++u) eta += params[u] * design_[at(a, c) * ndc + u];
        p_[at(a, c)] = 1.0 / (1.0 + std::exp(-eta));
      }
    density_.update(cluster_, classes_, subjects_, data_, para_.array_type);
    double l = 0.0;
    for (int a = 0; a < n; ++a) {
      const int s = strata_.stratum_of[subjects_[a]];
      double sum = 0.0;
      for (int c = 0; c < C; ++c) sum += sieve(s, c) * term(a, c);
      l += std::log(sum);
    }
    return l;
  }
  double joint(int a, int c) const { return sieve(strata_.stratum_of[subjects_[a]], c) * term(a, c); }
  bool plausible(const double*) const { return true; }

  // The sieve update, score and complete-data information of the parameter vector.
  void accumulate(double* U, const DMatrix& E, const Posteriors& r) {
    const int n = num_subjects();
    const int C = num_classes();
    const int ndc = para_.num_disease_coefs;
    for (double& x : q_) x = 0.0;
    for (int a = 0; a < n; ++a) {
      const int i = subjects_[a];
      const int y = data_.disease_status[i];
      for (int c = 0; c < C; ++c) {
        const double rho = r(a, c);
        if (rho < kPosteriorFloor) continue;
        sieve(strata_.stratum_of[i], c) += rho;
        const double pc = p_[at(a, c)];
        const double* A = &design_[at(a, c) * ndc];
        for (int u = 0; u < ndc; ++u) {
          U[u] += rho * (y - pc) * A[u];
          for (int v = u; v < ndc; ++v) E[u + 1][v + 1] += rho * pc * (1.0 - pc) * A[u] * A[v];
        }
        add_intensity_terms(U, E, classes_[c], cluster_[y][c], y, data_.intensity_r[i],
                            data_.intensity_b[i], para_.array_type, rho);
      }
    }
    for (int s = 0; s < strata_.count(); ++s)
      if (strata_.size[s] > 0)
        for (int c = 0; c < C; ++c) sieve(s, c) /= strata_.size[s];
  }

  // Free sieve parameters. A stratum without its reference class cannot carry the
  // others' probabilities as free parameters (their sum is pinned at 1).
  Outcome prepare_louis(const Posteriors&) {
    // Without the reference class the others' probabilities have no anchor.
    if (ref_index_ < 0) return Outcome::kNoReferenceClass;
    const int C = num_classes();
    for (int s = 0; s < strata_.count(); ++s) {
      if (strata_.size[s] == 0) continue;  // an empty stratum does not enter the likelihood
      if (!(sieve(s, ref_index_) > 0.0)) return Outcome::kFitSieveReference;
      for (int c = 0; c < C; ++c)
        if (c != ref_index_ && sieve(s, c) > 0.0) {
          free_slot_[static_cast<std::size_t>(s) * C + c] = 1;
          extra_.push_back(sieve_position(s, classes_[c].c) + 1);
        }
    }
    return Outcome::kOk;
  }
  void complete_scores(int a, const DMatrix& E, const Posteriors& r, SparseScore& sc,
                       LouisCorrection& louis) const {
    const int C = num_classes();
    const int ndc = para_.num_disease_coefs;
    const int i = subjects_[a];
    const int y = data_.disease_status[i];
    const int s = strata_.stratum_of[i];
    for (int c = 0; c < C; ++c) {
      const double rho = r(a, c);
      if (rho < kPosteriorFloor) continue;
      sc.clear();
      const double pc = p_[at(a, c)];
      for (int u = 0; u < ndc; ++u) sc.add(u, (y - pc) * design_[at(a, c) * ndc + u]);
      if (c == ref_index_) {
        const double qr = sieve(s, c);
        for (int j = 0; j < C; ++j) {
          if (free_slot_[static_cast<std::size_t>(s) * C + j] == 0) continue;
          const int x = sieve_position(s, classes_[j].c);
          sc.add(x, -1.0 / qr);
          for (int j2 = j; j2 < C; ++j2)
            if (free_slot_[static_cast<std::size_t>(s) * C + j2] == 1) {
              const int x2 = sieve_position(s, classes_[j2].c);
              E[x + 1][x2 + 1] += rho / (qr * qr);
            }
        }
      } else if (free_slot_[static_cast<std::size_t>(s) * C + c] == 1) {
        const double qc = sieve(s, c);
        const int x = sieve_position(s, classes_[c].c);
        sc.add(x, 1.0 / qc);
        E[x + 1][x + 1] += rho / (qc * qc);
      }
      add_intensity_score(sc, classes_[c], cluster_[y][c], y, data_.intensity_r[i],
                          data_.intensity_b[i], para_.array_type);
      louis.add_class(E, rho, sc);
    }
  }
  // Inversion over the free parameters and the free sieve slots.
  Outcome finish(FitResult& result, const DMatrix& E, const DMatrix& V, FitReport* report) const {
    std::vector<int> free_positions = free_positions_of(para_);
    free_positions.insert(free_positions.end(), extra_.begin(), extra_.end());
    const Outcome inverted = invert_observed_information(E, V, size(), free_positions);
    if (inverted != Outcome::kOk) return inverted;
    hand_over(result, E, V, size(), free_positions, para_, report);
    if (report != nullptr) {
      const int M = para_.num_allele_classes;
      report->num_strata = strata_.count();
      report->sieve_q.assign(static_cast<std::size_t>(strata_.count()) * M, 0.0);
      for (int s = 0; s < strata_.count(); ++s)
        for (int c = 0; c < num_classes(); ++c)
          report->sieve_q[static_cast<std::size_t>(s) * M + classes_[c].c] = sieve(s, c);
    }
    return Outcome::kOk;
  }

 private:
  std::size_t at(int a, int c) const { return static_cast<std::size_t>(a) * classes_.size() + c; }
  double& sieve(int s, int c) { return q_[static_cast<std::size_t>(s) * classes_.size() + c]; }
  double sieve(int s, int c) const { return q_[static_cast<std::size_t>(s) * classes_.size() + c]; }
  int sieve_position(int s, int c) const {
    const int ref = para_.ref_allele_class;
    return para_.num_params + s * (para_.num_allele_classes - 1) + (c < ref ? c : c - 1);
  }
  // f_i(c) times the disease factor.
  double term(int a, int c) const {
    const int y = data_.disease_status[subjects_[a]];
    const double disease = y == 1 ? p_[at(a, c)] : 1.0 - p_[at(a, c)];
    return disease * density_.at(a, c);
  }
  const DATA& data_;
  const PARA& para_;
  std::vector<int> subjects_;
  std::vector<AlleleClass> classes_;
  std::vector<double> design_;
  Strata strata_;
  std::vector<double> q_;  // sieve distributions over the modelled classes, q[s][c]
  std::vector<double> p_;  // p_i(c)
  std::vector<Cluster> cluster_[2];
  ClassDensities density_;
  int ref_index_ = -1;            // place of the reference class in classes_
  std::vector<char> free_slot_;   // [s * C + c]
  std::vector<int> extra_;        // 1-based positions of the free sieve slots
};

}  // namespace

FitResult fit_pro_KLZ_sieve(const double* start, const DATA& data, const PARA& para,
                            const FitControl& control) {
  const int P = para.num_params;
  if (P > kMaxParams) return failed_fit(Outcome::kTooManyParameters);
  if (P < 1) return failed_fit(Outcome::kStartInvalidInput);
  std::vector<double> scratch(static_cast<std::size_t>(P), 0.0);
  std::vector<AlleleClass> classes = modelled_allele_classes(para);
  if (classes.empty()) return failed_fit(Outcome::kNoReferenceClass);
  Strata strata = form_strata(data, para.num_dependent_columns);
  if (strata.count() == 0) return failed_fit(Outcome::kNoUsableSubject);
  // The extended information holds the sieve slots after the vector.
  if (P + (para.num_allele_classes - 1) * strata.count() > kMaxParams)
    return failed_fit(Outcome::kTooManyParameters);
  std::vector<int> subjects;
  if (!included_subjects(data, subjects)) return failed_fit(Outcome::kStartInvalidInput);
  std::vector<double> design = allele_design_table(data, para, subjects, classes, scratch.data());
  SieveKLZ model(data, para, std::move(subjects), std::move(classes), std::move(design),
                 std::move(strata));
  return run_engine(model, start, para, control, StoppingRule::kRelativeLoglik);
}

FitResult fit_pro_KLZ_sieve(const double* start, const DATA& data, const PARA& para) {
  return fit_pro_KLZ_sieve(start, data, para, sieve_KLZ_control());
}
