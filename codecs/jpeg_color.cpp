// YCbCr to RGB332 for the JPEG decoder.
//
// Portable path: per chroma sample k = value - 128, the red offset (91881 k
// + 32768) >> 16, the blue offset (116129 k + 32768) >> 16 and the green
// offset (-22554 k(Cb) - 46802 k(Cr) + 32768) >> 16 (shifts arithmetic); each
// channel Y + offset limited to 0..255, then quantised by table.
//
// SSE2 path: the same integers for eight pixels at a time. The offsets' 32-bit
// products come from the multiply and add instruction, whose constants must
// fit 16 bits: 91881 k = 22970 (4k) + k, 116129 k = 29032 (4k) + k, 46802 k =
// 11700 (4k) + 2k. The quantisation (v x 1799 + 32768) >> 16 to 3 bits and
// (v x 771 + 32768) >> 16 to 2 bits equals ((7v + 124) x 258) >> 16 and
// ((3v + 126) x 258) >> 16 for every v from 0 to 255 (checked below at
// compile time), which the 16-bit high multiply computes.
#include "codecs/jpeg_color.h"

#if defined(__SSE2__)
#include "codecs/sse2_helpers.h"
#endif

namespace {

struct ColorTables {
    int16_t crR[256];   // red offset from Cr
    int16_t cbB[256];   // blue offset from Cb
    int32_t crG[256];   // green part from Cr, 16 fractional bits
    int32_t cbG[256];   // green part from Cb with the rounding half
    uint8_t red3[256];  // channel value to its bits of the colour index
    uint8_t green3[256];
    uint8_t blue2[256];
};

constexpr ColorTables _MakeColorTables() {
    ColorTables t{};
    for (int i = 0; i < 256; i++) {
        int32_t k = i - 128;
        t.crR[i] = (int16_t)((91881 * k + 32768) >> 16);
        t.cbB[i] = (int16_t)((116129 * k + 32768) >> 16);
        t.crG[i] = -46802 * k;
        t.cbG[i] = -22554 * k + 32768;
        uint32_t level3 = ((uint32_t)i * 1799 + 32768) >> 16;
        uint32_t level2 = ((uint32_t)i * 771 + 32768) >> 16;
        t.red3[i] = (uint8_t)(level3 << 5);
        t.green3[i] = (uint8_t)(level3 << 2);
        t.blue2[i] = (uint8_t)level2;
    }
    return t;
}
constexpr ColorTables kColor = _MakeColorTables();

constexpr bool _QuantisationByHighMultiplyIsExact() {
    for (uint32_t v = 0; v < 256; v++) {
        if ((((7 * v + 124) * 258) >> 16) != ((v * 1799 + 32768) >> 16)) return false;
        if ((((3 * v + 126) * 258) >> 16) != ((v * 771 + 32768) >> 16)) return false;
    }
    return true;
}
static_assert(_QuantisationByHighMultiplyIsExact(), "the SSE2 quantisation must equal the table's");

inline uint8_t _Clamp(int32_t v) { return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v); }

inline uint8_t _Pixel(int32_t y, uint8_t cb, uint8_t cr) {
    int32_t r = kColor.crR[cr], g = (kColor.cbG[cb] + kColor.crG[cr]) >> 16, b = kColor.cbB[cb];
    return (uint8_t)(kColor.red3[_Clamp(y + r)] | kColor.green3[_Clamp(y + g)] | kColor.blue2[_Clamp(y + b)]);
}

}  // namespace

void JPEG_ConvertPixels8Portable(const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint8_t *out) {
    for (int j = 0; j < 8; j++) out[j] = _Pixel(y[j], cb[j], cr[j]);
}

void JPEG_ConvertPixels16Portable(const uint8_t *yLeft, const uint8_t *yRight, const uint8_t *cb, const uint8_t *cr,
                                  uint8_t *out) {
    for (int p = 0; p < 16; p++) out[p] = _Pixel(p < 8 ? yLeft[p] : yRight[p - 8], cb[p >> 1], cr[p >> 1]);
}

void JPEG_ConvertGray8Portable(const uint8_t *y, uint8_t *out) {
    for (int j = 0; j < 8; j++) out[j] = (uint8_t)(kColor.red3[y[j]] | kColor.green3[y[j]] | kColor.blue2[y[j]]);
}

#if defined(__SSE2__)

namespace {

inline __m128i _Load8(const uint8_t *p) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64((const __m128i *)p), _mm_setzero_si128());
}

// (32-bit products + 32768) >> 16, for the low and high four lanes, back in
// 16 bits.
inline __m128i _RoundHigh(__m128i low, __m128i high) {
    const __m128i half = _mm_set1_epi32(32768);
    return _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(low, half), 16), _mm_srai_epi32(_mm_add_epi32(high, half), 16));
}

struct Offsets {
    __m128i r, g, b;   // 8 lanes of 16 bits
};

// The offsets of 8 chroma pairs.
inline Offsets _ChromaOffsets(const uint8_t *cb, const uint8_t *cr) {
    const __m128i centre = _mm_set1_epi16(128);
    __m128i kb = _mm_sub_epi16(_Load8(cb), centre), kr = _mm_sub_epi16(_Load8(cr), centre);
    __m128i kb4 = _mm_slli_epi16(kb, 2), kr4 = _mm_slli_epi16(kr, 2);
    const __m128i cR = SSE2_PairConstant(22970, 1), cB = SSE2_PairConstant(29032, 1);
    const __m128i cG = SSE2_PairConstant(-22554, -11700), cG2 = SSE2_PairConstant(-1, -1);
    Offsets o;
    o.r = _RoundHigh(_mm_madd_epi16(_mm_unpacklo_epi16(kr4, kr), cR), _mm_madd_epi16(_mm_unpackhi_epi16(kr4, kr), cR));
    o.b = _RoundHigh(_mm_madd_epi16(_mm_unpacklo_epi16(kb4, kb), cB), _mm_madd_epi16(_mm_unpackhi_epi16(kb4, kb), cB));
    __m128i gLow = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(kb, kr4), cG),
                                 _mm_madd_epi16(_mm_unpacklo_epi16(kr, kr), cG2));
    __m128i gHigh = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(kb, kr4), cG),
                                  _mm_madd_epi16(_mm_unpackhi_epi16(kr, kr), cG2));
    o.g = _RoundHigh(gLow, gHigh);
    return o;
}

inline __m128i _Limit(__m128i v) { return _mm_min_epi16(_mm_max_epi16(v, _mm_setzero_si128()), _mm_set1_epi16(255)); }

// 8 pixels of luma (16-bit lanes) with their offsets: the colour indices in
// 16-bit lanes.
inline __m128i _Indices(__m128i y, __m128i rOffset, __m128i gOffset, __m128i bOffset) {
    const __m128i seven = _mm_set1_epi16(7), three = _mm_set1_epi16(3), scale = _mm_set1_epi16(258);
    __m128i r = _Limit(_mm_add_epi16(y, rOffset));
    __m128i g = _Limit(_mm_add_epi16(y, gOffset));
    __m128i b = _Limit(_mm_add_epi16(y, bOffset));
    __m128i r3 = _mm_mulhi_epu16(_mm_add_epi16(_mm_mullo_epi16(r, seven), _mm_set1_epi16(124)), scale);
    __m128i g3 = _mm_mulhi_epu16(_mm_add_epi16(_mm_mullo_epi16(g, seven), _mm_set1_epi16(124)), scale);
    __m128i b2 = _mm_mulhi_epu16(_mm_add_epi16(_mm_mullo_epi16(b, three), _mm_set1_epi16(126)), scale);
    return _mm_or_si128(_mm_or_si128(_mm_slli_epi16(r3, 5), _mm_slli_epi16(g3, 2)), b2);
}

}  // namespace

void JPEG_ConvertPixels8(const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint8_t *out) {
    Offsets o = _ChromaOffsets(cb, cr);
    __m128i indices = _Indices(_Load8(y), o.r, o.g, o.b);
    _mm_storel_epi64((__m128i *)out, _mm_packus_epi16(indices, indices));
}

void JPEG_ConvertPixels16(const uint8_t *yLeft, const uint8_t *yRight, const uint8_t *cb, const uint8_t *cr,
                          uint8_t *out) {
    Offsets o = _ChromaOffsets(cb, cr);
    // Each offset twice: lanes 0 to 7 for pixels 0 to 7, then 8 to 15.
    __m128i left = _Indices(_Load8(yLeft), _mm_unpacklo_epi16(o.r, o.r), _mm_unpacklo_epi16(o.g, o.g),
                            _mm_unpacklo_epi16(o.b, o.b));
    __m128i right = _Indices(_Load8(yRight), _mm_unpackhi_epi16(o.r, o.r), _mm_unpackhi_epi16(o.g, o.g),
                             _mm_unpackhi_epi16(o.b, o.b));
    _mm_storeu_si128((__m128i *)out, _mm_packus_epi16(left, right));
}

void JPEG_ConvertGray8(const uint8_t *y, uint8_t *out) {
    const __m128i zero = _mm_setzero_si128();
    __m128i indices = _Indices(_Load8(y), zero, zero, zero);
    _mm_storel_epi64((__m128i *)out, _mm_packus_epi16(indices, indices));
}

#else

void JPEG_ConvertPixels8(const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint8_t *out) {
    JPEG_ConvertPixels8Portable(y, cb, cr, out);
}
void JPEG_ConvertPixels16(const uint8_t *yLeft, const uint8_t *yRight, const uint8_t *cb, const uint8_t *cr,
                          uint8_t *out) {
    JPEG_ConvertPixels16Portable(yLeft, yRight, cb, cr, out);
}
void JPEG_ConvertGray8(const uint8_t *y, uint8_t *out) { JPEG_ConvertGray8Portable(y, out); }

#endif
