// The command table: every command's wire layout checked against bytes
// written out by hand, the table against the device's dispatcher, and the
// builder's refusal of values a field cannot hold.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <stdexcept>

#include "protocol/commandHandler.h"
#include "tools/hostlib/command_codec.h"
#include "tools/hostlib/command_table.h"

using nimbra::Bytes;
using nimbra::CommandBuilder;

namespace {

struct WireCase {
    const char *what;
    Bytes built;
    Bytes expected;
};

}  // namespace

TEST(CommandTable, EveryCommandEncodesItsWireLayout) {
    // Packed pairs: byte 0 holds bits 8-11 of A (low nibble) and B (high
    // nibble), then the low bytes of A and B; multi-byte fields little-endian.
    const std::vector<WireCase> cases = {
        {"copy, rectangle left out", CommandBuilder().copyToScreen(5).payload(), {0x02, 0x05, 0, 0, 0, 0, 0, 0}},
        {"copy, -1 and sizes at the top", CommandBuilder().copyToScreen(1, -1, 3, 4095, 0x123).payload(),
         {0x02, 0x01, 0x0F, 0xFF, 0x03, 0x1F, 0xFF, 0x23}},
        {"clear", CommandBuilder().clearRect(-4, 0, 1280, 800).payload(), {0x03, 0x0F, 0xFC, 0x00, 0x35, 0x00, 0x20}},
        {"load-image", CommandBuilder().loadImageChunk(5, 0x0102, 0x0304, 2, {0xAA, 0xBB}).payload(),
         {0x04, 0x05, 0x02, 0x01, 0x04, 0x03, 0x02, 0x00, 0x02, 0xAA, 0xBB}},
        {"image", CommandBuilder().drawImage(31, 200, -2).payload(), {0x05, 0x1F, 0xF0, 0xC8, 0xFE}},
        {"load-font", CommandBuilder().loadFontChunk(3, 0, 6, 0x21, {0x01}).payload(),
         {0x06, 0x03, 0x00, 0x00, 0x06, 0x00, 0x01, 0x00, 0x21, 0x01}},
        {"logo", CommandBuilder().drawLogo(4, -150, 60, "Hi").payload(),
         {0x07, 0x04, 0x6A, 0xFF, 0x3C, 0x00, 0x02, 'H', 'i'}},
        {"text", CommandBuilder().drawText(2, 640, 10, 1, "ab").payload(),
         {0x08, 0x02, 0x02, 0x80, 0x0A, 0x01, 0x02, 'a', 'b'}},
        {"color", CommandBuilder().setColor(0x80FF4020).payload(), {0x09, 0x20, 0x40, 0xFF, 0x80}},
        {"zlib", CommandBuilder().zlibBlock(true, true, 5, {1, 2}).payload(), {0x0A, 0xC5, 0x02, 0x00, 1, 2}},
        {"zlib, plain block 63", CommandBuilder().zlibBlock(false, false, 63, {7}).payload(), {0x0A, 0x3F, 1, 0, 7}},
        {"pen", CommandBuilder().setPenStyle(3, 1, 2).payload(), {0x0B, 0x03, 0x12}},
        {"rect", CommandBuilder().drawRect(20, 260, 140, 100, 24, 1).payload(),
         {0x0C, 0x10, 0x14, 0x04, 0x00, 0x8C, 0x64, 24, 1}},
        {"path", CommandBuilder().drawPath({{1, 2}, {3, -4}}, true).payload(),
         {0x0D, 0x82, 0x00, 0x01, 0x02, 0xF0, 0x03, 0xFC}},
        {"ellipse", CommandBuilder().drawEllipse(0, 0, 80, 80, 60, true).payload(),
         {0x0E, 0, 0, 0, 0x00, 0x50, 0x50, 0x3C, 0x80}},
        {"ellipse, largest angle", CommandBuilder().drawEllipse(0, 0, 80, 80, 0x7FFF, false).payload(),
         {0x0E, 0, 0, 0, 0x00, 0x50, 0x50, 0xFF, 0x7F}},
        {"line", CommandBuilder().drawLine(-2048, 2047, 0, 1).payload(), {0x0F, 0x78, 0x00, 0xFF, 0x00, 0x00, 0x01}},
        {"arc", CommandBuilder().drawArc(400, 500, 90, 90, 60, 600).payload(),
         {0x10, 0x11, 0x90, 0xF4, 0x00, 0x5A, 0x5A, 0x20, 0x3C, 0x58}},
        {"video-play", CommandBuilder().videoPlay(3, 448, 256).payload(), {0x11, 0x03, 0x11, 0xC0, 0x00}},
        {"polygon", CommandBuilder().drawPolygon({{0, 0}, {2, 0}, {0, 2}}, true, true).payload(),
         {0x12, 0xC3, 0, 0, 0, 0, 2, 0, 0, 0, 2}},
        {"video-upload", CommandBuilder().videoUpload(2, true, {0, 0, 1}).payload(), {0x13, 0x82, 0x03, 0x00, 0, 0, 1}},
        {"tick-rate", CommandBuilder().setTickRate(50, 1).payload(), {0x14, 0x32, 0x00, 0x01, 0x00}},
        {"cache", CommandBuilder().cacheRequest(0x12, 5).payload(), {0x16, 0x12, 0x05}},
        {"system-info", CommandBuilder().systemInfo(5).payload(), {0x17, 0x05}},
        {"clip", CommandBuilder().clipRect(220, 180, 840, 440).payload(), {0x18, 0x00, 0xDC, 0xB4, 0x13, 0x48, 0xB8}},
        {"sprite", CommandBuilder().drawSprite(0, -32, 660, 64, 0, 64, 64).payload(),
         {0x19, 0x00, 0x2F, 0xE0, 0x94, 0x00, 0x40, 0x00, 0x00, 0x40, 0x40}},
        {"session", CommandBuilder().setSessionParams(-640, 0x282).payload(), {0x1B, 0x2D, 0x80, 0x82}},
        {"ota-upload", CommandBuilder().otaUpload(2, 20, 16000, 16384, {1, 2}).payload(),
         {0x1C, 0x02, 0x14, 0x80, 0x3E, 0x00, 0x40, 0x02, 0x00, 1, 2}},
        {"ota-start", CommandBuilder().otaStart(1, 65536).payload(), {0x1D, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00}},
        {"handshake", CommandBuilder().handshakeChunk(0x01020304, 150, 285, {0xAA}).payload(),
         {0x1E, 0x04, 0x03, 0x02, 0x01, 0x96, 0x00, 0x01, 0x00, 0x1D, 0x01, 0xAA}},
        {"enable", CommandBuilder().enableDevice(10, 1, 150).payload(), {0x1F, 0x0A, 0x01, 0x96}},
        {"connect", CommandBuilder().connect().payload(), {0x30, 0x00}},
        {"disconnect", CommandBuilder().disconnect().payload(), {0x30, 0x01}},
        {"seek", CommandBuilder().seekTo(5000).payload(), {0x31, 0x88, 0x13, 0x00, 0x00}},
        {"eof", CommandBuilder().eof().payload(), {0x32, 0x00}},
    };
    std::set<uint8_t> covered;
    for (const WireCase &c : cases) {
        EXPECT_EQ(c.built, c.expected) << c.what;
        covered.insert(c.expected[0]);
    }
    for (const nimbra::CommandSpec &entry : nimbra::commandTable())
        EXPECT_TRUE(covered.count(entry.opcode)) << entry.name << " has no wire case";
}

TEST(CommandTable, HoldsExactlyTheOpcodesTheDispatcherHandles) {
    for (int op = 0; op < 256; op++) {
        const bool handled = op <= 50 && opcodeHandlers[op] != nullptr;
        EXPECT_EQ(!nimbra::commandsOf((uint8_t)op).empty(), handled) << "opcode " << op;
    }
}

TEST(CommandTable, EntriesAreWellFormed) {
    std::set<std::string> names;
    for (const nimbra::CommandSpec &entry : nimbra::commandTable()) {
        EXPECT_TRUE(names.insert(entry.name).second) << entry.name << " twice";
        // The device must be able to tell the length from the bytes it
        // insists on.
        EXPECT_GE(entry.minBytes, nimbra::fixedBytes(entry)) << entry.name;
        const nimbra::FieldSpec *tail = nimbra::variableField(entry);
        int counts = 0, bitsPerSlot = 0, slotBits = 0;
        bool optionalSeen = false;
        for (const nimbra::FieldSpec &f : entry.fields) {
            counts += f.type == nimbra::FieldType::Count;
            if (f.slotBytes) {
                EXPECT_TRUE(slotBits == 0 || bitsPerSlot == slotBits) << entry.name << ": a slot's bits are not all used";
                slotBits = f.slotBytes * 8;
                bitsPerSlot = 0;
            }
            bitsPerSlot += f.bits && f.type != nimbra::FieldType::Pair ? f.bits : f.slotBytes * 8;
            // Left-out fields can only be the last ones.
            if (f.valueCount()) {
                EXPECT_FALSE(optionalSeen && !f.defaultValue && f.type != nimbra::FieldType::Flag) << entry.name;
                optionalSeen |= f.defaultValue.has_value();
            }
        }
        EXPECT_TRUE(slotBits == 0 || bitsPerSlot == slotBits) << entry.name << ": a slot's bits are not all used";
        EXPECT_EQ(counts, tail ? 1 : 0) << entry.name;
    }
    EXPECT_EQ(nimbra::opcodeName(0x30), "connect/disconnect");
    EXPECT_EQ(nimbra::opcodeName(0x04), "load-image");
    EXPECT_EQ(nimbra::opcodeName(0x2A), "0x2A");
}

TEST(CommandTable, BuilderRefusesValuesItsFieldsCannotHold) {
    std::vector<nimbra::Point> tooMany(64, nimbra::Point{0, 0});
    const std::vector<std::pair<const char *, std::function<void()>>> bad = {
        {"64 polygon points", [&] { CommandBuilder().drawPolygon(tooMany, true); }},
        {"256 text bytes", [] { CommandBuilder().drawText(0, 0, 0, 0, std::string(256, 'a')); }},
        {"pen shape 16", [] { CommandBuilder().setPenStyle(1, 16, 0); }},
        {"x 2048", [] { CommandBuilder().clearRect(2048, 0, 0, 0); }},
        {"negative width", [] { CommandBuilder().clearRect(0, 0, -1, 0); }},
        {"point past the pair", [] { CommandBuilder().drawPath({{0, 0}, {-2049, 0}}, false); }},
        {"unknown name", [] { CommandBuilder().command("blink", {}); }},
        {"a value missing", [] { CommandBuilder().command("line", {1, 2, 3}); }},
        {"a value too many", [] { CommandBuilder().command("line", {1, 2, 3, 4, 5}); }},
    };
    for (const auto &[what, call] : bad) EXPECT_THROW(call(), std::invalid_argument) << what;
}

TEST(CommandTable, ConnectAndDisconnectShareTheirOpcode) {
    Bytes disconnect7 = {0x30, 0x07};
    nimbra::CommandValues v;
    const auto entries = nimbra::commandsOf(0x30);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_FALSE(nimbra::decodeCommand(*entries[0], disconnect7.data(), 2, v));
    ASSERT_TRUE(nimbra::decodeCommand(*entries[1], disconnect7.data(), 2, v));
    EXPECT_EQ(v.numbers, std::vector<int64_t>{7});
    Bytes connect = {0x30, 0x00};
    EXPECT_TRUE(nimbra::decodeCommand(*entries[0], connect.data(), 2, v));
    EXPECT_FALSE(nimbra::decodeCommand(*entries[1], connect.data(), 2, v));
}
