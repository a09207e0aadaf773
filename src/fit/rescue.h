#pragma once
// What a fit does when its stated iteration fails or stops short of a maximum.
//
// Safeguarded iterations (after a stated Newton step failed: not finite, information not
// invertible or implausible, cluster order lost, iteration cap): from the last good
// iterate, Fisher scoring (the complete-data information with its intensity block
// replaced by its expectation, certificate.h), each step halved until the observed
// log-likelihood does not decrease and the cluster order holds; stopped by the fit's own
// rule on the step taken.
//
// Continuation to a certified maximum: damped Newton on the observed log-likelihood with
// Louis's information; where that information is not positive definite over the free
// parameters, or its step finds no ascent, the Fisher-scoring step. It stops once the
// score statistic is below the threshold, or fails after FitControl::max_continuation_steps.
//
// The engine supplies the iterate's evaluations through an Ops object:
//   double update(const double* theta);      model tables at theta; the log-likelihood
//   bool plausible(const double* theta);     the cluster means keep their order
//   void evaluate();                         E-step, then score and complete-data
//                                            information at the tables of the last update
//   Outcome observe();                       Louis's correction: the information becomes
//                                            the observed information
//   Information information();               the information's 0-based view
//   const double* score();                   the score of the last evaluate

#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "core/outcome.h"
#include "core/para.h"
#include "fit/certificate.h"
#include "fit/fit_control.h"
#include "fit/information.h"
#include "numeric/matrix.h"

// Halvings of a step before it counts as finding no ascent.
inline constexpr int kMaxHalvings = 40;

// How a rescue ended: its outcome (kOk: certified at a maximum), the steps it took, and
// the score statistic of its last certificate.
struct RescueEnd {
  Outcome outcome = Outcome::kOk;
  int steps = 0;
  double statistic = 0.0;
  double loglik = 0.0;
};

// The step of `direction` over `free` from base (P entries) into theta, halved until the
// log-likelihood is finite and not below ell and the cluster order holds. On success theta,
// the model tables and ell are at the step taken and largest holds its largest entry; on
// failure theta and the tables are back at base.
template <typename Ops>
bool damped_step(Ops& ops, double* theta, const std::vector<double>& base,
                 const std::vector<int>& free, const std::vector<double>& direction,
                 double& ell, double& largest) {
  double t = 1.0;
  for (int h = 0; h <= kMaxHalvings; ++h, t *= 0.5) {
    for (std::size_t i = 0; i < free.size(); ++i) theta[free[i]] = base[free[i]] + t * direction[i];
    if (!ops.plausible(theta)) continue;
    const double trial = ops.update(theta);
    if (!std::isfinite(trial) || trial < ell) continue;
    ell = trial;
    largest = 0.0;
    for (const double d : direction) largest = std::fmax(largest, std::fabs(t * d));
    return true;
  }
  for (const int p : free) theta[p] = base[p];
  ops.update(theta);
  return false;
}

// The Fisher-scoring direction at the last evaluate (before Louis's correction).
template <typename Ops>
bool fisher_direction(Ops& ops, const PARA& para, const std::vector<int>& free,
                      std::vector<double>& direction) {
  Matrix expected = symmetric_copy(ops.information(), para.num_params);
  expect_intensity_block(expected, ops.score(), para);
  return solve_over_free(expected, free, ops.score(), direction);
}

// Safeguarded iterations from theta (a good iterate with log-likelihood ell) until
// `converged(largest step entry, previous l, l)` or `budget` steps; false when no step
// found an ascent (theta is then the last good iterate).
template <typename Ops, typename Converged>
bool safeguarded_iterations(Ops& ops, double* theta, double& ell, const PARA& para, int budget,
                            Converged converged, int& steps) {
  const std::vector<int>& free = para.free_params;
  std::vector<double> direction;
  std::vector<double> base(theta, theta + para.num_params);
  for (; steps < budget; ++steps) {
    ops.evaluate();
    if (!fisher_direction(ops, para, free, direction)) return false;
    base.assign(theta, theta + para.num_params);
    const double ell_previous = ell;
    double largest = 0.0;
    if (!damped_step(ops, theta, base, free, direction, ell, largest)) return false;
    if (converged(largest, ell_previous, ell)) {
      ++steps;
      return true;
    }
  }
  return true;
}

// Where Louis's information is not positive definite over the free positions: the
// Levenberg–Marquardt direction (I + mu diag(J)) d = U, with J the Fisher-scoring
// information and mu the smallest of 1e-3, 1e-2, ..., 1e3 that makes the matrix positive
// definite. Between Newton's direction (mu small) and a scaled Fisher-scoring one.
inline bool levenberg_direction(const Matrix& observed, const Matrix& expected,
                                const std::vector<int>& free, const double* score,
                                std::vector<double>& direction) {
  Matrix shifted = observed;
  for (double mu = 1e-3; mu <= 1e3; mu *= 10.0) {
    for (const int p : free) shifted(p, p) = observed(p, p) + mu * std::fabs(expected(p, p));
    if (solve_over_free(shifted, free, score, direction)) return true;
  }
  return false;
}

// Continues from theta (`size` entries: the parameter vector, or the vector with the
// sieve slots joined to it; the model tables at theta) over the positions `free` until the
// certificate holds. On success the information holds the observed information at theta,
// ready for the finish.
template <typename Ops>
RescueEnd continue_to_maximum(Ops& ops, double* theta, const std::vector<int>& free, int size,
                              const PARA& para, const FitControl& control) {
  RescueEnd end;
  std::vector<double> base(theta, theta + size);
  std::vector<double> direction;
  std::vector<double> score;
  double ell = ops.update(theta);
  for (;;) {
    ops.evaluate();
    score.assign(ops.score(), ops.score() + size);
    Matrix expected = symmetric_copy(ops.information(), size);
    expect_intensity_block(expected, score.data(), para);
    if (const Outcome observed = ops.observe(); observed != Outcome::kOk) {
      end.outcome = observed;
      return end;
    }
    const Matrix observed = symmetric_copy(ops.information(), size);
    const bool definite = solve_over_free(observed, free, score.data(), direction);
    end.statistic = definite ? score_statistic(free, score.data(), direction)
                             : std::numeric_limits<double>::infinity();
    end.loglik = ell;
    if (definite && end.statistic < control.certificate_threshold) return end;
    if (end.steps >= control.max_continuation_steps) break;
    base.assign(theta, theta + size);
    double largest = 0.0;
    bool stepped = definite && damped_step(ops, theta, base, free, direction, ell, largest);
    if (!stepped && !definite && control.newton_finish &&
        levenberg_direction(observed, expected, free, score.data(), direction))
      stepped = damped_step(ops, theta, base, free, direction, ell, largest);
    if (!stepped && solve_over_free(expected, free, score.data(), direction))
      stepped = damped_step(ops, theta, base, free, direction, ell, largest);
    if (!stepped) break;
    ++end.steps;
  }
  end.outcome = Outcome::kFitNotMaximum;
  return end;
}
