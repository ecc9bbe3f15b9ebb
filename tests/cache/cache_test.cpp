// The resource cache: slot records written straight into flash, the
// start-up scan, the font lookup, and the cache command's queries and clears.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "cache/commandHandlerCache.h"
#include "cache/flash.h"
#include "host/bytes.h"
#include "tests/support/device_fixture.h"
#include "tests/support/sif_builder.h"

using nimbra::Bytes;
using testsupport::SifBuilder;

namespace {

Bytes smallFont(int bitsPerPixel = 2) {
    SifBuilder b(10, 12, bitsPerPixel);
    for (uint16_t c = 'A'; c <= 'H'; c++) b.solid(c, 4, 6, 1, 2, 6, (uint8_t)((1 << bitsPerPixel) - 1));
    return b.build();
}

// Writes a record and its data into a flash slot.
void putRecord(uint8_t *slot, uint32_t crc, uint8_t valid, uint8_t format, const Bytes &data) {
    writeCacheRecord(slot, CacheRecord{CACHE_RECORD_MAGIC, crc, (uint16_t)data.size(), valid, format, 10, 4});
    memcpy(slot + CACHE_RECORD_BYTES, data.data(), data.size());
}

uint8_t *fontSlot(uint32_t s) { return FLASH_Address(fontSlotOffset(s)); }
uint8_t *imageSlot(uint32_t s) { return FLASH_Address(imageSlotOffset(s)); }
bool recordErased(const uint8_t *slot) { return Bytes(slot, slot + 16) == Bytes(16, 0); }

Bytes entryReply(uint8_t type, uint8_t index, uint8_t valid, uint32_t crc) {
    Bytes b{0x03, type, index, valid, 0, 0, 0, 0};
    wr32le(b.data() + 4, crc);
    return b;
}

// The usage map; `crcs` lists the slots present, the others are 0.
Bytes mapReply(uint8_t type, std::initializer_list<std::pair<int, uint32_t>> crcs = {}) {
    Bytes b{0x0B, type, (uint8_t)(type == 0x01 ? 32 : 15)};
    b.resize(3 + 4 * b[2], 0);
    for (auto [slot, crc] : crcs) wr32le(b.data() + 3 + 4 * slot, crc);
    return b;
}

Bytes ack(uint8_t request, uint8_t code = 0x00) { return testsupport::report(0x16, code, request); }

}  // namespace

class Cache : public DeviceTest {
protected:
    // One cache command, run alone, and the single reply it must send.
    static Bytes ask(uint8_t request, uint8_t index) {
        int32_t result = -1;
        auto replies = testsupport::replies(Bytes{0x16, request, index}, &result);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(replies.size(), 1u);
        return replies.empty() ? Bytes{} : replies[0];
    }
};

TEST_F(Cache, AfterStartUpOnlyTheBuiltInFontsArePresent) {
    EXPECT_EQ(ask(0x02, 0xFF), mapReply(0x02));
    EXPECT_EQ(ask(0x01, 0xFF), mapReply(0x01));
    EXPECT_EQ(ask(0x02, 1), entryReply(0x02, 1, 1, 0));
    EXPECT_EQ(ask(0x01, 0), entryReply(0x01, 0, 0, 0));   // slot 0's record is in use but not valid
    for (int s = 0; s < 256; s++) EXPECT_EQ(getFontSlot((uint8_t)s) != nullptr, s < 3) << s;
}

// The scan opens usable fonts at the depth of their format code, erases the
// record (not the data) of a font that does not open, and leaves records
// that are present but not usable. A font needs a usable record and 64
// bytes to be taken.
TEST_F(Cache, StartUpScanOpensCachedFontsAndErasesBrokenOnes) {
    auto font = smallFont(), broken = font;
    broken[0] = 'X';
    auto tiny = SifBuilder(10, 10, 2).solid('A', 0, 0, 0, 0, 3, 0).build();
    ASSERT_LT(tiny.size(), 64u);
    putRecord(fontSlot(4), 1, 1, 2, tiny);
    putRecord(fontSlot(5), 0x12345678, 1, 2, font);
    putRecord(fontSlot(6), 0x0BADF00D, 1, 1, smallFont(4));
    putRecord(fontSlot(7), 0x77777777, 1, 2, broken);
    putRecord(fontSlot(8), 0x88888888, 2, 2, font);
    initCache();
    EXPECT_EQ(getFontSlot(4), nullptr);
    ASSERT_NE(getFontSlot(5), nullptr);
    EXPECT_TRUE(getFontSlot(5)->bitsPerPixel == 2 && getFontSlot(5)->data == fontSlot(5) + CACHE_RECORD_BYTES &&
                getFontSlot(5)->dataSize == font.size());
    ASSERT_NE(getFontSlot(6), nullptr);
    EXPECT_EQ(getFontSlot(6)->bitsPerPixel, 4);
    EXPECT_EQ(getFontSlot(7), nullptr);
    EXPECT_TRUE(recordErased(fontSlot(7)));
    EXPECT_EQ(fontSlot(7)[CACHE_RECORD_BYTES], 'X');
    EXPECT_EQ(getFontSlot(8), nullptr);
    EXPECT_EQ(ask(0x02, 0xFF), mapReply(0x02, {{4, 1}, {5, 0x12345678}, {6, 0x0BADF00D}, {8, 0x88888888}}));
    EXPECT_EQ(ask(0x02, 8), entryReply(0x02, 8, 2, 0x88888888));
    // The record decides, whatever the font record holds.
    fontSlot(5)[10] = 0;
    EXPECT_EQ(getFontSlot(5), nullptr);
    fontSlot(5)[10] = 1;
    fontSlot(5)[0] = 0xEE;
    EXPECT_EQ(getFontSlot(5), nullptr);
}

TEST_F(Cache, LoadFontChoosesTheDepthAndForgetsAFailedFont) {
    auto font = smallFont(4);
    EXPECT_EQ(load_font(9, 1, font.data(), (uint32_t)font.size()), 0);
    EXPECT_EQ(loadedfont[9].bitsPerPixel, 4);
    EXPECT_EQ(load_font(9, 7, font.data(), (uint32_t)font.size()), 0);
    EXPECT_EQ(loadedfont[9].bitsPerPixel, 2);
    // Cut inside the glyph table: the header passes, the glyphs do not.
    EXPECT_EQ(load_font(9, 2, font.data(), 60), -1);
    EXPECT_TRUE(loadedfont[9].data == nullptr && loadedfont[9].dataSize == 0);
    EXPECT_EQ(load_font(15, 2, font.data(), (uint32_t)font.size()), -1);
}

TEST_F(Cache, ClearingFontsErasesRecordsOnlyAndNeverTheBuiltInOnes) {
    auto font = smallFont();
    for (uint32_t s : {3u, 5u, 14u}) putRecord(fontSlot(s), s, 1, 2, font);
    initCache();
    fontSlot(9)[0] = 0x5A;   // not a record: left alone
    EXPECT_EQ(ask(0x12, 5), ack(0x12));
    EXPECT_TRUE(recordErased(fontSlot(5)));
    EXPECT_EQ(memcmp(fontSlot(5) + CACHE_RECORD_BYTES, font.data(), font.size()), 0);
    EXPECT_EQ(getFontSlot(5), nullptr);
    // Clearing an empty or a built-in slot is acknowledged all the same.
    EXPECT_EQ(ask(0x12, 1), ack(0x12));
    EXPECT_EQ(ask(0x12, 0xFF), ack(0x12));
    EXPECT_EQ(ask(0x02, 0xFF), mapReply(0x02));
    EXPECT_EQ(fontSlot(9)[0], 0x5A);
    for (uint8_t s = 0; s < 3; s++) EXPECT_NE(getFontSlot(s), nullptr);
}

TEST_F(Cache, ImageSlotsAreClearedOneByOneOrAllTogether) {
    Bytes png(40, 0x11);
    putRecord(imageSlot(1), 0xAAAA0001, 1, 1, png);
    putRecord(imageSlot(31), 0xAAAA001F, 1, 0x12, png);
    putRecord(imageSlot(7), 0xAAAA0007, 1, 2, png);
    putRecord(imageSlot(2), 0xC0FFEE, 0, 1, png);   // in use but incomplete: queried, not mapped
    EXPECT_EQ(ask(0x01, 2), entryReply(0x01, 2, 0, 0xC0FFEE));
    EXPECT_EQ(ask(0x11, 7), ack(0x11));
    EXPECT_EQ(ask(0x01, 0xFF), mapReply(0x01, {{1, 0xAAAA0001}, {31, 0xAAAA001F}}));
    // The picture in memory (slot 0) counts like any other slot.
    writeCacheRecord(memoryImageEntry, CacheRecord{CACHE_RECORD_MAGIC, 0xBEEF0000, 100, 1, 1, 10, 10});
    EXPECT_EQ(ask(0x01, 0), entryReply(0x01, 0, 1, 0xBEEF0000));
    EXPECT_EQ(ask(0x01, 0xFF), mapReply(0x01, {{0, 0xBEEF0000}, {1, 0xAAAA0001}, {31, 0xAAAA001F}}));
    EXPECT_EQ(ask(0x11, 0xFF), ack(0x11));
    EXPECT_EQ(ask(0x01, 0xFF), mapReply(0x01));
    EXPECT_TRUE(recordErased(memoryImageEntry));
    imageSlot(2)[0] = 0;   // without the magic it is no record at all
    EXPECT_EQ(ask(0x01, 2), entryReply(0x01, 2, 0, 0));
}

TEST_F(Cache, RequestsOutsideTheSlotsOfNoTypeOrUnknown) {
    // Clears are refused; queries answer empty.
    const std::pair<uint8_t, uint8_t> refused[] = {{0x11, 32}, {0x12, 15}, {0x10, 5}};
    for (auto [request, index] : refused) EXPECT_EQ(ask(request, index), ack(request, 0x01)) << (int)request;
    for (auto [type, index] : {std::pair{0x01, 32}, {0x02, 15}, {0x00, 1}})
        EXPECT_EQ(ask((uint8_t)type, (uint8_t)index), entryReply((uint8_t)type, (uint8_t)index, 0, 0));
    EXPECT_EQ(ask(0x00, 0xFF), (Bytes{0x0B, 0x00, 0x00}));
    // Unknown requests are refused; a query after them in the payload still runs.
    for (uint8_t request : {0x03, 0x13, 0xFF})
        EXPECT_EQ(testsupport::replies(Bytes{0x16, request, 0x01, 0x16, 0x02, 0x01}),
                  (testsupport::Replies{ack(0x00, 0x01), entryReply(0x02, 1, 1, 0)}))
            << (int)request;
    int32_t result = 0;
    EXPECT_EQ(testsupport::replies(Bytes{0x16, 0x02}, &result), testsupport::Replies{ack(0x00, 0x01)});
    EXPECT_EQ(result, -1);
}
