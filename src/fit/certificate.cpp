#include "fit/certificate.h"

#include <cmath>
#include <cstddef>
#include <vector>

SymmetricMatrix::SymmetricMatrix(Information E, int n)
    : n_(n), a_(static_cast<std::size_t>(n) * static_cast<std::size_t>(n), 0.0) {
  for (int u = 0; u < n; ++u)
    for (int v = u; v < n; ++v) at(u, v) = at(v, u) = E(u, v);
}

std::vector<int> free_zero_based(const PARA& para) {
  std::vector<int> free;
  for (int f = 1; f <= para.num_free_params; ++f) free.push_back(para.free_params[f] - 1);
  return free;
}

bool solve_over_free(const SymmetricMatrix& matrix, const std::vector<int>& free,
                     const double* score, std::vector<double>& direction) {
  const std::size_t f = free.size();
  // Lower Cholesky factor L of the free block, row-major.
  std::vector<double> L(f * f, 0.0);
  for (std::size_t i = 0; i < f; ++i)
    for (std::size_t j = 0; j <= i; ++j) {
      double sum = matrix(free[i], free[j]);
      for (std::size_t k = 0; k < j; ++k) sum -= L[i * f + k] * L[j * f + k];
      if (i == j) {
        if (!(sum > 0.0)) return false;
        L[i * f + i] = std::sqrt(sum);
      } else {
        L[i * f + j] = sum / L[j * f + j];
      }
    }
  direction.assign(f, 0.0);
  for (std::size_t i = 0; i < f; ++i) {
    double sum = score[free[i]];
    for (std::size_t k = 0; k < i; ++k) sum -= L[i * f + k] * direction[k];
    direction[i] = sum / L[i * f + i];
  }
  for (std::size_t i = f; i-- > 0;) {
    double sum = direction[i];
    for (std::size_t k = i + 1; k < f; ++k) sum -= L[k * f + i] * direction[k];
    direction[i] = sum / L[i * f + i];
    if (!std::isfinite(direction[i])) return false;
  }
  return true;
}

double score_statistic(const std::vector<int>& free, const double* score,
                       const std::vector<double>& direction) {
  double statistic = 0.0;
  for (std::size_t i = 0; i < free.size(); ++i) statistic += score[free[i]] * direction[i];
  return statistic;
}

namespace {

// One block of intensity means followed by its log-variances.
void expect_block(SymmetricMatrix& E, const double* score, int mean_start, int count) {
  for (int s = 0; s < count; ++s) {
    const int m = mean_start + s;
    const int q = mean_start + count + s;
    E.at(m, q) -= score[m];
    E.at(q, m) = E(m, q);
    E.at(q, q) -= score[q];
  }
}

}  // namespace

void expect_intensity_block(SymmetricMatrix& complete, const double* score, const PARA& para) {
  expect_block(complete, score, para.r_mean_start, para.num_r_means);
  expect_block(complete, score, para.b_mean_start, para.num_b_means);
}
