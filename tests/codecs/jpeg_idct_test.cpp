// The JPEG inverse DCT: the SSE2 path gives the same bytes as the portable
// one for any block of 16-bit coefficients, including blocks whose row pass
// wraps in 16 bits; and known blocks give the samples worked out by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

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

TEST(JpegIdct, KnownBlocks) {
    Block block(64, 0);
    uint8_t samples[64];
    // DC 8: the row pass gives 8 << 2 = 32 in row 0, the columns
    // ((32 + 16) >> 5) + 128 = 129 everywhere.
    block[0] = 8;
    JPEG_Idct(block.data(), samples);
    for (int i = 0; i < 64; i++) ASSERT_EQ(samples[i], 129) << i;
    // Far out of range either way: limited to 0 and 255.
    block[0] = -8000;
    JPEG_Idct(block.data(), samples);
    for (int i = 0; i < 64; i++) ASSERT_EQ(samples[i], 0) << i;
    block[0] = 8000;
    JPEG_Idct(block.data(), samples);
    for (int i = 0; i < 64; i++) ASSERT_EQ(samples[i], 255) << i;
    // The first horizontal frequency alone (transposed index 8) makes a
    // left-to-right ramp, the same on every row. 80 in: the row pass gives
    // (80 x 11363 + 1024) >> 11 = 443 at x = 0 (11363 is 2^13 sqrt 2
    // cos(pi / 16) as the kernel multiplies it out), then 376, 251, 88 and
    // their negatives rounded down; the columns ((v + 16) >> 5) + 128.
    std::fill(block.begin(), block.end(), 0);
    block[8] = 80;
    JPEG_Idct(block.data(), samples);
    const uint8_t ramp[8] = {142, 140, 136, 131, 125, 120, 116, 114};
    for (int y = 0; y < 8; y++) {
        for (int x = 0; x < 8; x++) ASSERT_EQ(samples[y * 8 + x], ramp[x]) << y << ", " << x;
    }
}

}  // namespace
