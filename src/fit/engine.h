#pragma once
// The EM–Newton engine that every fit runs: the E-step over the included subjects and the
// modelled classes, one Newton step over the free parameters per iteration, the fit's
// stopping rule and iteration cap, Louis's correction subject by subject, and the finish
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
//                                      louis (and any information the score's slots add)
//   Outcome finish(FitResult& result, Matrix& E, Matrix& V, FitReport* report);
//                                      inversion of the observed information and reporting

#include <cmath>
#include <vector>

#include "core/outcome.h"
#include "core/para.h"
#include "fit/fit.h"
#include "fit/fit_control.h"
#include "fit/information.h"
#include "fit/louis.h"
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

// Runs the iteration of `model` from `start` (num_params entries) under `rule`.
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

  const int N = model.num_subjects();
  const int C = model.num_classes();
  Posteriors r;
  r.resize(N, C);
  std::vector<double> U(static_cast<std::size_t>(n), 0.0);
  std::vector<double> step(static_cast<std::size_t>(P), 0.0);
  Matrix E(n, n);
  Matrix V;
  const Information information(E);

  double ell = model.update(theta);
  double ell_previous = 2.0;
  for (;;) {
    if constexpr (requires { model.posteriors(r); }) {
      model.posteriors(r);  // the model's own E-step over whole class columns
    } else {
      for (int a = 0; a < N; ++a) {
        double sum = 0.0;
        for (int c = 0; c < C; ++c) sum += (r(a, c) = model.joint(a, c));
        for (int c = 0; c < C; ++c) r(a, c) /= sum;
      }
    }
    for (int u = 0; u < n; ++u) U[u] = 0.0;
    E.fill(0.0);
    model.accumulate(U.data(), information, r);

    const Outcome stepped = newton_step(theta, step.data(), U.data(), E, para);
    if (stepped != Outcome::kOk) return fail(stepped);
    if (!model.plausible(theta)) return fail(Outcome::kFitClusterOrder);
    ell = model.update(theta);
    if (++result.iterations >= control.max_iterations) return fail(Outcome::kFitIterationCap);
    if (!std::isfinite(ell)) return fail(Outcome::kFitNonFiniteStep);

    const bool step_small = !(max(step.data(), P) > control.step_tolerance);
    const bool loglik_small =
        std::fabs((ell - ell_previous) / ell_previous) <= control.loglik_tolerance;
    ell_previous = ell;
    if (rule == StoppingRule::kLargestStep && step_small) break;
    if (rule == StoppingRule::kRelativeLoglik && loglik_small) break;
    if (rule == StoppingRule::kRelativeLoglikAndStep && step_small && loglik_small) break;
  }

  const Outcome prepared = model.prepare_louis(r);
  if (prepared != Outcome::kOk) return fail(prepared);
  LouisCorrection louis(n);
  SparseScore s;
  for (int a = 0; a < N; ++a) {
    louis.begin_subject();
    model.complete_scores(a, information, r, s, louis);
    louis.end_subject(information);
  }
  const Outcome finished = model.finish(result, E, V, control.report);
  if (finished != Outcome::kOk) return fail(finished);
  result.loglik = ell;
  return result;
}
