// The dispatcher's walk over a payload, the result report and status bits.
#include <gtest/gtest.h>

#include "host/main.h"
#include "protocol/commandHandler.h"
#include "protocol/eventHandler.h"
#include "tests/support/device_fixture.h"

using nimbra::Bytes;
using nimbra::CommandBuilder;
using testsupport::packets;
using testsupport::run;

class Dispatcher : public DeviceTest {};

TEST_F(Dispatcher, EmptyPayloadRunsNothing) {
    EXPECT_EQ(handleCommand(nullptr, 0), 0);
    EXPECT_TRUE(packets().empty());
    EXPECT_EQ(getBIT(), 0u);
}

TEST_F(Dispatcher, EmptySlotsAndOpcodesPastTheTableSetBitFive) {
    for (uint8_t op : {0x00, 0x01, 0x15, 0x1A, 0x20, 0x2F, 0x33, 0xFF}) {
        EXPECT_EQ(run(Bytes{op}), -1) << (int)op;
        EXPECT_EQ(getBIT(), 1u << 5) << (int)op;
    }
    EXPECT_TRUE(packets().empty());
}

TEST_F(Dispatcher, CommandsRunInOrderAndAFailureStopsTheRest) {
    CommandBuilder b;
    b.setTickRate(200, 0).setTickRate(300, 0);
    EXPECT_EQ(run(b), 0);
    auto replies = packets();
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0], (Bytes{0x40, 200, 0}));
    EXPECT_EQ(replies[1], (Bytes{0x40, 0x2C, 0x01}));

    testsupport::clearCaptures();
    CommandBuilder c;
    c.u8(0x00).setTickRate(400, 0);   // the empty slot stops the walk
    EXPECT_EQ(run(c), -1);
    EXPECT_TRUE(packets().empty());
    EXPECT_EQ(orvState.tickRate, 300);
}

TEST_F(Dispatcher, ShortCommandReportsAndStops) {
    // Set colour needs 5 bytes.
    EXPECT_EQ(run(Bytes{0x09, 0x00, 0x00}), -1);
    auto replies = packets();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0], (Bytes{0x04, 0x09, 0x01, 0x00}));
    EXPECT_EQ(getBIT(), 1u << 5);
}

TEST_F(Dispatcher, HandlerClaimingMoreThanLeftStopsWithoutStatusBit) {
    // A firmware chunk whose length runs past the payload claims 9 + n bytes.
    CommandBuilder b;
    b.u8(0x1C).u8(1).u8(0).u16le(0).u16le(100).u16le(50).bytes(Bytes(5, 0xAB));
    b.setTickRate(400, 0);
    EXPECT_EQ(run(b), -1);
    auto replies = packets();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0], (Bytes{0x04, 0x1C, 0x01, 0x00}));
    EXPECT_EQ(getBIT(), 0u);
    EXPECT_EQ(orvState.tickRate, 100);
}

TEST_F(Dispatcher, StatusWordIsReadAndCleared) {
    setBIT(5);
    setBIT(0);
    setBIT(31);
    EXPECT_EQ(getBIT(), 0x80000021u);
    EXPECT_EQ(getBIT(), 0u);
}

TEST_F(Dispatcher, ResultReportLayout) {
    handleCommandError(0x1E, 0xE1, 0);
    handleCommandError(0x102, 0x1C1, 7);   // values are sent as their low bytes
    auto replies = packets();
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0], (Bytes{0x04, 0x1E, 0xE1, 0x00}));
    EXPECT_EQ(replies[1], (Bytes{0x04, 0x02, 0xC1, 0x07}));
}

class ResponseChannel : public DeviceTest {};

TEST_F(ResponseChannel, FramesPayloadWithLengthAndMarker) {
    const uint8_t report[4] = {0x04, 0x1E, 0x00, 0x00};
    sendData(report, 4);
    EXPECT_EQ(testsupport::capturedPackets(), (Bytes{0x04, 0x00, 0xAA, 0xFF, 0x04, 0x1E, 0x00, 0x00}));
}

TEST_F(ResponseChannel, LengthLimitIs1024) {
    static uint8_t big[1025];
    sendData(big, 300);
    ASSERT_EQ(testsupport::capturedPackets().size(), 304u);
    EXPECT_EQ(testsupport::capturedPackets()[0], 0x2C);
    EXPECT_EQ(testsupport::capturedPackets()[1], 0x01);
    testsupport::clearCaptures();
    sendData(big, 1024);
    EXPECT_EQ(testsupport::capturedPackets().size(), 1028u);
    testsupport::clearCaptures();
    sendData(big, 1025);
    EXPECT_TRUE(testsupport::capturedPackets().empty());
}
