#pragma once
// The chi-square upper tail on the log scale, exact far below the smallest double: a
// statistic of 2000 on 1 degree of freedom has a p-value near 1e-437, which the tail
// itself can only give as 0.

// Natural logarithm of the regularised upper incomplete gamma Q(a, x) for a > 0, x >= 0.
double log_gamma_upper(double a, double x);

// Natural logarithm of the chi-square upper tail P(X > statistic) with
// `degrees_of_freedom` degrees of freedom.
double log_chi_square_tail(double statistic, int degrees_of_freedom);

// -log10 of the chi-square upper tail, the LOG10P of association tables.
double minus_log10_chi_square_tail(double statistic, int degrees_of_freedom);

// The median of the chi-square distribution with `degrees_of_freedom` degrees of freedom
// (0.454936... for one), the denominator of the genomic-control lambda.
double chi_square_median(int degrees_of_freedom);
