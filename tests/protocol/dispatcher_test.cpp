// The dispatcher's walk over a payload, the result report and status bits.
#include <gtest/gtest.h>

#include "host/main.h"
#include "protocol/commandHandler.h"
#include "protocol/eventHandler.h"
#include "tests/support/device_fixture.h"

using nimbra::Bytes;
using nimbra::CommandBuilder;
using testsupport::packets;
using testsupport::report;
using testsupport::run;
using Replies = testsupport::Replies;

class Dispatcher : public DeviceTest {};

TEST_F(Dispatcher, EmptyPayloadEmptySlotsAndOpcodesPastTheTable) {
    EXPECT_EQ(handleCommand(nullptr, 0), 0);
    EXPECT_EQ(getBIT(), 0u);
    for (uint8_t op : {0x00, 0x15, 0x20, 0x33, 0xFF}) {
        EXPECT_EQ(run(Bytes{op}), -1) << (int)op;
        EXPECT_EQ(getBIT(), 1u << 5) << (int)op;
    }
    EXPECT_TRUE(packets().empty());
}

TEST_F(Dispatcher, CommandsRunInOrderAndAFailureStopsTheRest) {
    EXPECT_EQ(run(CommandBuilder().setTickRate(200, 0).setTickRate(300, 0)), 0);
    EXPECT_EQ(packets(), (Replies{{0x40, 200, 0}, {0x40, 0x2C, 0x01}}));
    // An empty slot stops the walk.
    testsupport::clearCaptures();
    EXPECT_EQ(run(CommandBuilder().u8(0x00).setTickRate(400, 0)), -1);
    EXPECT_EQ(getBIT(), 1u << 5);
    // So does a command too short for its fields, with a report and bit 5
    // (set colour needs 5 bytes).
    EXPECT_EQ(run(Bytes{0x09, 0x00, 0x00}), -1);
    EXPECT_EQ(packets(), Replies{report(0x09, 0x01)});
    EXPECT_EQ(getBIT(), 1u << 5);
    EXPECT_EQ(orvState.tickRate, 300);
}

TEST_F(Dispatcher, HandlerClaimingMoreThanLeftStopsWithALogLineAndNoStatusBit) {
    testsupport::LogCapture log;
    // A firmware chunk whose length runs past the payload claims 9 + n bytes.
    CommandBuilder b;
    b.u8(0x1C).u8(1).u8(0).u16le(0).u16le(100).u16le(50).bytes(Bytes(5, 0xAB)).setTickRate(400, 0);
    EXPECT_EQ(run(b), -1);
    EXPECT_EQ(packets(), Replies{report(0x1C, 0x01)});
    EXPECT_EQ(getBIT(), 0u);
    EXPECT_EQ(orvState.tickRate, 100);
    EXPECT_NE(log.text().find("handleCommand: opcode: 0x1c rem_size: 19\n"
                              "Sending back 4 bytes\n"
                              "command error: opcode=0x1c errorCode=0x01  misc=0x00\n"
                              "handleCommand: ERROR from handler opcode: 0x1c read: 59\n"),
              std::string::npos)
        << log.text();
}

TEST_F(Dispatcher, StatusWordIsReadAndCleared) {
    for (int bit : {5, 0, 31}) setBIT(bit);
    EXPECT_EQ(getBIT(), 0x80000021u);
    EXPECT_EQ(getBIT(), 0u);
}

TEST_F(Dispatcher, ResultReportsSendTheLowBytesOfTheirValues) {
    handleCommandError(0x1E, 0xE1, 0);
    handleCommandError(0x102, 0x1C1, 7);
    EXPECT_EQ(testsupport::capturedPackets(),
              (Bytes{0x04, 0x00, 0xAA, 0xFF, 0x04, 0x1E, 0xE1, 0x00, 0x04, 0x00, 0xAA, 0xFF, 0x04, 0x02, 0xC1, 0x07}));
}
