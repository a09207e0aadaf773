#pragma once
// Solving a square linear system through its LU decomposition (Crout's method with
// implicit scaled partial pivoting).

#include <span>
#include <vector>

#include "numeric/matrix.h"

// The LU decomposition of a square matrix with its rows permuted. A matrix with a row of
// zeros has no decomposition; a zero pivot is reported and then replaced by 1e-40, so
// inverse() of a singular matrix without a zero row has huge entries rather than stopping.
class LuDecomposition {
 public:
  // Decomposes the square matrix a.
  explicit LuDecomposition(Matrix a);
  // True when a row of the matrix is zero: nothing else may be called.
  bool zero_row() const { return zero_row_; }
  // True when a pivot was zero or the factors hold a value that is not finite.
  bool singular() const { return singular_; }
  // Order of the matrix.
  int size() const { return lu_.rows(); }
  // Replaces b (size() entries) by the solution x of a x = b.
  void solve(std::span<double> b) const;
  // The inverse of a, column by column.
  Matrix inverse() const;

 private:
  Matrix lu_;               // L below the diagonal (unit diagonal implied), U on and above it
  std::vector<int> pivot_;  // pivot_[j]: the row exchanged with row j at step j
  bool zero_row_ = false;
  bool singular_ = false;
};
