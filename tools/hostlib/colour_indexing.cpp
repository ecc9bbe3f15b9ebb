// The colour conversion of output frames, vectorised.
#include "tools/hostlib/colour_indexing.h"

#include <immintrin.h>

#include "tools/hostlib/nimbra_host.h"

namespace nimbra {

namespace {

// The device's colour levels: three bits of red and green, two of blue.
constexpr uint8_t kLevels3[8] = {0x00, 0x25, 0x49, 0x6D, 0x92, 0xB6, 0xDB, 0xFF};
constexpr uint8_t kLevels2[4] = {0x00, 0x55, 0xAA, 0xFF};

struct ColourWords {
    uint32_t word[256];
    ColourWords() {
        for (int i = 0; i < 256; i++) {
            word[i] = (uint32_t)kLevels2[i & 3] | ((uint32_t)kLevels3[(i >> 2) & 7] << 8) |
                      ((uint32_t)kLevels3[i >> 5] << 16) | ((uint32_t)kFramePixelMarker << 24);
        }
    }
};
const ColourWords kColourWords;

// The device colour of a 3-bit level l, (255 l + 4) / 7, as four 32-bit
// lanes; the division is (t * 9363) >> 16, exact for every t below 1790.
// The tables above remain the reference: a test holds the two together.
inline __m128i _Level3(__m128i level) {
    const __m128i t = _mm_add_epi32(_mm_mullo_epi16(level, _mm_set1_epi32(255)), _mm_set1_epi32(4));
    return _mm_mulhi_epu16(t, _mm_set1_epi32(9363));
}

// Four pixels: their indices in four 32-bit lanes, and the bits in which
// each pixel differs from the device colour of its index.
inline __m128i _IndexFour(const uint8_t *pixels, __m128i &mismatch) {
    const __m128i w = _mm_loadu_si128((const __m128i *)pixels);
    const __m128i red = _mm_and_si128(_mm_srli_epi32(w, 16), _mm_set1_epi32(0xE0));
    const __m128i green = _mm_and_si128(_mm_srli_epi32(w, 11), _mm_set1_epi32(0x1C));
    const __m128i blue = _mm_and_si128(_mm_srli_epi32(w, 6), _mm_set1_epi32(0x03));
    __m128i expected = _mm_mullo_epi16(blue, _mm_set1_epi32(0x55));
    expected = _mm_or_si128(expected, _mm_slli_epi32(_Level3(_mm_srli_epi32(green, 2)), 8));
    expected = _mm_or_si128(expected, _mm_slli_epi32(_Level3(_mm_srli_epi32(red, 5)), 16));
    expected = _mm_or_si128(expected, _mm_set1_epi32((int)0xAA000000u));
    mismatch = _mm_or_si128(mismatch, _mm_xor_si128(expected, w));
    return _mm_or_si128(_mm_or_si128(red, green), blue);
}

// Converts as colour; false when any pixel is not a device colour. Sixteen
// pixels at a time (SSE2, which every x86-64 has); the mismatches of a row
// are gathered before they are tested.
bool _IndexColour(const uint8_t *pixels, uint8_t *index) {
    static_assert(kScreenWidth % 16 == 0, "rows are converted 16 pixels at a time");
    for (int y = 0; y < kScreenHeight; y++) {
        const uint8_t *row = pixels + (size_t)y * kScreenWidth * 4;
        uint8_t *out = index + (size_t)y * kScreenWidth;
        __m128i mismatch = _mm_setzero_si128();
        for (int x = 0; x < kScreenWidth; x += 16) {
            const __m128i a = _IndexFour(row + x * 4, mismatch), b = _IndexFour(row + x * 4 + 16, mismatch);
            const __m128i c = _IndexFour(row + x * 4 + 32, mismatch), d = _IndexFour(row + x * 4 + 48, mismatch);
            // Indices are below 256: the saturating packs keep them as they are.
            const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d));
            _mm_storeu_si128((__m128i *)(out + x), bytes);
        }
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(mismatch, _mm_setzero_si128())) != 0xFFFF) return false;
    }
    return true;
}

// The same with AVX2, eight pixels a vector, where the processor has it,
// checking bytes rather than pixels: each byte's top three bits pick its
// expected value from a 16-byte table (the 3-bit levels for green and red,
// the 2-bit level of its top two bits for blue, and nothing for the fourth
// byte, which must be 0xAA). The index is B/64 + G/8 * 4 + R/32 * 32,
// summed as (B & C0) + 8 (G & E0) + 64 (R & E0) by two multiply-adds.
struct Avx2Constants {
    __m256i levels, laneOffset, fourth, lowBits, keep, weights, ones;
};

__attribute__((target("avx2"))) inline __m256i _IndexEight(const uint8_t *pixels, const Avx2Constants &k,
                                                            __m256i &mismatch) {
    const __m256i w = _mm256_loadu_si256((const __m256i *)pixels);
    const __m256i top = _mm256_and_si256(_mm256_srli_epi16(w, 5), k.lowBits);
    const __m256i expected =
        _mm256_or_si256(_mm256_shuffle_epi8(k.levels, _mm256_or_si256(top, k.laneOffset)), k.fourth);
    mismatch = _mm256_or_si256(mismatch, _mm256_xor_si256(expected, w));
    const __m256i pairs = _mm256_maddubs_epi16(_mm256_and_si256(w, k.keep), k.weights);
    return _mm256_srli_epi32(_mm256_madd_epi16(pairs, k.ones), 6);
}

__attribute__((target("avx2"))) bool _IndexColourAvx2(const uint8_t *pixels, uint8_t *index) {
    static_assert(kScreenWidth % 32 == 0, "rows are converted 32 pixels at a time");
    uint8_t table[32];
    for (int half = 0; half < 2; half++) {
        for (int i = 0; i < 8; i++) table[half * 16 + i] = kLevels3[i];
        for (int i = 0; i < 8; i++) table[half * 16 + 8 + i] = kLevels2[i >> 1];
    }
    Avx2Constants k;
    k.levels = _mm256_loadu_si256((const __m256i *)table);
    k.laneOffset = _mm256_set1_epi32((int)0x80000008u);   // blue: the 2-bit half; fourth byte: none
    k.fourth = _mm256_set1_epi32((int)((uint32_t)kFramePixelMarker << 24));
    k.lowBits = _mm256_set1_epi8(0x07);
    k.keep = _mm256_set1_epi32(0x00E0E0C0);
    k.weights = _mm256_set1_epi32(0x00400801);   // 1, 8, 64, 0
    k.ones = _mm256_set1_epi16(1);
    for (int y = 0; y < kScreenHeight; y++) {
        const uint8_t *row = pixels + (size_t)y * kScreenWidth * 4;
        uint8_t *out = index + (size_t)y * kScreenWidth;
        __m256i mismatch = _mm256_setzero_si256();
        for (int x = 0; x < kScreenWidth; x += 32) {
            const uint8_t *p = row + x * 4;
            const __m256i a = _IndexEight(p, k, mismatch), b = _IndexEight(p + 32, k, mismatch);
            const __m256i c = _IndexEight(p + 64, k, mismatch), d = _IndexEight(p + 96, k, mismatch);
            // The packs work within each half: the last step puts the groups
            // of four pixels back in order.
            const __m256i packed = _mm256_packus_epi16(_mm256_packs_epi32(a, b), _mm256_packs_epi32(c, d));
            const __m256i bytes = _mm256_permutevar8x32_epi32(packed, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
            _mm256_storeu_si256((__m256i *)(out + x), bytes);
        }
        if (_mm256_movemask_epi8(_mm256_cmpeq_epi8(mismatch, _mm256_setzero_si256())) != -1) return false;
    }
    return true;
}

}  // namespace

const uint32_t *colourFrameWords() { return kColourWords.word; }

bool indexColourPixels(const uint8_t *pixels, uint8_t *index, bool forceSse2) {
    // Both give the same bytes; the wider one is about twice as fast.
    static const bool haveAvx2 = __builtin_cpu_supports("avx2");
    return haveAvx2 && !forceSse2 ? _IndexColourAvx2(pixels, index) : _IndexColour(pixels, index);
}

}  // namespace nimbra
