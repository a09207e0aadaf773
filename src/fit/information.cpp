#include "fit/information.h"

#include <cmath>
#include <utility>
#include <vector>

#include "numeric/lu.h"
#include "numeric/vector_ops.h"

bool information_implausible(const Matrix& E) {
  for (int i = 0; i < E.rows(); ++i) {
    double smallest = 1e18;
    double sum = 0.0;
    for (int j = 0; j < E.cols(); ++j) {
      const double a = std::fabs(E(i, j));
      if (a < smallest) smallest = a;
      sum += a;
    }
    if (smallest > 1e10 || my_isnan(sum) || sum < 1e-20) return true;
  }
  return false;
}

bool variances_improper(const Matrix& V, int n) {
  for (int i = 0; i < n; ++i)
    if (V(i, i) < 0.0 || V(i, i) > 100.0) return true;
  return false;
}

Matrix restricted(const Matrix& E, const std::vector<int>& positions) {
  const int f = static_cast<int>(positions.size());
  Matrix out(f, f);
  for (int i = 0; i < f; ++i)
    for (int j = 0; j < f; ++j) out(i, j) = E(positions[i], positions[j]);
  return out;
}

SolveOutcome solve_over_positions(std::span<double> x, const Matrix& E, std::span<const double> U,
                                  const std::vector<int>& free_positions) {
  Matrix sub = restricted(E, free_positions);
  // A zero row has no decomposition: keep it away from the solve.
  if (information_implausible(sub)) return SolveOutcome::kSingular;
  const LuDecomposition lu(std::move(sub));
  if (lu.singular()) return SolveOutcome::kSingular;
  const int f = static_cast<int>(free_positions.size());
  std::vector<double> b(static_cast<std::size_t>(f));
  for (int i = 0; i < f; ++i) b[i] = U[free_positions[i]];
  lu.solve(b);
  for (double& entry : x) entry = 0.0;
  for (int i = 0; i < f; ++i) {
    if (!std::isfinite(b[i])) return SolveOutcome::kNonFinite;
    x[free_positions[i]] = b[i];
  }
  return SolveOutcome::kSolved;
}

bool invert_over_positions(Matrix& out, const Matrix& E, const std::vector<int>& free_positions,
                           int n) {
  Matrix sub = restricted(E, free_positions);
  // A zero row has no decomposition: keep it away from the inversion.
  if (information_implausible(sub)) return false;
  const Matrix inverse = LuDecomposition(std::move(sub)).inverse();
  if (information_implausible(inverse)) return false;
  out.resize(n, n, 0.0);
  const int f = static_cast<int>(free_positions.size());
  for (int i = 0; i < f; ++i)
    for (int j = 0; j < f; ++j) out(free_positions[i], free_positions[j]) = inverse(i, j);
  return true;
}
