#include "numeric/vector_ops.h"

#include <cmath>

double max(const double* v, int n) {
  double largest = 0.0;
  for (int i = 0; i < n; ++i) {
    const double a = std::fabs(v[i]);
    if (a > largest) largest = a;  // a NaN never compares greater
  }
  return largest;
}

bool my_isnan(double x) { return x != x; }
