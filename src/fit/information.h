#pragma once
// The information matrix of a fit: its 0-based view for the models, its mirroring, its
// plausibility, the plausibility of the variances of its inverse, and its inversion over
// the free parameters. The matrices themselves are 1-based.

#include <vector>

#include "core/para.h"
#include "numeric/offset_array.h"

// The information matrix as the models fill it: entry (u, v) at the 0-based vector
// positions u and v, over the 1-based matrix that the inversion takes. A small handle,
// passed by value.
class Information {
 public:
  explicit Information(const DMatrix& matrix) : rows_(&matrix[matrix.row_lo()]) {}
  // Entry at the 0-based positions u and v.
  double& operator()(int u, int v) const { return rows_[u][v + 1]; }

 private:
  const OffsetVector<double>* rows_;  // the matrix's rows, row 1 first
};

// Copies the upper triangle of E (1..n) into the lower.
inline void mirror_upper(const DMatrix& E, int n) {
  for (int i = 1; i <= n; ++i)
    for (int j = i + 1; j <= n; ++j) E[j][i] = E[i][j];
}

// True when the matrix E (1..n) is implausible: a row whose every entry exceeds 1e10 in
// magnitude, a row sum that is NaN, or a row sum below 1e-20.
bool information_implausible(const DMatrix& E, int n);

// True when a diagonal entry of V (1..n) is below 0 or above 100.
bool variances_improper(const DMatrix& V, int n);

// Inverts E (1..n) restricted to the 1-based positions `free_positions` and writes the
// inverse, expanded to n x n with zeros for the fixed positions, into out. False when the
// restricted matrix or its inverse is implausible.
bool invert_over_positions(const DMatrix& out, const DMatrix& E,
                           const std::vector<int>& free_positions, int n);

// invert_over_positions over the free list of PARA within 1..num_params.
bool invert_over_free_params(const DMatrix& out, const DMatrix& E, const PARA& para);
