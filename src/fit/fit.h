#pragma once
// The six likelihood fits of a probe: three class models (retrospective; retrospective
// with independent covariates; prospective with a sieve over the strata of a dependent
// covariate) for total-copy-number (CN) and allele-specific (SNP) probes. Each starts from
// the start vector (num_params entries) and returns a FitResult whose outcome says
// whether the estimates can be used and, if not, why. Each fit stops by its own rule
// (StoppingRule, fit/engine.h): fit_retro_K, fit_retro_KZ and fit_retro_KLZ when no Newton
// step entry exceeds the step tolerance; fit_retro_KL when, besides, the log-likelihood's
// relative change is within its tolerance; the sieve fits on the relative change alone.

#include <vector>

#include "core/data.h"
#include "core/outcome.h"
#include "core/para.h"
#include "numeric/matrix.h"

// What a fit gives back.
struct FitResult {
  Outcome outcome = Outcome::kOk;  // kOk, or the reason the fit failed
  double loglik = 0.0;             // at the estimates (without -n log sqrt(2 pi)); on success
  int iterations = 0;              // Newton steps taken, also on failure
  std::vector<double> estimates;   // num_params, frequencies reported as frequencies; on a
                                   // failure the last iterate, empty if the fit never began
  std::vector<double> std_errors;  // num_params; on success
  Matrix disease_covariance;       // num_disease_coefs square; on success
  FitPath path = FitPath::kStated;  // the stated iteration, or a rescue (fit/rescue.h)
  double loglik_gained = 0.0;      // continued fits: l at the maximum minus l at the stated stop
  int rescue_steps = 0;            // safeguarded and continuation steps, beyond `iterations`
  double score_statistic = 0.0;    // U' I^-1 U at the reported stop (0 where not computed)
  // True when the estimates and their covariance can be used.
  bool ok() const { return outcome == Outcome::kOk; }
  // A stated fit that converged short of a maximum and was continued there.
  bool continued() const { return path == FitPath::kContinued; }
};

// CN probe, no covariate: retrospective EM with one Newton step per iteration.
FitResult fit_retro_K(const double* start, const DATA& data, const PARA& para);
// CN probe, independent covariates: joint model of status and class given covariates.
FitResult fit_retro_KZ(const double* start, const DATA& data, const PARA& para);
// CN probe, one dependent covariate: prospective model with a sieve over strata.
FitResult fit_pro_KZ_sieve(const double* start, const DATA& data, const PARA& para);
// SNP probe, no covariate: allele-specific retrospective fit.
FitResult fit_retro_KL(const double* start, const DATA& data, const PARA& para);
// SNP probe, independent covariates.
FitResult fit_retro_KLZ(const double* start, const DATA& data, const PARA& para);
// SNP probe, one dependent covariate: prospective sieve fit.
FitResult fit_pro_KLZ_sieve(const double* start, const DATA& data, const PARA& para);

// Which iteration a fit runs: the stated one, or the guarded one, for a probe the stated
// path turned down, where every step keeps the clusters where the cluster check accepts
// them and, in the CN sieve fit, the class probabilities start at the shares of the called
// classes (FitControl::guard_clusters, sieve_from_calls).
enum class FitIteration { kStated, kGuarded };

// How a fit converges: by the stated iteration and its stopping rule (certified at the
// stop), or, when a run asks for it, by that iteration stopped early and finished by Newton
// steps on the observed log-likelihood (fit/fit_control.h with_newton_finish): faster, and
// to the maximum itself rather than to where the stated rule stops near it.
enum class FitConvergence { kStated, kNewtonFinish };

// Whether the guarded iteration of the fit that fit_probe chooses differs from its stated
// one: the stated iterations of the CN sieve fit and of every SNP fit let clusters trade
// places or wander off (the other CN fits keep the order on every step).
bool has_guarded_iteration(bool snp_probe, const PARA& para);

// The fit that the probe type (SNP or CN) and the run's model family choose.
FitResult fit_probe(bool snp_probe, const double* start, const DATA& data, const PARA& para,
                    FitIteration iteration = FitIteration::kStated,
                    FitConvergence convergence = FitConvergence::kStated);
