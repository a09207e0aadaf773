// The prospective sieve fits of a probe whose disease model has one covariate that may
// depend on the copy number: one class model over the two measurement models (R by total
// class for CN probes, R and B by allele-specific class for SNP probes).
//
// Model. Subject i (status y_i, covariate row z_i, intensities) lies in stratum s(i) of
// the dependent covariate (strata.h) and carries a latent class c with probability
// q[s(i)][c], free in every stratum (the sieve). The disease model is logistic:
//   p_i(c) = 1 / (1 + exp(-beta'A(c, z_i))), the disease factor p_i(c) for a case and
//   1 - p_i(c) for a control; f_i(c) is the measurement model's density;
//   l(theta, q) = sum_i log sum_c q[s(i)][c] (disease factor) f_i(c).
// theta: beta (intercept included) and the intensity parameters; q outside the vector.
// Iteration (EM). E-step r[i][c] proportional to q[s(i)][c] (disease factor) f_i(c). The
//   sieve gets its closed-form update q[s][c] = sum of r over the stratum / n_s; theta one
//   Newton step with the complete-data information. Stop when the relative change of l is
//   within the tolerance.
// Certificate. At the stop (and, on request, once a loosened iteration stops: the Newton
//   finish) the free sieve probabilities join the vector at their slots below, for the
//   score statistic and for the damped Newton steps with Louis's information that move
//   theta and q together to a certified maximum (fit/rescue.h): update() then reads q
//   from the slots, with q[s][ref] one minus the others, and the E-step adds the slots'
//   observed score and complete-data information instead of the closed-form update. A
//   step must keep every free probability and the reference in (0, 1).
// Finish. Louis's correction over the parameter vector extended by the sieve
//   probabilities q[s][c] of the non-reference classes (the reference class holds one
//   minus the others), appended after the vector stratum by stratum. Only the
//   probabilities of modelled classes that are above 0 in their stratum are free; a class
//   with probability 0 sits on the boundary and is held there, as are the slots of
//   unmodelled classes. Complete-data score of q[s][j] given class c: 1/q[s][j] when
//   c = j, -1/q[s][ref] when c = ref, 0 otherwise; complete-data information 1/q[s][j]^2
//   at (j, j) for c = j and 1/q[s][ref]^2 at every pair of the stratum's free slots for
//   c = ref. A stratum whose reference class has probability 0 fails the fit; a stratum
//   left empty by the quantile binning has no term in the likelihood and no free slot.

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <utility>
#include <vector>

#include "fit/class_models.h"
#include "fit/cluster_guard.h"
#include "fit/engine.h"
#include "fit/fit.h"
#include "fit/fit_control.h"
#include "fit/louis.h"
#include "fit/measurement_models.h"
#include "fit/strata.h"

namespace {

// The engine's model of a sieve fit over the measurement model M; the sieve q is its own
// state, updated in closed form.
template <typename M>
class ProspectiveSieve {
 public:
  // A failed stated iteration is rescued only when guarded (fit/engine.h).
  static constexpr bool kRescuedOnlyWhenGuarded = true;
  ProspectiveSieve(const DATA& data, const PARA& para, std::vector<int> subjects, Strata strata)
      : data_(data),
        para_(para),
        subjects_(std::move(subjects)),
        strata_(std::move(strata)),
        measurement_(data, para, subjects_) {
    const int n = num_subjects();
    const int C = num_classes();
    const int D = para.design().num_disease_coefs;
    design_.assign(static_cast<std::size_t>(n) * C * D, 0.0);
    std::vector<double> a(static_cast<std::size_t>(D), 0.0);
    for (int s = 0; s < n; ++s)
      for (int c = 0; c < C; ++c) {
        disease_design(a.data(), measurement_.design_k(c), measurement_.design_l(c),
                       para.design().num_covariate_columns > 0 ? data.covariates.row(subjects_[s]) : nullptr,
                       para);
        for (int u = 0; u < D; ++u) design_[at(s, c) * D + u] = a[u];
      }
    q_.assign(static_cast<std::size_t>(strata_.count()) * C, 1.0 / measurement_.num_kinds());
    p_.assign(static_cast<std::size_t>(n) * C, 0.5);
    free_slot_.assign(static_cast<std::size_t>(strata_.count()) * C, 0);
    for (int c = 0; c < C; ++c)
      if (measurement_.kind(c) == measurement_.ref_kind()) ref_index_ = c;
    form_louis_groups();
  }
  // The sieve slots appended after the vector: one per stratum and non-reference kind.
  int num_slots() const { return (measurement_.num_kinds() - 1) * strata_.count(); }
  int size() const { return para_.num_params + num_slots(); }
  int num_subjects() const { return static_cast<int>(subjects_.size()); }
  int num_classes() const { return measurement_.num_classes(); }

  // p_i(c) and the measurement model's densities; l(theta, q).
  double update(const double* theta) {
    const int n = num_subjects();
    const int C = num_classes();
    const int D = para_.design().num_disease_coefs;
    if (joined_) read_sieve_slots(theta);
    // p_i(c) depends on the subject only through its covariate row: with the subjects in
    // few groups of one row (louis_groups), once per group.
    const auto disease_probability = [&](int a, int c) {
      double eta = 0.0;
      for (int u = 0; u < D; ++u) eta += theta[u] * design_[at(a, c) * D + u];
      return 1.0 / (1.0 + std::exp(-eta));
    };
    if (louis_group_first_.empty()) {
      for (int a = 0; a < n; ++a)
        for (int c = 0; c < C; ++c) p_[at(a, c)] = disease_probability(a, c);
    } else {
      for (const int first : louis_group_first_)
        for (int c = 0; c < C; ++c) p_[at(first, c)] = disease_probability(first, c);
      for (int a = 0; a < n; ++a)
        for (int c = 0; c < C; ++c) p_[at(a, c)] = p_[at(louis_group_first_[louis_group_of_[a]], c)];
    }
    measurement_.update(theta);
    // The joint weights and their sums, kept for the next E-step.
    joint_.resize(p_.size());
    sum_.resize(static_cast<std::size_t>(n));
    double l = 0.0;
    for (int a = 0; a < n; ++a) {
      const int s = strata_.stratum_of[subjects_[a]];
      double sum = 0.0;
      for (int c = 0; c < C; ++c) sum += (joint_[at(a, c)] = sieve(s, c) * term(a, c));
      sum_[a] = sum;
      l += std::log(sum);
    }
    return l;
  }
  double joint(int a, int c) const { return sieve(strata_.stratum_of[subjects_[a]], c) * term(a, c); }
  // The joint weights of the last update normalised over the classes: the E-step.
  void posteriors(Posteriors& r) const {
    const int n = num_subjects();
    for (int c = 0; c < num_classes(); ++c) {
      double* out = r.column(c);
      for (int a = 0; a < n; ++a) out[a] = joint_[at(a, c)] / sum_[a];
    }
  }
  // The stated iteration takes every step; the guarded one (and its safeguarded steps)
  // keeps the clusters where the cluster check accepts them (fit/cluster_guard.h).
  bool plausible(const double* theta) const {
    if (joined_ && !sieve_slots_inside(theta)) return false;
    return guard_.admits(theta, para_);
  }
  void guard_clusters() { guard_.engage(); }
  // Starts the class probabilities (CN probes) at each stratum's shares of its subjects'
  // called classes, with one subject added to every class so that none starts at 0 (the
  // stated iteration starts every class at the same share): the guarded iteration's start.
  void start_sieve_from_calls() {
    if constexpr (std::is_same_v<M, TotalClassMeasurement>) {
      const int C = num_classes();
      std::vector<double> counts(q_.size(), 1.0);
      std::vector<double> totals(static_cast<std::size_t>(strata_.count()), C);
      for (const int i : subjects_) {
        const int s = strata_.stratum_of[i];
        for (int c = 0; c < C; ++c)
          if (measurement_.kind(c) == data_.called_cn[i]) {
            counts[static_cast<std::size_t>(s) * C + c] += 1.0;
            totals[s] += 1.0;
          }
      }
      for (int s = 0; s < strata_.count(); ++s)
        for (int c = 0; c < C; ++c)
          sieve(s, c) = counts[static_cast<std::size_t>(s) * C + c] / totals[s];
    }
  }
  // The sieve probabilities, which the E-step updates in closed form, for a rescue that
  // restarts from an earlier iterate.
  std::vector<double> save_state() const { return q_; }
  void restore_state(const std::vector<double>& q) { q_ = q; }

  // Joins the free sieve probabilities to the vector for the certificate: `x` becomes
  // theta (num_params entries) followed by the slots, size() entries, and `free` the free
  // parameters followed by the free slots. Fails as Louis's correction would on a stratum
  // without its reference class.
  Outcome join_sieve(const double* theta, std::vector<double>& x, std::vector<int>& free) {
    const Outcome prepared = prepare_louis(Posteriors{});
    if (prepared != Outcome::kOk) return prepared;
    x.assign(static_cast<std::size_t>(size()), 0.0);
    std::copy(theta, theta + para_.num_params, x.begin());
    const int C = num_classes();
    for (int s = 0; s < strata_.count(); ++s)
      for (int c = 0; c < C; ++c)
        if (free_slot_[static_cast<std::size_t>(s) * C + c] == 1) x[sieve_position(s, c)] = sieve(s, c);
    free = para_.free_params;
    free.insert(free.end(), extra_.begin(), extra_.end());
    joined_ = true;
    return Outcome::kOk;
  }

  // The sieve update, score and complete-data information of the parameter vector.
  void accumulate(double* U, Information E, const Posteriors& r) {
    const int n = num_subjects();
    const int C = num_classes();
    const int D = para_.design().num_disease_coefs;
    // Joined, the class probabilities stay as the vector set them; else the posterior
    // sums below become the sieve update.
    if (!joined_)
      for (double& x : q_) x = 0.0;
    // The measurement terms go to sums held apart from U and E (the allele-specific
    // model), or, with positions of its own for every class, are summed class after class
    // below: either way the same additions to every entry in the same order.
    constexpr bool by_subject = requires { measurement_.begin_terms(U, E); };
    bool apart = false;
    if constexpr (by_subject)
      measurement_.begin_terms(U, E);
    else
      apart = measurement_.classes_apart();
    for (int a = 0; a < n; ++a) {
      const int i = subjects_[a];
      const int y = data_.disease_status[i];
      for (int c = 0; c < C; ++c) {
        const double rho = r(a, c);
        if (rho < kPosteriorFloor) continue;
        if (!joined_) sieve(strata_.stratum_of[i], c) += rho;
        const double pc = p_[at(a, c)];
        const double* A = &design_[at(a, c) * D];
        for (int u = 0; u < D; ++u) {
          U[u] += rho * (y - pc) * A[u];
          for (int v = u; v < D; ++v) E(u, v) += rho * pc * (1.0 - pc) * A[u] * A[v];
        }
        if constexpr (by_subject)
          measurement_.add_subject_terms(U, E, a, c, rho);
        else if (!apart)
          measurement_.add_terms(U, E, a, c, rho);
      }
    }
    if constexpr (by_subject)
      measurement_.end_terms(U, E);
    else if (apart)
      for (int c = 0; c < C; ++c)
        measurement_.add_class_terms(U, E, c, r.column(c), kPosteriorFloor);
    if (joined_) {
      add_sieve_slot_terms(U, E, r);
      return;
    }
    for (int s = 0; s < strata_.count(); ++s)
      if (strata_.size[s] > 0)
        for (int c = 0; c < C; ++c) sieve(s, c) /= strata_.size[s];
  }

  // Free sieve parameters. A stratum without its reference class cannot carry the
  // others' probabilities as free parameters (their sum is pinned at 1).
  Outcome prepare_louis(const Posteriors&) {
    if (ref_index_ < 0) return Outcome::kNoReferenceClass;
    const int C = num_classes();
    std::fill(free_slot_.begin(), free_slot_.end(), 0);
    extra_.clear();
    extra_stratum_.clear();
    extra_class_.clear();
    for (int s = 0; s < strata_.count(); ++s) {
      if (strata_.size[s] == 0) continue;  // an empty stratum does not enter the likelihood
      if (!(sieve(s, ref_index_) > 0.0)) return Outcome::kFitSieveReference;
      for (int c = 0; c < C; ++c)
        if (c != ref_index_ && sieve(s, c) > 0.0) {
          free_slot_[static_cast<std::size_t>(s) * C + c] = 1;
          extra_.push_back(sieve_position(s, c));
          extra_stratum_.push_back(s);
          extra_class_.push_back(c);
        }
    }
    return Outcome::kOk;
  }
  void complete_scores(int a, Information E, const Posteriors& r, SparseScore& sc,
                       LouisCorrection& louis) const {
    const int C = num_classes();
    const int D = para_.design().num_disease_coefs;
    const int i = subjects_[a];
    const int y = data_.disease_status[i];
    const int s = strata_.stratum_of[i];
    for (int c = 0; c < C; ++c) {
      const double rho = r(a, c);
      if (rho < kPosteriorFloor) continue;
      sc.clear();
      const double pc = p_[at(a, c)];
      for (int u = 0; u < D; ++u) sc.add(u, (y - pc) * design_[at(a, c) * D + u]);
      if (c == ref_index_) {
        const double qr = sieve(s, c);
        for (int j = 0; j < C; ++j)
          if (free_slot_[static_cast<std::size_t>(s) * C + j] == 1)
            sc.add(sieve_position(s, j), -1.0 / qr);
      } else if (free_slot_[static_cast<std::size_t>(s) * C + c] == 1) {
        sc.add(sieve_position(s, c), 1.0 / sieve(s, c));
      }
      measurement_.add_score(sc, a, c);
      louis.add_class(E, rho, sc);
    }
  }
  // Not joined, the free slots' complete-data information for Louis's correction:
  // 1/q[s][j]^2 at (j, j) for each posterior of class j, 1/q[s][ref]^2 at every pair of the
  // stratum's free slots for each posterior of the reference class (posteriors under the
  // floor left out). Joined, the E-step has added it.
  void add_slot_information(Information E, const Posteriors& r) const {
    if (joined_) return;
    const int C = num_classes();
    std::vector<double> sums(q_.size(), 0.0);
    for (int a = 0; a < num_subjects(); ++a) {
      const std::size_t row = static_cast<std::size_t>(strata_.stratum_of[subjects_[a]]) * C;
      for (int c = 0; c < C; ++c)
        if (!(r(a, c) < kPosteriorFloor)) sums[row + c] += r(a, c);
    }
    for (int s = 0; s < strata_.count(); ++s) {
      const std::size_t row = static_cast<std::size_t>(s) * C;
      const double qr = sieve(s, ref_index_);
      for (int j = 0; j < C; ++j) {
        if (free_slot_[row + j] == 0) continue;
        const int x = sieve_position(s, j);
        const double qj = sieve(s, j);
        E(x, x) += sums[row + j] / (qj * qj);
        for (int j2 = j; j2 < C; ++j2)
          if (free_slot_[row + j2] == 1) E(x, sieve_position(s, j2)) += sums[row + ref_index_] / (qr * qr);
      }
    }
  }
  // Louis's correction pooled over the groups of subjects that share status, stratum and
  // covariate row, whose disease and sieve scores are the same (fit/pooled_louis.h): the
  // head is the disease coefficients and the free slots.
  LouisGroups louis_groups() const {
    LouisGroups groups;
    if (louis_group_first_.empty()) return groups;  // too many groups: subject by subject
    for (int u = 0; u < para_.design().num_disease_coefs; ++u) groups.head.push_back(u);
    groups.head.insert(groups.head.end(), extra_.begin(), extra_.end());
    groups.count = static_cast<int>(louis_group_first_.size());
    groups.group_of = louis_group_of_.data();
    return groups;
  }
  void head_score(int g, int c, double* h) const {
    const int D = para_.design().num_disease_coefs;
    const int a = louis_group_first_[g];
    const int i = subjects_[a];
    const int y = data_.disease_status[i];
    const int s = strata_.stratum_of[i];
    const double pc = p_[at(a, c)];
    for (int u = 0; u < D; ++u) h[u] = (y - pc) * design_[at(a, c) * D + u];
    for (std::size_t e = 0; e < extra_.size(); ++e) {
      double& slot = h[D + static_cast<int>(e)];
      slot = 0.0;
      if (extra_stratum_[e] != s) continue;
      if (c == ref_index_)
        slot = -1.0 / sieve(s, c);
      else if (extra_class_[e] == c)
        slot = 1.0 / sieve(s, c);
    }
  }
  static constexpr int kIntensityEntries = M::kScoreEntries;
  auto intensity_positions(int g, int c) const {
    return measurement_.score_positions(data_.disease_status[subjects_[louis_group_first_[g]]], c);
  }
  void intensity_score(int a, int c, double* g) const { measurement_.class_score(a, c, g); }

  // Inversion over the free parameters and the free sieve slots.
  Outcome finish(FitResult& result, Matrix& E, Matrix& V, FitReport* report) const {
    std::vector<int> free_positions = para_.free_params;
    free_positions.insert(free_positions.end(), extra_.begin(), extra_.end());
    const Outcome inverted = invert_observed_information(E, V, size(), free_positions);
    if (inverted != Outcome::kOk) return inverted;
    hand_over(result, E, V, size(), free_positions, para_, report);
    if (report != nullptr) {
      const int K = measurement_.num_kinds();
      report->num_strata = strata_.count();
      report->sieve_q.assign(static_cast<std::size_t>(strata_.count()) * K, 0.0);
      for (int s = 0; s < strata_.count(); ++s)
        for (int c = 0; c < num_classes(); ++c)
          report->sieve_q[static_cast<std::size_t>(s) * K + measurement_.kind(c)] = sieve(s, c);
    }
    return Outcome::kOk;
  }

 private:
  // The groups of Louis's pooled correction: subjects of one status, stratum and covariate
  // row, numbered in order of their first subject; none where there are more than
  // kMaxLouisGroups (a numeric covariate), and the correction goes subject by subject.
  void form_louis_groups() {
    constexpr std::size_t kMaxLouisGroups = 64;
    const int n = num_subjects();
    const int columns = para_.design().num_covariate_columns;
    const auto same_group = [&](int a, int b) {
      const int i = subjects_[a];
      const int j = subjects_[b];
      if (data_.disease_status[i] != data_.disease_status[j] ||
          strata_.stratum_of[i] != strata_.stratum_of[j])
        return false;
      if (columns == 0) return true;
      const double* zi = data_.covariates.row(i);
      const double* zj = data_.covariates.row(j);
      return std::equal(zi, zi + columns, zj);
    };
    louis_group_of_.assign(static_cast<std::size_t>(n), 0);
    for (int a = 0; a < n; ++a) {
      std::size_t g = 0;
      while (g < louis_group_first_.size() && !same_group(louis_group_first_[g], a)) ++g;
      if (g == louis_group_first_.size()) {
        if (g == kMaxLouisGroups) {
          louis_group_first_.clear();
          louis_group_of_.clear();
          return;
        }
        louis_group_first_.push_back(a);
      }
      louis_group_of_[a] = static_cast<int>(g);
    }
  }
  // Joined: q from the free slots of x, the reference class one minus the others.
  void read_sieve_slots(const double* x) {
    const int C = num_classes();
    for (int s = 0; s < strata_.count(); ++s) {
      double others = 0.0;
      for (int c = 0; c < C; ++c)
        if (free_slot_[static_cast<std::size_t>(s) * C + c] == 1) {
          sieve(s, c) = x[sieve_position(s, c)];
          others += sieve(s, c);
        } else if (c != ref_index_) {
          others += sieve(s, c);  // held at its boundary
        }
      sieve(s, ref_index_) = 1.0 - others;
    }
  }
  // Joined: every free slot of x and the reference class it leaves lie in (0, 1).
  bool sieve_slots_inside(const double* x) const {
    const int C = num_classes();
    for (int s = 0; s < strata_.count(); ++s) {
      double others = 0.0;
      for (int c = 0; c < C; ++c) {
        const std::size_t k = static_cast<std::size_t>(s) * C + c;
        if (free_slot_[k] == 1) {
          const double v = x[sieve_position(s, c)];
          if (!(v > 0.0 && v < 1.0)) return false;
          others += v;
        } else if (c != ref_index_) {
          others += q_[k];
        }
      }
      if (strata_.size[s] > 0 && !(1.0 - others > 0.0)) return false;
    }
    return true;
  }
  // Joined: the observed score of each free slot, sum over the stratum of r_j / q_j -
  // r_ref / q_ref, and its complete-data information, from the posteriors of every
  // subject (none left out under the floor: the score must vanish at the maximum).
  void add_sieve_slot_terms(double* U, Information E, const Posteriors& r) {
    const int C = num_classes();
    class_sums_.assign(q_.size(), 0.0);
    for (int a = 0; a < num_subjects(); ++a) {
      const std::size_t row = static_cast<std::size_t>(strata_.stratum_of[subjects_[a]]) * C;
      for (int c = 0; c < C; ++c) class_sums_[row + c] += r(a, c);
    }
    for (int s = 0; s < strata_.count(); ++s) {
      const std::size_t row = static_cast<std::size_t>(s) * C;
      const double qr = sieve(s, ref_index_);
      const double ref_term = class_sums_[row + ref_index_] / (qr * qr);
      for (int j = 0; j < C; ++j) {
        if (free_slot_[row + j] == 0) continue;
        const int x = sieve_position(s, j);
        const double qj = sieve(s, j);
        U[x] += class_sums_[row + j] / qj - class_sums_[row + ref_index_] / qr;
        E(x, x) += class_sums_[row + j] / (qj * qj);
        for (int j2 = j; j2 < C; ++j2)
          if (free_slot_[row + j2] == 1) E(x, sieve_position(s, j2)) += ref_term;
      }
    }
  }
  std::size_t at(int a, int c) const {
    return static_cast<std::size_t>(a) * num_classes() + c;
  }
  double& sieve(int s, int c) { return q_[static_cast<std::size_t>(s) * num_classes() + c]; }
  double sieve(int s, int c) const { return q_[static_cast<std::size_t>(s) * num_classes() + c]; }
  // 0-based position of the sieve slot of stratum s and class c (not the reference).
  int sieve_position(int s, int c) const {
    const int ref = measurement_.ref_kind();
    const int kind = measurement_.kind(c);
    return para_.num_params + s * (measurement_.num_kinds() - 1) + (kind < ref ? kind : kind - 1);
  }
  // The measurement model's density times the disease factor.
  double term(int a, int c) const {
    const int y = data_.disease_status[subjects_[a]];
    const double disease = y == 1 ? p_[at(a, c)] : 1.0 - p_[at(a, c)];
    return disease * measurement_.density(a, c);
  }
  const DATA& data_;
  const PARA& para_;
  std::vector<int> subjects_;
  Strata strata_;
  M measurement_;
  std::vector<double> design_;  // A(c, z_i) at [(a C + c) D]
  std::vector<double> q_;       // q[s][c] over the modelled classes
  std::vector<double> p_;       // p_i(c)
  std::vector<double> joint_;   // q[s(i)][c] (disease factor) f_i(c) at the last update, [a C + c]
  std::vector<double> sum_;     // its sum over the classes
  int ref_index_ = -1;          // place of the reference class among the modelled classes
  ClusterGuard guard_{!std::is_same_v<M, TotalClassMeasurement>};
  bool joined_ = false;          // the free sieve slots are part of the vector (certificate)
  std::vector<double> class_sums_;  // joined: sums of r over each stratum and class
  std::vector<char> free_slot_;  // [s * C + c]
  std::vector<int> extra_;       // positions of the free sieve slots
  std::vector<int> extra_stratum_;  // the stratum of each free slot
  std::vector<int> extra_class_;    // the class of each free slot
  std::vector<int> louis_group_of_;     // the Louis group of each subject
  std::vector<int> louis_group_first_;  // the first subject of each Louis group
};

// The checks before a sieve fit that both families share, then the fit.
template <typename M>
FitResult fit_sieve(const double* start, const DATA& data, const PARA& para,
                    const FitControl& control, int num_kinds) {
  std::vector<int> subjects;
  if (const Outcome selected = select_fit_subjects(data, subjects); selected != Outcome::kOk)
    return failed_fit(selected);
  Strata strata = form_strata(data, para.design().num_dependent_columns);
  if (strata.count() == 0) return failed_fit(Outcome::kNoUsableSubject);
  // The extended information holds the sieve slots after the vector.
  if (para.num_params + (num_kinds - 1) * strata.count() > kMaxParams)
    return failed_fit(Outcome::kTooManyParameters);
  ProspectiveSieve<M> model(data, para, std::move(subjects), std::move(strata));
  if (model.num_classes() == 0) return failed_fit(Outcome::kNoReferenceClass);
  if (control.sieve_from_calls) model.start_sieve_from_calls();
  return run_engine(model, start, para, control, StoppingRule::kRelativeLoglik);
}

}  // namespace

FitResult fit_pro_KZ_sieve(const double* start, const DATA& data, const PARA& para,
                           const FitControl& control) {
  if (reference_cn_class_missing(para)) return failed_fit(Outcome::kNoReferenceClass);
  return fit_sieve<TotalClassMeasurement>(start, data, para, control, para.num_cn_classes);
}

FitResult fit_pro_KZ_sieve(const double* start, const DATA& data, const PARA& para) {
  return fit_pro_KZ_sieve(start, data, para, FitControl{});
}

FitResult fit_pro_KLZ_sieve(const double* start, const DATA& data, const PARA& para,
                            const FitControl& control) {
  if (para.num_params > kMaxParams) return failed_fit(Outcome::kTooManyParameters);
  if (para.num_params < 1) return failed_fit(Outcome::kStartInvalidInput);
  return fit_sieve<AlleleClassMeasurement>(start, data, para, control, para.num_allele_classes);
}

FitResult fit_pro_KLZ_sieve(const double* start, const DATA& data, const PARA& para) {
  return fit_pro_KLZ_sieve(start, data, para, sieve_KLZ_control());
}
