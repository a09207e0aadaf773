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

// A symmetric matrix over all positions 0 .. n-1 of a fit's vector, row-major, copied
// from the upper triangle of an information matrix.
class SymmetricMatrix {
 public:
  // Copies the upper triangle of E over positions 0 .. n-1 into both triangles.
  SymmetricMatrix(Information E, int n);
  // Entry at the 0-based positions u and v.
  double operator()(int u, int v) const { return a_[static_cast<std::size_t>(u) * n_ + v]; }
  // Writable entry; the caller keeps both triangles equal.
  double& at(int u, int v) { return a_[static_cast<std::size_t>(u) * n_ + v]; }
  // Order of the matrix.
  int size() const { return n_; }

 private:
  int n_;
  std::vector<double> a_;
};

// The 0-based positions of the free parameters of PARA.
std::vector<int> free_zero_based(const PARA& para);

// Solves the system of `matrix` restricted to `free` with right-hand side score[free]:
// `direction` (one entry per free position) = M^-1 U. False when the restricted matrix is
// not positive definite or the solution not finite.
bool solve_over_free(const SymmetricMatrix& matrix, const std::vector<int>& free,
                     const double* score, std::vector<double>& direction);

// U' direction over the free positions: the score statistic when direction = I^-1 U.
double score_statistic(const std::vector<int>& free, const double* score,
                       const std::vector<double>& direction);

// Turns the complete-data information of the intensity block into its expectation
// (Fisher scoring): for each normal intensity with weighted residuals e, weights rho and
// variance s2, the mean keeps sum rho / s2, the cross term sum rho e / s2 becomes 0 and the
// log-variance's sum rho e^2 / (2 s2) becomes sum rho / 2. Both differences are the
// intensity's own score entries (the mean's sum rho e / s2, the log-variance's
// -sum rho (1 - e^2 / s2) / 2), so `score` (the score of the same accumulation) gives them.
// Means pair with the log-variance at the same offset in their block (layout.h).
void expect_intensity_block(SymmetricMatrix& complete, const double* score, const PARA& para);
