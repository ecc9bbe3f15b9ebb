// The slow integer inverse DCT of the JPEG decoder (the Loeffler, Ligtenberg
// and Moschytz factorisation with constants scaled by 2^13).
//
// Portable path: the factorised kernel as written, rows first: a row whose
// inputs 1 to 7 are zero gives eight times i0 << 2; otherwise (out + 1024)
// >> 11, kept as a 16-bit value (wrapping). Then the columns: (out + 131072)
// >> 18, plus 128, limited to 0..255 (a column whose rows 1 to 7 are zero
// takes the same value through (i0 + 16) >> 5, which is what the kernel
// gives for it).
//
// SSE2 path: the same kernel multiplied out into one constant per input and
// output (every product and sum is exact in 32 bits for 16-bit inputs, so
// regrouping changes nothing), two inputs at a time with the multiply and add
// instruction, for eight rows or columns at once. Between the passes each
// value is cut to 16 bits by sign extension of its low half, which is the
// same wrapping.
#include "codecs/jpeg_idct.h"

#if defined(__SSE2__)
#include "codecs/sse2_helpers.h"
#endif

namespace {

inline uint8_t _Limit(int32_t v) { return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v); }

struct KernelOut {
    int32_t v[8];
};

// The one-dimensional kernel. Inputs are 16-bit, for which no intermediate
// leaves 32 bits.
inline KernelOut _Kernel(int32_t i0, int32_t i1, int32_t i2, int32_t i3, int32_t i4, int32_t i5, int32_t i6,
                         int32_t i7) {
    int32_t z1 = (i2 + i6) * 4433;
    int32_t t2 = z1 - i6 * 15137;
    int32_t t3 = z1 + i2 * 6270;
    int32_t t0 = (i0 + i4) * 8192;
    int32_t t1 = (i0 - i4) * 8192;
    int32_t e10 = t0 + t3, e13 = t0 - t3, e11 = t1 + t2, e12 = t1 - t2;

    int32_t a = i7, b = i5, c = i3, d = i1;
    int32_t z5 = (a + b + c + d) * 9633;
    int32_t za = (a + d) * -7373;
    int32_t zb = (b + c) * -20995;
    int32_t zc = (a + c) * -16069 + z5;
    int32_t zd = (b + d) * -3196 + z5;
    int32_t o0 = a * 2446 + za + zc;
    int32_t o1 = b * 16819 + zb + zd;
    int32_t o2 = c * 25172 + zb + zc;
    int32_t o3 = d * 12299 + za + zd;

    return {{e10 + o3, e11 + o2, e12 + o1, e13 + o0, e13 - o0, e12 - o1, e11 - o2, e10 - o3}};
}

}  // namespace

void JPEG_IdctPortable(const int16_t coefficients[64], uint8_t samples[64]) {
    // Natural order: row v, column u.
    int16_t work[64];
    for (int u = 0; u < 8; u++) {
        for (int v = 0; v < 8; v++) work[v * 8 + u] = coefficients[u * 8 + v];
    }
    for (int row = 0; row < 8; row++) {
        int16_t *w = work + 8 * row;
        if ((w[1] | w[2] | w[3] | w[4] | w[5] | w[6] | w[7]) == 0) {
            int16_t dc = (int16_t)(w[0] * 4);
            for (int i = 0; i < 8; i++) w[i] = dc;
            continue;
        }
        KernelOut out = _Kernel(w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
        for (int i = 0; i < 8; i++) w[i] = (int16_t)((out.v[i] + 1024) >> 11);
    }
    for (int col = 0; col < 8; col++) {
        const int16_t *w = work + col;
        if ((w[8] | w[16] | w[24] | w[32] | w[40] | w[48] | w[56]) == 0) {
            uint8_t sample = _Limit(((w[0] + 16) >> 5) + 128);
            for (int i = 0; i < 8; i++) samples[8 * i + col] = sample;
            continue;
        }
        KernelOut out = _Kernel(w[0], w[8], w[16], w[24], w[32], w[40], w[48], w[56]);
        for (int i = 0; i < 8; i++) samples[8 * i + col] = _Limit(((out.v[i] + 131072) >> 18) + 128);
    }
}

#if defined(__SSE2__)

namespace {

// The kernel down eight lanes (input k of every lane in in[k]), with `bias`
// added; the 32-bit results, shifted right by `shift`, as low and high
// halves.
template <int shift>
__attribute__((always_inline)) inline void _Kernel8(const __m128i in[8], int32_t bias, __m128i low[8],
                                                    __m128i high[8]) {
    const __m128i rounding = _mm_set1_epi32(bias);
    // Even part: t0, t1 from (i0, i4); t3, t2 from (i2, i6).
    const __m128i cT0 = SSE2_PairConstant(8192, 8192), cT1 = SSE2_PairConstant(8192, -8192);
    const __m128i cT3 = SSE2_PairConstant(4433 + 6270, 4433), cT2 = SSE2_PairConstant(4433, 4433 - 15137);
    // Odd part from (i1, i3) and (i5, i7), each output's four constants
    // multiplied out of the factorised kernel.
    const __m128i cO0a = SSE2_PairConstant(2260, -6436), cO0b = SSE2_PairConstant(9633, -11363);
    const __m128i cO1a = SSE2_PairConstant(6437, -11362), cO1b = SSE2_PairConstant(2261, 9633);
    const __m128i cO2a = SSE2_PairConstant(9633, -2259), cO2b = SSE2_PairConstant(-11362, -6436);
    const __m128i cO3a = SSE2_PairConstant(11363, 9633), cO3b = SSE2_PairConstant(6437, 2260);
    for (int h = 0; h < 2; h++) {
        __m128i p04 = h ? _mm_unpackhi_epi16(in[0], in[4]) : _mm_unpacklo_epi16(in[0], in[4]);
        __m128i p26 = h ? _mm_unpackhi_epi16(in[2], in[6]) : _mm_unpacklo_epi16(in[2], in[6]);
        __m128i p13 = h ? _mm_unpackhi_epi16(in[1], in[3]) : _mm_unpacklo_epi16(in[1], in[3]);
        __m128i p57 = h ? _mm_unpackhi_epi16(in[5], in[7]) : _mm_unpacklo_epi16(in[5], in[7]);
        __m128i t0 = _mm_add_epi32(_mm_madd_epi16(p04, cT0), rounding);
        __m128i t1 = _mm_add_epi32(_mm_madd_epi16(p04, cT1), rounding);
        __m128i t3 = _mm_madd_epi16(p26, cT3), t2 = _mm_madd_epi16(p26, cT2);
        // Output x pairs even part e1x with odd part o(3 - x).
        __m128i even[4] = {_mm_add_epi32(t0, t3), _mm_add_epi32(t1, t2), _mm_sub_epi32(t1, t2), _mm_sub_epi32(t0, t3)};
        __m128i odd[4] = {_mm_add_epi32(_mm_madd_epi16(p13, cO3a), _mm_madd_epi16(p57, cO3b)),
                          _mm_add_epi32(_mm_madd_epi16(p13, cO2a), _mm_madd_epi16(p57, cO2b)),
                          _mm_add_epi32(_mm_madd_epi16(p13, cO1a), _mm_madd_epi16(p57, cO1b)),
                          _mm_add_epi32(_mm_madd_epi16(p13, cO0a), _mm_madd_epi16(p57, cO0b))};
        SSE2_Butterfly8<shift>(even, odd, h ? high : low);
    }
}

// The low 16 bits of each 32-bit lane, sign extended, so that packing with
// saturation keeps them as they are: the same as storing into 16 bits.
inline __m128i _Wrap16(__m128i v) { return _mm_srai_epi32(_mm_slli_epi32(v, 16), 16); }


}  // namespace

void JPEG_Idct(const int16_t coefficients[64], uint8_t samples[64]) {
    // Stored row u holds horizontal frequency u of the eight picture rows
    // (one per lane): the row pass runs down the stored rows.
    __m128i in[8], low[8], high[8], rows[8];
    for (int u = 0; u < 8; u++) in[u] = _mm_loadu_si128((const __m128i *)(coefficients + 8 * u));
    _Kernel8<11>(in, 1024, low, high);
    for (int x = 0; x < 8; x++) rows[x] = _mm_packs_epi32(_Wrap16(low[x]), _Wrap16(high[x]));
    SSE2_Transpose8x8(rows);   // rows[v]: picture row v, one lane per column
    _Kernel8<18>(rows, 131072, low, high);
    const __m128i offset = _mm_set1_epi16(128);
    for (int y = 0; y < 8; y += 2) {
        __m128i first = _mm_add_epi16(_mm_packs_epi32(low[y], high[y]), offset);
        __m128i second = _mm_add_epi16(_mm_packs_epi32(low[y + 1], high[y + 1]), offset);
        _mm_storeu_si128((__m128i *)(samples + 8 * y), _mm_packus_epi16(first, second));
    }
}

#else

void JPEG_Idct(const int16_t coefficients[64], uint8_t samples[64]) { JPEG_IdctPortable(coefficients, samples); }

#endif
