// The inverse DCT of MPEG-1 video (ISO/IEC 11172-2, Annex A): two passes of
// the one-dimensional transform out_x = sum_u c_u cos((2x + 1) u pi / 16) in_u
// (c_0 = 1, c_u = sqrt 2), with the cosines scaled by 2^14. The first pass
// keeps 3 fraction bits and is saturated to 16 bits (valid streams stay far
// inside); the second removes the 14 + 3 bits and the overall factor 8.
//
// The even inputs (0, 2, 4, 6) and the odd ones (1, 3, 5, 7) are combined in
// pairs, two products and one sum at a time, which is what the SSE2 multiply
// and add instruction does for four columns at once.
#include "codecs/mpeg1_idct.h"

#include <cstring>

#if defined(__SSE2__)
#include "codecs/sse2_helpers.h"
#endif

namespace {

// round(2^14 x sqrt 2 x cos(k pi / 16)); W4 is 2^14 exactly.
constexpr int W1 = 22725, W2 = 21407, W3 = 19266, W4 = 16384, W5 = 12873, W6 = 8867, W7 = 4520;

constexpr int ROW_SHIFT = 11;   // 14 bits of cosine in, 3 bits of fraction kept
constexpr int COL_SHIFT = 20;   // 14 + 3 bits, and the factor 8 of the two passes

inline int16_t _Saturate16(int32_t v) { return (int16_t)(v < -32768 ? -32768 : v > 32767 ? 32767 : v); }

// One-dimensional transform of in[0], in[step], ..., in[7 step], in 32-bit
// wrapping arithmetic; out[x] gets the unrounded sum.
void _Transform1D(const int16_t *in, int step, uint32_t out[8]) {
    auto at = [&](int u) { return (uint32_t)(int32_t)in[u * step]; };
    uint32_t a0 = at(0) * W4 + at(4) * W4;
    uint32_t a1 = at(0) * W4 - at(4) * W4;
    uint32_t b0 = at(2) * W2 + at(6) * W6;
    uint32_t b1 = at(2) * W6 - at(6) * W2;
    uint32_t e[4] = {a0 + b0, a1 + b1, a1 - b1, a0 - b0};
    uint32_t o[4] = {
        at(1) * W1 + at(3) * W3 + at(5) * W5 + at(7) * W7,
        at(1) * W3 - at(3) * W7 - at(5) * W1 - at(7) * W5,
        at(1) * W5 - at(3) * W1 + at(5) * W7 + at(7) * W3,
        at(1) * W7 - at(3) * W5 + at(5) * W3 - at(7) * W1,
    };
    for (int x = 0; x < 4; x++) {
        out[x] = e[x] + o[x];
        out[7 - x] = e[x] - o[x];
    }
}

inline int32_t _Round(uint32_t sum, int shift) { return (int32_t)(sum + (1u << (shift - 1))) >> shift; }

}  // namespace

void MPEG_IdctPortable(const int16_t coefficients[64], int16_t samples[64]) {
    // Stored column v holds row v of the picture's frequencies: the first
    // pass transforms it horizontally into row v of `rows`.
    int16_t rows[64];
    for (int v = 0; v < 8; v++) {
        uint32_t out[8];
        _Transform1D(coefficients + v, 8, out);
        for (int x = 0; x < 8; x++) rows[v * 8 + x] = _Saturate16(_Round(out[x], ROW_SHIFT));
    }
    for (int x = 0; x < 8; x++) {
        uint32_t out[8];
        _Transform1D(rows + x, 8, out);
        for (int y = 0; y < 8; y++) samples[y * 8 + x] = _Saturate16(_Round(out[y], COL_SHIFT));
    }
}

#if defined(__SSE2__)

namespace {

// The one-dimensional transform down the eight columns held in r[0..7] (row
// u of the input in r[u]); the rounded results, shifted by `shift`, as
// 16-bit rows (saturated).
template <int shift>
__attribute__((always_inline)) inline void _Transform8(const __m128i r[8], __m128i out[8]) {
    const __m128i bias = _mm_set1_epi32(1 << (shift - 1));
    __m128i p04l = _mm_unpacklo_epi16(r[0], r[4]), p04h = _mm_unpackhi_epi16(r[0], r[4]);
    __m128i p26l = _mm_unpacklo_epi16(r[2], r[6]), p26h = _mm_unpackhi_epi16(r[2], r[6]);
    __m128i p13l = _mm_unpacklo_epi16(r[1], r[3]), p13h = _mm_unpackhi_epi16(r[1], r[3]);
    __m128i p57l = _mm_unpacklo_epi16(r[5], r[7]), p57h = _mm_unpackhi_epi16(r[5], r[7]);

    const __m128i cA0 = SSE2_PairConstant(W4, W4), cA1 = SSE2_PairConstant(W4, -W4);
    const __m128i cB0 = SSE2_PairConstant(W2, W6), cB1 = SSE2_PairConstant(W6, -W2);
    const __m128i cO0a = SSE2_PairConstant(W1, W3), cO0b = SSE2_PairConstant(W5, W7);
    const __m128i cO1a = SSE2_PairConstant(W3, -W7), cO1b = SSE2_PairConstant(-W1, -W5);
    const __m128i cO2a = SSE2_PairConstant(W5, -W1), cO2b = SSE2_PairConstant(W7, W3);
    const __m128i cO3a = SSE2_PairConstant(W7, -W5), cO3b = SSE2_PairConstant(W3, -W1);

    // Low and high halves: columns 0-3 and 4-7.
    __m128i half[2][8];
    for (int h = 0; h < 2; h++) {
        __m128i p04 = h ? p04h : p04l, p26 = h ? p26h : p26l, p13 = h ? p13h : p13l, p57 = h ? p57h : p57l;
        __m128i a0 = _mm_add_epi32(_mm_madd_epi16(p04, cA0), bias);
        __m128i a1 = _mm_add_epi32(_mm_madd_epi16(p04, cA1), bias);
        __m128i b0 = _mm_madd_epi16(p26, cB0);
        __m128i b1 = _mm_madd_epi16(p26, cB1);
        __m128i even[4] = {_mm_add_epi32(a0, b0), _mm_add_epi32(a1, b1), _mm_sub_epi32(a1, b1), _mm_sub_epi32(a0, b0)};
        __m128i odd[4] = {_mm_add_epi32(_mm_madd_epi16(p13, cO0a), _mm_madd_epi16(p57, cO0b)),
                          _mm_add_epi32(_mm_madd_epi16(p13, cO1a), _mm_madd_epi16(p57, cO1b)),
                          _mm_add_epi32(_mm_madd_epi16(p13, cO2a), _mm_madd_epi16(p57, cO2b)),
                          _mm_add_epi32(_mm_madd_epi16(p13, cO3a), _mm_madd_epi16(p57, cO3b))};
        SSE2_Butterfly8<shift>(even, odd, half[h]);
    }
    for (int x = 0; x < 8; x++) out[x] = _mm_packs_epi32(half[0][x], half[1][x]);
}

// The same transform when inputs 4 to 7 are zero (r[4..7] not read): half
// the products. W4 = 2^14, so the DC products are shifts.
template <int shift>
__attribute__((always_inline)) inline void _Transform8Low(const __m128i r[8], __m128i out[8]) {
    const __m128i bias = _mm_set1_epi32(1 << (shift - 1));
    const __m128i zero = _mm_setzero_si128();
    __m128i p2l = _mm_unpacklo_epi16(r[2], zero), p2h = _mm_unpackhi_epi16(r[2], zero);
    __m128i p13l = _mm_unpacklo_epi16(r[1], r[3]), p13h = _mm_unpackhi_epi16(r[1], r[3]);
    const __m128i cB0 = SSE2_PairConstant(W2, 0), cB1 = SSE2_PairConstant(W6, 0);
    const __m128i cO0 = SSE2_PairConstant(W1, W3), cO1 = SSE2_PairConstant(W3, -W7);
    const __m128i cO2 = SSE2_PairConstant(W5, -W1), cO3 = SSE2_PairConstant(W7, -W5);
    __m128i half[2][8];
    for (int h = 0; h < 2; h++) {
        // r0 << 14, sign extended: the 16 bits in the top of each lane, shifted down by 2.
        __m128i a = _mm_srai_epi32(h ? _mm_unpackhi_epi16(zero, r[0]) : _mm_unpacklo_epi16(zero, r[0]), 2);
        a = _mm_add_epi32(a, bias);
        __m128i p2 = h ? p2h : p2l, p13 = h ? p13h : p13l;
        __m128i b0 = _mm_madd_epi16(p2, cB0), b1 = _mm_madd_epi16(p2, cB1);
        __m128i even[4] = {_mm_add_epi32(a, b0), _mm_add_epi32(a, b1), _mm_sub_epi32(a, b1), _mm_sub_epi32(a, b0)};
        __m128i odd[4] = {_mm_madd_epi16(p13, cO0), _mm_madd_epi16(p13, cO1), _mm_madd_epi16(p13, cO2),
                          _mm_madd_epi16(p13, cO3)};
        SSE2_Butterfly8<shift>(even, odd, half[h]);
    }
    for (int x = 0; x < 8; x++) out[x] = _mm_packs_epi32(half[0][x], half[1][x]);
}


// Both passes; rows of samples (16-bit) in `out`. With `low`, only
// frequencies 0 to 3 each way may be non-zero: the first pass reads four
// input rows, and the second finds rows 4 to 7 of its input zero (their
// inputs were), so both take the short kernel.
__attribute__((always_inline)) inline void _Idct(const int16_t coefficients[64], __m128i out[8], bool low) {
    __m128i r[8];
    __m128i rows[8];
    if (low) {
        for (int u = 0; u < 4; u++) r[u] = _mm_loadu_si128((const __m128i *)(coefficients + 8 * u));
        _Transform8Low<ROW_SHIFT>(r, rows);
        SSE2_Transpose8x8(rows);
        _Transform8Low<COL_SHIFT>(rows, out);
        return;
    }
    for (int u = 0; u < 8; u++) r[u] = _mm_loadu_si128((const __m128i *)(coefficients + 8 * u));
    _Transform8<ROW_SHIFT>(r, rows);   // rows[x]: column x of the picture, one lane per row
    SSE2_Transpose8x8(rows);
    _Transform8<COL_SHIFT>(rows, out);
}

}  // namespace

void MPEG_Idct(const int16_t coefficients[64], int16_t samples[64]) {
    __m128i out[8];
    _Idct(coefficients, out, false);
    for (int y = 0; y < 8; y++) _mm_storeu_si128((__m128i *)(samples + 8 * y), out[y]);
}

void MPEG_IdctLow(const int16_t coefficients[64], int16_t samples[64]) {
    __m128i out[8];
    _Idct(coefficients, out, true);
    for (int y = 0; y < 8; y++) _mm_storeu_si128((__m128i *)(samples + 8 * y), out[y]);
}

void MPEG_IdctPut(const int16_t coefficients[64], uint8_t *destination, int stride, bool low) {
    __m128i out[8];
    _Idct(coefficients, out, low);
    for (int y = 0; y < 8; y += 2) {
        __m128i two = _mm_packus_epi16(out[y], out[y + 1]);
        _mm_storel_epi64((__m128i *)(destination + y * stride), two);
        _mm_storel_epi64((__m128i *)(destination + (y + 1) * stride), _mm_srli_si128(two, 8));
    }
}

void MPEG_IdctAdd(const int16_t coefficients[64], uint8_t *destination, int stride, bool low) {
    __m128i out[8];
    _Idct(coefficients, out, low);
    const __m128i zero = _mm_setzero_si128();
    for (int y = 0; y < 8; y++) {
        uint8_t *row = destination + y * stride;
        __m128i prediction = _mm_unpacklo_epi8(_mm_loadl_epi64((const __m128i *)row), zero);
        __m128i sum = _mm_adds_epi16(prediction, out[y]);
        _mm_storel_epi64((__m128i *)row, _mm_packus_epi16(sum, sum));
    }
}

#else

// Only the portable path clamps sample by sample.
static inline uint8_t _Clamp255(int32_t v) { return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v); }

void MPEG_Idct(const int16_t coefficients[64], int16_t samples[64]) { MPEG_IdctPortable(coefficients, samples); }

void MPEG_IdctLow(const int16_t coefficients[64], int16_t samples[64]) { MPEG_IdctPortable(coefficients, samples); }

void MPEG_IdctPut(const int16_t coefficients[64], uint8_t *destination, int stride, bool) {
    int16_t samples[64];
    MPEG_IdctPortable(coefficients, samples);
    for (int y = 0; y < 8; y++) {
        for (int x = 0; x < 8; x++) destination[y * stride + x] = _Clamp255(samples[y * 8 + x]);
    }
}

void MPEG_IdctAdd(const int16_t coefficients[64], uint8_t *destination, int stride, bool) {
    int16_t samples[64];
    MPEG_IdctPortable(coefficients, samples);
    for (int y = 0; y < 8; y++) {
        uint8_t *row = destination + y * stride;
        for (int x = 0; x < 8; x++) row[x] = _Clamp255(row[x] + samples[y * 8 + x]);
    }
}

#endif
