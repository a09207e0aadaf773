#include "fit/helpers.h"

#include <cmath>
#include <vector>

#include "numeric/lu.h"
#include "numeric/vector_ops.h"

void Avec(double* a, int k, int l, const double* z, const PARA& para) {
  const int J = para.num_covariate_columns;
  const double dk = k;
  const double dl = k - 2 * l;  // the effect named L: B alleles counted against A alleles
  int u = 0;
  if (para.genetic_effects[0][0] > 0) a[u++] = dk;
  if (para.genetic_effects[1][1] > 0) a[u++] = dl;
  for (int j = 0; j < J; ++j) {
    if (para.gene_covariate_effects[j][0] > 0) a[u++] = dk * z[j];
    if (para.gene_covariate_effects[j][1] > 0) a[u++] = dl * z[j];
  }
  for (int j = 0; j < J; ++j) {
    if (para.covariate_effects[j][j] > 0) a[u++] = z[j];
    for (int jj = j + 1; jj < J; ++jj)
      if (para.covariate_effects[j][jj] > 0) a[u++] = z[j] * z[jj];
  }
  if (J > 0) a[u++] = 1.0;
}

void BCDEvec(double* v, int y, int k, int l, const double* /*z*/, const PARA& para) {
  for (int u = para.r_mean_start; u < para.num_params; ++u) v[u] = 0.0;
  const int g = y * para.differential_measurement_errors;
  const int K = para.num_cn_classes;
  if (para.num_allele_classes == 0 || para.array_type == 'T') {
    v[para.r_mean_start + K * g + k] = 1.0;
    v[para.r_logvar_start + K * g + k] = 1.0;
    return;
  }
  const int M = para.num_allele_classes;
  const int c = para.allele_class_index[k][l];
  if (para.array_type == 'A') {
    v[para.r_mean_start + M * g + c] = 1.0;
    v[para.r_logvar_start + M * g + c] = 1.0;
  } else {
    v[para.r_mean_start + K * g + k] = 1.0;
    v[para.r_logvar_start + K * g + k] = 1.0;
  }
  v[para.b_mean_start + M * g + c] = 1.0;
  v[para.b_logvar_start + M * g + c] = 1.0;
}

int explosion_E(const DMatrix& E, int n) {
  for (int i = 1; i <= n; ++i) {
    double smallest = 1e18;
    double sum = 0.0;
    for (int j = 1; j <= n; ++j) {
      const double a = std::fabs(E[i][j]);
      if (a < smallest) smallest = a;
      sum += a;
    }
    if (smallest > 1e10 || my_isnan(sum) || sum < 1e-20) return 1;
  }
  return 0;
}

int inproper_std(const DMatrix& V, int n) {
  for (int i = 1; i <= n; ++i)
    if (V[i][i] < 0.0 || V[i][i] > 100.0) return 1;
  return 0;
}

int invert_E(const DMatrix& out, const DMatrix& E, const PARA& para) {
  const std::vector<int> free_positions(para.free_params.data(),
                                        para.free_params.data() + para.num_free_params);
  return invert_over(out, E, free_positions, para.num_params);
}

int invert_over(const DMatrix& out, const DMatrix& E, const std::vector<int>& free_positions,
                int n) {
  const int f = static_cast<int>(free_positions.size());
  const auto p = [&free_positions](int i) { return free_positions[static_cast<std::size_t>(i - 1)]; };
  for (int i = 1; i <= f; ++i)
    for (int j = 1; j <= f; ++j) out[i][j] = E[p(i)][p(j)];
  // A zero row would stop the LU decomposition: keep it away from the inversion.
  if (explosion_E(out, f) == 1) return 1;
  invv(out, f);
  if (explosion_E(out, f) == 1) return 1;
  const int P = n;
  DMatrix q = dmatrix(1, P, 1, P);
  q.fill(0.0);
  for (int i = 1; i <= f; ++i)
    for (int j = 1; j <= f; ++j) q[p(i)][p(j)] = out[i][j];
  for (int i = 1; i <= P; ++i)
    for (int j = 1; j <= P; ++j) out[i][j] = q[i][j];
  return 0;
}

void back_transform_frequencies(double* params, double* std_errors, const DMatrix& V,
                                const int* slots, int num_slots) {
  if (num_slots <= 0) return;
  double c = 1.0;
  std::vector<double> p(static_cast<std::size_t>(num_slots));
  for (int a = 0; a < num_slots; ++a) {
    p[a] = std::exp(params[slots[a]]);
    c += p[a];
  }
  for (int a = 0; a < num_slots; ++a) p[a] /= c;
  // Delta method: d p_a / d alpha_b = p_a (delta_ab - p_b).
  for (int a = 0; a < num_slots; ++a) {
    double var = 0.0;
    for (int b = 0; b < num_slots; ++b) {
      const double Tab = p[a] * ((a == b ? 1.0 : 0.0) - p[b]);
      for (int d = 0; d < num_slots; ++d) {
        const double Tad = p[a] * ((a == d ? 1.0 : 0.0) - p[d]);
        var += Tab * V[slots[b] + 1][slots[d] + 1] * Tad;
      }
    }
    std_errors[slots[a]] = std::sqrt(var);
  }
  for (int a = 0; a < num_slots; ++a) params[slots[a]] = p[a];
}
