// The AVX-512 route of exp_array. This file alone is compiled with AVX-512F enabled, so it
// includes nothing that could bring an inline function (emitted here with AVX-512 code)
// into the rest of the program: only SLEEF's header and the intrinsics.
#if defined(QUILLMARK_SIMD_EXP)
#include <sleef.h>

// out[a] = exp(out[a]) for a = 0 .. n-1, eight at a time; the processor has AVX-512F.
void exp_array_avx512(double* out, int n);

void exp_array_avx512(double* out, int n) {
  int a = 0;
  for (; a + 8 <= n; a += 8)
    _mm512_storeu_pd(out + a, Sleef_expd8_u10avx512f(_mm512_loadu_pd(out + a)));
  if (a < n) {
    // The last values through the same vector call, beside harmless zeros.
    double tail[8] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    for (int t = 0; a + t < n; ++t) tail[t] = out[a + t];
    _mm512_storeu_pd(tail, Sleef_expd8_u10avx512f(_mm512_loadu_pd(tail)));
    for (int t = 0; a + t < n; ++t) out[a + t] = tail[t];
  }
}
#endif
