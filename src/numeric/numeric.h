#pragma once
// The numerical toolkit: the dense matrix, its LU and Cholesky solves, offset-indexed
// arrays, the fatal numerical stop, the chi-square tail and two small helpers.

#include "numeric/cholesky.h"
#include "numeric/gamma.h"
#include "numeric/lu.h"
#include "numeric/matrix.h"
#include "numeric/nrerror.h"
#include "numeric/offset_array.h"
#include "numeric/vector_ops.h"
