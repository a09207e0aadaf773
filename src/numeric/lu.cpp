#include "numeric/lu.h"

#include <cmath>
#include <utility>

namespace {
// A zero pivot is replaced by this value.
constexpr double kTiny = 1.0e-40;
}  // namespace

LuDecomposition::LuDecomposition(Matrix a) : lu_(std::move(a)) {
  const int n = lu_.rows();
  pivot_.assign(static_cast<std::size_t>(n), 0);
  std::vector<double> scale(static_cast<std::size_t>(n), 0.0);
  for (int i = 0; i < n; ++i) {
    double big = 0.0;
    for (int j = 0; j < n; ++j) {
      const double temp = std::fabs(lu_(i, j));
      if (temp > big) big = temp;
    }
    if (big == 0.0) {
      zero_row_ = true;
      singular_ = true;
      return;
    }
    scale[i] = 1.0 / big;
  }
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < j; ++i) {
      double sum = lu_(i, j);
      for (int k = 0; k < i; ++k) sum -= lu_(i, k) * lu_(k, j);
      lu_(i, j) = sum;
    }
    double big = 0.0;
    int imax = j;
    for (int i = j; i < n; ++i) {
      double sum = lu_(i, j);
      for (int k = 0; k < j; ++k) sum -= lu_(i, k) * lu_(k, j);
      lu_(i, j) = sum;
      const double candidate = scale[i] * std::fabs(sum);
      if (candidate >= big) {  // on ties the later row wins
        big = candidate;
        imax = i;
      }
    }
    if (j != imax) {
      lu_.swap_rows(imax, j);
      scale[imax] = scale[j];
    }
    pivot_[j] = imax;
    if (!std::isfinite(lu_(j, j))) singular_ = true;
    if (lu_(j, j) == 0.0) {
      singular_ = true;
      lu_(j, j) = kTiny;
    }
    if (j != n - 1) {
      const double dum = 1.0 / lu_(j, j);
      for (int i = j + 1; i < n; ++i) lu_(i, j) *= dum;
    }
  }
}

void LuDecomposition::solve(std::span<double> b) const {
  const int n = lu_.rows();
  int first = -1;  // first non-zero entry of the permuted b: forward substitution starts there
  for (int i = 0; i < n; ++i) {
    const int ip = pivot_[i];
    double sum = b[ip];
    b[ip] = b[i];
    if (first >= 0) {
      for (int j = first; j <= i - 1; ++j) sum -= lu_(i, j) * b[j];
    } else if (sum != 0.0) {
      first = i;
    }
    b[i] = sum;
  }
  for (int i = n - 1; i >= 0; --i) {
    double sum = b[i];
    for (int j = i + 1; j < n; ++j) sum -= lu_(i, j) * b[j];
    b[i] = sum / lu_(i, i);
  }
}

Matrix LuDecomposition::inverse() const {
  const int n = lu_.rows();
  Matrix y(n, n);
  std::vector<double> col(static_cast<std::size_t>(n));
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) col[i] = 0.0;
    col[j] = 1.0;
    solve(col);
    for (int i = 0; i < n; ++i) y(i, j) = col[i];
  }
  return y;
}
