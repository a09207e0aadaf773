#pragma once
// exp over an array of doubles, for the density loops: the C library's exp one value at a
// time, or SLEEF's vector exp (error at most 1 ulp, underflow to 0 where the C library's
// exp underflows) when the build has it (CMake option QUILLMARK_SIMD_EXP) and the processor
// runs it. The C library's loop stays as the oracle the vector routes are tested against.

#include <cmath>

// A way to take exp over an array.
enum class ExpRoute {
  kScalar,  // std::exp per value (the C library)
  kSse2,    // SLEEF, two doubles at a time (any x86-64)
  kAvx2,    // SLEEF, four doubles at a time (x86-64 with AVX2 and FMA)
};

// out[a] = std::exp(out[a]) for a = 0 .. n-1 (inline, so that a caller's loop keeps the
// call as cheap as it was before the vector routes).
inline void exp_array_scalar(double* out, int n) {
  for (int a = 0; a < n; ++a) out[a] = std::exp(out[a]);
}

// out[a] = exp(out[a]) for a = 0 .. n-1 by route (which must be available). Every value
// goes through the same vector code whatever its position, so a value's exp does not
// depend on n or on where it sits.
void exp_array(double* out, int n, ExpRoute route);

// Whether this build, on this processor, can take route.
bool exp_route_available(ExpRoute route);

// The route of the density loops: the widest available vector route, else the scalar one.
// Found once per process (the processor does not change under a run).
ExpRoute density_exp_route();

// Short lower-case name of route ("scalar", "sse2", "avx2"), for logs and tests.
const char* exp_route_name(ExpRoute route);
