#include "numeric/lu.h"

#include <cmath>
#include <utility>

namespace {
// A zero pivot is replaced by this value, so a singular matrix without a zero row
// yields an inverse with huge entries rather than a stop.
constexpr double kTiny = 1.0e-40;
}  // namespace

void ludcmp(const DMatrix& a, int n, const IVector& indx) {
  DVector scale = dvector(1, n);
  for (int i = 1; i <= n; ++i) {
    double big = 0.0;
    for (int j = 1; j <= n; ++j) {
      const double temp = std::fabs(a[i][j]);
      if (temp > big) big = temp;
    }
    if (big == 0.0) nrerror("Sigmatrix in ludcmp");
    scale[i] = 1.0 / big;
  }
  for (int j = 1; j <= n; ++j) {
    for (int i = 1; i < j; ++i) {
      double sum = a[i][j];
      for (int k = 1; k < i; ++k) sum -= a[i][k] * a[k][j];
      a[i][j] = sum;
    }
    double big = 0.0;
    int imax = j;
    for (int i = j; i <= n; ++i) {
      double sum = a[i][j];
      for (int k = 1; k < j; ++k) sum -= a[i][k] * a[k][j];
      a[i][j] = sum;
      const double candidate = scale[i] * std::fabs(sum);
      if (candidate >= big) {  // on ties the later row wins
        big = candidate;
        imax = i;
      }
    }
    if (j != imax) {
      std::swap(a[imax], a[j]);  // rows are separate blocks: exchange the handles
      scale[imax] = scale[j];
    }
    indx[j] = imax;
    if (a[j][j] == 0.0) a[j][j] = kTiny;
    if (j != n) {
      const double dum = 1.0 / a[j][j];
      for (int i = j + 1; i <= n; ++i) a[i][j] *= dum;
    }
  }
}

void lubksb(const DMatrix& a, int n, const IVector& indx, const DVector& b) {
  int ii = 0;
  for (int i = 1; i <= n; ++i) {
    const int ip = indx[i];
    double sum = b[ip];
    b[ip] = b[i];
    if (ii != 0) {
      for (int j = ii; j <= i - 1; ++j) sum -= a[i][j] * b[j];
    } else if (sum != 0.0) {
      ii = i;
    }
    b[i] = sum;
  }
  for (int i = n; i >= 1; --i) {
    double sum = b[i];
    for (int j = i + 1; j <= n; ++j) sum -= a[i][j] * b[j];
    b[i] = sum / a[i][i];
  }
}

void invv(const DMatrix& a, int n) {
  IVector indx = ivector(1, n);
  DVector col = dvector(1, n);
  DMatrix y = dmatrix(1, n, 1, n);
  ludcmp(a, n, indx);
  for (int j = 1; j <= n; ++j) {
    for (int i = 1; i <= n; ++i) col[i] = 0.0;
    col[j] = 1.0;
    lubksb(a, n, indx, col);
    for (int i = 1; i <= n; ++i) y[i][j] = col[i];
  }
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) a[i][j] = y[i][j];
}
