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

std::vector<uint8_t> smallFont(int bitsPerPixel = 2) {
    SifBuilder b(10, 12, bitsPerPixel);
    for (uint16_t c = 'A'; c <= 'H'; c++) b.solid(c, 4, 6, 1, 2, 6, (uint8_t)((1 << bitsPerPixel) - 1));
    return b.build();
}

// Writes a record and its data into a flash slot.
void putRecord(uint8_t *slot, uint32_t crc, uint8_t valid, uint8_t format, const std::vector<uint8_t> &data,
               uint16_t width = 0, uint16_t height = 0) {
    CacheRecord r{CACHE_RECORD_MAGIC, crc, (uint16_t)data.size(), valid, format, width, height};
    writeCacheRecord(slot, r);
    if (!data.empty()) memcpy(slot + CACHE_RECORD_BYTES, data.data(), data.size());
}

uint8_t *fontSlot(uint32_t s) { return FLASH_Address(fontSlotOffset(s)); }
uint8_t *imageSlot(uint32_t s) { return FLASH_Address(imageSlotOffset(s)); }

Bytes cacheCommand(uint8_t request, uint8_t index) { return Bytes{0x16, request, index}; }

Bytes entryReply(uint8_t type, uint8_t index, uint8_t valid, uint32_t crc) {
    Bytes b{0x03, type, index, valid, 0, 0, 0, 0};
    wr32le(b.data() + 4, crc);
    return b;
}

Bytes mapReply(uint8_t type, const std::vector<uint32_t> &crcs) {
    Bytes b{0x0B, type, (uint8_t)crcs.size()};
    for (uint32_t c : crcs) {
        uint8_t w[4];
        wr32le(w, c);
        b.insert(b.end(), w, w + 4);
    }
    return b;
}

}  // namespace

class Cache : public DeviceTest {
protected:
    // One command, its length, and the single reply it must send.
    Bytes ask(uint8_t request, uint8_t index) {
        testsupport::clearCaptures();
        EXPECT_EQ(testsupport::run(cacheCommand(request, index)), 0);
        auto replies = testsupport::packets();
        EXPECT_EQ(replies.size(), 1u);
        return replies.empty() ? Bytes{} : replies[0];
    }
};

// ---------------------------------------------------------------- layout

TEST(CacheLayout, SlotAddressesFollowTheFlashMap) {
    EXPECT_EQ(fontSlotOffset(3), 0x278000u);
    EXPECT_EQ(fontSlotOffset(14), 0x220000u);
    EXPECT_EQ(imageSlotOffset(1), 0x2F8000u);
    EXPECT_EQ(imageSlotOffset(31), 0x280000u);
    // The lowest image slot ends where the highest font slot begins.
    EXPECT_EQ(imageSlotOffset(31), fontSlotOffset(3) + FONT_SLOT_BYTES);
}

// -------------------------------------------------------------- start-up

TEST_F(Cache, AfterStartUpOnlyTheBuiltInFontsArePresent) {
    EXPECT_EQ(ask(0x02, 0xFF), mapReply(0x02, std::vector<uint32_t>(15, 0)));
    EXPECT_EQ(ask(0x01, 0xFF), mapReply(0x01, std::vector<uint32_t>(32, 0)));
    EXPECT_EQ(ask(0x02, 1), entryReply(0x02, 1, 1, 0));
    EXPECT_EQ(ask(0x02, 3), entryReply(0x02, 3, 0, 0));
    // Slot 0's record is in use but not valid.
    EXPECT_EQ(ask(0x01, 0), entryReply(0x01, 0, 0, 0));
    for (uint8_t s = 0; s < 3; s++) ASSERT_NE(getFontSlot(s), nullptr) << (int)s;
    for (uint8_t s = 3; s < 15; s++) EXPECT_EQ(getFontSlot(s), nullptr) << (int)s;
    EXPECT_EQ(getFontSlot(15), nullptr);
    EXPECT_EQ(getFontSlot(255), nullptr);
    EXPECT_EQ(getFontSlot(2)->height, 43);
}

TEST_F(Cache, StartUpScanOpensCachedFontsAndErasesBrokenOnes) {
    auto font = smallFont();
    putRecord(fontSlot(5), 0x12345678, 1, 2, font);
    putRecord(fontSlot(6), 0x0BADF00D, 1, 1, smallFont(4));   // opened at 4 bits
    auto broken = font;
    broken[0] = 'X';
    putRecord(fontSlot(7), 0x77777777, 1, 2, broken);
    putRecord(fontSlot(8), 0x88888888, 2, 2, font);   // present, not usable
    initCache();

    ASSERT_NE(getFontSlot(5), nullptr);
    EXPECT_EQ(getFontSlot(5)->bitsPerPixel, 2);
    EXPECT_EQ(getFontSlot(5)->data, fontSlot(5) + CACHE_RECORD_BYTES);
    EXPECT_EQ(getFontSlot(5)->dataSize, font.size());
    ASSERT_NE(getFontSlot(6), nullptr);
    EXPECT_EQ(getFontSlot(6)->bitsPerPixel, 4);
    // The font that did not open lost its record, not its data.
    EXPECT_EQ(getFontSlot(7), nullptr);
    EXPECT_EQ(std::vector<uint8_t>(fontSlot(7), fontSlot(7) + 16), std::vector<uint8_t>(16, 0));
    EXPECT_EQ(fontSlot(7)[CACHE_RECORD_BYTES], 'X');
    EXPECT_EQ(getFontSlot(8), nullptr);

    std::vector<uint32_t> crcs(15, 0);
    crcs[5] = 0x12345678;
    crcs[6] = 0x0BADF00D;
    crcs[8] = 0x88888888;
    EXPECT_EQ(ask(0x02, 0xFF), mapReply(0x02, crcs));
    EXPECT_EQ(ask(0x02, 5), entryReply(0x02, 5, 1, 0x12345678));
    EXPECT_EQ(ask(0x02, 8), entryReply(0x02, 8, 2, 0x88888888));
}

TEST_F(Cache, FontLookupNeedsAUsableRecordAndSixtyFourBytes) {
    // A one-glyph font of 36 bytes opens but is too small to be taken.
    SifBuilder tiny(10, 10, 2);
    tiny.solid('A', 0, 0, 0, 0, 3, 0);
    auto sif = tiny.build();
    ASSERT_LT(sif.size(), 64u);
    putRecord(fontSlot(4), 1, 1, 2, sif);
    putRecord(fontSlot(5), 2, 1, 2, smallFont());
    initCache();
    EXPECT_EQ(getFontSlot(4), nullptr);
    ASSERT_NE(getFontSlot(5), nullptr);
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
    EXPECT_EQ(loadedfont[9].data, nullptr);
    EXPECT_EQ(loadedfont[9].dataSize, 0u);
    EXPECT_EQ(load_font(15, 2, font.data(), (uint32_t)font.size()), -1);
}

// ------------------------------------------------------------- clearing

TEST_F(Cache, ClearingAFontSlotErasesOnlyItsRecord) {
    auto font = smallFont();
    putRecord(fontSlot(5), 0x12345678, 1, 2, font);
    initCache();
    EXPECT_EQ(ask(0x12, 5), (Bytes{0x04, 0x16, 0x00, 0x12}));
    EXPECT_EQ(std::vector<uint8_t>(fontSlot(5), fontSlot(5) + 16), std::vector<uint8_t>(16, 0));
    EXPECT_EQ(memcmp(fontSlot(5) + CACHE_RECORD_BYTES, font.data(), font.size()), 0);
    EXPECT_EQ(getFontSlot(5), nullptr);
    // Clearing an empty slot is acknowledged all the same.
    EXPECT_EQ(ask(0x12, 5), (Bytes{0x04, 0x16, 0x00, 0x12}));
}

TEST_F(Cache, BuiltInFontsAreNeverErased) {
    EXPECT_EQ(ask(0x12, 1), (Bytes{0x04, 0x16, 0x00, 0x12}));
    EXPECT_EQ(ask(0x12, 0xFF), (Bytes{0x04, 0x16, 0x00, 0x12}));
    for (uint8_t s = 0; s < 3; s++) EXPECT_NE(getFontSlot(s), nullptr);
    EXPECT_EQ(ask(0x02, 1), entryReply(0x02, 1, 1, 0));
}

TEST_F(Cache, ClearingAllFontsErasesEveryPresentFlashSlot) {
    putRecord(fontSlot(3), 3, 1, 2, smallFont());
    putRecord(fontSlot(14), 14, 1, 2, smallFont());
    initCache();
    fontSlot(9)[0] = 0x5A;   // not a record: left alone
    EXPECT_EQ(ask(0x12, 0xFF), (Bytes{0x04, 0x16, 0x00, 0x12}));
    EXPECT_EQ(ask(0x02, 0xFF), mapReply(0x02, std::vector<uint32_t>(15, 0)));
    EXPECT_EQ(fontSlot(9)[0], 0x5A);
}

TEST_F(Cache, ImageSlotsAreClearedOneByOneOrAllTogether) {
    Bytes png(40, 0x11);
    putRecord(imageSlot(1), 0xAAAA0001, 1, 1, png, 10, 4);
    putRecord(imageSlot(31), 0xAAAA001F, 1, 0x12, png, 10, 4);
    putRecord(imageSlot(7), 0xAAAA0007, 1, 2, png, 10, 4);
    std::vector<uint32_t> crcs(32, 0);
    crcs[1] = 0xAAAA0001;
    crcs[7] = 0xAAAA0007;
    crcs[31] = 0xAAAA001F;
    EXPECT_EQ(ask(0x01, 0xFF), mapReply(0x01, crcs));
    EXPECT_EQ(ask(0x01, 31), entryReply(0x01, 31, 1, 0xAAAA001F));

    EXPECT_EQ(ask(0x11, 7), (Bytes{0x04, 0x16, 0x00, 0x11}));
    crcs[7] = 0;
    EXPECT_EQ(ask(0x01, 0xFF), mapReply(0x01, crcs));

    // The picture in memory (slot 0) counts like any other slot.
    writeCacheRecord(memoryImageEntry, CacheRecord{CACHE_RECORD_MAGIC, 0xBEEF0000, 100, 1, 1, 10, 10});
    crcs[0] = 0xBEEF0000;
    EXPECT_EQ(ask(0x01, 0xFF), mapReply(0x01, crcs));
    EXPECT_EQ(ask(0x11, 0xFF), (Bytes{0x04, 0x16, 0x00, 0x11}));
    EXPECT_EQ(ask(0x01, 0xFF), mapReply(0x01, std::vector<uint32_t>(32, 0)));
    EXPECT_EQ(std::vector<uint8_t>(memoryImageEntry, memoryImageEntry + 16), std::vector<uint8_t>(16, 0));
}

TEST_F(Cache, ClearingImageSlotZeroForgetsThePicture) {
    writeCacheRecord(memoryImageEntry, CacheRecord{CACHE_RECORD_MAGIC, 0xBEEF0000, 100, 1, 1, 10, 10});
    EXPECT_EQ(ask(0x01, 0), entryReply(0x01, 0, 1, 0xBEEF0000));
    EXPECT_EQ(ask(0x11, 0), (Bytes{0x04, 0x16, 0x00, 0x11}));
    EXPECT_EQ(ask(0x01, 0), entryReply(0x01, 0, 0, 0));
}

TEST_F(Cache, ClearRequestsOutsideTheSlotsAreRejected) {
    EXPECT_EQ(ask(0x11, 32), (Bytes{0x04, 0x16, 0x01, 0x11}));
    EXPECT_EQ(ask(0x11, 254), (Bytes{0x04, 0x16, 0x01, 0x11}));
    EXPECT_EQ(ask(0x12, 15), (Bytes{0x04, 0x16, 0x01, 0x12}));
    EXPECT_EQ(ask(0x10, 5), (Bytes{0x04, 0x16, 0x01, 0x10}));
    EXPECT_EQ(ask(0x10, 0xFF), (Bytes{0x04, 0x16, 0x01, 0x10}));
}

// -------------------------------------------------------------- queries

TEST_F(Cache, OneSlotQueryReportsARecordInUseEvenWhenIncomplete) {
    putRecord(imageSlot(2), 0xC0FFEE, 0, 1, Bytes(8, 1));
    EXPECT_EQ(ask(0x01, 2), entryReply(0x01, 2, 0, 0xC0FFEE));
    // The usage map lists present records only.
    EXPECT_EQ(ask(0x01, 0xFF), mapReply(0x01, std::vector<uint32_t>(32, 0)));
    // A header without the magic is no record at all.
    imageSlot(2)[0] = 0;
    EXPECT_EQ(ask(0x01, 2), entryReply(0x01, 2, 0, 0));
}

TEST_F(Cache, QueriesOutsideTheSlotsAndOfNoTypeAnswerEmpty) {
    EXPECT_EQ(ask(0x01, 32), entryReply(0x01, 32, 0, 0));
    EXPECT_EQ(ask(0x02, 15), entryReply(0x02, 15, 0, 0));
    EXPECT_EQ(ask(0x00, 1), entryReply(0x00, 1, 0, 0));
    EXPECT_EQ(ask(0x00, 0xFF), (Bytes{0x0B, 0x00, 0x00}));
}

TEST_F(Cache, MalformedCommandsAreReported) {
    for (uint8_t request : {0x03, 0x0F, 0x13, 0x20, 0x21, 0xFF}) {
        testsupport::clearCaptures();
        // A well-formed query follows in the same payload: it still runs.
        Bytes payload{0x16, request, 0x01, 0x16, 0x02, 0x01};
        EXPECT_EQ(testsupport::run(payload), 0);
        auto replies = testsupport::packets();
        ASSERT_EQ(replies.size(), 2u) << (int)request;
        EXPECT_EQ(replies[0], (Bytes{0x04, 0x16, 0x01, 0x00})) << (int)request;
        EXPECT_EQ(replies[1], entryReply(0x02, 1, 1, 0));
    }
    testsupport::clearCaptures();
    Bytes shortCommand{0x16, 0x02};
    testsupport::run(shortCommand);
    auto replies = testsupport::packets();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0], (Bytes{0x04, 0x16, 0x01, 0x00}));
}
