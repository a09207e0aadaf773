#include "numeric/vector_exp.h"

#if defined(QUILLMARK_SIMD_EXP)
#include <sleef.h>

// The AVX2 loop, in its own file compiled for AVX2 and FMA (vector_exp_avx2.cpp): called
// only after the processor was found to have both.
void exp_array_avx2(double* out, int n);
#endif

namespace {

#if defined(QUILLMARK_SIMD_EXP)
// SSE2 is part of x86-64, so this loop needs no check of the processor.
void exp_array_sse2(double* out, int n) {
  int a = 0;
  for (; a + 2 <= n; a += 2) _mm_storeu_pd(out + a, Sleef_expd2_u10sse2(_mm_loadu_pd(out + a)));
  if (a < n) {
    // The last value through the same vector call, beside a harmless 0.
    double tail[2] = {out[a], 0.0};
    _mm_storeu_pd(tail, Sleef_expd2_u10sse2(_mm_loadu_pd(tail)));
    out[a] = tail[0];
  }
}
#endif

}  // namespace

bool exp_route_available(ExpRoute route) {
  switch (route) {
    case ExpRoute::kScalar:
      return true;
#if defined(QUILLMARK_SIMD_EXP)
    case ExpRoute::kSse2:
      return true;
    case ExpRoute::kAvx2:
      // GCC's and clang's check also asks whether the system saves the AVX registers.
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
    case ExpRoute::kSse2:
    case ExpRoute::kAvx2:
      return false;
#endif
  }
  return false;
}

void exp_array(double* out, int n, ExpRoute route) {
  switch (route) {
#if defined(QUILLMARK_SIMD_EXP)
    case ExpRoute::kSse2:
      exp_array_sse2(out, n);
      return;
    case ExpRoute::kAvx2:
      exp_array_avx2(out, n);
      return;
#else
    case ExpRoute::kSse2:
    case ExpRoute::kAvx2:
#endif
    case ExpRoute::kScalar:
      exp_array_scalar(out, n);
      return;
  }
}

ExpRoute density_exp_route() {
  static const ExpRoute route = exp_route_available(ExpRoute::kAvx2)   ? ExpRoute::kAvx2
                                : exp_route_available(ExpRoute::kSse2) ? ExpRoute::kSse2
                                                                       : ExpRoute::kScalar;
  return route;
}

const char* exp_route_name(ExpRoute route) {
  switch (route) {
    case ExpRoute::kScalar:
      return "scalar";
    case ExpRoute::kSse2:
      return "sse2";
    case ExpRoute::kAvx2:
      return "avx2";
  }
  return "scalar";
}
