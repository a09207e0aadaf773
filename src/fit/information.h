#pragma once
// The information matrix of a fit: the handle the models fill it through, its mirroring,
// its plausibility, the plausibility of the variances of its inverse, the Newton step's
// solve and the inversion over the free parameters.

#include <span>
#include <vector>

#include "numeric/matrix.h"

// The information matrix as the models fill it: entry (u, v) at the vector positions u
// and v. A small handle, passed by value.
class Information {
 public:
  explicit Information(Matrix& matrix) : values_(matrix.data()), cols_(matrix.cols()) {}
  // Entry at the positions u and v.
  double& operator()(int u, int v) const {
    return values_[static_cast<std::size_t>(u) * static_cast<std::size_t>(cols_) +
                   static_cast<std::size_t>(v)];
  }

 private:
  double* values_;  // the matrix's first element
  int cols_;        // its row length
};

// Copies the upper triangle of the leading n x n block of E into its lower triangle.
inline void mirror_upper(Matrix& E, int n) {
  for (int i = 0; i < n; ++i)
    for (int j = i + 1; j < n; ++j) E(j, i) = E(i, j);
}

// True when the square matrix E is implausible: a row whose every entry exceeds 1e10 in
// magnitude, a row sum that is NaN, or a row sum below 1e-20.
bool information_implausible(const Matrix& E);

// True when one of the first n diagonal entries of V is below 0 or above 100.
bool variances_improper(const Matrix& V, int n);

// E restricted to the rows and columns `positions`.
Matrix restricted(const Matrix& E, const std::vector<int>& positions);

// How the Newton step's solve went.
enum class SolveOutcome {
  kSolved,
  kSingular,   // the restricted information is implausible or has a zero pivot
  kNonFinite,  // the solution has an entry that is not finite
};

// Solves E x = U over the positions `free_positions` of the leading block of E (mirrored):
// x holds the solution at the free positions and 0 elsewhere (U's size entries).
SolveOutcome solve_over_positions(std::span<double> x, const Matrix& E, std::span<const double> U,
                                  const std::vector<int>& free_positions);

// Inverts E restricted to the positions `free_positions` and writes the inverse, expanded
// to n x n with zeros for the fixed positions, into out. False when the restricted matrix
// or its inverse is implausible.
bool invert_over_positions(Matrix& out, const Matrix& E, const std::vector<int>& free_positions,
                           int n);
