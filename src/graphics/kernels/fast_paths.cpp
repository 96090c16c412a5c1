// Fast kernels for the hottest pair: alpha layering (mode 5) from a 32-bit
// source into a 32-bit destination, plain and masked.
//
// The result is the table-defined one: every weight x * y / 255 with
// 0 <= x * y <= 65025 is computed as (t + 1 + (t >> 8)) >> 8, which equals
// t / 255 for every t below 65535 (the tests check all of them), and the
// layering weight still comes from the `over` table. Pixels with a = 0 get
// weight 0 and those with a = 255 weight 255, which give D and S exactly,
// so one formula covers every pixel and four pixels go through SSE2 at once.
// Over an opaque destination over[a][255] is a (checked for every a), so
// such groups need no table at all.
#include "graphics/kernels/fast_paths.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "graphics/kernels/tables.h"

namespace talven::graphics {

void layer_row_32(std::uint8_t* d, const std::uint8_t* s, const std::uint8_t* m, int mask_step,
                  int n, int opacity) {
  const KernelTables& t = kernel_tables();
  int i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi16(1);
  const __m128i full = _mm_set1_epi16(255);
  auto div255 = [&](__m128i x) {
    return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(x, one), _mm_srli_epi16(x, 8)), 8);
  };
  const __m128i opaque = _mm_set1_epi32(std::int32_t(0xFF000000u));
  const __m128i opacity_v = _mm_set1_epi16(std::int16_t(opacity));
  for (; i + 4 <= n; i += 4) {
    __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 4 * i));
    if (!m && _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(dv, opaque), opaque)) == 0xFFFF) {
      // Four opaque destination pixels: over[a][255] is a and the alpha
      // stays 255, so the weights are the source alphas (times opacity).
      __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * i));
      __m128i slo = _mm_unpacklo_epi8(sv, zero), shi = _mm_unpackhi_epi8(sv, zero);
      __m128i wlo = _mm_shufflehi_epi16(_mm_shufflelo_epi16(slo, 0xFF), 0xFF);
      __m128i whi = _mm_shufflehi_epi16(_mm_shufflelo_epi16(shi, 0xFF), 0xFF);
      if (opacity != 255) {
        wlo = div255(_mm_mullo_epi16(wlo, opacity_v));
        whi = div255(_mm_mullo_epi16(whi, opacity_v));
      }
      __m128i dlo = _mm_unpacklo_epi8(dv, zero), dhi = _mm_unpackhi_epi8(dv, zero);
      __m128i lo = _mm_add_epi16(div255(_mm_mullo_epi16(slo, wlo)),
                                 div255(_mm_mullo_epi16(dlo, _mm_sub_epi16(full, wlo))));
      __m128i hi = _mm_add_epi16(div255(_mm_mullo_epi16(shi, whi)),
                                 div255(_mm_mullo_epi16(dhi, _mm_sub_epi16(full, whi))));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * i),
                       _mm_or_si128(_mm_packus_epi16(lo, hi), opaque));
      continue;
    }
    int w[4];
    std::uint8_t alpha[4];
    int any = 0;
    for (int k = 0; k < 4; ++k) {
      const int p = i + k;
      int src_alpha = m ? m[std::int64_t(p) * mask_step] : s[4 * p + 3];
      int a = opacity == 255 ? src_alpha : div255_int(src_alpha * opacity);
      int da = d[4 * p + 3];
      w[k] = a ? t.over[a][da] : 0;
      alpha[k] = std::uint8_t(a + da - div255_int(a * da));
      any |= a;
    }
    if (!any) continue;
    __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * i));
    __m128i wlo = _mm_set_epi16(std::int16_t(w[1]), std::int16_t(w[1]), std::int16_t(w[1]),
                                std::int16_t(w[1]), std::int16_t(w[0]), std::int16_t(w[0]),
                                std::int16_t(w[0]), std::int16_t(w[0]));
    __m128i whi = _mm_set_epi16(std::int16_t(w[3]), std::int16_t(w[3]), std::int16_t(w[3]),
                                std::int16_t(w[3]), std::int16_t(w[2]), std::int16_t(w[2]),
                                std::int16_t(w[2]), std::int16_t(w[2]));
    __m128i slo = _mm_unpacklo_epi8(sv, zero), shi = _mm_unpackhi_epi8(sv, zero);
    __m128i dlo = _mm_unpacklo_epi8(dv, zero), dhi = _mm_unpackhi_epi8(dv, zero);
    __m128i lo = _mm_add_epi16(div255(_mm_mullo_epi16(slo, wlo)),
                               div255(_mm_mullo_epi16(dlo, _mm_sub_epi16(full, wlo))));
    __m128i hi = _mm_add_epi16(div255(_mm_mullo_epi16(shi, whi)),
                               div255(_mm_mullo_epi16(dhi, _mm_sub_epi16(full, whi))));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * i), _mm_packus_epi16(lo, hi));
    for (int k = 0; k < 4; ++k) d[4 * (i + k) + 3] = alpha[k];
  }
#endif
  for (; i < n; ++i) {
    int src_alpha = m ? m[std::int64_t(i) * mask_step] : s[4 * i + 3];
    int a = opacity == 255 ? src_alpha : div255_int(src_alpha * opacity);
    if (!a) continue;
    std::uint8_t* dp = d + 4 * i;
    const std::uint8_t* sp = s + 4 * i;
    int da = dp[3];
    int w = t.over[a][da];
    for (int c = 0; c < 3; ++c)
      dp[c] = std::uint8_t(div255_int(w * sp[c]) + div255_int((255 - w) * dp[c]));
    dp[3] = std::uint8_t(a + da - div255_int(a * da));
  }
}

}  // namespace talven::graphics
