#pragma once
// The certificate that a fit stopped at a maximum, and the linear algebra of the steps
// that continue a fit towards one. At a maximum the observed score U (the gradient of the
// observed log-likelihood over the free parameters) is zero; the score statistic
// U' I^-1 U, with I the observed (Louis) information, approximates twice the
// log-likelihood still to gain and must be below FitControl::certificate_threshold. The
// steps solve over the free parameters with a Cholesky factor, so a matrix that is not
// positive definite there is refused rather than inverted.

#include <vector>

#include "core/para.h"
#include "fit/information.h"
#include "numeric/matrix.h"

// The symmetric n x n matrix whose upper triangle E holds over positions 0 .. n-1.
Matrix symmetric_copy(Information E, int n);

// Solves the system of the symmetric `matrix` restricted to `free` with right-hand side
// score[free]: `direction` (one entry per free position) = M^-1 U. False when the
// restricted matrix is not positive definite or the solution not finite.
bool solve_over_free(const Matrix& matrix, const std::vector<int>& free, const double* score,
                     std::vector<double>& direction);

// U' direction over the free positions: the score statistic when direction = I^-1 U.
double score_statistic(const std::vector<int>& free, const double* score,
                       const std::vector<double>& direction);

// Turns the complete-data information of the intensity block into its expectation
// (Fisher scoring): for each normal intensity with residuals e, weights rho and variance
// s2, the mean keeps sum rho / s2, the cross term sum rho e / s2 becomes 0 and the
// log-variance's sum rho e^2 / (2 s2) becomes sum rho / 2. Both differences are the
// intensity's own score entries (the mean's sum rho e / s2, the log-variance's
// -sum rho (1 - e^2 / s2) / 2), so `score` (the score of the same accumulation) gives them.
// Means pair with the log-variance at the same offset in their block (core/layout.h).
void expect_intensity_block(Matrix& complete, const double* score, const PARA& para);
