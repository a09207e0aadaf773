#pragma once
// The chi-square upper tail through the regularised incomplete gamma function.

// P(X > statistic) for X chi-square with `degrees_of_freedom` degrees of freedom, as
// Q(degrees_of_freedom / 2, statistic / 2). A negative statistic or fewer than one degree
// of freedom stops through nrerror ("Invalid arguments in routine gammq").
double chi_square_upper_tail(double statistic, int degrees_of_freedom);
