// Link, session, system information and firmware update commands, and the
// device state they change.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "cache/flash.h"
#include "gui/GUIDRV_Lin_8.h"
#include "host/GUI_Driver.h"
#include "host/bytes.h"
#include "host/main.h"
#include "protocol/commandHandler.h"
#include "protocol/eventHandler.h"
#include "tests/support/device_fixture.h"

using nimbra::Bytes;
using nimbra::CommandBuilder;
using testsupport::frames;
using testsupport::packets;
using testsupport::replies;
using testsupport::report;
using Replies = testsupport::Replies;

namespace {

Bytes firmwareChunk(uint8_t type, uint8_t block, uint16_t offset, uint16_t blockLength, uint16_t n) {
    CommandBuilder b;
    b.u8(0x1C).u8(type).u8(block).u16le(offset).u16le(blockLength).u16le(n).bytes(Bytes(n, 0x5A));
    return b.payload();
}
Bytes firmwareStart(uint8_t type, uint32_t size) {
    return CommandBuilder().u8(0x1D).u8(type).u8(0).u32le(size).payload();
}

}  // namespace

class SystemCommands : public DeviceTest {};

TEST_F(SystemCommands, RepliesAndReports) {
    struct Case {
        const char *what;
        Bytes payload;
        Replies expected;
    } cases[] = {
        {"connect: MTU then tick rate", CommandBuilder().connect().payload(), {{0x41, 0xEA, 0x01}, {0x40, 0x5A, 0x00}}},
        {"end of stream still runs the rest",
         CommandBuilder().eof().setTickRate(20, 0).payload(),
         {{0x40, 0xFF, 0xFF}, {0x40, 20, 0}}},
        {"short connect", {0x30}, {report(0x30, 0x01)}},
        {"seek one byte short", {0x31, 1, 2, 3}, {report(0x31, 0x01)}},
        {"tick rate 9", CommandBuilder().setTickRate(9, 0).payload(), {report(0x14, 0x01)}},
        {"tick rate 5001", CommandBuilder().setTickRate(5001, 0).payload(), {report(0x14, 0x01)}},
        {"tick rate 0", CommandBuilder().setTickRate(0, 0).payload(), {report(0x14, 0x01)}},
        {"tick rate 10", CommandBuilder().setTickRate(10, 0).payload(), {{0x40, 10, 0}}},
        {"tick rate 5000", CommandBuilder().setTickRate(5000, 0).payload(), {{0x40, 0x88, 0x13}}},
        {"tick rate 65535", CommandBuilder().setTickRate(65535, 0).payload(), {{0x40, 0xFF, 0xFF}}},
        {"same tick rate", CommandBuilder().setTickRate(100, 5).payload(), {}},
        {"session offset past the screen", CommandBuilder().setSessionParams(0x282, 0).payload(), {report(0x1B, 0x01)}},
        // An unknown unit is reported with its number; a bad state stops the payload.
        {"unknown unit, bad state",
         CommandBuilder().enableDevice(2, 1, 0).enableDevice(10, 3, 0).setTickRate(300, 0).payload(),
         {report(0x1F, 0x03, 0x02), report(0x1F, 0x01)}},
        // Firmware starts are checked, then refused; a chunk of the current
        // block is acknowledged with its number.
        {"firmware start",
         firmwareStart(1, 65536) + firmwareStart(1, 32767) + firmwareStart(3, 65536) + firmwareStart(2, 327681),
         {report(0x1D, 0x03, 0x01), report(0x1D, 0x01, 0x01), report(0x1D, 0x01), report(0x1D, 0x01, 0x02)}},
        {"firmware chunks",
         firmwareChunk(1, 20, 0, 100, 10) + firmwareChunk(1, 21, 0, 100, 10) + firmwareChunk(2, 3, 16000, 16384, 384),
         {report(0x1C, 0x00, 20), report(0x1C, 0x01), report(0x1C, 0x00, 3)}},
        {"firmware chunk past its block", firmwareChunk(1, 0, 100, 100, 10), {report(0x1C, 0x01)}},
        {"firmware block over 16384", firmwareChunk(1, 0, 0, 16385, 10), {report(0x1C, 0x01)}},
        {"firmware type 0", firmwareChunk(0, 0, 0, 100, 10), {report(0x1C, 0x01)}},
        {"firmware chunk without data", {0x1C, 1, 0, 0, 0, 0, 0, 0, 0}, {report(0x1C, 0x01)}},
    };
    for (const auto &c : cases) {
        testsupport::resetDevice(true);
        EXPECT_EQ(replies(c.payload), c.expected) << c.what;
        EXPECT_EQ(running, c.payload[0] == 0x32 ? 0 : 1) << c.what;
        // No case sets a seek target; a seek cut short must not either.
        EXPECT_EQ(seekTo, 0u) << c.what;
    }
}

// The end-of-stream command reads nothing past its opcode and has no length
// check: a lone 0x32 ending a payload runs in full; the dispatcher then
// stops at the two bytes it claims, with no report and no status bit.
TEST_F(SystemCommands, LoneEndOfStreamByteStillEndsTheRun) {
    int32_t result = 0;
    EXPECT_EQ(replies(CommandBuilder().setTickRate(20, 0).u8(0x32), &result), (Replies{{0x40, 20, 0}, {0x40, 0xFF, 0xFF}}));
    EXPECT_EQ(result, -1);
    EXPECT_EQ(frames().size(), 1u);   // the link-lost screen
    EXPECT_EQ(running, 0);
    EXPECT_EQ(getBIT(), 0u);
}

TEST_F(SystemCommands, SecondConnectRepeatsOnlyTheMtuAndKeepsTheSession) {
    replies(CommandBuilder().connect());
    EXPECT_EQ(orvState.connected, 1);
    EXPECT_EQ(orvState.peerId, 0xFFFF);
    orvState.authenticated = 1;   // as if a handshake had completed
    orvState.peerId = 7;
    EXPECT_EQ(replies(CommandBuilder().connect()), Replies{Bytes({0x41, 0xEA, 0x01})});
    EXPECT_EQ(orvState.authenticated, 1);
    EXPECT_EQ(orvState.peerId, 7);
}

TEST_F(SystemCommands, DisconnectShowsABlackFrameWithoutNoticeAndResetsTheTickRate) {
    replies(CommandBuilder().connect());
    orvState.authenticated = 1;
    fb[1234] = 0xFF;
    EXPECT_EQ(replies(CommandBuilder().disconnect()), Replies{Bytes({0x40, 0xFF, 0xFF})});
    auto f = frames();
    ASSERT_EQ(f.size(), 1u);
    for (size_t i = 0; i < f[0].bgra.size(); i++) ASSERT_TRUE(i % 4 == 3 || f[0].bgra[i] == 0) << i;
    EXPECT_FALSE(isOnState(UNIT_DISPLAY));
    EXPECT_EQ(orvState.authenticated, 0);
}

TEST_F(SystemCommands, SessionOffsetRoundsDown) {
    replies(CommandBuilder().setSessionParams(0x280, -400));
    EXPECT_EQ(orvState.logoOffsetX, 320);
    EXPECT_EQ(orvState.logoOffsetY, -200);
    replies(CommandBuilder().setSessionParams(-640, -3).setTickRate(100, 5));
    EXPECT_EQ(orvState.logoOffsetX, -320);
    EXPECT_EQ(orvState.logoOffsetY, -2);
    EXPECT_EQ(orvState.tickParam, 5);   // the same rate changes only the second value
}

TEST_F(SystemCommands, SeekGateSuppressesFramesUntilReached) {
    replies(CommandBuilder().seekTo(5000));
    processedBytes = 4999;
    EXPECT_EQ(replies(CommandBuilder().copyToScreen(9)), Replies{Bytes({0x00, 9})});
    EXPECT_TRUE(frames().empty());
    EXPECT_EQ(frame_counter, 1);
    processedBytes = 5000;
    replies(CommandBuilder().copyToScreen(10));
    EXPECT_EQ(frames().size(), 1u);
    EXPECT_EQ(frame_counter, 2);
}

TEST_F(SystemCommands, UnitsStatesAndTheDisplayNotice) {
    orvState.onState = 0xFFFF;
    CommandBuilder b;
    b.enableDevice(3, 1, 0).enableDevice(10, 0, 0);
    EXPECT_TRUE(replies(b).empty());
    EXPECT_FALSE(isOnState(3));   // no unit 3: the bit is cleared whatever the state
    EXPECT_FALSE(isOnState(10));
    EXPECT_EQ(orvState.displayLevel, 1);
    replies(CommandBuilder().enableDevice(10, 1, 77).enableDevice(19, 0, 1));
    EXPECT_TRUE(isOnState(10));
    EXPECT_EQ(orvState.displayLevel, 77);
    EXPECT_EQ(palette_type, 1);
    // Authenticated: a notice when the display state changes, only then.
    orvState.authenticated = 1;
    testsupport::clearCaptures();
    setDisplayState(1);
    setDisplayState(2);
    setDisplayState(0);
    EXPECT_EQ(packets(), Replies{Bytes({0x01, 0x0A, 0x00})});
    // Power off shows the shutdown screen and ends with the display off.
    replies(CommandBuilder().enableDevice(11, 0, 0));
    EXPECT_EQ(frames().size(), 1u);
    EXPECT_FALSE(isOnState(UNIT_DISPLAY));
    replies(CommandBuilder().enableDevice(11, 1, 0));
    EXPECT_TRUE(frames().empty());
}

TEST_F(SystemCommands, StatusRepliesAndTheStatusWord) {
    setBIT(5);
    Bytes expected = {0x02, 100, 0x77, 119, 0x01};
    for (char c : std::string("113000400001")) expected.push_back((uint8_t)c);
    for (uint8_t b : {0x20, 0x00, 0x00, 0x00, 0x9C, 0xFF, 0x00, 0x04, 0x76, 0, 0, 0, 0, 0, 0, 0}) expected.push_back(b);
    EXPECT_EQ(replies(CommandBuilder().systemInfo(1)), Replies{expected});
    expected[17] = 0;   // the status word was read and cleared
    EXPECT_EQ(replies(CommandBuilder().systemInfo(1)), Replies{expected});
    EXPECT_EQ(replies(CommandBuilder().systemInfo(5)), Replies{Bytes({0x08, 100, 0x77, 0x01, 0x00, 0x04, 0x76})});
}

TEST_F(SystemCommands, AuthenticatedKindsNeedAuthentication) {
    const Bytes all = CommandBuilder().systemInfo(2).systemInfo(3).systemInfo(4).systemInfo(0).systemInfo(6).payload();
    EXPECT_TRUE(replies(all).empty());
    orvState.authenticated = 1;
    wr32le(orvDynData + 8, 0x11223344);
    wr32le(orvDynData + 36, 77);
    wr32le(orvDynData + 56, 0xA5A5A5A5);
    Replies r = replies(all);
    ASSERT_EQ(r.size(), 3u);
    ASSERT_EQ(r[0].size(), 53u);
    EXPECT_EQ(r[0][0], 0x06);
    EXPECT_EQ(rd32le(&r[0][1]), 0x11223344u);
    EXPECT_EQ(rd32le(&r[0][45]), 77u);
    EXPECT_EQ(rd32le(&r[0][49]), 0xA5A5A5A5u);
    EXPECT_EQ(r[1], report(0x17, 0x02));   // no calibration record: the version byte is 0
    EXPECT_EQ(r[2], (Bytes{0x07, 0x00, 0x04, 100, 150, 0x30, 0x11, 0x5E, 0x01, 100, 0, 250, 0}));
}

TEST_F(SystemCommands, CalibrationIsChunkedByMtuWithinTheResponseLimit) {
    orvState.authenticated = 1;
    auto writeCalibration = [](uint16_t length, uint8_t version) {
        uint8_t *rec = FLASH_Address(FLASH_CALIBRATION_OFFSET);
        wr32le(rec, 0xDEADBEEF);
        wr16le(rec + 8, length);
        rec[10] = version;
        for (uint32_t i = 0; i < length; i++) rec[16 + i] = (uint8_t)(i * 7);
    };
    writeCalibration(1000, 1);
    Replies r = replies(CommandBuilder().systemInfo(3));
    ASSERT_EQ(r.size(), 3u);
    const uint16_t offsets[3] = {0, 482, 964}, sizes[3] = {482, 482, 36};
    for (int i = 0; i < 3; i++) {
        ASSERT_EQ(r[i].size(), 8u + sizes[i]);
        EXPECT_EQ(r[i][0], 0x09);
        EXPECT_EQ(rd16le(&r[i][2]), 1000);
        EXPECT_EQ(rd16le(&r[i][4]), offsets[i]);
        EXPECT_EQ(rd16le(&r[i][6]), sizes[i]);
        EXPECT_EQ(r[i][8 + 5], (uint8_t)((offsets[i] + 5) * 7));
    }
    writeCalibration(3000, 1);
    for (uint16_t m : {0, 8, 9, 1032, 1033, 65535}) {
        mtu = m;
        size_t total = 0;
        for (auto &p : replies(CommandBuilder().systemInfo(3))) {
            EXPECT_LE(p.size(), std::min<size_t>(1024u, m)) << "mtu " << m;
            total += p.size() - 8;
        }
        EXPECT_EQ(total, m <= 8 ? 0u : 3000u) << "mtu " << m;
    }
    writeCalibration(1000, 2);
    EXPECT_EQ(replies(CommandBuilder().systemInfo(3)), Replies{report(0x17, 0x02, 0x02)});
}

TEST(DeviceStartup, BootLogoIsTheOnlyOutputAndFlashHoldsTheDynamicRecord) {
    testsupport::resetDevice(true);
    EXPECT_EQ(frames().size(), 1u);
    EXPECT_TRUE(packets().empty());
    EXPECT_EQ(orvState.onState, 0x0400);
    EXPECT_EQ(orvState.tickRate, 100);
    EXPECT_EQ(orvState.displayLevel, 150);
    EXPECT_EQ(orvState.infoOffset, -100);
    EXPECT_EQ(frame_counter, 1);
    const uint8_t *p = FLASH_Address(FLASH_DYNDATA_OFFSET);
    EXPECT_EQ(0, memcmp(p, orvDynData, 512));
    EXPECT_EQ(rd32le(p), 0xDEADBEEFu);
    EXPECT_EQ(rd32le(p + 4), 1u);
    EXPECT_EQ(rd32le(p + 508), 0xBAADBEEFu);
    EXPECT_EQ(rd32le(orvConstData + 2044), 0xBAADBEEFu);
    EXPECT_EQ(0, memcmp(orvConstData + 8, "113000400001", 12));
    EXPECT_EQ(rd32le(FLASH_Address(FLASH_CALIBRATION_OFFSET)), 0u);
}
