#include "driver/probe.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "fit/fit.h"
#include "initial/initial.h"
#include "test/wald.h"

ProbeWork::ProbeWork()
    : start(kMaxParams, 0.0),
      fitted(kMaxParams, 0.0),
      std_errors(kMaxParams, 0.0),
      cov(dmatrix(1, kMaxParams, 1, kMaxParams)) {
  cov.fill(0.0);
}

namespace {
// The fit moved a mean by more than one fitted standard deviation.
bool moved_too_far(const double* f, const double* s, int mean, int logvar) {
  return std::fabs(f[mean] - s[mean]) > std::exp(f[logvar] / 2.0);
}

// First modelled class among `order`, or -1.
int first_modelled(const PARA& para, std::initializer_list<int> order) {
  for (int c : order)
    if (para.allele_class_present[c] != 0) return c;
  return -1;
}
}  // namespace

// R entries of a SNP probe on an 'A' array are laid out per allele-specific class (stride
// 6), and each modelled class of one total class starts from that total class's LRR
// statistics. There the tests that 'I' arrays make on the one- and two-copy R cells are made
// on allele classes instead:
//  - the move of the one-copy R mean (step 2a) is judged for each modelled one-copy class,
//    A (c = 1) and B (c = 2);
//  - the case-minus-control shift (step 3) compares the first modelled one-copy class (A,
//    else B) with the first modelled two-copy class (AB, else AA, else BB); when either
//    total class has no modelled class the test has nothing to compare and is skipped.
// Unmodelled classes hold no values, so neither test ever reads them.

Outcome accept_fit(const double* f, const double* s, const PARA& para, bool snp_probe) {
  const int clusters = snp_probe ? check_cluster_means_SNP(f, para) : check_cluster_means_CN(f, para);
  if (clusters != 0) return Outcome::kAcceptClusterMeans;
  const int K = para.num_cn_classes;
  const int M = para.num_allele_classes;
  const bool by_allele = snp_probe && para.array_type == 'A';
  for (int d = 0; d <= para.differential_measurement_errors; ++d) {
    if (para.cn_class_present[1] == 0) break;
    if (by_allele) {
      for (int c = 1; c <= 2; ++c)
        if (para.allele_class_present[c] != 0 &&
            moved_too_far(f, s, para.r_mean_start + M * d + c, para.r_logvar_start + M * d + c))
          return Outcome::kAcceptMeanMoved;
    } else if (moved_too_far(f, s, para.r_mean_start + K * d + 1, para.r_logvar_start + K * d + 1)) {
      return Outcome::kAcceptMeanMoved;
    }
    if (!snp_probe) continue;
    for (int c = 1; c <= 2; ++c)
      if (para.allele_class_present[c] != 0 &&
          moved_too_far(f, s, para.b_mean_start + M * d + c, para.b_logvar_start + M * d + c))
        return Outcome::kAcceptMeanMoved;
    // The heterozygous class must keep its B mean near 0.5; an unmodelled AB class has
    // no fitted mean to judge.
    if (para.allele_class_present[4] != 0 && std::fabs(f[para.b_mean_start + M * d + 4] - 0.5) > 0.13)
      return Outcome::kAcceptHeterozygousB;
  }
  if (para.differential_measurement_errors == 1) {
    const int m = para.r_mean_start;
    int one = 1, two = 2, stride = K;
    if (by_allele) {
      one = first_modelled(para, {1, 2});
      two = first_modelled(para, {4, 3, 5});
      stride = M;
    }
    if (one >= 0 && two >= 0) {
      const double shift1 = f[m + stride + one] - f[m + one];
      const double shift2 = f[m + stride + two] - f[m + two];
      if (std::fabs(shift1 - shift2) > 0.25) return Outcome::kAcceptCaseShift;
    }
  }
  return Outcome::kOk;
}

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
  const bool snp = option.probe_type == "SNP";
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
    std::copy(start, start + para.num_params, fitted);
    double* se = work.std_errors.data();
    int status = 0;
    if (work.fit_override) {
      status = work.fit_override(work.loglik, work.iterations, fitted, se, work.cov, data, para);
    } else {
      switch (para.model_type) {
        case 0:
          status = snp ? fit_retro_KL(work.loglik, work.iterations, fitted, se, work.cov, data, para)
                       : fit_retro_K(work.loglik, work.iterations, fitted, se, work.cov, data, para);
          break;
        case 1:
          status = snp ? fit_retro_KLZ(work.loglik, work.iterations, fitted, se, work.cov, data, para)
                       : fit_retro_KZ(work.loglik, work.iterations, fitted, se, work.cov, data, para);
          break;
        default:
          status = snp ? fit_pro_KLZ_sieve(work.loglik, work.iterations, fitted, se, work.cov, data, para)
                       : fit_pro_KZ_sieve(work.loglik, work.iterations, fitted, se, work.cov, data, para);
          break;
      }
    }
    result.iterations = work.iterations;
    if (status >= 1) outcome = Outcome::kFitSingularInformation;
  }
  if (outcome == Outcome::kOk) outcome = accept_fit(fitted, start, para, snp);
  if (outcome == Outcome::kOk) {
    result.loglik = work.loglik;
    if (get_testing_results(result.statistic, result.p_value, fitted, work.cov, para) != 0) {
      result.test_failed = true;
      outcome = Outcome::kTestCovariance;
    } else {
      const std::vector<DiseaseCoefficient> coefficients = disease_coefficients(para);
      for (std::size_t u = 0; u < coefficients.size(); ++u)
        if (coefficients[u].flag == 2)
          result.tested.push_back({coefficients[u].name, fitted[u],
                                   std::sqrt(work.cov[static_cast<int>(u) + 1][static_cast<int>(u) + 1])});
      result.degrees_of_freedom = static_cast<int>(result.tested.size());
    }
  }
  result.outcome = outcome;
  result.status = outcome == Outcome::kOk ? 0 : 1;
  release_probe_arrays(para);
  return result;
}
