#pragma once
// The fits with their stopping rule's tolerances and iteration cap exposed, and a record
// of what the finish computed. The program uses the entry points of fit/fit.h, which run
// with each fit's production control below; tests use these to converge more tightly and
// to read the full observed information and covariance. Which rule a fit stops by is the
// fit's own (fit/engine.h StoppingRule); the control sets its tolerances.

#include <algorithm>
#include <vector>

#include "core/data.h"
#include "core/para.h"
#include "fit/fit.h"
#include "numeric/matrix.h"

// What a fit's finish leaves behind besides its results (filled only on success).
struct FitReport {
  int size = 0;         // n: num_params, plus the appended sieve slots for a sieve fit
  Matrix information;   // n x n, the observed information after Louis's correction
  Matrix covariance;    // n x n, its inverse over the free parameters
  std::vector<int> free_positions;  // positions that were inverted
  int num_strata = 0;               // sieve fits: strata and their class probabilities
  std::vector<double> sieve_q;      // CN: q[s][k] at [s * num_cn_classes + k];
                                    // SNP: q[s][c] at [s * num_allele_classes + c]
};

// A fit's stop is certified as a maximum when its score statistic U' I^-1 U over the free
// parameters (observed score U, Louis's information I) is below this.
inline constexpr double kCertificateThreshold = 1e-3;

struct FitControl {
  double step_tolerance = 1e-4;    // largest |step entry| at convergence
  double loglik_tolerance = 1e-6;  // relative change of the log-likelihood at convergence
  int max_iterations = 2000;       // the iteration counter reaching this fails the fit
  double certificate_threshold = kCertificateThreshold;  // score statistic at a maximum
  int max_continuation_steps = 100;  // damped steps towards a certified maximum
  bool rescue = true;  // false: the stated iteration alone, no safeguard and no certificate
  // True: every step of the CN sieve fit and of the SNP fits keeps the clusters where the
  // cluster check accepts them (a step that would not, or that fails, is retaken by the
  // safeguarded steps; fit/cluster_guard.h), as the other CN fits' steps keep the order;
  // their stated iterations take every step, and clusters can trade places or wander off
  // on the way.
  bool guard_clusters = false;
  // True: the CN sieve fit starts its class probabilities at each stratum's shares of the
  // called classes (one subject added to every class) instead of the same share for every
  // class; the guarded iteration of the probe's last attempt does.
  bool sieve_from_calls = false;
  // True: the stopping rule's tolerances were loosened by with_newton_finish, and a fit
  // the certificate continues is reported as finished by Newton steps, not as continued.
  bool newton_finish = false;
  // True: Louis's correction subject by subject also in the fits that pool its head
  // blocks over the subjects (fit/pooled_louis.h): the oracle of the tests.
  bool louis_by_subject = false;
  FitReport* report = nullptr;     // when set, receives the finish's matrices
};

// The score statistic at which a Newton finish stops: about twice the log-likelihood still
// to gain, so far below anything the printed figures show.
inline constexpr double kNewtonFinishThreshold = 1e-8;

// `control` for a Newton finish: the stated iteration stops by its own rule with the
// tolerances loosened to 1e-2 (relative change of the log-likelihood) and 0.5 (largest
// step entry), and the certificate's damped Newton steps on the observed log-likelihood,
// with Louis's information, take the fit on to a score statistic below
// kNewtonFinishThreshold. A sieve fit's steps move its free class probabilities with
// the vector (fit/engine.h continue_fit). Where Louis's information is not
// positive definite the steps take the Levenberg–Marquardt direction (fit/rescue.h).
inline FitControl with_newton_finish(FitControl control) {
  control.loglik_tolerance = std::max(control.loglik_tolerance, 1e-2);
  control.step_tolerance = std::max(control.step_tolerance, 0.5);
  control.certificate_threshold = kNewtonFinishThreshold;
  control.newton_finish = true;
  return control;
}

// Production controls. The CN fits use FitControl's defaults; fit_retro_KL waits for both
// the log-likelihood and the step.
inline FitControl retro_KL_control() {
  FitControl control;
  control.loglik_tolerance = 1e-4;
  control.step_tolerance = 1e-4;
  return control;
}
inline FitControl retro_KLZ_control() {
  FitControl control;
  control.step_tolerance = 1e-4;
  return control;
}
inline FitControl sieve_KLZ_control() {
  FitControl control;
  control.loglik_tolerance = 1e-6;
  return control;
}

// The fits of fit/fit.h under an explicit control.
FitResult fit_retro_K(const double* start, const DATA& data, const PARA& para,
                      const FitControl& control);
FitResult fit_retro_KZ(const double* start, const DATA& data, const PARA& para,
                       const FitControl& control);
FitResult fit_pro_KZ_sieve(const double* start, const DATA& data, const PARA& para,
                           const FitControl& control);
FitResult fit_retro_KL(const double* start, const DATA& data, const PARA& para,
                       const FitControl& control);
FitResult fit_retro_KLZ(const double* start, const DATA& data, const PARA& para,
                        const FitControl& control);
FitResult fit_pro_KLZ_sieve(const double* start, const DATA& data, const PARA& para,
                            const FitControl& control);
