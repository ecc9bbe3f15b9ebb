// Shared by the upload and image command tests: a started device, replies
// collected per command, and small images built on the test side.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "cache/commandHandlerCache.h"
#include "cache/flash.h"
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_Alloc.h"
#include "protocol/commandHandler.h"
#include "tests/codecs/png_builder.h"
#include "tests/support/device_fixture.h"
#include "tools/hostlib/upload.h"

namespace uploadtest {

using nimbra::Bytes;
using Reports = testsupport::Replies;
using testsupport::report;
using testsupport::testData;

struct Rgb {
    uint8_t r, g, b;
};
using PixelFn = std::function<Rgb(uint32_t, uint32_t)>;
using AlphaFn = std::function<uint8_t(uint32_t, uint32_t)>;

// An 8-bit truecolour PNG, pixels from `at`; with `alpha` it carries an
// alpha channel (colour type 6), without it none (colour type 2).
inline Bytes rgbPng(uint32_t w, uint32_t h, const PixelFn &at, const AlphaFn &alpha = nullptr) {
    pngtest::PngSpec s;
    s.width = w;
    s.height = h;
    s.colorType = alpha ? 6 : 2;
    for (uint32_t y = 0; y < h; y++) {
        Bytes row;
        for (uint32_t x = 0; x < w; x++) {
            Rgb c = at(x, y);
            row.insert(row.end(), {c.r, c.g, c.b});
            if (alpha) row.push_back(alpha(x, y));
        }
        s.rows.push_back(row);
    }
    return s.build();
}
inline Bytes solidPng(uint32_t w, uint32_t h, Rgb c) {
    return rgbPng(w, h, [c](uint32_t, uint32_t) { return c; });
}
inline Bytes jpegFile(const std::string &name) { return testData("jpeg/" + name); }

// Holds all of the pool but `left` bytes while it lives.
struct PoolHold {
    uint32_t mark = GUI_AllocStart();
    explicit PoolHold(uint32_t left) { GUI_AllocNoInit(GUI_GetNumFreeBytes() - left); }
    ~PoolHold() { GUI_AllocEnd(mark); }
};

class UploadTest : public DeviceTest {
protected:
    // Runs each command as its own payload; returns the replies they sent.
    static Reports runAll(const std::vector<Bytes> &commands) { return testsupport::replies(commands); }
    // Calls the command's handler directly; *consumed is what it returns.
    static Reports call(const Bytes &command, int32_t *consumed = nullptr) {
        testsupport::clearCaptures();
        int32_t r = opcodeHandlers[command[0]](command.data(), (uint32_t)command.size());
        if (consumed) *consumed = r;
        return testsupport::packets();
    }
    static Reports uploadImage(uint8_t slot, const Bytes &file, uint8_t format,
                               size_t chunk = nimbra::kUploadMaxChunkBytes) {
        nimbra::UploadOptions o;
        o.chunkBytes = chunk;
        auto commands = nimbra::loadImageCommands(slot, file, format, o);
        EXPECT_FALSE(commands.empty());
        return runAll(commands);
    }
    static Reports uploadPng(uint8_t slot, const Bytes &png) { return uploadImage(slot, png, nimbra::kImagePng); }
    static Reports uploadFont(uint8_t slot, const Bytes &sif, uint8_t formatCode, bool compress = false) {
        nimbra::UploadOptions o;
        o.compress = compress;
        auto commands = nimbra::loadFontCommands(slot, sif, formatCode, o);
        EXPECT_FALSE(commands.empty());
        return runAll(commands);
    }
    static Reports ack(uint8_t opcode, uint8_t slot) { return {report(opcode, 0x00, slot)}; }
    static uint8_t *imageSlot(uint32_t s) { return FLASH_Address(imageSlotOffset(s)); }
    static uint8_t *fontSlot(uint32_t s) { return FLASH_Address(fontSlotOffset(s)); }
    static uint8_t pixel(int x, int y) { return fb[(size_t)y * 640 + x]; }
    static void fillScreen(uint8_t v) { memset(fb, v, sizeof fb); }
};

}  // namespace uploadtest
