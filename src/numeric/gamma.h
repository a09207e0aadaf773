#pragma once
// The chi-square upper tail through the regularised incomplete gamma function.

// Natural logarithm of the gamma function for x > 0 (six-term Lanczos).
double gammln(double x);
// Regularised lower incomplete gamma P(a, x) by its series; gln receives ln Gamma(a).
void gser(double& gamser, double a, double x, double& gln);
// Regularised upper incomplete gamma Q(a, x) by its continued fraction; gln receives ln Gamma(a).
void gcf(double& gammcf, double a, double x, double& gln);
// Q(a, x) = 1 - P(a, x). The chi-square tail with d degrees of freedom at w is gammq(d / 2, w / 2).
double gammq(double a, double x);
