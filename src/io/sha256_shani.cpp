// SHA-256 compression with the x86 SHA extensions. Compiled with -msha
// -msse4.1; called only after the run-time CPU check.
#include "io/sha256_compress.h"

#if defined(__x86_64__) && defined(__SHA__) && defined(__SSE4_1__)

#include <immintrin.h>

#include <utility>

namespace nx::sha256 {

namespace {

// Four rounds. Message words w[i % 4] hold the schedule for this group;
// the schedule for later groups is extended on the way (msg1 three groups
// ahead, msg2 one group ahead).
template <int i>
__attribute__((always_inline)) inline void fourRounds(__m128i& abef, __m128i& cdgh, __m128i (&w)[4]) {
  __m128i msg = _mm_add_epi32(w[i % 4], _mm_load_si128(reinterpret_cast<const __m128i*>(kRound + 4 * i)));
  cdgh = _mm_sha256rnds2_epu32(cdgh, abef, msg);
  if constexpr (i >= 3 && i <= 14) {
    __m128i tmp = _mm_alignr_epi8(w[i % 4], w[(i + 3) % 4], 4);
    w[(i + 1) % 4] = _mm_add_epi32(w[(i + 1) % 4], tmp);
    w[(i + 1) % 4] = _mm_sha256msg2_epu32(w[(i + 1) % 4], w[i % 4]);
  }
  msg = _mm_shuffle_epi32(msg, 0x0E);
  abef = _mm_sha256rnds2_epu32(abef, cdgh, msg);
  if constexpr (i >= 1 && i <= 12) w[(i + 3) % 4] = _mm_sha256msg1_epu32(w[(i + 3) % 4], w[i % 4]);
}

template <int... i>
__attribute__((always_inline)) inline void allRounds(__m128i& abef, __m128i& cdgh, __m128i (&w)[4],
                                                     std::integer_sequence<int, i...>) {
  (fourRounds<i>(abef, cdgh, w), ...);
}

}  // namespace

void compressShaNi(uint32_t state[8], const unsigned char* blocks, size_t count) {
  const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  // The instructions keep the state as ABEF and CDGH.
  __m128i tmp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  __m128i cdgh = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
  tmp = _mm_shuffle_epi32(tmp, 0xB1);
  cdgh = _mm_shuffle_epi32(cdgh, 0x1B);
  __m128i abef = _mm_alignr_epi8(tmp, cdgh, 8);
  cdgh = _mm_blend_epi16(cdgh, tmp, 0xF0);

  for (; count > 0; --count, blocks += 64) {
    __m128i abefSaved = abef, cdghSaved = cdgh;
    __m128i w[4];
    for (int k = 0; k < 4; ++k)
      w[k] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * k)), byteSwap);
    allRounds(abef, cdgh, w, std::make_integer_sequence<int, 16>{});
    abef = _mm_add_epi32(abef, abefSaved);
    cdgh = _mm_add_epi32(cdgh, cdghSaved);
  }

  tmp = _mm_shuffle_epi32(abef, 0x1B);
  cdgh = _mm_shuffle_epi32(cdgh, 0xB1);
  abef = _mm_blend_epi16(tmp, cdgh, 0xF0);
  cdgh = _mm_alignr_epi8(cdgh, tmp, 8);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), abef);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), cdgh);
}

}  // namespace nx::sha256

#else

namespace nx::sha256 {

// Without the instruction sets this path is never chosen.
void compressShaNi(uint32_t state[8], const unsigned char* blocks, size_t count) {
  compressPortable(state, blocks, count);
}

}  // namespace nx::sha256

#endif
