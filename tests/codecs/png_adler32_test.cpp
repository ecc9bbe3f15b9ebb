// The PNG decoder's own Adler-32: the same value as zlib's for any data and
// any way of cutting it into pieces, on the fast path and the portable one.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <random>
#include <vector>

#include "codecs/png_adler32.h"

namespace {

TEST(PngAdler32, EqualsZlibForAnyLengthAndSplit) {
    std::mt19937 random(3);
    std::vector<uint8_t> data(70000);
    for (uint8_t &b : data) b = (uint8_t)random();
    // Long runs of 255 make the sums grow fastest between reductions.
    std::fill(data.begin() + 30000, data.begin() + 50000, 255);
    const size_t lengths[] = {0, 1, 15, 16, 17, 5551, 5552, 5553, 5568, 11104, 20000, 70000};
    for (size_t length : lengths) {
        for (size_t offset : {(size_t)0, (size_t)1, (size_t)29999}) {
            if (offset + length > data.size()) continue;
            const uint8_t *p = data.data() + offset;
            uLong expected = adler32(adler32(0, nullptr, 0), p, (uInt)length);
            EXPECT_EQ(PNG_Adler32(1, p, length), expected) << length << " from " << offset;
            EXPECT_EQ(PNG_Adler32Portable(1, p, length), expected) << length << " from " << offset;
            // In uneven pieces, as inflate hands out its output.
            uint32_t pieces = 1;
            for (size_t at = 0; at < length;) {
                size_t n = std::min(length - at, (size_t)(1 + random() % 3000));
                pieces = PNG_Adler32(pieces, p + at, n);
                at += n;
            }
            EXPECT_EQ(pieces, expected) << length << " in pieces from " << offset;
        }
    }
}

}  // namespace
