#include "fit/certificate.h"

#include <cmath>
#include <cstddef>
#include <vector>

#include "numeric/cholesky.h"

Matrix symmetric_copy(Information E, int n) {
  Matrix m(n, n);
  for (int u = 0; u < n; ++u)
    for (int v = u; v < n; ++v) m(u, v) = m(v, u) = E(u, v);
  return m;
}

bool solve_over_free(const Matrix& matrix, const std::vector<int>& free, const double* score,
                     std::vector<double>& direction) {
  const Cholesky factor(restricted(matrix, free));
  if (!factor.positive_definite()) return false;
  direction.resize(free.size());
  for (std::size_t i = 0; i < free.size(); ++i) direction[i] = score[free[i]];
  factor.solve(direction);
  for (const double d : direction)
    if (!std::isfinite(d)) return false;
  return true;
}

double score_statistic(const std::vector<int>& free, const double* score,
                       const std::vector<double>& direction) {
  double statistic = 0.0;
  for (std::size_t i = 0; i < free.size(); ++i) statistic += score[free[i]] * direction[i];
  return statistic;
}

namespace {

// One block of intensity means followed by as many log-variances.
void expect_block(Matrix& E, const double* score, int mean_start, int count) {
  for (int s = 0; s < count; ++s) {
    const int m = mean_start + s;
    const int q = mean_start + count + s;
    E(m, q) -= score[m];
    E(q, m) = E(m, q);
    E(q, q) -= score[q];
  }
}

}  // namespace

void expect_intensity_block(Matrix& complete, const double* score, const PARA& para) {
  expect_block(complete, score, para.r_mean_start, para.num_r_means);
  expect_block(complete, score, para.b_mean_start, para.num_b_means);
}
