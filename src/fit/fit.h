#pragma once
// The six likelihood fits. Each takes the start values in params and returns 0 (usable)
// or 1 (failed). On success params holds the estimates, std_errors their standard errors,
// and cov[1..num_disease_coefs][1..num_disease_coefs] the covariance of the disease-model
// coefficients; cov (1..200 x 1..200) is also the fit's workspace.

#include "core/data.h"
#include "core/para.h"
#include "numeric/offset_array.h"

// CN probe, no covariate: retrospective EM with one Newton step per iteration.
int fit_retro_K(double& loglik, int& iterations, double* params, double* std_errors,
                const DMatrix& cov, const DATA& data, PARA& para);
// CN probe, independent covariates: joint model of status and class given covariates.
int fit_retro_KZ(double& loglik, int& iterations, double* params, double* std_errors,
                 const DMatrix& cov, const DATA& data, PARA& para);
// CN probe, one dependent covariate: prospective model with a sieve over strata.
int fit_pro_KZ_sieve(double& loglik, int& iterations, double* params, double* std_errors,
                     const DMatrix& cov, const DATA& data, PARA& para);
// SNP probe, no covariate: allele-specific retrospective fit.
int fit_retro_KL(double& loglik, int& iterations, double* params, double* std_errors,
                 const DMatrix& cov, const DATA& data, PARA& para);
// SNP probe, independent covariates.
int fit_retro_KLZ(double& loglik, int& iterations, double* params, double* std_errors,
                  const DMatrix& cov, const DATA& data, PARA& para);
// SNP probe, one dependent covariate: prospective sieve fit.
int fit_pro_KLZ_sieve(double& loglik, int& iterations, double* params, double* std_errors,
                      const DMatrix& cov, const DATA& data, PARA& para);
