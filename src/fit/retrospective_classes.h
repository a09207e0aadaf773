#pragma once
// The class model that the retrospective fits without covariates share, for total classes
// (CN probes) and allele-specific classes (SNP probes): given disease status y, class c has
//   P(c | y) = w_y(c) / S_y,   w_y(c) = e(c) m(c) exp(y beta'A(c)),   S_y = sum_c w_y(c),
// with e(c) = exp(alpha_k) the frequency ratio of the class's level k to the reference level
// (1 for the reference), m(c) the weight of the class within its level (1 for a total
// class; C(k, l) p_B^l (1 - p_B)^(k - l) for an allele-specific class) and A(c) its design
// vector.

#include <vector>

class RetrospectiveClasses {
 public:
  // Classes c = 0 .. C-1: slots[c] is the position of the frequency log-ratio of c's
  // level, or -1 for the reference level; design[c] holds A(c), num_coefs entries.
  RetrospectiveClasses(std::vector<int> slots, std::vector<std::vector<double>> design,
                       int num_coefs);
  // The tables at theta; within_level[c] is m(c), or null when every m(c) is 1.
  void update(const double* theta, const double* within_level);
  // w_y(c).
  double weight(int y, int c) const { return weight_[y][c]; }
  // S_y.
  double total(int y) const { return total_[y]; }
  // P(c | y).
  double probability(int y, int c) const { return probability_[y][c]; }
  // A(c).
  const std::vector<double>& design(int c) const { return design_[c]; }

 private:
  std::vector<int> slots_;
  std::vector<std::vector<double>> design_;
  int num_coefs_;
  std::vector<double> weight_[2];
  std::vector<double> probability_[2];  // weight_ / total_
  double total_[2] = {0.0, 0.0};
};
