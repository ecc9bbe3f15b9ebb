// Uploads of fonts and images: chunk sequences, CRC checks, "already
// cached", compressed fonts, the slot 0 picture in the pool, every refusal,
// and the pool shared with video playback.
#include "codecs/mpeg.h"
#include "codecs/png.h"
#include "gui/GUI_Common.h"
#include "host/bytes.h"
#include "resources/builtin_fonts.h"
#include "tests/cache/upload_support.h"
#include "tests/codecs/mpeg_test_streams.h"
#include "tests/support/sif_builder.h"
#include "tools/hostlib/video_stream.h"

using namespace uploadtest;

namespace {

constexpr uint8_t kFont = 0x06, kImage = 0x04;

Bytes builtinSmallFont() {
    return Bytes(SAIRA_REGULAR_TTF_22X23_2BPP_SMALL_SIF,
                 SAIRA_REGULAR_TTF_22X23_2BPP_SMALL_SIF + SAIRA_REGULAR_TTF_22X23_2BPP_SMALL_SIF_size);
}

// A small font padded with zeros to `size` bytes (trailing bytes are allowed
// in a SIF file).
Bytes paddedFont(size_t size) {
    testsupport::SifBuilder b(12, 14, 2);
    for (uint16_t c = 'A'; c <= 'D'; c++) b.solid(c, 4, 6, 1, 2, 6, 3);
    Bytes f = b.build();
    f.resize(size, 0);
    return f;
}

Bytes chunk(uint8_t op, uint8_t slot, uint16_t offset, uint16_t total, uint8_t format, const Bytes &data,
            size_t from, size_t n) {
    return nimbra::uploadChunkCommand(op, slot, offset, total, format, data.data() + from, n);
}
// All of `data` in one chunk.
Bytes whole(uint8_t op, uint8_t slot, uint8_t format, const Bytes &data) {
    return chunk(op, slot, 0, (uint16_t)data.size(), format, data, 0, data.size());
}

// The record of a slot: magic, CRC, size, valid and format.
auto recordOf(const uint8_t *slot) {
    CacheRecord r = readCacheRecord(slot);
    return std::make_tuple(r.magic, r.crc, r.size, r.valid, r.format);
}
auto recordFor(const Bytes &crcOf, size_t size, uint8_t format) {
    return std::make_tuple(CACHE_RECORD_MAGIC, nimbra::deviceCrc32(crcOf.data(), crcOf.size()), (uint16_t)size,
                           (uint8_t)1, format);
}

using Uploads = UploadTest;

}  // namespace

// ------------------------------------------------------------ chunk sequences

TEST_F(Uploads, AThreeChunkFontAndItsBrokenSequences) {
    Bytes data = nimbra::withCrc(paddedFont(996));
    struct Piece {
        uint16_t at, n;
        uint8_t format;
    };
    auto send = [&](uint8_t slot, std::vector<Piece> pieces) {
        std::vector<Bytes> commands;
        for (const Piece &p : pieces) commands.push_back(chunk(kFont, slot, p.at, 1000, p.format, data, p.at, p.n));
        return runAll(commands);
    };
    // Acknowledged once, after the last chunk; stored with its CRC.
    EXPECT_EQ(send(4, {{0, 400, 1}, {400, 400, 1}, {800, 200, 1}}), ack(kFont, 4));
    EXPECT_EQ(recordOf(fontSlot(4)), recordFor(Bytes(data.begin(), data.end() - 4), 1000, 1));
    EXPECT_EQ(0, memcmp(fontSlot(4) + 16, data.data(), data.size()));
    ASSERT_NE(getFontSlot(4), nullptr);
    EXPECT_EQ(loadedfont[4].bitsPerPixel, 4);   // format code 1

    const Bytes broken = report(kFont, 0x02, 6);
    // A second chunk at 300 instead of 400 drops the upload; the chunks that
    // follow find nothing to continue.
    EXPECT_EQ(send(6, {{0, 400, 2}, {300, 400, 2}, {400, 400, 2}, {800, 200, 2}}), (Reports{broken, broken, broken}));
    // Changing the format code half-way, starting anywhere but 0, or
    // repeating a chunk are out of sequence too.
    EXPECT_EQ(send(6, {{0, 400, 2}, {400, 400, 1}}), Reports{broken});
    EXPECT_EQ(send(6, {{400, 400, 2}}), Reports{broken});
    EXPECT_EQ(send(6, {{0, 400, 2}, {0, 400, 2}, {400, 400, 2}, {400, 400, 2}}), Reports{broken});
    EXPECT_FALSE(cacheRecordPresent(fontSlot(6)));
}

TEST_F(Uploads, AnotherUploadEndsTheOneInProgress) {
    // A new upload at offset 0 discards the one in progress...
    Bytes a = nimbra::withCrc(paddedFont(600)), b = nimbra::withCrc(paddedFont(700));
    EXPECT_EQ(runAll({chunk(kFont, 3, 0, (uint16_t)a.size(), 2, a, 0, 300),
                      chunk(kFont, 7, 0, (uint16_t)b.size(), 2, b, 0, 300),
                      chunk(kFont, 7, 300, (uint16_t)b.size(), 2, b, 300, b.size() - 300)}),
              ack(kFont, 7));
    EXPECT_FALSE(cacheRecordPresent(fontSlot(3)));
    // ... an image upload in the middle of a font upload too; a chunk that
    // does not complete lets the rest of its payload run.
    Bytes font = nimbra::withCrc(paddedFont(1200));
    std::vector<Bytes> commands{chunk(kFont, 9, 0, (uint16_t)font.size(), 2, font, 0, 600)};
    for (auto &c : nimbra::loadImageCommands(2, solidPng(4, 4, {255, 0, 0}), nimbra::kImagePng, {})) commands.push_back(c);
    commands.push_back(chunk(kFont, 9, 600, (uint16_t)font.size(), 2, font, 600, font.size() - 600) +
                       nimbra::CommandBuilder().setColor(0xFF00FF00).payload());
    EXPECT_EQ(runAll(commands), (Reports{report(kImage, 0x00, 2), report(kFont, 0x02, 9)}));
    EXPECT_FALSE(cacheRecordPresent(fontSlot(9)));
    EXPECT_EQ(GUI_Context.colorIndex, 0x1C);
}

// ------------------------------------------------------ CRC and "already cached"

TEST_F(Uploads, ACrcMismatchIsReportedAndStoresNothing) {
    Bytes font = nimbra::withCrc(paddedFont(300));
    font.back() ^= 0x01;
    EXPECT_EQ(runAll({whole(kFont, 3, 2, font)}), Reports{report(kFont, 0xC1, 3)});
    EXPECT_FALSE(cacheRecordPresent(fontSlot(3)));
    Bytes png = nimbra::withCrc(solidPng(8, 8, {0, 0, 255}));
    png[10] ^= 0x40;   // the file changed after its CRC was taken
    EXPECT_EQ(runAll({whole(kImage, 1, 1, png)}), Reports{report(kImage, 0xC1, 1)});
    EXPECT_FALSE(cacheRecordPresent(imageSlot(1)));
}

TEST_F(Uploads, TheSameFontOrImageTwiceIsAcknowledgedButNotWrittenAgain) {
    // A stored byte that nothing reads (the last of the CRC copy) is spoilt
    // after the first upload: a second write would restore it.
    auto spoilCrcCopy = [](uint8_t *slot, size_t fileSize) {
        uint8_t *last = slot + 16 + fileSize + 3;
        *last ^= 0xFF;
        return last;
    };
    Bytes font = paddedFont(500), png = solidPng(6, 6, {0, 255, 0});
    ASSERT_EQ(uploadFont(8, font, 2), ack(kFont, 8));
    ASSERT_EQ(uploadPng(3, png), ack(kImage, 3));
    uint8_t *lastOfFont = spoilCrcCopy(fontSlot(8), font.size()), *lastOfImage = spoilCrcCopy(imageSlot(3), png.size());
    const uint8_t spoiltFont = *lastOfFont, spoiltImage = *lastOfImage;
    EXPECT_EQ(uploadFont(8, font, 2), ack(kFont, 8));
    EXPECT_EQ(uploadPng(3, png), ack(kImage, 3));
    EXPECT_EQ(*lastOfFont, spoiltFont);
    EXPECT_EQ(*lastOfImage, spoiltImage);
    EXPECT_NE(getFontSlot(8), nullptr);
    // Another format code is another resource.
    EXPECT_EQ(uploadFont(8, font, 1), ack(kFont, 8));
    EXPECT_NE(*lastOfFont, spoiltFont);
}

// ------------------------------------------------------------ compressed fonts

TEST_F(Uploads, ACompressedFontIsStoredInflated) {
    Bytes font = builtinSmallFont(), stream = nimbra::zlibCompress(font);
    Bytes data = nimbra::withCrc(stream);
    std::vector<Bytes> commands;
    for (size_t at = 0; at < data.size(); at += 1000)
        commands.push_back(chunk(kFont, 10, (uint16_t)at, (uint16_t)data.size(), 0x22, data, at,
                                 std::min<size_t>(1000, data.size() - at)));
    const uint32_t freeBefore = GUI_GetNumFreeBytes();
    EXPECT_EQ(runAll(commands), ack(kFont, 10));
    EXPECT_EQ(GUI_GetNumFreeBytes(), freeBefore);
    // Format 2: the compression bit is not stored.
    EXPECT_EQ(recordOf(fontSlot(10)), recordFor(stream, font.size(), 2));
    EXPECT_EQ(0, memcmp(fontSlot(10) + 16, font.data(), font.size()));
    ASSERT_NE(getFontSlot(10), nullptr);
    EXPECT_EQ(getFontSlot(10)->height, 22);
    // Sent again it is inflated and written again: its stored size is the
    // inflated one, so it never looks cached.
    fontSlot(10)[16 + font.size() - 1] ^= 0x55;
    EXPECT_EQ(runAll(commands), ack(kFont, 10));
    EXPECT_EQ(0, memcmp(fontSlot(10) + 16, font.data(), font.size()));
}

TEST_F(Uploads, CompressedFontsThatDoNotInflateOrOpen) {
    // 32751 bytes fit behind the record; 32752 would fill the slot.
    EXPECT_EQ(uploadFont(11, paddedFont(32751), 2, true), ack(kFont, 11));
    EXPECT_EQ(readCacheRecord(fontSlot(11)).size, 32751);
    EXPECT_EQ(runAll({whole(kFont, 12, 0x22, nimbra::withCrc(nimbra::zlibCompress(paddedFont(32752))))}),
              Reports{report(kFont, 0x01, 12)});
    EXPECT_FALSE(cacheRecordPresent(fontSlot(12)));

    ASSERT_EQ(uploadFont(5, paddedFont(400), 2), ack(kFont, 5));
    // Not a zlib stream (0x02): refused before anything is written, so the
    // font already in the slot stays.
    EXPECT_EQ(runAll({whole(kFont, 5, 0x22, nimbra::withCrc(Bytes(300, 0x5A)))}), Reports{report(kFont, 0x02, 5)});
    EXPECT_NE(getFontSlot(5), nullptr);
    // Inflates, but is no SIF font: stored, fails to open, and the slot is
    // erased.
    EXPECT_EQ(runAll({whole(kFont, 5, 0x22, nimbra::withCrc(nimbra::zlibCompress(Bytes(500, 7))))}),
              Reports{report(kFont, 0x02, 5)});
    EXPECT_FALSE(cacheRecordPresent(fontSlot(5)));
    EXPECT_EQ(getFontSlot(5), nullptr);

    // All T bytes are inflated, the CRC behind the file included. A stream
    // without its Adler-32 trailer has the CRC read as that trailer, which
    // does not match: refused.
    Bytes complete = nimbra::zlibCompress(paddedFont(400));
    EXPECT_EQ(runAll({whole(kFont, 6, 0x22, nimbra::withCrc(Bytes(complete.begin(), complete.end() - 4)))}),
              Reports{report(kFont, 0x02, 6)});
    EXPECT_FALSE(cacheRecordPresent(fontSlot(6)));
    // A stream cut short stores what it gave. Cut inside a stored block
    // (zlib header, then block header 01, LEN, NLEN), it takes the CRC bytes
    // as more of the block's data: the font's first 2000 bytes and the CRC.
    Bytes font = paddedFont(3000), stream = nimbra::zlibCompress(font, 0);
    ASSERT_EQ(stream[2], 0x01);
    ASSERT_EQ(rd16le(stream.data() + 3), font.size());
    stream.resize(2 + 5 + 2000);
    Bytes upload = nimbra::withCrc(stream);
    EXPECT_EQ(runAll({whole(kFont, 6, 0x22, upload)}), ack(kFont, 6));
    Bytes expected = Bytes(font.begin(), font.begin() + 2000) + Bytes(upload.end() - 4, upload.end());
    ASSERT_EQ(readCacheRecord(fontSlot(6)).size, expected.size());
    EXPECT_EQ(0, memcmp(fontSlot(6) + 16, expected.data(), expected.size()));
}

TEST_F(Uploads, CompressedFontNeedsPoolRoomAndIsRefusedWithoutIt) {
    // 60000 free bytes are less than the output buffer and inflater need;
    // 80000 are enough. Either way the pool is left as it was.
    for (uint32_t left : {60000u, 80000u}) {
        PoolHold hold(left);
        EXPECT_EQ(uploadFont(3, builtinSmallFont(), 2, true), Reports{report(kFont, left == 60000 ? 0x02 : 0x00, 3)});
        EXPECT_EQ(GUI_GetNumFreeBytes(), left);
        EXPECT_EQ(cacheRecordPresent(fontSlot(3)), left == 80000);
    }
}

// ------------------------------------------------------------ malformed chunks

TEST_F(Uploads, MalformedChunksAreRefusedAndStopThePayload) {
    Bytes d(64, 1);
    auto withLength = [](Bytes c, uint16_t n) {
        wr16le(c.data() + 6, n);
        return c;
    };
    struct Case {
        const char *what;
        Bytes command;
        uint8_t detail;
    } cases[] = {
        {"font slot 2", chunk(kFont, 2, 0, 64, 2, d, 0, 10), 2},
        {"font slot 15", chunk(kFont, 15, 0, 64, 2, d, 0, 10), 15},
        {"image slot 32", chunk(kImage, 32, 0, 64, 1, d, 0, 10), 32},
        {"image format 0", chunk(kImage, 1, 0, 64, 0, d, 0, 10), 1},
        {"image format 3", chunk(kImage, 1, 0, 64, 3, d, 0, 10), 1},
        {"font total 32753", chunk(kFont, 3, 0, 32753, 2, d, 0, 10), 3},
        {"image total 16369", chunk(kImage, 1, 0, 16369, 1, d, 0, 10), 1},
        {"font offset 32767", chunk(kFont, 3, 32767, 32752, 2, d, 0, 1), 3},
        {"image offset 16383", chunk(kImage, 1, 16383, 16368, 1, d, 0, 1), 1},
        {"total below the CRC", chunk(kFont, 3, 0, 3, 2, d, 0, 3), 3},
        {"chunk past its total", chunk(kFont, 3, 0, 20, 2, d, 0, 21), 3},
        // Offsets the limits allow, but chunks that would run past the end
        // of the staging area.
        {"font chunk past the staging area", chunk(kFont, 3, 32760, 32752, 2, d, 0, 40), 3},
        {"image chunk past the staging area", chunk(kImage, 1, 16380, 16368, 1, d, 0, 40), 1},
        // Lengths that do not match the command.
        {"length 0", withLength(chunk(kFont, 3, 0, 64, 2, d, 0, 5), 0), 3},
        {"length past the command", withLength(chunk(kImage, 1, 0, 64, 1, d, 0, 5), 6), 1},
        {"no data at all", Bytes{kImage, 1, 0, 0, 8, 0, 0, 0, 1}, 0xFF},
        {"two bytes", Bytes{kFont, 3}, 0xFF},
    };
    for (const Case &c : cases) {
        int32_t consumed = 0;
        EXPECT_EQ(call(c.command, &consumed), Reports{report(c.command[0], 0x01, c.detail)}) << c.what;
        EXPECT_EQ(consumed, -1) << c.what;
    }
    // 32748 file bytes and the CRC: the last chunk ends at the last byte of
    // the staging buffer.
    EXPECT_EQ(uploadFont(14, paddedFont(32748), 2), ack(kFont, 14));
}

// ------------------------------------------------------------------- images

TEST_F(Uploads, ImagesAreStoredWithTheirSizeAndTransparency) {
    struct Case {
        uint8_t slot;
        Bytes file;
        uint8_t format, stored;
        size_t chunk;
        uint16_t w, h;
    } cases[] = {
        {1, solidPng(30, 20, {255, 0, 0}), nimbra::kImagePng, 0x01, nimbra::kUploadMaxChunkBytes, 30, 20},
        {2, rgbPng(12, 7, [](uint32_t, uint32_t) { return Rgb{0, 0, 255}; }, [](uint32_t x, uint32_t) { return (uint8_t)(x * 20); }),
         nimbra::kImagePng, 0x11, 100, 12, 7},
        {31, jpegFile("h2v2_17x20.jpg"), nimbra::kImageJpeg, 0x02, 333, 17, 20},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(uploadImage(c.slot, c.file, c.format, c.chunk), ack(kImage, c.slot));
        // The stored file keeps its CRC.
        EXPECT_EQ(recordOf(imageSlot(c.slot)), recordFor(c.file, c.file.size() + 4, c.stored));
        EXPECT_EQ(readCacheRecord(imageSlot(c.slot)).width, c.w);
        EXPECT_EQ(readCacheRecord(imageSlot(c.slot)).height, c.h);
        EXPECT_EQ(Bytes(imageSlot(c.slot) + 16, imageSlot(c.slot) + 20 + c.file.size()), nimbra::withCrc(c.file));
    }
}

TEST_F(Uploads, ImagesThatCannotBeCachedAreRefused) {
    const Rgb c{1, 2, 3};
    struct Case {
        const char *what;
        uint8_t slot;
        Bytes file;
        uint8_t format, code;
    } cases[] = {
        {"641 wide", 4, solidPng(641, 10, c), nimbra::kImagePng, 0x01},
        {"401 high", 4, solidPng(10, 401, c), nimbra::kImagePng, 0x01},
        {"progressive JPEG", 4, jpegFile("progressive.jpg"), nimbra::kImageJpeg, 0xC0},
        {"no image", 4, Bytes(100, 0x33), nimbra::kImagePng, 0xC0},
        {"JPEG sent as PNG", 4, jpegFile("gray_q75.jpg"), nimbra::kImagePng, 0xC0},
        {"PNG sent as JPEG", 4, solidPng(5, 5, c), nimbra::kImageJpeg, 0xC0},
        {"641 wide slot 0 picture", 0, solidPng(641, 1, c), nimbra::kImagePng, 0x01},
    };
    for (const Case &k : cases)
        EXPECT_EQ(uploadImage(k.slot, k.file, k.format), Reports{report(kImage, k.code, k.slot)}) << k.what;
    EXPECT_FALSE(cacheRecordPresent(imageSlot(4)));
    EXPECT_EQ(memDeviceMemory, nullptr);
}

// --------------------------------------------------------- the slot 0 picture

TEST_F(Uploads, Slot0PictureIsDecodedIntoThePoolAndReplacedInPlace) {
    // Red, green, blue and white quarters.
    const uint32_t w = 40, h = 30;
    static const Rgb colours[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    static const uint8_t indices[4] = {0xE0, 0x1C, 0x03, 0xFF};
    auto quarter = [&](uint32_t x, uint32_t y) { return (x >= w / 2) + 2 * (y >= h / 2); };
    Bytes png = rgbPng(w, h, [&](uint32_t x, uint32_t y) { return colours[quarter(x, y)]; });
    GUI_SetClipRect(100, 100, 200, 200);
    EXPECT_EQ(uploadPng(0, png), ack(kImage, 0));
    ASSERT_NE(memDeviceMemory, nullptr);
    for (uint32_t y = 0; y < h; y++)
        for (uint32_t x = 0; x < w; x++) ASSERT_EQ(memDeviceMemory[y * w + x], indices[quarter(x, y)]) << x << "," << y;
    EXPECT_EQ(recordOf(memoryImageEntry), recordFor(png, png.size() + 4, 0x01));
    EXPECT_EQ(readCacheRecord(memoryImageEntry).width, w);
    EXPECT_EQ(readCacheRecord(memoryImageEntry).height, h);
    EXPECT_EQ(GUI_GetNumFreeBytes(), POOL_SIZE_BYTES - w * h);
    // Drawing went back to the screen, with the clip reset to all of it.
    EXPECT_EQ(pDevice->vram, fb);
    EXPECT_EQ(std::make_tuple(GUI_Context.clipX0, GUI_Context.clipY0, GUI_Context.clipX1, GUI_Context.clipY1),
              std::make_tuple(0, 0, 639, 399));

    // A second picture takes the first one's place. With alpha, index 0
    // stays where the picture is transparent (here its left half; the right
    // half is opaque green).
    png = rgbPng(10, 4, [](uint32_t, uint32_t) { return Rgb{0, 255, 0}; }, [](uint32_t x, uint32_t) { return x < 5 ? 0 : 255; });
    ASSERT_EQ(uploadPng(0, png), ack(kImage, 0));
    EXPECT_EQ(GUI_GetNumFreeBytes(), POOL_SIZE_BYTES - 40);
    EXPECT_EQ(memoryImageEntry[11], 0x11);
    for (uint32_t i = 0; i < 40; i++) EXPECT_EQ(memDeviceMemory[i], i % 10 < 5 ? 0x00 : 0x1C) << i;
    // The largest picture fits, twice in a row.
    Bytes full = solidPng(640, 400, {255, 255, 255});
    EXPECT_EQ(uploadPng(0, full), ack(kImage, 0));
    EXPECT_EQ(uploadPng(0, full), ack(kImage, 0));
    EXPECT_EQ(GUI_GetNumFreeBytes(), POOL_SIZE_BYTES - 256000);
    EXPECT_EQ(memDeviceMemory[255999], 0xFF);
}

TEST_F(Uploads, Slot0JpegMatchesTheSameJpegDrawnFromAFlashSlot) {
    Bytes jpeg = jpegFile("h2v2_17x20.jpg");
    ASSERT_EQ(uploadImage(0, jpeg, nimbra::kImageJpeg), ack(kImage, 0));
    ASSERT_EQ(uploadImage(1, jpeg, nimbra::kImageJpeg), ack(kImage, 1));
    fillScreen(0x00);
    EXPECT_TRUE(call(nimbra::drawImageCommand(1, 0, 0)).empty());
    for (int y = 0; y < 20; y++)
        for (int x = 0; x < 17; x++) ASSERT_EQ(memDeviceMemory[y * 17 + x], pixel(x, y)) << x << "," << y;
    EXPECT_EQ(memoryImageEntry[11], 0x02);
}

TEST_F(Uploads, ASlot0PictureThatFailsToDecodeGivesItsMemoryBack) {
    ASSERT_EQ(uploadPng(0, solidPng(20, 20, {255, 0, 0})), ack(kImage, 0));
    // One pixel wide (its size reads, but the PNG drawer refuses it), and a
    // JPEG whose header reads but whose data is cut off.
    Bytes cut = jpegFile("h1v1_q90.jpg");
    cut.resize(cut.size() / 2);
    EXPECT_EQ(uploadPng(0, solidPng(1, 20, {255, 0, 0})), Reports{report(kImage, 0xC0, 0)});
    EXPECT_FALSE(cacheRecordPresent(memoryImageEntry));
    EXPECT_EQ(uploadImage(0, cut, nimbra::kImageJpeg), Reports{report(kImage, 0xC0, 0)});
    EXPECT_EQ(memDeviceMemory, nullptr);
    EXPECT_EQ(GUI_GetNumFreeBytes(), POOL_SIZE_BYTES);
}

TEST_F(Uploads, Slot0PictureIsPlacedAboveAnotherHolder) {
    PoolHold hold(300000);
    EXPECT_EQ(uploadPng(0, solidPng(10, 10, {255, 0, 0})), ack(kImage, 0));
    EXPECT_EQ(GUI_GetNumFreeBytes(), 300000u - 100);
    // With memory held above the picture, releasing the picture would
    // release that too: the next picture is refused and the first stays.
    const uint32_t above = GUI_AllocStart();
    GUI_AllocNoInit(16);
    EXPECT_EQ(uploadPng(0, solidPng(20, 20, {0, 0, 255})), Reports{report(kImage, 0x02, 0)});
    EXPECT_TRUE(cacheRecordUsable(memoryImageEntry));
    EXPECT_EQ(memDeviceMemory[99], 0xE0);
    GUI_AllocEnd(above);
    EXPECT_EQ(uploadPng(0, solidPng(20, 20, {0, 0, 255})), ack(kImage, 0));
    EXPECT_EQ(GUI_GetNumFreeBytes(), 300000u - 400);
    EXPECT_EQ(memDeviceMemory[399], 0x03);
}

TEST_F(Uploads, DecodersWithoutPoolRoomAreRefusedNotFatal) {
    struct Case {
        const char *what;
        uint32_t left;
        uint8_t slot;
        Bytes file;
        uint8_t format;
    } cases[] = {
        // Too little for a full-screen picture and its decoder.
        {"full-screen PNG", 300000, 0, solidPng(640, 400, {0, 0, 255}), nimbra::kImagePng},
        // Room for the header reader and the 17 x 20 picture, not for the
        // decoder's record and row buffers behind the picture.
        {"slot 0 JPEG", 16000, 0, jpegFile("h2v2_17x20.jpg"), nimbra::kImageJpeg},
        // No room to read the header of a flash slot JPEG (a PNG's header
        // needs none: see the picture and video cases below).
        {"JPEG header", 1000, 2, jpegFile("gray_q75.jpg"), nimbra::kImageJpeg},
    };
    for (const Case &c : cases) {
        PoolHold hold(c.left);
        EXPECT_EQ(uploadImage(c.slot, c.file, c.format), Reports{report(kImage, 0x02, c.slot)}) << c.what;
        EXPECT_EQ(GUI_GetNumFreeBytes(), c.left) << c.what;
        EXPECT_FALSE(cacheRecordPresent(c.slot ? imageSlot(c.slot) : memoryImageEntry)) << c.what;
    }
    EXPECT_EQ(memDeviceMemory, nullptr);
}

// ------------------------------------------- the slot 0 picture and video

class PictureAndVideo : public UploadTest {
protected:
    void uploadPicture(Rgb c) { ASSERT_EQ(uploadPng(0, solidPng(64, 32, c)), ack(kImage, 0)); }
    // The picture is usable, holds colour `index` all over and draws.
    void expectPicture(uint8_t index) {
        ASSERT_NE(memDeviceMemory, nullptr);
        ASSERT_TRUE(cacheRecordUsable(memoryImageEntry));
        for (int i = 0; i < 64 * 32; i++) ASSERT_EQ(memDeviceMemory[i], index) << i;
        fillScreen(0x00);
        EXPECT_TRUE(call(nimbra::drawImageCommand(0, 20, 20)).empty());
        EXPECT_EQ(pixel(41, 25), index);
    }
    void play(std::initializer_list<uint8_t> actions) {
        for (uint8_t a : actions) ASSERT_TRUE(call(nimbra::videoPlayCommand(a)).empty()) << (int)a;
    }
};

TEST_F(PictureAndVideo, APictureUploadWhileVideoRunsIsRefused) {
    play({1});
    const uint32_t freeWithVideo = GUI_GetNumFreeBytes();
    EXPECT_EQ(uploadPng(0, solidPng(64, 32, {255, 0, 0})), Reports{report(kImage, 0x02, 0)});
    EXPECT_EQ(memDeviceMemory, nullptr);
    EXPECT_EQ(GUI_GetNumFreeBytes(), freeWithVideo);
    // Flash slots are not in the pool: they load as usual.
    EXPECT_EQ(uploadPng(1, solidPng(64, 32, {255, 0, 0})), ack(kImage, 1));
    play({2});
    EXPECT_EQ(GUI_GetNumFreeBytes(), POOL_SIZE_BYTES);
    uploadPicture({255, 0, 0});
    expectPicture(0xE0);
}

// A PNG's size is read from its header in place: with a large picture and
// a 320 x 240 video holding all but about 42000 bytes of the pool, too
// little for a PNG decoder, a small PNG still loads into a flash slot.
TEST_F(PictureAndVideo, APngLoadsIntoAFlashSlotWhilePictureAndVideoHoldThePool) {
    ASSERT_EQ(uploadPng(0, solidPng(640, 220, {0, 0, 255})), ack(kImage, 0));
    play({1});
    const Bytes firstGroup = nimbra::splitVideoGroups(mpegtest::load("ip_320x240_q6").bytes)[0];
    for (const Bytes &c : nimbra::videoUploadCommands(firstGroup, 1000)) ASSERT_TRUE(call(c).empty());
    ASSERT_TRUE(call(nimbra::videoPlayCommand(nimbra::kVideoDraw, 0, 0)).empty());
    ASSERT_LT(GUI_GetNumFreeBytes(), PNG_CONTEXT_BYTES);
    EXPECT_EQ(uploadPng(5, solidPng(20, 10, {255, 0, 0})), ack(kImage, 5));
    EXPECT_EQ(readCacheRecord(imageSlot(5)).width, 20);
}

TEST_F(PictureAndVideo, APictureHeldBeforeVideoSurvivesStartStopAndRestart) {
    uploadPicture({0, 255, 0});
    const uint32_t freeWithPicture = GUI_GetNumFreeBytes();
    play({1});
    EXPECT_EQ(allocToken, POOL_SIZE_BYTES - freeWithPicture);   // the video lies above the picture
    // A second picture while the video runs is refused; the first stays.
    EXPECT_EQ(uploadPng(0, solidPng(64, 32, {0, 0, 255})), Reports{report(kImage, 0x02, 0)});
    play({1});   // restart
    expectPicture(0x1C);
    play({2, 2});   // stop, and stop while stopped
    EXPECT_EQ(GUI_GetNumFreeBytes(), freeWithPicture);
    expectPicture(0x1C);
}
