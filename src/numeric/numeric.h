#pragma once
// The numerical toolkit: offset-indexed arrays, the fatal numerical stop, LU
// inversion, the chi-square tail and two small helpers.

#include "numeric/gamma.h"
#include "numeric/lu.h"
#include "numeric/nrerror.h"
#include "numeric/offset_array.h"
#include "numeric/vector_ops.h"
