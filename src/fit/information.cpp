#include "fit/information.h"

#include <cmath>
#include <vector>

#include "numeric/lu.h"
#include "numeric/vector_ops.h"

bool information_implausible(const DMatrix& E, int n) {
  for (int i = 1; i <= n; ++i) {
    double smallest = 1e18;
    double sum = 0.0;
    for (int j = 1; j <= n; ++j) {
      const double a = std::fabs(E[i][j]);
      if (a < smallest) smallest = a;
      sum += a;
    }
    if (smallest > 1e10 || my_isnan(sum) || sum < 1e-20) return true;
  }
  return false;
}

bool variances_improper(const DMatrix& V, int n) {
  for (int i = 1; i <= n; ++i)
    if (V[i][i] < 0.0 || V[i][i] > 100.0) return true;
  return false;
}

bool invert_over_free_params(const DMatrix& out, const DMatrix& E, const PARA& para) {
  const std::vector<int> free_positions(para.free_params.data(),
                                        para.free_params.data() + para.num_free_params);
  return invert_over_positions(out, E, free_positions, para.num_params);
}

bool invert_over_positions(const DMatrix& out, const DMatrix& E,
                           const std::vector<int>& free_positions, int n) {
  const int f = static_cast<int>(free_positions.size());
  const auto p = [&free_positions](int i) { return free_positions[static_cast<std::size_t>(i - 1)]; };
  for (int i = 1; i <= f; ++i)
    for (int j = 1; j <= f; ++j) out[i][j] = E[p(i)][p(j)];
  // A zero row would stop the LU decomposition: keep it away from the inversion.
  if (information_implausible(out, f)) return false;
  invv(out, f);
  if (information_implausible(out, f)) return false;
  const int P = n;
  DMatrix q = dmatrix(1, P, 1, P);
  q.fill(0.0);
  for (int i = 1; i <= f; ++i)
    for (int j = 1; j <= f; ++j) q[p(i)][p(j)] = out[i][j];
  for (int i = 1; i <= P; ++i)
    for (int j = 1; j <= P; ++j) out[i][j] = q[i][j];
  return true;
}
