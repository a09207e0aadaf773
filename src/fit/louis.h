#pragma once
// Louis's correction: the observed information from the complete-data information and the
// complete-data scores of every class of a subject, weighted by its posteriors. Positions
// are 0-based vector positions; the information matrix is filled in its upper triangle
// only.

#include <cstddef>
#include <vector>

#include "fit/information.h"

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
  void add_class(Information E, double rho, const SparseScore& s) {
    const std::size_t n = s.position.size();
    for (std::size_t a = 0; a < n; ++a) {
      const int u = s.position[a];
      if (total_[u] == 0.0 && !is_touched(u)) touched_.push_back(u);
      total_[u] += rho * s.value[a];
      for (std::size_t b = 0; b < n; ++b) {
        const int v = s.position[b];
        if (u <= v) E(u, v) -= rho * s.value[a] * s.value[b];
      }
    }
  }
  void end_subject(Information E) const {
    for (const int u : touched_)
      for (const int v : touched_)
        if (u <= v) E(u, v) += total_[u] * total_[v];
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
