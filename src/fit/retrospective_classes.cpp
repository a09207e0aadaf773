#include "fit/retrospective_classes.h"

#include <cmath>
#include <utility>

RetrospectiveClasses::RetrospectiveClasses(std::vector<int> slots,
                                           std::vector<std::vector<double>> design, int num_coefs)
    : slots_(std::move(slots)), design_(std::move(design)), num_coefs_(num_coefs) {
  for (std::vector<double>& w : weight_) w.assign(slots_.size(), 0.0);
  for (std::vector<double>& p : probability_) p.assign(slots_.size(), 0.0);
}

void RetrospectiveClasses::update(const double* theta, const double* within_level) {
  const int C = static_cast<int>(slots_.size());
  for (int y = 0; y < 2; ++y) {
    double S = 0.0;
    for (int c = 0; c < C; ++c) {
      double eta = 0.0;
      for (int u = 0; u < num_coefs_; ++u) eta += theta[u] * design_[c][u];
      const double e = slots_[c] < 0 ? 1.0 : std::exp(theta[slots_[c]]);
      const double m = within_level != nullptr ? within_level[c] : 1.0;
      weight_[y][c] = e * m * std::exp(y * eta);
      S += weight_[y][c];
    }
    total_[y] = S;
    for (int c = 0; c < C; ++c) probability_[y][c] = weight_[y][c] / S;
  }
}
