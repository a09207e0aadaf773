// The AVX2 route of exp_array. This file alone is compiled with AVX2 and FMA enabled, so it
// includes nothing that could bring an inline function (emitted here with AVX2 code) into
// the rest of the program: only SLEEF's header and the intrinsics.
#if defined(QUILLMARK_SIMD_EXP)
#include <sleef.h>

// out[a] = exp(out[a]) for a = 0 .. n-1, four at a time; the processor has AVX2 and FMA.
void exp_array_avx2(double* out, int n);

void exp_array_avx2(double* out, int n) {
  int a = 0;
  for (; a + 4 <= n; a += 4)
    _mm256_storeu_pd(out + a, Sleef_expd4_u10avx2(_mm256_loadu_pd(out + a)));
  if (a < n) {
    // The last values through the same vector call, beside harmless zeros.
    double tail[4] = {0.0, 0.0, 0.0, 0.0};
    for (int t = 0; a + t < n; ++t) tail[t] = out[a + t];
    _mm256_storeu_pd(tail, Sleef_expd4_u10avx2(_mm256_loadu_pd(tail)));
    for (int t = 0; a + t < n; ++t) out[a + t] = tail[t];
  }
}
#endif
