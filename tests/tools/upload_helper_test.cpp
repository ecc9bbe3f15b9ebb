// The host-side upload helper: CRC, chunking into commands that fit a
// record, the slot limits, and compressed fonts.
#include <gtest/gtest.h>
#include <zlib.h>

#include "tools/hostlib/upload.h"

using nimbra::Bytes;

namespace {

Bytes pattern(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; i++) b[i] = (uint8_t)(i * 7 + (i >> 8));
    return b;
}

// Joins the data of a command list back together, checking each header.
Bytes reassemble(const std::vector<Bytes> &commands, uint8_t opcode, uint8_t slot, uint8_t format) {
    Bytes data;
    for (const Bytes &c : commands) {
        EXPECT_LE(c.size(), nimbra::kMaxRecordPayload);
        EXPECT_EQ(c[0], opcode);
        EXPECT_EQ(c[1], slot);
        EXPECT_EQ(c[2] | (c[3] << 8), (int)data.size());
        EXPECT_EQ(c[6] | (c[7] << 8), (int)(c.size() - 9));
        EXPECT_EQ(c[8], format);
        data.insert(data.end(), c.begin() + 9, c.end());
    }
    for (const Bytes &c : commands) EXPECT_EQ((size_t)(c[4] | (c[5] << 8)), data.size());
    return data;
}

}  // namespace

TEST(UploadHelper, ImagesAreSplitIntoRecordSizedChunks) {
    Bytes file = pattern(5000);
    auto commands = nimbra::loadImageCommands(7, file, nimbra::kImageJpeg, {});
    ASSERT_EQ(commands.size(), 3u);   // 2039 + 2039 + 926 data bytes
    EXPECT_EQ(commands[0].size(), nimbra::kMaxRecordPayload);
    EXPECT_EQ(reassemble(commands, 0x04, 7, 2), nimbra::withCrc(file));

    nimbra::UploadOptions small;
    small.chunkBytes = 1;
    EXPECT_EQ(nimbra::loadImageCommands(1, pattern(3), nimbra::kImagePng, small).size(), 7u);
}

TEST(UploadHelper, WhatASlotCannotHoldIsRefused) {
    std::string why;
    EXPECT_EQ(nimbra::loadImageCommands(1, pattern(16364), nimbra::kImagePng, {}).size(), 9u);
    EXPECT_TRUE(nimbra::loadImageCommands(1, pattern(16365), nimbra::kImagePng, {}, &why).empty());
    EXPECT_NE(why.find("16368"), std::string::npos) << why;
    EXPECT_FALSE(nimbra::loadFontCommands(3, pattern(32748), 2, {}).empty());
    EXPECT_TRUE(nimbra::loadFontCommands(3, pattern(32749), 2, {}).empty());
    nimbra::UploadOptions bad;
    bad.chunkBytes = 0;
    EXPECT_TRUE(nimbra::loadFontCommands(3, pattern(10), 2, bad).empty());
    bad.chunkBytes = nimbra::kUploadMaxChunkBytes + 1;
    EXPECT_TRUE(nimbra::loadImageCommands(3, pattern(10), 1, bad, &why).empty());
}

TEST(UploadHelper, CompressedFontsAreZlibStreamsOfTheFont) {
    Bytes font(20000, 0);
    for (size_t i = 0; i < font.size(); i += 37) font[i] = (uint8_t)i;
    nimbra::UploadOptions o;
    o.compress = true;
    auto commands = nimbra::loadFontCommands(9, font, nimbra::kFontFormat4Bpp, o);
    ASSERT_FALSE(commands.empty());
    Bytes data = reassemble(commands, 0x06, 9, 0x21);
    Bytes stream(data.begin(), data.end() - 4);
    EXPECT_EQ(data, nimbra::withCrc(stream));
    uLongf n = (uLongf)font.size() + 10;
    Bytes out(n);
    ASSERT_EQ(uncompress(out.data(), &n, stream.data(), (uLong)stream.size()), Z_OK);
    out.resize(n);
    EXPECT_EQ(out, font);
    // A font that would fill a slot once inflated is refused even compressed.
    EXPECT_TRUE(nimbra::loadFontCommands(9, Bytes(32752, 0), 2, o).empty());
    EXPECT_FALSE(nimbra::loadFontCommands(9, Bytes(32751, 0), 2, o).empty());
}
