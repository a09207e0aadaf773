#pragma once
// The Wald test of the tested disease-model coefficients.

#include <string>
#include <vector>

#include "core/para.h"
#include "numeric/matrix.h"

// One coefficient of the disease model, in the order of the parameter vector's disease
// block: K, L, the products of K and L with each covariate column, each covariate
// column with its products with later columns, and the intercept when there are
// covariates.
struct DiseaseCoefficient {
  std::string name;  // "K", "L", "K:age", "age", "age:sex", "(intercept)"
  int flag = 1;      // 1 in the model, 2 in the model and tested
};

// The disease-model coefficients of the run, num_disease_coefs of them.
std::vector<DiseaseCoefficient> disease_coefficients(const PARA& para);

// Writes the Wald statistic W of the coefficients flagged 2 and its chi-square p-value
// with as many degrees of freedom. Returns 0, or 1 when their covariance block is not
// positive definite or not finite (a zero row included): the probe is then reported as
// "NA" instead of stopping the run or reporting a statistic without meaning.
int get_testing_results(double& statistic, double& p_value, const double* theta,
                        const Matrix& cov, const PARA& para);
