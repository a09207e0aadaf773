#pragma once
// The parameter vector's design vector, measurement indicator and the
// inversion over free parameters, shared by every fit.
//
// Layout (0-based): disease-model coefficients [0, num_disease_coefs); class
// frequencies from freq_start (log-ratios to the reference class; SNP: then the
// logit of the B-allele frequency); R means from r_mean_start; R log-variances
// from r_logvar_start; B means from b_mean_start; B log-variances from
// b_logvar_start. Measurement group g = y * differential_measurement_errors.

#include <vector>

#include "core/para.h"
#include "numeric/offset_array.h"

// Writes the disease-model design vector of class (k, l) and covariate row z (may be
// null when there are no covariate columns) into a[0 .. num_disease_coefs - 1].
void Avec(double* a, int k, int l, const double* z, const PARA& para);

// Writes the measurement indicator of status y and class (k, l) into
// v[r_mean_start .. num_params - 1]; positions below r_mean_start are untouched.
void BCDEvec(double* v, int y, int k, int l, const double* z, const PARA& para);

// 1 when the matrix E (1..n) is implausible: a row whose every entry exceeds 1e10 in
// magnitude, a row sum that is NaN, or a row sum below 1e-20.
int explosion_E(const DMatrix& E, int n);

// 1 when a diagonal entry of V (1..n) is below 0 or above 100.
int inproper_std(const DMatrix& V, int n);

// Inverts E restricted to the free parameters; writes the inverse, expanded to
// num_params x num_params with zeros for fixed parameters, into out. 0 on success,
// 1 when the restricted matrix or its inverse is implausible.
int invert_E(const DMatrix& out, const DMatrix& E, const PARA& para);

// invert_E over an explicit list of 1-based free positions within 1..n.
int invert_over(const DMatrix& out, const DMatrix& E, const std::vector<int>& free_positions,
                int n);

// Replaces the frequency log-ratios at `slots` (0-based positions of the present
// non-reference classes) by class frequencies and their standard errors by delta-method
// values, from V (1-based covariance over the whole vector).
void back_transform_frequencies(double* params, double* std_errors, const DMatrix& V,
                                const int* slots, int num_slots);
