#include "driver/probe.h"

#include <algorithm>
#include <cmath>

#include "checks/acceptance.h"
#include "fit/fit.h"
#include "start/start.h"
#include "wald/wald.h"

ProbeWork::ProbeWork()
    : start(kMaxParams, 0.0),
      fitted(kMaxParams, 0.0),
      std_errors(kMaxParams, 0.0) {}

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

ProbeResult analyse_probe(const OPTION& option, PARA& para, DATA& data, double pfb, ProbeWork& work) {
  ProbeResult result;
  const bool snp = option.probe_type == ProbeType::kSnp;
  double* start = work.start.data();
  double* fitted = work.fitted.data();
  work.iterations = 0;
  work.loglik = 0.0;
  const int start_status =
      snp ? get_SNP_initial_Illumina(start, para, data, pfb, option.array_type,
                                     option.differential_measurement_errors)
          : get_CN_initial(start, para, data, pfb, option.array_type,
                           option.differential_measurement_errors);
  count_analysed(data, result);
  Outcome outcome = Outcome::kOk;
  if (start_status >= 1) outcome = start_outcome(start_status, snp);
  else if (para.num_params > kMaxParams) outcome = Outcome::kTooManyParameters;
  if (outcome == Outcome::kOk) {
    const FitResult fit =
        work.fit_override ? work.fit_override(start, data, para) : fit_probe(snp, start, data, para);
    result.iterations = fit.iterations;
    work.iterations = fit.iterations;
    outcome = fit.outcome;
    if (fit.ok()) {
      std::copy(fit.estimates.begin(), fit.estimates.end(), fitted);
      std::copy(fit.std_errors.begin(), fit.std_errors.end(), work.std_errors.begin());
      work.cov = fit.disease_covariance;
      work.loglik = fit.loglik;
    }
  }
  if (outcome == Outcome::kOk) outcome = accept_fit(fitted, start, para, snp);
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
  release_probe_arrays(para);
  return result;
}
