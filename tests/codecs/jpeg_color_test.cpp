// The JPEG colour conversion: the SSE2 path equals the portable one for every
// chroma pair and luma values across the range, and known colours give the
// indices worked out by hand.
#include <gtest/gtest.h>

#include <cstring>

#include "codecs/jpeg_color.h"

namespace {

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

TEST(JpegColor, KnownColours) {
    // White, black, pure red (Y 76, Cb 85, Cr 255: R 254, G 0, B 0), and a
    // chroma pair shared by two pixels of different luma.
    const uint8_t y[8] = {255, 0, 76, 76, 128, 128, 128, 128};
    const uint8_t cb[8] = {128, 128, 85, 85, 128, 128, 128, 128};
    const uint8_t cr[8] = {128, 128, 255, 255, 128, 128, 128, 128};
    uint8_t out[16];
    JPEG_ConvertPixels8(y, cb, cr, out);
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(out[1], 0x00);
    EXPECT_EQ(out[2], 0xE0);
    EXPECT_EQ(out[4], 0x92);   // grey 128: levels 4, 4, 2
    const uint8_t left[8] = {255, 0, 0, 0, 0, 0, 0, 0}, right[8] = {0};
    const uint8_t neutral[8] = {128, 128, 128, 128, 128, 128, 128, 128};
    JPEG_ConvertPixels16(left, right, neutral, neutral, out);
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(out[1], 0x00) << "the second pixel of the pair has its own luma";
    JPEG_ConvertGray8(y, out);
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(out[2], 0x49) << "grey 76: levels 2, 2, 1";
}

}  // namespace
