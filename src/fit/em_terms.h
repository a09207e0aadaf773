#pragma once
// Steps that every EM fit shares: the normal-model score and information of one picked
// intensity mean and log-variance, Louis's correction subject by subject, and the
// mirroring of an upper triangle. Positions are 0-based vector positions; the
// information matrices are 1-based (entry [u + 1][v + 1]) and filled in their upper
// triangle only.

#include <vector>

#include "numeric/offset_array.h"

// Score and complete-data information of N(mu, exp(lambda)) at one observation with
// residual e and variance s2, weighted by rho: mean at position m, log-variance at q.
inline void add_normal_terms(double* U, const DMatrix& E, int m, int q, double rho, double e,
                             double s2) {
  U[m] += rho * e / s2;
  U[q] += -0.5 * rho * (1.0 - e * e / s2);
  E[m + 1][m + 1] += rho / s2;
  if (m < q)
    E[m + 1][q + 1] += rho * e / s2;
  else
    E[q + 1][m + 1] += rho * e / s2;
  E[q + 1][q + 1] += 0.5 * rho * e * e / s2;
}

// The log-variance terms alone, for an intensity whose mean is held fixed.
inline void add_logvar_terms(double* U, const DMatrix& E, int q, double rho, double e, double s2) {
  U[q] += -0.5 * rho * (1.0 - e * e / s2);
  E[q + 1][q + 1] += 0.5 * rho * e * e / s2;
}

// A complete-data score vector given one latent class, kept as its non-zero entries.
struct SparseScore {
  std::vector<int> position;
  std::vector<double> value;
  void clear() {
    position.clear();
    value.clear();
  }
  void add(int pos, double v) {
    position.push_back(pos);
    value.push_back(v);
  }
};

// Louis's correction: the observed information is the complete-data information minus
// the posterior variance of the complete-data score, subject by subject:
//   E -= sum_c r_c s_c s_c'   and   E += T T',  T = sum_c r_c s_c.
class LouisCorrection {
 public:
  explicit LouisCorrection(int size) : total_(static_cast<std::size_t>(size), 0.0) {}
  void begin_subject() {
    for (const int u : touched_) total_[u] = 0.0;
    touched_.clear();
  }
  void add_class(const DMatrix& E, double rho, const SparseScore& s) {
    const std::size_t n = s.position.size();
    for (std::size_t a = 0; a < n; ++a) {
      const int u = s.position[a];
      if (total_[u] == 0.0 && !is_touched(u)) touched_.push_back(u);
      total_[u] += rho * s.value[a];
      for (std::size_t b = 0; b < n; ++b) {
        const int v = s.position[b];
        if (u <= v) E[u + 1][v + 1] -= rho * s.value[a] * s.value[b];
      }
    }
  }
  void end_subject(const DMatrix& E) const {
    for (const int u : touched_)
      for (const int v : touched_)
        if (u <= v) E[u + 1][v + 1] += total_[u] * total_[v];
  }

 private:
  bool is_touched(int u) const {
    for (const int t : touched_)
      if (t == u) return true;
    return false;
  }
  std::vector<double> total_;
  std::vector<int> touched_;
};

// Copies the upper triangle of E (1..n) into the lower.
inline void mirror_upper(const DMatrix& E, int n) {
  for (int i = 1; i <= n; ++i)
    for (int j = i + 1; j <= n; ++j) E[j][i] = E[i][j];
}
