#pragma once
// The EM–Newton engine that every fit runs: the E-step over the included subjects and the
// modelled classes, one Newton step over the free parameters per iteration, the fit's
// stopping rule and iteration cap, Louis's correction, and the finish
// that turns the observed information into standard errors and the covariance of the
// disease-model coefficients. A model supplies what differs between the fits, as members
// the engine calls (static dispatch, so the inner loops stay inlined):
//
//   int size() const;                  order of the information matrix (num_params, or more
//                                      for the sieve slots appended at the finish)
//   int num_subjects() const;          subjects a = 0 .. n-1 of the E-step
//   int num_classes() const;           classes c = 0 .. C-1 of the E-step
//   double update(const double* theta);        model tables at theta; the log-likelihood
//   double joint(int a, int c) const;          unnormalised posterior weight of class c
//   void posteriors(Posteriors& r);            optional: the whole E-step at once, the
//                                      same values as normalising joint() subject by subject
//   void accumulate(double* U, Information E, const Posteriors& r);
//                                      score and complete-data information (upper triangle,
//                                      0-based view) of the expected complete-data log-likelihood,
//                                      and any closed-form update (the sieve)
//   bool plausible(const double* theta) const;  the cluster means after a step keep order
//   Outcome prepare_louis(const Posteriors& r); what Louis's correction needs (sieve slots)
//   void complete_scores(int a, Information E, const Posteriors& r, SparseScore& s,
//                        LouisCorrection& louis);
//                                      each class's complete-data score of subject a into
//                                      louis (Louis's correction subject by subject)
//   void add_slot_information(Information E, const Posteriors& r) const;
//                                      optional: the complete-data information of
//                                      positions the E-step leaves out (the sieve slots)
//   and, optionally, the members of PoolsLouis below, for Louis's correction pooled over
//   groups of subjects
//   Outcome finish(FitResult& result, Matrix& E, Matrix& V, FitReport* report);
//                                      inversion of the observed information and reporting

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "core/outcome.h"
#include "core/para.h"
#include "fit/fit.h"
#include "fit/fit_control.h"
#include "fit/information.h"
#include "fit/louis.h"
#include "fit/pooled_louis.h"
#include "fit/rescue.h"
#include "numeric/matrix.h"
#include "numeric/vector_ops.h"

// Posteriors below this are left out wherever a fit says "skipped": they cannot move
// the estimates, and leaving them out keeps the per-subject work small.
constexpr double kPosteriorFloor = 1e-6;

// The finish of the retrospective SNP fits once E holds the observed information: the
// finish of every retrospective fit (inversion over the free parameters, variance test,
// standard errors, report, frequencies, covariance block), then the B-allele-frequency
// logit reported as the frequency p_B with standard error p_B (1 - p_B) se(gamma).
Outcome finish_retro_allele(FitResult& result, Matrix& E, Matrix& V, const PARA& para,
                            FitReport* report);

// When an iteration counts as the last one.
enum class StoppingRule {
  kLargestStep,            // no entry of the Newton step exceeds step_tolerance
  kRelativeLoglik,         // |l - l_prev| / |l_prev| within loglik_tolerance, l_prev primed 2
  kRelativeLoglikAndStep,  // both of the above
};

// Posterior class probabilities r[a][c] of the last E-step, kept by class: the
// posteriors of class c over the subjects a = 0 .. n-1 are contiguous.
class Posteriors {
 public:
  void resize(int subjects, int classes) {
    subjects_ = subjects;
    r_.assign(static_cast<std::size_t>(subjects) * classes, 0.0);
  }
  double operator()(int a, int c) const { return r_[index(a, c)]; }
  double& operator()(int a, int c) { return r_[index(a, c)]; }
  // The posteriors of class c over the subjects.
  const double* column(int c) const { return &r_[index(0, c)]; }
  double* column(int c) { return &r_[index(0, c)]; }

 private:
  std::size_t index(int a, int c) const {
    return static_cast<std::size_t>(c) * subjects_ + a;
  }
  std::vector<double> r_;
  int subjects_ = 0;
};

// One Newton step over the free parameters: mirrors E (upper triangle of its leading
// num_params block), solves E delta = U over the free list (delta 0 at the fixed
// positions), theta += delta.
Outcome newton_step(double* theta, double* delta, const double* U, Matrix& E, const PARA& para);

// Mirrors the observed information E (order n), inverts it over the positions
// `free_positions` into V (n x n, zero elsewhere) and tests the variances over the whole
// inverse.
Outcome invert_observed_information(Matrix& E, Matrix& V, int n,
                                    const std::vector<int>& free_positions);

// Standard errors of the first num_params positions and the disease-model block of V
// into the result; the finish's matrices into report when set.
void hand_over(FitResult& result, const Matrix& E, const Matrix& V, int n,
               const std::vector<int>& free_positions, const PARA& para, FitReport* report);

// The finish of a retrospective fit once Louis's correction has made E the observed
// information: inversion over the free parameters, hand-over, and the frequency
// log-ratios of the present non-reference classes reported as frequencies.
Outcome finish_retrospective(FitResult& result, Matrix& E, Matrix& V, const PARA& para,
                             FitReport* report);

// The result of a fit that failed before its first iteration.
inline FitResult failed_fit(Outcome outcome) {
  FitResult result;
  result.outcome = outcome;
  return result;
}

// Whether `Model` gives its complete-data scores as a head part of (group, class) and an
// intensity part of the subject's own, so that Louis's correction pools the head blocks
// over the subjects of each group and sums the intensity block over whole columns
// (fit/pooled_louis.h):
//   LouisGroups louis_groups() const;               head positions, group of every subject
//   void head_score(int g, int c, double* h) const; h(g, c) over the head positions
//   static constexpr int kIntensityEntries;         entries of a class's intensity score
//   std::array<int, kIntensityEntries> intensity_positions(int g, int c) const;
//   void intensity_score(int a, int c, double* g) const;  its values for subject a
template <typename Model>
concept PoolsLouis = requires(const Model& m, double* h) {
  m.louis_groups();
  m.head_score(0, 0, h);
  m.intensity_positions(0, 0);
  m.intensity_score(0, 0, h);
  Model::kIntensityEntries;
};

// The engine's evaluations at the iterate of the model's tables, for the stated iteration
// and the rescue (fit/rescue.h): E-step, score and complete-data information, Louis's
// correction.
template <typename Model>
class EngineOps {
 public:
  EngineOps(Model& model, Matrix& E)
      : model_(model),
        E_(E),
        information_(E),
        n_(model.size()),
        N_(model.num_subjects()),
        C_(model.num_classes()),
        U_(static_cast<std::size_t>(n_), 0.0) {
    r_.resize(N_, C_);
  }
  double update(const double* theta) { return model_.update(theta); }
  bool plausible(const double* theta) const { return model_.plausible(theta); }
  void evaluate() {
    if constexpr (requires { model_.posteriors(r_); }) {
      model_.posteriors(r_);  // the model's own E-step over whole class columns
    } else {
      for (int a = 0; a < N_; ++a) {
        double sum = 0.0;
        for (int c = 0; c < C_; ++c) sum += (r_(a, c) = model_.joint(a, c));
        for (int c = 0; c < C_; ++c) r_(a, c) /= sum;
      }
    }
    for (int u = 0; u < n_; ++u) U_[u] = 0.0;
    E_.fill(0.0);
    model_.accumulate(U_.data(), information_, r_);
  }
  Outcome observe() {
    const Outcome prepared = model_.prepare_louis(r_);
    if (prepared != Outcome::kOk) return prepared;
    // The sieve slots' complete-data information, which the E-step leaves out unless the
    // slots are joined to the vector.
    if constexpr (requires { model_.add_slot_information(information_, r_); })
      model_.add_slot_information(information_, r_);
    if constexpr (PoolsLouis<Model>)
      if (!louis_by_subject_ && observe_pooled()) return Outcome::kOk;
    LouisCorrection louis(n_);
    SparseScore s;
    for (int a = 0; a < N_; ++a) {
      louis.begin_subject();
      model_.complete_scores(a, information_, r_, s, louis);
      louis.end_subject(information_);
    }
    return Outcome::kOk;
  }
  Information information() const { return information_; }
  const double* score() const { return U_.data(); }
  // True: Louis's correction subject by subject also where the model pools it (the
  // oracle that the pooled correction is tested against).
  void set_louis_by_subject(bool by_subject) { louis_by_subject_ = by_subject; }

 private:
  // Louis's correction pooled over the model's groups of subjects (fit/pooled_louis.h);
  // false where the subjects fall into too many groups.
  bool observe_pooled() {
    const LouisGroups groups = model_.louis_groups();
    if (groups.count == 0) return false;
    PooledLouis louis(n_, groups, C_);
    std::vector<const double*> posterior(static_cast<std::size_t>(C_));
    for (int c = 0; c < C_; ++c) posterior[c] = r_.column(c);
    louis.add_subjects<Model::kIntensityEntries>(
        information_, N_, groups.group_of, posterior.data(), kPosteriorFloor,
        [&](int g, int c) { return model_.intensity_positions(g, c); },
        [&](int a, int c, double* g) { model_.intensity_score(a, c, g); });
    louis.finish(information_, [&](int g, int c, double* h) { model_.head_score(g, c, h); });
    return true;
  }

  Model& model_;
  Matrix& E_;
  Information information_;
  int n_, N_, C_;
  Posteriors r_;
  std::vector<double> U_;
  bool louis_by_subject_ = false;
};

// Whether the stop of a fit counts as its last iteration under `rule`.
inline bool stops(StoppingRule rule, const FitControl& control, double largest_step,
                  double ell_previous, double ell) {
  const bool step_small = !(largest_step > control.step_tolerance);
  const bool loglik_small =
      std::fabs((ell - ell_previous) / ell_previous) <= control.loglik_tolerance;
  switch (rule) {
    case StoppingRule::kLargestStep: return step_small;
    case StoppingRule::kRelativeLoglik: return loglik_small;
    case StoppingRule::kRelativeLoglikAndStep: return step_small && loglik_small;
  }
  return false;
}


// An iterate of the stated iteration a rescue may restart from: the vector and, for a
// model with state outside it (the sieve's class probabilities), that state as it was
// when the vector's log-likelihood was computed.
struct GoodIterate {
  std::vector<double> theta;
  std::vector<double> state;
};

// The model's state outside the vector, saved and restored by models that have one.
template <typename Model>
std::vector<double> saved_state(const Model& model) {
  if constexpr (requires { model.save_state(); }) return model.save_state();
  return {};
}
template <typename Model>
void restore_state(Model& model, const std::vector<double>& state) {
  if constexpr (requires { model.restore_state(state); }) model.restore_state(state);
}

// Whether `Model` holds parameters outside the vector (the sieve's class probabilities,
// updated in closed form by its stated iteration) that join it for the certificate.
template <typename Model>
concept JoinsParameters = requires(Model& model, const double* theta, std::vector<double>& x,
                                   std::vector<int>& free) { model.join_sieve(theta, x, free); };

// Whether a failed stated iteration of `Model` is rescued only when its iteration is guarded
// (the sieve: a probe reaches the guarded iteration only after its stated iteration from
// both starts was turned down), as a model declaring `kRescuedOnlyWhenGuarded` says.
template <typename Model>
constexpr bool rescued_only_when_guarded() {
  if constexpr (requires { Model::kRescuedOnlyWhenGuarded; }) return Model::kRescuedOnlyWhenGuarded;
  return false;
}

// The continuation of the fit at theta (num_params entries; the model's tables and state
// at theta) to a certified maximum (fit/rescue.h), over the free parameters and, for a
// model with parameters outside the vector, those joined to it; theta ends where the steps
// end.
template <typename Model>
RescueEnd continue_fit(EngineOps<Model>& ops, Model& model, double* theta, const PARA& para,
                       const FitControl& control) {
  if constexpr (JoinsParameters<Model>) {
    std::vector<double> x;
    std::vector<int> free;
    if (const Outcome joined = model.join_sieve(theta, x, free); joined != Outcome::kOk) {
      RescueEnd end;
      end.outcome = joined;
      return end;
    }
    const RescueEnd end = continue_to_maximum(ops, x.data(), free, model.size(), para, control);
    std::copy(x.begin(), x.begin() + para.num_params, theta);
    return end;
  } else {
    return continue_to_maximum(ops, theta, para.free_params, para.num_params, para, control);
  }
}

// The rescue of a stated iteration that failed with `failure` (fit/rescue.h): safeguarded
// iterations from the last good iterate (or, where no safeguarded step can be taken there,
// as when the failed step's information was already singular, from the iterate before it,
// or else from the start)
// within what is left of the iteration cap, then the continuation to a certified maximum.
// A rescue that takes no step reports the stated failure, one that cannot be certified
// kFitNotMaximum.
template <typename Model>
FitResult rescue_stated_failure(EngineOps<Model>& ops, Model& model, FitResult result,
                                const std::vector<GoodIterate>& good, Outcome failure,
                                Matrix& E, Matrix& V, const PARA& para,
                                const FitControl& control, StoppingRule rule) {
  result.outcome = failure;
  const std::vector<double> failed_at = result.estimates;
  double* theta = result.estimates.data();
  int steps = 0;
  bool begun = false;
  for (const GoodIterate& from : good) {
    if (from.theta.empty()) continue;
    std::copy(from.theta.begin(), from.theta.end(), theta);
    restore_state(model, from.state);
    double ell = ops.update(theta);
    if (!std::isfinite(ell)) continue;
    const auto converged = [&](double largest, double previous, double now) {
      return stops(rule, control, largest, previous, now);
    };
    const int budget = control.max_iterations - result.iterations;
    begun = safeguarded_iterations(ops, theta, ell, para, budget, converged, steps) || steps > 0;
    if (begun) break;
  }
  if (!begun) {
    result.estimates = failed_at;
    return result;
  }
  result.iterations += steps;  // the safeguarded iterations count against the same cap
  const RescueEnd end = continue_fit(ops, model, theta, para, control);
  result.path = FitPath::kRescued;
  result.rescue_steps = steps + end.steps;
  if (end.outcome != Outcome::kOk) {
    if (result.rescue_steps > 0) result.outcome = Outcome::kFitNotMaximum;
    return result;
  }
  result.outcome = model.finish(result, E, V, control.report);
  if (result.outcome != Outcome::kOk) return result;
  result.loglik = end.loglik;
  result.score_statistic = end.statistic;
  return result;
}

// The certificate at the stop of a converged stated fit (`stated`, finished with
// `finished`; `stopped` its vector before the finish): kept when the certificate holds at
// `stopped` and the finish succeeded, else continued to a certified maximum and finished
// there. A continuation that takes no step reports the finish's failure; one that cannot
// be certified kFitNotMaximum. A Newton finish (`stated` not finished) is always finished
// where its steps end, also after none.
template <typename Model>
FitResult certify_stated_stop(EngineOps<Model>& ops, Model& model, FitResult stated,
                              const std::vector<double>& stopped, Outcome finished,
                              Matrix& E, Matrix& V, const PARA& para,
                              const FitControl& control) {
  FitResult result;
  result.estimates = stopped;
  result.std_errors.assign(stopped.size(), 0.0);
  result.iterations = stated.iterations;
  const RescueEnd end = continue_fit(ops, model, result.estimates.data(), para, control);
  if (end.outcome == Outcome::kOk && end.steps == 0 && finished == Outcome::kOk &&
      !control.newton_finish) {
    stated.score_statistic = end.statistic;
    return stated;
  }
  result.path = control.newton_finish ? FitPath::kNewtonFinish : FitPath::kContinued;
  // A Newton finish counts its steps as iterations of the fit; a continuation does not.
  if (control.newton_finish) result.iterations += end.steps;
  result.rescue_steps = end.steps;
  result.outcome = end.outcome;
  if (end.outcome != Outcome::kOk) {
    if (end.steps == 0 && finished != Outcome::kOk) result.outcome = finished;
    return result;
  }
  result.outcome = model.finish(result, E, V, control.report);
  if (result.outcome != Outcome::kOk) return result;
  result.loglik = end.loglik;
  result.loglik_gained = end.loglik - stated.loglik;
  result.score_statistic = end.statistic;
  return result;
}

// Runs the iteration of `model` from `start` (num_params entries) under `rule`. A fit is
// rescued where the stated iteration fails (fit/rescue.h); the sieve only when guarded.
// The stop of every fit is certified as a maximum or continued to one, the sieve's over
// the vector joined with its free class probabilities; a converged stated fit that passes
// the certificate keeps the stated result.
template <typename Model>
FitResult run_engine(Model& model, const double* start, const PARA& para,
                     const FitControl& control, StoppingRule rule) {
  FitResult result;
  const int P = para.num_params;
  const int n = model.size();
  result.estimates.assign(start, start + P);
  result.std_errors.assign(static_cast<std::size_t>(P), 0.0);
  double* theta = result.estimates.data();
  const auto fail = [&result](Outcome outcome) {
    result.outcome = outcome;
    return result;
  };
  // The sieve's stated iteration is rescued only when guarded: a probe reaches the guarded
  // iteration only after its stated iteration from both starts was turned down.
  const bool rescuable =
      control.rescue && (!rescued_only_when_guarded<Model>() || control.guard_clusters);
  if constexpr (requires { model.guard_clusters(); })
    if (control.guard_clusters) model.guard_clusters();

  std::vector<double> step(static_cast<std::size_t>(P), 0.0);
  Matrix E(n, n);
  Matrix V;
  EngineOps<Model> ops(model, E);
  ops.set_louis_by_subject(control.louis_by_subject);

  double ell = model.update(theta);
  double ell_previous = 2.0;
  GoodIterate last_good;  // the iterate of the last step, and the one before it
  GoodIterate earlier;
  GoodIterate initial;    // the start, when the two are past it
  if (rescuable) initial = {result.estimates, saved_state(model)};
  Outcome failure = Outcome::kOk;
  for (;;) {
    if (rescuable) {
      std::swap(earlier, last_good);
      last_good.theta.assign(theta, theta + P);
      last_good.state = saved_state(model);  // before the E-step's closed-form update
    }
    ops.evaluate();
    const Outcome stepped = newton_step(theta, step.data(), ops.score(), E, para);
    if (stepped != Outcome::kOk) {
      failure = stepped;
      break;
    }
    if (!model.plausible(theta)) {
      failure = Outcome::kFitClusterOrder;
      break;
    }
    ell = model.update(theta);
    if (++result.iterations >= control.max_iterations) {
      failure = Outcome::kFitIterationCap;
      break;
    }
    if (!std::isfinite(ell)) {
      failure = Outcome::kFitNonFiniteStep;
      break;
    }
    const bool last = stops(rule, control, max(step.data(), P), ell_previous, ell);
    ell_previous = ell;
    if (last) break;
  }
  if (failure != Outcome::kOk) {
    if (!rescuable) return fail(failure);
    if (result.iterations < 2) initial = {};  // the start is one of the two already
    return rescue_stated_failure(ops, model, std::move(result), {last_good, earlier, initial}, failure, E,
                                 V, para, control, rule);
  }

  const std::vector<double> stopped(theta, theta + P);
  const bool certified = control.rescue;
  if (certified && control.newton_finish) {
    // The finish starts with Louis's information at the stop; the fit is finished where
    // the Newton steps end, so the stop itself is never finished.
    result.loglik = ell;
    return certify_stated_stop(ops, model, std::move(result), stopped, Outcome::kOk, E, V, para,
                               control);
  }
  const Outcome observed = ops.observe();
  if (observed != Outcome::kOk) return fail(observed);
  const Outcome finished = model.finish(result, E, V, control.report);
  if (!certified && finished != Outcome::kOk) return fail(finished);
  result.loglik = ell;
  if (!certified) return result;
  return certify_stated_stop(ops, model, std::move(result), stopped, finished, E, V, para,
                             control);
}
