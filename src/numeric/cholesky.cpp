#include "numeric/cholesky.h"

#include <cmath>
#include <vector>

Cholesky::Cholesky(const Matrix& a) : lower_(a.rows(), a.rows(), 0.0) {
  const int m = a.rows();
  for (int j = 0; j < m && positive_definite_; ++j) {
    double d = a(j, j);
    for (int k = 0; k < j; ++k) d -= lower_(j, k) * lower_(j, k);
    if (!(d > 0.0) || !std::isfinite(d)) {
      positive_definite_ = false;
      break;
    }
    lower_(j, j) = std::sqrt(d);
    for (int i = j + 1; i < m; ++i) {
      double s = a(i, j);
      for (int k = 0; k < j; ++k) s -= lower_(i, k) * lower_(j, k);
      lower_(i, j) = s / lower_(j, j);
    }
  }
}

void Cholesky::forward(std::span<double> b) const {
  const int m = lower_.rows();
  for (int i = 0; i < m; ++i) {
    double s = b[i];
    for (int k = 0; k < i; ++k) s -= lower_(i, k) * b[k];
    b[i] = s / lower_(i, i);
  }
}

void Cholesky::solve(std::span<double> b) const {
  forward(b);
  const int m = lower_.rows();
  for (int i = m - 1; i >= 0; --i) {
    double s = b[i];
    for (int k = i + 1; k < m; ++k) s -= lower_(k, i) * b[k];
    b[i] = s / lower_(i, i);
  }
}

double Cholesky::inverse_quadratic_form(std::span<const double> b) const {
  std::vector<double> z(b.begin(), b.end());
  forward(z);
  double w = 0.0;
  for (const double v : z) w += v * v;
  return w;
}
