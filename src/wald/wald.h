#pragma once
// The Wald test of the tested disease-model coefficients.

#include "core/para.h"
#include "numeric/matrix.h"

// Writes the Wald statistic W of the tested coefficients (EffectFlag::kTested) and its
// chi-square p-value with as many degrees of freedom. Returns 0, or 1 when their covariance block is not
// positive definite or not finite (a zero row included): the probe is then reported as
// "NA" instead of stopping the run or reporting a statistic without meaning.
int get_testing_results(double& statistic, double& p_value, const double* theta,
                        const Matrix& cov, const PARA& para);
