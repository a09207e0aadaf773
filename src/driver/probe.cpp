#include "driver/probe.h"

#include <algorithm>
#include <cmath>

#include "checks/acceptance.h"
#include "fit/fit.h"
#include "start/robust_start.h"
#include "start/start.h"
#include "wald/wald.h"

ProbeWork::ProbeWork()
    : start(kMaxParams, 0.0),
      fitted(kMaxParams, 0.0),
      std_errors(kMaxParams, 0.0),
      reference(kMaxParams, 0.0) {}

namespace {
// The outcome of a failed start: the SNP start's status codes 1..9 in order, or the CN
// start's cluster check.
Outcome start_outcome(int status, bool snp) {
  if (!snp) return Outcome::kStartClusterCheck;
  static constexpr Outcome kSnp[] = {
      Outcome::kStartClusterCheck, Outcome::kStartZeroCopyHigh, Outcome::kStartInvalidInput,
      Outcome::kStartOneCopyHigh,  Outcome::kStartBafSpread,    Outcome::kStartFewOneCopy,
      Outcome::kStartClassGrew,    Outcome::kStartNoOneCopy,    Outcome::kStartManyHighCalls};
  return status >= 1 && status <= 9 ? kSnp[status - 1] : Outcome::kStartInvalidInput;
}

// Cases and controls among the subjects the start kept.
void count_analysed(const DATA& data, ProbeResult& result) {
  for (int i = 0; i < data.num_subjects; ++i) {
    if (data.excluded[i] == 1) continue;
    if (data.disease_status[i] == 1) ++result.num_cases;
    if (data.disease_status[i] == 0) ++result.num_controls;
  }
}
}  // namespace

namespace {
// Which start an attempt begins from.
enum class StartKind { kStated, kRobust };

// One attempt at the probe: starting values, the fit, the acceptance tests against
// `reference` (the start itself on the stated path) and the Wald test.
ProbeResult attempt_probe(const OPTION& option, PARA& para, DATA& data, double pfb, ProbeWork& work,
                          StartKind kind, FitConvergence convergence,
                          FitIteration iteration = FitIteration::kStated) {
  ProbeResult result;
  const bool snp = option.probe_type == ProbeType::kSnp;
  double* start = work.start.data();
  double* fitted = work.fitted.data();
  const double* reference = start;
  work.iterations = 0;
  work.loglik = 0.0;
  int start_status = 0;
  if (kind == StartKind::kRobust) {
    start_status = get_robust_initial(start, work.reference.data(), para, data, pfb, snp,
                                      option.array_type, option.differential_measurement_errors,
                                      work.selection);
    reference = work.reference.data();
  } else {
    start_status = snp ? get_SNP_initial_Illumina(start, para, data, data.called_cn, pfb,
                                                  option.array_type,
                                                  option.differential_measurement_errors, work.selection)
                       : get_CN_initial(start, para, data, data.called_cn, pfb, option.array_type,
                                        option.differential_measurement_errors, work.selection);
  }
  // The fits read the start's selection from the data; the calls stay as they were read.
  work.selection.apply_to(data.excluded);
  count_analysed(data, result);
  Outcome outcome = Outcome::kOk;
  if (start_status >= 1) outcome = start_outcome(start_status, snp);
  else if (para.num_params > kMaxParams) outcome = Outcome::kTooManyParameters;
  if (outcome == Outcome::kOk) {
    const FitResult fit =
        work.fit_override ? work.fit_override(start, data, para)
                          : fit_probe(snp, start, data, para, iteration, convergence);
    result.iterations = fit.iterations;
    result.path = fit.path;
    work.iterations = fit.iterations;
    outcome = fit.outcome;
    if (fit.ok()) {
      std::copy(fit.estimates.begin(), fit.estimates.end(), fitted);
      std::copy(fit.std_errors.begin(), fit.std_errors.end(), work.std_errors.begin());
      work.cov = fit.disease_covariance;
      work.loglik = fit.loglik;
    }
  }
  if (outcome == Outcome::kOk) outcome = accept_fit(fitted, reference, para, snp);
  if (outcome == Outcome::kOk) {
    result.loglik = work.loglik;
    if (get_testing_results(result.statistic, result.p_value, fitted, work.cov, para) != 0) {
      result.test_failed = true;
      outcome = Outcome::kTestCovariance;
    } else {
      const std::vector<DiseaseCoefficient>& coefficients = para.design().coefficients;
      for (std::size_t u = 0; u < coefficients.size(); ++u)
        if (coefficients[u].flag == EffectFlag::kTested)
          result.tested.push_back({coefficients[u].name, fitted[u],
                                   std::sqrt(work.cov(static_cast<int>(u), static_cast<int>(u)))});
      result.degrees_of_freedom = static_cast<int>(result.tested.size());
    }
  }
  result.outcome = outcome;
  result.status = outcome == Outcome::kOk ? 0 : 1;
  return result;
}

// A stated attempt that ended here may succeed from the robust start: its start was
// rejected, or its fit failed or was not accepted. Input outside the data model and a
// model too large for the vectors fail the same way from any start.
bool rescuable(Outcome outcome) {
  if (outcome == Outcome::kStartInvalidInput || outcome == Outcome::kTooManyParameters) return false;
  const OutcomeStage stage = describe(outcome).stage;
  return stage == OutcomeStage::kStart || stage == OutcomeStage::kFit ||
         stage == OutcomeStage::kAcceptance;
}

// The probe's road with the fits converging by `convergence`: the stated start, and when
// that attempt is turned down, the robust start.
ProbeResult analyse_probe_road(const OPTION& option, PARA& para, DATA& data, double pfb,
                               ProbeWork& work, FitConvergence convergence) {
  ProbeResult result = attempt_probe(option, para, data, pfb, work, StartKind::kStated, convergence);
  if (work.rescue && rescuable(result.outcome)) {
    release_probe_arrays(para);
    ProbeResult rescued =
        attempt_probe(option, para, data, pfb, work, StartKind::kRobust, convergence);
    // A fit whose stated iteration lets clusters trade places or wander off gets a last
    // attempt with the guarded one, which keeps them where the cluster check accepts them
    // on every step: its result, or the code that turned the last attempt down.
    if (rescued.outcome != Outcome::kOk &&
        has_guarded_iteration(option.probe_type == ProbeType::kSnp, para)) {
      release_probe_arrays(para);
      rescued = attempt_probe(option, para, data, pfb, work, StartKind::kRobust, convergence,
                              FitIteration::kGuarded);
    }
    if (rescued.outcome == Outcome::kOk) {
      rescued.path = FitPath::kRescued;
      rescued.stated_outcome = result.outcome;
      result = std::move(rescued);
    } else {
      // Both roads failed: the probe is reported as the stated path left it.
      result.rescue_outcome = rescued.outcome;
    }
  }
  release_probe_arrays(para);
  return result;
}
}  // namespace

ProbeResult analyse_probe(const OPTION& option, PARA& para, DATA& data, double pfb, ProbeWork& work) {
  if (work.convergence == FitConvergence::kNewtonFinish) {
    ProbeResult finished =
        analyse_probe_road(option, para, data, pfb, work, FitConvergence::kNewtonFinish);
    if (finished.outcome == Outcome::kOk) return finished;
    // A probe the Newton finish leaves NA takes the stated road, so that such a run never
    // reports NA where a default run reports a result, and its NA are a default run's.
  }
  return analyse_probe_road(option, para, data, pfb, work, FitConvergence::kStated);
}
