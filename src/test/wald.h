#pragma once
// The Wald test of the tested disease-model coefficients.

#include "driver/para.h"
#include "numeric/offset_array.h"

// Writes the Wald statistic W of the coefficients flagged 2 and its chi-square p-value
// with as many degrees of freedom. Returns 0, or 1 when their covariance block is not
// positive definite or not finite (a zero row included): the probe is then reported as
// "NA" instead of stopping the run or reporting a statistic without meaning.
int get_testing_results(double& statistic, double& p_value, const double* theta,
                        const DMatrix& cov, const PARA& para);
