// Adler-32: s1 = 1 + the sum of the bytes, s2 = the sum of s1 after each
// byte, both modulo 65521; the checksum is s2 << 16 | s1.
//
// SSE2 path: 16 bytes at a time. Over a block b0..b15, s1 grows by the sum
// of the bytes and s2 by 16 s1 (s1 before the block) plus the sum of
// (16 - i) b_i. The sums are kept in 32-bit lanes over at most 5552 bytes
// (where they cannot overflow) and reduced with 64-bit arithmetic.
#include "codecs/png_adler32.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr uint32_t ADLER_BASE = 65521;
constexpr size_t ADLER_RUN = 5552;   // the most bytes between reductions

}  // namespace

uint32_t PNG_Adler32Portable(uint32_t adler, const uint8_t *data, size_t length) {
    uint32_t s1 = adler & 0xFFFF, s2 = adler >> 16;
    while (length) {
        size_t n = length < ADLER_RUN ? length : ADLER_RUN;
        length -= n;
        while (n--) {
            s1 += *data++;
            s2 += s1;
        }
        s1 %= ADLER_BASE;
        s2 %= ADLER_BASE;
    }
    return (s2 << 16) | s1;
}

#if defined(__SSE2__)

namespace {

inline uint32_t _Sum32(__m128i v) {
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0x4E));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0xB1));
    return (uint32_t)_mm_cvtsi128_si32(v);
}

}  // namespace

uint32_t PNG_Adler32(uint32_t adler, const uint8_t *data, size_t length) {
    uint32_t s1 = adler & 0xFFFF, s2 = adler >> 16;
    const __m128i zero = _mm_setzero_si128();
    const __m128i weightsFirst = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
    const __m128i weightsLast = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
    while (length >= 16) {
        size_t blocks = (length < ADLER_RUN ? length : ADLER_RUN) / 16;
        length -= blocks * 16;
        __m128i bytesSum = zero;      // sums of bytes (two 64-bit lanes, small)
        __m128i before = zero;        // sum over blocks of the bytes before each block
        __m128i weighted = zero;      // sums of (16 - i) b_i
        for (size_t k = 0; k < blocks; k++, data += 16) {
            __m128i v = _mm_loadu_si128((const __m128i *)data);
            before = _mm_add_epi32(before, bytesSum);
            bytesSum = _mm_add_epi32(bytesSum, _mm_sad_epu8(v, zero));
            weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpacklo_epi8(v, zero), weightsFirst));
            weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpackhi_epi8(v, zero), weightsLast));
        }
        uint64_t sum = _Sum32(bytesSum);
        uint64_t s2Total = s2 + 16ull * blocks * s1 + 16ull * _Sum32(before) + _Sum32(weighted);
        s1 = (uint32_t)((s1 + sum) % ADLER_BASE);
        s2 = (uint32_t)(s2Total % ADLER_BASE);
    }
    return PNG_Adler32Portable((s2 << 16) | s1, data, length);
}

#else

uint32_t PNG_Adler32(uint32_t adler, const uint8_t *data, size_t length) {
    return PNG_Adler32Portable(adler, data, length);
}

#endif
