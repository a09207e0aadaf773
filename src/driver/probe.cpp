#include "driver/probe.h"

#include <algorithm>
#include <cmath>

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
}  // namespace

int accept_fit(const double* f, const double* s, const PARA& para, bool snp_probe) {
  int status = snp_probe ? check_cluster_means_SNP(f, para) : check_cluster_means_CN(f, para);
  const int K = para.num_cn_classes;
  const int M = para.num_allele_classes;
  for (int d = 0; d <= para.differential_measurement_errors; ++d) {
    if (para.cn_class_present[1] == 0) break;
    if (moved_too_far(f, s, para.r_mean_start + K * d + 1, para.r_logvar_start + K * d + 1))
      status = 1;
    if (!snp_probe) continue;
    for (int c = 1; c <= 2; ++c)
      if (para.allele_class_present[c] != 0 &&
          moved_too_far(f, s, para.b_mean_start + M * d + c, para.b_logvar_start + M * d + c))
        status = 1;
    // The heterozygous class must keep its B mean near 0.5; an unmodelled AB class has
    // no fitted mean to judge.
    if (para.allele_class_present[4] != 0 && std::fabs(f[para.b_mean_start + M * d + 4] - 0.5) > 0.13)
      status = 1;
  }
  if (para.differential_measurement_errors == 1) {
    const int m = para.r_mean_start;
    const double shift1 = f[m + K + 1] - f[m + 1];
    const double shift2 = f[m + K + 2] - f[m + 2];
    if (std::fabs(shift1 - shift2) > 0.25) status = 1;
  }
  return status;
}

ProbeResult analyse_probe(const OPTION& option, PARA& para, DATA& data, double pfb, ProbeWork& work) {
  ProbeResult result;
  const bool snp = option.probe_type == "SNP";
  double* start = work.start.data();
  double* fitted = work.fitted.data();
  int status = snp ? get_SNP_initial_Illumina(start, para, data, pfb, option.array_type,
                                              option.differential_measurement_errors)
                   : get_CN_initial(start, para, data, pfb, option.array_type,
                                    option.differential_measurement_errors);
  if (status < 1 && para.num_params > kMaxParams) status = 1;
  if (status < 1) {
    std::copy(start, start + para.num_params, fitted);
    double* se = work.std_errors.data();
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
  if (status < 1) status = accept_fit(fitted, start, para, snp);
  if (status < 1) {
    if (get_testing_results(result.statistic, result.p_value, fitted, work.cov, para) != 0) {
      result.test_failed = true;
      status = 1;
    }
  }
  result.status = status;
  release_probe_arrays(para);
  return result;
}
