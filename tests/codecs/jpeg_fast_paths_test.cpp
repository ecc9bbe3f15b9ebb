// The JPEG decoder's SSE2 paths give the same bytes as the portable ones:
// the inverse DCT for any block of 16-bit coefficients, including blocks
// whose row pass wraps in 16 bits, and the colour conversion for every chroma
// pair and luma values across the range. (Known blocks and colours are
// decoded to indices worked out by hand in jpeg_test.cpp; the transform is
// compared with an independent decoder in jpeg_reference_test.cpp.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "codecs/jpeg_color.h"
#include "codecs/jpeg_idct.h"

namespace {

using Block = std::vector<int16_t>;   // transposed: horizontal frequency u, vertical v at u x 8 + v

TEST(JpegIdct, FastPathEqualsThePortableOne) {
    std::vector<Block> blocks;
    blocks.push_back(Block(64, 0));
    for (int position = 0; position < 64; position++) {
        for (int value : {-32768, -1024, 1, 1023, 32767}) {
            blocks.push_back(Block(64, 0));
            blocks.back()[position] = (int16_t)value;
        }
    }
    blocks.push_back(Block(64, 32767));
    blocks.push_back(Block(64, -32768));
    Block alternating(64);
    for (int i = 0; i < 64; i++) alternating[i] = (int16_t)(i & 1 ? -32768 : 32767);
    blocks.push_back(alternating);
    std::mt19937 random(11);
    for (int n = 0; n < 3000; n++) {
        Block b(64);
        // Typical dequantised ranges, small ones, and anything at all.
        int range = n % 3 == 0 ? 1024 : n % 3 == 1 ? 16 : 32768;
        for (int16_t &c : b) c = (int16_t)std::uniform_int_distribution<int>(-range, range - 1)(random);
        if (n % 4 == 0) {
            for (int i = 16; i < 64; i++) b[i] = 0;   // rows and columns with zero AC terms
        }
        blocks.push_back(b);
    }
    for (size_t i = 0; i < blocks.size(); i++) {
        uint8_t fast[64], portable[64];
        JPEG_Idct(blocks[i].data(), fast);
        JPEG_IdctPortable(blocks[i].data(), portable);
        ASSERT_EQ(0, memcmp(fast, portable, sizeof fast)) << "block " << i;
    }
}

TEST(JpegColor, FastPathEqualsThePortableOne) {
    // Every Cb, Cr pair, eight of them a call; luma walks through all 256
    // values (and the extremes) as the pairs go by.
    uint8_t y[16], cb[8], cr[8];
    for (uint32_t pair = 0; pair < 65536; pair += 8) {
        for (int j = 0; j < 8; j++) {
            cb[j] = (uint8_t)((pair + j) >> 8);
            cr[j] = (uint8_t)(pair + j);
        }
        for (int j = 0; j < 16; j++) y[j] = (uint8_t)(j == 0 ? 0 : j == 15 ? 255 : (pair / 8 * 13 + j * 17));
        uint8_t fast[16], portable[16];
        JPEG_ConvertPixels8(y, cb, cr, fast);
        JPEG_ConvertPixels8Portable(y, cb, cr, portable);
        ASSERT_EQ(0, memcmp(fast, portable, 8)) << "pairs from " << pair;
        JPEG_ConvertPixels16(y, y + 8, cb, cr, fast);
        JPEG_ConvertPixels16Portable(y, y + 8, cb, cr, portable);
        ASSERT_EQ(0, memcmp(fast, portable, 16)) << "pairs from " << pair;
    }
    for (int start = 0; start < 256; start += 8) {
        for (int j = 0; j < 8; j++) y[j] = (uint8_t)(start + j);
        uint8_t fast[8], portable[8];
        JPEG_ConvertGray8(y, fast);
        JPEG_ConvertGray8Portable(y, portable);
        ASSERT_EQ(0, memcmp(fast, portable, 8)) << "grey from " << start;
    }
}

}  // namespace
