#pragma once
// The numerical toolkit: the dense matrix, its LU and Cholesky solves, the fatal
// numerical stop, the chi-square tail, exp over arrays and two small helpers.

#include "numeric/cholesky.h"
#include "numeric/gamma.h"
#include "numeric/lu.h"
#include "numeric/matrix.h"
#include "numeric/nrerror.h"
#include "numeric/vector_exp.h"
#include "numeric/vector_ops.h"
