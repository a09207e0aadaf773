#pragma once
// The Cholesky factorisation a = L L' of a symmetric positive definite matrix.

#include <span>

#include "numeric/matrix.h"

class Cholesky {
 public:
  // Factors the square matrix a, reading its lower triangle only.
  explicit Cholesky(const Matrix& a);
  // False when a is not positive definite: a pivot was not positive, or not finite.
  bool positive_definite() const { return positive_definite_; }
  // Replaces b by the solution x of a x = b (a positive definite).
  void solve(std::span<double> b) const;
  // b' a^-1 b, as the squared length of L^-1 b (a positive definite).
  double inverse_quadratic_form(std::span<const double> b) const;

 private:
  // Replaces b by L^-1 b.
  void forward(std::span<double> b) const;
  Matrix lower_;  // L, zero above the diagonal
  bool positive_definite_ = true;
};
