#pragma once
// The allele-specific (SNP) fits with an explicit convergence setting. The entry points of
// fit/fit.h run them with their production settings of fit/allele_fit_control.h.

#include "driver/data.h"
#include "driver/para.h"
#include "fit/fit.h"
#include "fit/allele_fit_control.h"
#include "numeric/offset_array.h"

int fit_retro_KL(double& loglik, int& iterations, double* params, double* std_errors,
                 const DMatrix& cov, const DATA& data, PARA& para, const AlleleFitControl& control);
int fit_retro_KLZ(double& loglik, int& iterations, double* params, double* std_errors,
                  const DMatrix& cov, const DATA& data, PARA& para, const AlleleFitControl& control);
int fit_pro_KLZ_sieve(double& loglik, int& iterations, double* params, double* std_errors,
                      const DMatrix& cov, const DATA& data, PARA& para, const AlleleFitControl& control);
