#pragma once
// The allele-specific (SNP) fits under an explicit stopping rule (FitControl: the relative
// change of the log-likelihood for the sieve fit, the largest step entry for
// fit_retro_KLZ, both for fit_retro_KL). The entry points of fit/fit.h run them with the production rules
// below; FitControl::report, when set, receives the finish's matrices (for the sieve fit
// over the parameter vector extended by the free sieve slots, and sieve_q at
// [s * num_allele_classes + c]).

#include "core/data.h"
#include "core/para.h"
#include "fit/fit.h"
#include "fit/fit_control.h"
#include "numeric/offset_array.h"

// Production stopping rules.
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

int fit_retro_KL(double& loglik, int& iterations, double* params, double* std_errors,
                 const DMatrix& cov, const DATA& data, PARA& para, const FitControl& control);
int fit_retro_KLZ(double& loglik, int& iterations, double* params, double* std_errors,
                  const DMatrix& cov, const DATA& data, PARA& para, const FitControl& control);
int fit_pro_KLZ_sieve(double& loglik, int& iterations, double* params, double* std_errors,
                      const DMatrix& cov, const DATA& data, PARA& para, const FitControl& control);
