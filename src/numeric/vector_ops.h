#pragma once
// Small helpers of the numerical toolkit.

// Largest absolute value among v[0..n-1], ignoring NaN entries; 0.0 when n <= 0.
double max(const double* v, int n);
// True when x is NaN.
bool my_isnan(double x);
