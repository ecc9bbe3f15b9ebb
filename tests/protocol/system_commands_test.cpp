// Link, session, system information and firmware update commands, and the
// device state they change.
#include <gtest/gtest.h>

#include <cstring>

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
using testsupport::run;

class LinkCommands : public DeviceTest {};

TEST_F(LinkCommands, ConnectSendsMtuThenTickRate) {
    EXPECT_EQ(run(CommandBuilder().connect()), 0);
    auto replies = packets();
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0], (Bytes{0x41, 0xEA, 0x01}));
    EXPECT_EQ(replies[1], (Bytes{0x40, 0x5A, 0x00}));
    EXPECT_EQ(orvState.connected, 1);
    EXPECT_EQ(orvState.peerId, 0xFFFF);
}

TEST_F(LinkCommands, SecondConnectRepeatsOnlyTheMtu) {
    orvState.authenticated = 1;   // as if a handshake had completed
    run(CommandBuilder().connect());
    orvState.authenticated = 1;
    orvState.peerId = 7;
    testsupport::clearCaptures();
    run(CommandBuilder().connect());
    auto replies = packets();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0], (Bytes{0x41, 0xEA, 0x01}));
    EXPECT_EQ(orvState.authenticated, 1);
    EXPECT_EQ(orvState.peerId, 7);
}

TEST_F(LinkCommands, DisconnectShowsBlackFrameAndResetsTickRate) {
    run(CommandBuilder().connect());
    testsupport::clearCaptures();
    fb[1234] = 0xFF;
    EXPECT_EQ(run(CommandBuilder().disconnect()), 0);
    auto f = frames();
    ASSERT_EQ(f.size(), 1u);
    for (size_t i = 0; i < f[0].bgra.size(); i += 4) ASSERT_EQ(f[0].bgra[i], 0) << i;
    auto replies = packets();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0], (Bytes{0x40, 0xFF, 0xFF}));
    EXPECT_FALSE(isOnState(UNIT_DISPLAY));
}

TEST_F(LinkCommands, DisconnectWhileAuthenticatedSendsNoDisplayNotice) {
    run(CommandBuilder().connect());
    orvState.authenticated = 1;
    testsupport::clearCaptures();
    run(CommandBuilder().disconnect());
    for (auto &p : packets()) EXPECT_NE(p[0], 0x01);
    EXPECT_EQ(orvState.authenticated, 0);
}

TEST_F(LinkCommands, EndOfStreamStillRunsTheRestOfItsPayload) {
    CommandBuilder b;
    b.eof().setTickRate(20, 0);
    EXPECT_EQ(run(b), 0);
    EXPECT_EQ(running, 0);
    auto replies = packets();
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0], (Bytes{0x40, 0xFF, 0xFF}));
    EXPECT_EQ(replies[1], (Bytes{0x40, 20, 0}));
}

TEST_F(LinkCommands, ShortLinkCommandsReport) {
    EXPECT_EQ(run(Bytes{0x30}), -1);
    EXPECT_EQ(run(Bytes{0x31, 1, 2}), -1);
    EXPECT_EQ(run(Bytes{0x32}), -1);
    auto replies = packets();
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[0], (Bytes{0x04, 0x30, 0x01, 0x00}));
    EXPECT_EQ(replies[1], (Bytes{0x04, 0x31, 0x01, 0x00}));
    EXPECT_EQ(replies[2], (Bytes{0x04, 0x32, 0x01, 0x00}));
    EXPECT_EQ(running, 1);
}

TEST_F(LinkCommands, TickRateRange) {
    for (uint16_t rate : {9, 5001, 65534, 0}) {
        testsupport::clearCaptures();
        EXPECT_EQ(run(CommandBuilder().setTickRate(rate, 0)), 0);
        auto replies = packets();
        ASSERT_EQ(replies.size(), 1u) << rate;
        EXPECT_EQ(replies[0], (Bytes{0x04, 0x14, 0x01, 0x00})) << rate;
    }
    for (uint16_t rate : {10, 5000, 65535}) {
        testsupport::clearCaptures();
        run(CommandBuilder().setTickRate(rate, 3));
        auto replies = packets();
        ASSERT_EQ(replies.size(), 1u) << rate;
        EXPECT_EQ(replies[0][0], 0x40) << rate;
        EXPECT_EQ(rd16le(&replies[0][1]), rate);
        EXPECT_EQ(orvState.tickParam, 3);
    }
}

TEST_F(LinkCommands, SameTickRateOnlyChangesTheSecondValue) {
    run(CommandBuilder().setTickRate(100, 5));
    EXPECT_TRUE(packets().empty());
    EXPECT_EQ(orvState.tickParam, 5);
}

TEST_F(LinkCommands, SessionOffsetRoundsDownAndChecksRange) {
    EXPECT_EQ(run(CommandBuilder().setSessionParams(0x280, -400)), 0);
    EXPECT_EQ(orvState.logoOffsetX, 320);
    EXPECT_EQ(orvState.logoOffsetY, -200);
    EXPECT_TRUE(packets().empty());
    run(CommandBuilder().setSessionParams(-640, -3));
    EXPECT_EQ(orvState.logoOffsetX, -320);
    EXPECT_EQ(orvState.logoOffsetY, -2);
    run(CommandBuilder().setSessionParams(0x282, 0));
    auto replies = packets();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0], (Bytes{0x04, 0x1B, 0x01, 0x00}));
    EXPECT_EQ(orvState.logoOffsetX, -320);
}

TEST_F(LinkCommands, SeekGateSuppressesFramesUntilReached) {
    run(CommandBuilder().seekTo(5000));
    processedBytes = 4999;
    run(CommandBuilder().copyToScreen(9));
    EXPECT_TRUE(frames().empty());
    EXPECT_EQ(frame_counter, 1);
    auto replies = packets();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0], (Bytes{0x00, 9}));
    processedBytes = 5000;
    run(CommandBuilder().copyToScreen(10));
    EXPECT_EQ(frames().size(), 1u);
    EXPECT_EQ(frame_counter, 2);
}

class DeviceUnits : public DeviceTest {};

TEST_F(DeviceUnits, UnitsAndStates) {
    orvState.onState = 0xFFFF;
    run(CommandBuilder().enableDevice(3, 1, 0));
    EXPECT_FALSE(isOnState(3));
    run(CommandBuilder().enableDevice(10, 0, 0));
    EXPECT_FALSE(isOnState(10));
    EXPECT_EQ(orvState.displayLevel, 1);
    run(CommandBuilder().enableDevice(10, 1, 77));
    EXPECT_TRUE(isOnState(10));
    EXPECT_EQ(orvState.displayLevel, 77);
    run(CommandBuilder().enableDevice(19, 0, 1));
    EXPECT_EQ(palette_type, 1);
    EXPECT_TRUE(packets().empty());
}

TEST_F(DeviceUnits, UnknownUnitAndBadState) {
    run(CommandBuilder().enableDevice(2, 1, 0));
    CommandBuilder b;
    b.enableDevice(10, 3, 0).setTickRate(300, 0);
    EXPECT_EQ(run(b), -1);
    auto replies = packets();
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0], (Bytes{0x04, 0x1F, 0x03, 0x02}));
    EXPECT_EQ(replies[1], (Bytes{0x04, 0x1F, 0x01, 0x00}));
    EXPECT_EQ(orvState.tickRate, 100);
}

TEST_F(DeviceUnits, DisplayNoticeOnlyWhenAuthenticatedAndChanged) {
    orvState.authenticated = 1;
    setDisplayState(1);   // already on
    setDisplayState(2);
    EXPECT_TRUE(packets().empty());
    setDisplayState(0);
    auto replies = packets();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0], (Bytes{0x01, 0x0A, 0x00}));
}

TEST_F(DeviceUnits, PowerOffShowsShutdownScreenAndEndsWithDisplayOff) {
    run(CommandBuilder().enableDevice(11, 0, 0));
    EXPECT_EQ(frames().size(), 1u);
    EXPECT_FALSE(isOnState(UNIT_DISPLAY));
    testsupport::clearCaptures();
    run(CommandBuilder().enableDevice(11, 1, 0));
    EXPECT_TRUE(frames().empty());
}

class SystemInfo : public DeviceTest {};

TEST_F(SystemInfo, StatusReplyLayoutAndStatusWord) {
    setBIT(5);
    run(CommandBuilder().systemInfo(1));
    auto replies = packets();
    ASSERT_EQ(replies.size(), 1u);
    Bytes expected = {0x02, 100, 0x77, 119, 0x01};
    for (char c : std::string("113000400001")) expected.push_back((uint8_t)c);
    for (uint8_t b : {0x20, 0x00, 0x00, 0x00, 0x9C, 0xFF, 0x00, 0x04, 0x76, 0, 0, 0, 0, 0, 0, 0}) expected.push_back(b);
    EXPECT_EQ(replies[0], expected);
    testsupport::clearCaptures();
    run(CommandBuilder().systemInfo(1));
    EXPECT_EQ(rd32le(&packets()[0][17]), 0u);
}

TEST_F(SystemInfo, ShortStatus) {
    run(CommandBuilder().systemInfo(5));
    auto replies = packets();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0], (Bytes{0x08, 100, 0x77, 0x01, 0x00, 0x04, 0x76}));
}

TEST_F(SystemInfo, AuthenticatedKindsNeedAuthentication) {
    for (uint8_t kind : {2, 3, 4}) EXPECT_EQ(run(CommandBuilder().systemInfo(kind)), 0);
    EXPECT_TRUE(packets().empty());
    orvState.authenticated = 1;
    wr32le(orvDynData + 8, 0x11223344);
    wr32le(orvDynData + 36, 77);
    wr32le(orvDynData + 56, 0xA5A5A5A5);
    run(CommandBuilder().systemInfo(2).systemInfo(4).systemInfo(0).systemInfo(6));
    auto replies = packets();
    ASSERT_EQ(replies.size(), 2u);
    ASSERT_EQ(replies[0].size(), 53u);
    EXPECT_EQ(replies[0][0], 0x06);
    EXPECT_EQ(rd32le(&replies[0][1]), 0x11223344u);
    EXPECT_EQ(rd32le(&replies[0][45]), 77u);
    EXPECT_EQ(rd32le(&replies[0][49]), 0xA5A5A5A5u);
    EXPECT_EQ(replies[1], (Bytes{0x07, 0x00, 0x04, 100, 150, 0x30, 0x11, 0x5E, 0x01, 100, 0, 250, 0}));
}

TEST_F(SystemInfo, CalibrationWithoutRecordReportsVersionByte) {
    orvState.authenticated = 1;
    run(CommandBuilder().systemInfo(3));
    auto replies = packets();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0], (Bytes{0x04, 0x17, 0x02, 0x00}));
}

namespace {
void writeCalibration(uint16_t length, uint8_t version) {
    uint8_t *rec = FLASH_Address(FLASH_CALIBRATION_OFFSET);
    wr32le(rec, 0xDEADBEEF);
    wr16le(rec + 8, length);
    rec[10] = version;
    for (uint32_t i = 0; i < length; i++) rec[16 + i] = (uint8_t)(i * 7);
}
}  // namespace

TEST_F(SystemInfo, CalibrationIsChunkedByMtu) {
    orvState.authenticated = 1;
    writeCalibration(1000, 1);
    run(CommandBuilder().systemInfo(3));
    auto replies = packets();
    ASSERT_EQ(replies.size(), 3u);
    const uint16_t offsets[3] = {0, 482, 964}, sizes[3] = {482, 482, 36};
    for (int i = 0; i < 3; i++) {
        ASSERT_EQ(replies[i].size(), 8u + sizes[i]);
        EXPECT_EQ(replies[i][0], 0x09);
        EXPECT_EQ(rd16le(&replies[i][2]), 1000);
        EXPECT_EQ(rd16le(&replies[i][4]), offsets[i]);
        EXPECT_EQ(rd16le(&replies[i][6]), sizes[i]);
        EXPECT_EQ(replies[i][8 + 5], (uint8_t)((offsets[i] + 5) * 7));
    }
    writeCalibration(1000, 2);
    testsupport::clearCaptures();
    run(CommandBuilder().systemInfo(3));
    EXPECT_EQ(packets()[0], (Bytes{0x04, 0x17, 0x02, 0x02}));
}

TEST_F(SystemInfo, CalibrationChunksStayInsideTheResponseLimitForAnyMtu) {
    orvState.authenticated = 1;
    writeCalibration(3000, 1);
    for (uint16_t m : {0, 1, 8, 9, 1024, 1032, 1033, 65535}) {
        mtu = m;
        testsupport::clearCaptures();
        run(CommandBuilder().systemInfo(3));
        auto replies = packets();
        size_t total = 0;
        for (auto &r : replies) {
            EXPECT_LE(r.size(), 1024u);
            EXPECT_LE(r.size(), (size_t)m);
            total += r.size() - 8;
        }
        EXPECT_EQ(total, m <= 8 ? 0u : 3000u) << "mtu " << m;
    }
}

class FirmwareUpdate : public DeviceTest {};

TEST_F(FirmwareUpdate, StartIsValidatedThenRefused) {
    CommandBuilder b;
    b.u8(0x1D).u8(1).u8(0).u32le(65536);
    b.u8(0x1D).u8(1).u8(0).u32le(32767);
    b.u8(0x1D).u8(3).u8(0).u32le(65536);
    b.u8(0x1D).u8(2).u8(0).u32le(327681);
    EXPECT_EQ(run(b), 0);
    auto r = packets();
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0], (Bytes{0x04, 0x1D, 0x03, 0x01}));
    EXPECT_EQ(r[1], (Bytes{0x04, 0x1D, 0x01, 0x01}));
    EXPECT_EQ(r[2], (Bytes{0x04, 0x1D, 0x01, 0x00}));
    EXPECT_EQ(r[3], (Bytes{0x04, 0x1D, 0x01, 0x02}));
}

TEST_F(FirmwareUpdate, UploadChecks) {
    auto chunk = [](uint8_t type, uint8_t block, uint16_t offset, uint16_t blockLength, uint16_t n) {
        CommandBuilder b;
        b.u8(0x1C).u8(type).u8(block).u16le(offset).u16le(blockLength).u16le(n).bytes(Bytes(n, 0x5A));
        return b;
    };
    EXPECT_EQ(run(chunk(1, 20, 0, 100, 10)), 0);
    EXPECT_EQ(run(chunk(1, 21, 0, 100, 10)), 0);
    EXPECT_EQ(run(chunk(2, 3, 16000, 16384, 384)), 0);
    EXPECT_EQ(run(chunk(1, 0, 100, 100, 10)), 0);
    EXPECT_EQ(run(chunk(1, 0, 0, 16385, 10)), 0);
    EXPECT_EQ(run(chunk(0, 0, 0, 100, 10)), 0);
    EXPECT_EQ(run(Bytes{0x1C, 1, 0, 0, 0, 0, 0, 0, 0}), -1);
    auto r = packets();
    ASSERT_EQ(r.size(), 7u);
    EXPECT_EQ(r[0], (Bytes{0x04, 0x1C, 0x00, 20}));
    EXPECT_EQ(r[1], (Bytes{0x04, 0x1C, 0x01, 0x00}));
    EXPECT_EQ(r[2], (Bytes{0x04, 0x1C, 0x00, 3}));
    for (int i = 3; i < 7; i++) EXPECT_EQ(r[i], (Bytes{0x04, 0x1C, 0x01, 0x00})) << i;
}

class DeviceStartup : public ::testing::Test {
protected:
    void SetUp() override { testsupport::resetDevice(true); }
};

TEST_F(DeviceStartup, BootLogoIsTheOnlyOutputAndDisplayIsOn) {
    EXPECT_EQ(frames().size(), 1u);
    EXPECT_TRUE(packets().empty());
    EXPECT_EQ(orvState.onState, 0x0400);
    EXPECT_EQ(orvState.tickRate, 100);
    EXPECT_EQ(orvState.displayLevel, 150);
    EXPECT_EQ(orvState.infoOffset, -100);
    EXPECT_EQ(frame_counter, 1);
}

TEST_F(DeviceStartup, FlashHoldsTheDynamicRecord) {
    const uint8_t *p = FLASH_Address(FLASH_DYNDATA_OFFSET);
    EXPECT_EQ(0, memcmp(p, orvDynData, 512));
    EXPECT_EQ(rd32le(p), 0xDEADBEEFu);
    EXPECT_EQ(rd32le(p + 4), 1u);
    EXPECT_EQ(rd32le(p + 508), 0xBAADBEEFu);
    EXPECT_EQ(rd32le(orvConstData + 2044), 0xBAADBEEFu);
    EXPECT_EQ(0, memcmp(orvConstData + 8, "113000400001", 12));
    EXPECT_EQ(rd32le(FLASH_Address(FLASH_CALIBRATION_OFFSET)), 0u);
}
