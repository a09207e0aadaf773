#pragma once
// Dense inversion by LU decomposition (Crout's method, implicit scaled partial
// pivoting). Matrices and vectors run from 1 to n.

#include "numeric/offset_array.h"

// Replaces a (1..n x 1..n) by the LU decomposition of its row-permuted self; indx[j]
// receives the pivot row of step j. A zero row stops through nrerror ("Sigmatrix in
// ludcmp"); a zero pivot becomes 1e-40.
void ludcmp(const DMatrix& a, int n, const IVector& indx);

// Solves a x = b for one right-hand side b (1..n) after ludcmp; b becomes x.
void lubksb(const DMatrix& a, int n, const IVector& indx, const DVector& b);

// Replaces a (1..n x 1..n) by its inverse.
void invv(const DMatrix& a, int n);
