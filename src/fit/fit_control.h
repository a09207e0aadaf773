#pragma once
// Internal entry points of the CN fits with their stopping rule exposed, and a record of
// what the finish computed. The program uses the entry points of fit/fit.h, which run
// with FitControl's defaults; tests use these to converge more tightly and to read the
// full observed information and covariance.

#include <vector>

#include "core/data.h"
#include "core/para.h"
#include "numeric/offset_array.h"

// What a fit's finish leaves behind besides its results (filled only on success).
struct FitReport {
  int size = 0;         // n: num_params, plus the appended sieve slots for a sieve fit
  DMatrix information;  // 1..n x 1..n, the observed information after Louis's correction
  DMatrix covariance;   // 1..n x 1..n, its inverse over the free parameters
  std::vector<int> free_positions;  // 1-based positions that were inverted
  int num_strata = 0;               // sieve fits: strata and their class probabilities
  std::vector<double> sieve_q;      // q[s][k] at [s * num_cn_classes + k]
};

struct FitControl {
  double step_tolerance = 1e-4;    // retrospective fits: largest |step| at convergence
  double loglik_tolerance = 1e-6;  // sieve fits: relative change of the log-likelihood
  int max_iterations = 2000;       // the counter reaching this fails the fit
  FitReport* report = nullptr;     // when set, receives the finish's matrices
};

// The fits of fit/fit.h under an explicit stopping rule.
int fit_retro_K(double& loglik, int& iterations, double* params, double* std_errors,
                const DMatrix& cov, const DATA& data, PARA& para, const FitControl& control);
int fit_retro_KZ(double& loglik, int& iterations, double* params, double* std_errors,
                 const DMatrix& cov, const DATA& data, PARA& para, const FitControl& control);
int fit_pro_KZ_sieve(double& loglik, int& iterations, double* params, double* std_errors,
                     const DMatrix& cov, const DATA& data, PARA& para, const FitControl& control);
