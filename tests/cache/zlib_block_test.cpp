// Compressed command blocks: sequence numbers and the broken stream, the
// execute flag and accumulation, the 3072-byte pieces, errors of the
// compressed data and nested blocks.
#include <gtest/gtest.h>

#include "gui/GUI_Alloc.h"
#include "gui/GUI_Common.h"
#include "protocol/commandHandler.h"
#include "protocol/eventHandler.h"
#include "tests/support/device_fixture.h"
#include "tools/hostlib/zlib_blocks.h"

using nimbra::Bytes;

namespace {

// A pen style of width 0 is refused with a report of its own and a known
// length: each one that runs leaves one trace in the replies.
const Bytes kTick = {0x0B, 0x00, 0x00};
const Bytes kTickReport = {0x04, 0x0B, 0x01, 0x00};

Bytes ticks(size_t count) {
    Bytes b;
    for (size_t i = 0; i < count; i++) b.insert(b.end(), kTick.begin(), kTick.end());
    return b;
}

Bytes setColor(uint32_t argb) { return nimbra::CommandBuilder().setColor(argb).payload(); }

Bytes sequenceReport(uint8_t seq) { return {0x04, 0x0A, 0x02, seq}; }

size_t countTicks(const std::vector<Bytes> &packets) {
    size_t n = 0;
    for (const Bytes &p : packets) n += p == kTickReport;
    return n;
}

// Replies other than ticks.
std::vector<Bytes> others(const std::vector<Bytes> &packets) {
    std::vector<Bytes> out;
    for (const Bytes &p : packets)
        if (p != kTickReport) out.push_back(p);
    return out;
}

}  // namespace

class ZlibBlockTest : public DeviceTest {
protected:
    // Runs one command as a payload of its own and returns what it sent.
    std::vector<Bytes> send(const Bytes &command, int32_t *result = nullptr) {
        testsupport::clearCaptures();
        int32_t r = testsupport::run(command);
        if (result) *result = r;
        return testsupport::packets();
    }
};

TEST_F(ZlibBlockTest, StreamIsBrokenAfterStartUp) {
    // Blocks before any start block are counted; the fifth is reported, then
    // every sixth after it.
    nimbra::ZlibBlockWriter other;
    Bytes data = other.block(kTick, true);
    for (uint8_t seq = 1; seq <= 16; seq++) {
        Bytes block = nimbra::zlibBlockCommand((uint8_t)(0x80 | seq), Bytes(data.begin() + 4, data.end()));
        int32_t result = 0;
        auto replies = send(block, &result);
        EXPECT_EQ(result, 0);
        if (seq == 5 || seq == 11) {
            EXPECT_EQ(replies, std::vector<Bytes>{sequenceReport(seq)}) << "block " << int(seq);
        } else {
            EXPECT_TRUE(replies.empty()) << "block " << int(seq);
        }
    }
}

TEST_F(ZlibBlockTest, StartBlockWithExecuteRunsItsCommands) {
    nimbra::ZlibBlockWriter w;
    Bytes block = w.block(setColor(0xFFFF0000), true);
    EXPECT_EQ(block[0], 0x0A);
    EXPECT_EQ(block[1], 0xC0);
    int32_t result = 0;
    EXPECT_TRUE(send(block, &result).empty());
    EXPECT_EQ(result, 0);
    EXPECT_EQ(GUI_Context.colorIndex, 0xE0);
    // The handler reports the block's own length.
    Bytes next = w.block(setColor(0xFF0000FF), true);
    EXPECT_EQ(opcodeHandlers[0x0A](next.data(), (uint32_t)next.size()), (int32_t)next.size());
    EXPECT_EQ(GUI_Context.colorIndex, 0x03);
}

TEST_F(ZlibBlockTest, SequenceMustFollowTheLastBlock) {
    nimbra::ZlibBlockWriter w(5);
    EXPECT_TRUE(send(w.block(kTick, true)).empty() == false);   // start block 5 runs its tick
    EXPECT_EQ(send(w.block(kTick, true)), std::vector<Bytes>{kTickReport});   // 6
    w.block(kTick, true);                                                     // 7 is lost
    EXPECT_EQ(send(w.block(kTick, true)), std::vector<Bytes>{sequenceReport(8)});
    // Broken: the next four are dropped silently and the sixth refusal is
    // reported again, even for blocks that would have been in sequence.
    for (uint8_t seq = 9; seq <= 12; seq++) EXPECT_TRUE(send(w.block(kTick, true)).empty()) << int(seq);
    EXPECT_EQ(send(w.block(kTick, true)), std::vector<Bytes>{sequenceReport(13)});
    for (uint8_t seq = 14; seq <= 18; seq++) EXPECT_TRUE(send(w.block(kTick, true)).empty()) << int(seq);
    EXPECT_EQ(send(w.block(kTick, true)), std::vector<Bytes>{sequenceReport(19)});
    // A new start block repairs the stream, whatever its number.
    w.restart(40);
    EXPECT_EQ(send(w.block(kTick, true)), std::vector<Bytes>{kTickReport});
    EXPECT_EQ(send(w.block(kTick, true)), std::vector<Bytes>{kTickReport});
}

TEST_F(ZlibBlockTest, OutOfSequenceBreaksAnInOrderStream) {
    nimbra::ZlibBlockWriter w(1);
    EXPECT_EQ(send(w.block(kTick, true)), std::vector<Bytes>{kTickReport});
    // The same block number again is out of sequence too.
    Bytes again = w.block(kTick, true);
    again[1] = 0x81;
    EXPECT_EQ(send(again), std::vector<Bytes>{sequenceReport(1)});
    // The stream stays broken even when the numbers line up again.
    EXPECT_TRUE(send(w.block(kTick, true)).empty());
}

TEST_F(ZlibBlockTest, SequenceNumbersWrapAfter63) {
    nimbra::ZlibBlockWriter w(62);
    std::vector<uint8_t> numbers;
    for (int i = 0; i < 4; i++) {
        Bytes block = w.block(kTick, true);
        numbers.push_back(block[1] & 0x3F);
        EXPECT_EQ(send(block), std::vector<Bytes>{kTickReport}) << "block " << i;
    }
    EXPECT_EQ(numbers, (std::vector<uint8_t>{62, 63, 0, 1}));
}

TEST_F(ZlibBlockTest, BlocksWithoutExecuteAccumulate) {
    nimbra::ZlibBlockWriter w;
    Bytes first = ticks(1);
    Bytes colour = setColor(0xFF00FF00);
    first.insert(first.end(), colour.begin(), colour.end());
    uint8_t before = GUI_Context.colorIndex;
    EXPECT_TRUE(send(w.block(first, false)).empty());
    EXPECT_TRUE(send(w.block(ticks(2), false)).empty());
    EXPECT_EQ(GUI_Context.colorIndex, before);
    auto replies = send(w.block(ticks(3), true));
    EXPECT_EQ(countTicks(replies), 6u);
    EXPECT_TRUE(others(replies).empty());
    EXPECT_EQ(GUI_Context.colorIndex, 0x1C);
    // Nothing is left over for the next block.
    EXPECT_EQ(countTicks(send(w.block(ticks(1), true))), 1u);
}

TEST_F(ZlibBlockTest, AccumulatedBytesMustFitTheBuffer) {
    // Exactly 3072 bytes are kept; one more byte, even in a block that would
    // run them, finds no room and breaks the stream.
    nimbra::ZlibBlockWriter w;
    EXPECT_TRUE(send(w.block(ticks(1024), false)).empty());
    EXPECT_EQ(send(w.block(ticks(1), true)), std::vector<Bytes>{sequenceReport(1)});
    EXPECT_TRUE(send(w.block(ticks(1), true)).empty());

    // 3071 bytes, then 4 more in one block: the buffer fills within it.
    w.restart();
    Bytes almost = ticks(1023);
    almost.push_back(0x0B);
    almost.push_back(0x00);
    EXPECT_TRUE(send(w.block(almost, false)).empty());
    EXPECT_EQ(send(w.block(Bytes{0x00, 0x0B, 0x00, 0x00}, false)), std::vector<Bytes>{sequenceReport(1)});

    // With the execute flag the full buffer is run and inflating goes on.
    w.restart();
    EXPECT_TRUE(send(w.block(almost, false)).empty());
    auto replies = send(w.block(Bytes{0x00, 0x0B, 0x00, 0x00}, true));
    EXPECT_EQ(countTicks(replies), 1025u);
    EXPECT_TRUE(others(replies).empty());
}

TEST_F(ZlibBlockTest, ExecutedPiecesOfExactlyTheBufferSize) {
    // A block that inflates to exactly 3072 bytes runs them and keeps the
    // stream in order.
    nimbra::ZlibBlockWriter w;
    auto replies = send(w.block(ticks(1024), true));
    EXPECT_EQ(countTicks(replies), 1024u);
    EXPECT_TRUE(others(replies).empty());
    replies = send(w.block(ticks(2048), true));
    EXPECT_EQ(countTicks(replies), 2048u);
    EXPECT_TRUE(others(replies).empty());
    EXPECT_EQ(countTicks(send(w.block(ticks(1), true))), 1u);
}

TEST_F(ZlibBlockTest, LargeBlockRunsInPieces) {
    // 30720 bytes from a small block: ten full pieces, all run in order.
    const uint32_t poolTop = ALLOC_buffer_idx;
    nimbra::ZlibBlockWriter w;
    Bytes many = ticks(10239);
    Bytes colour = setColor(0xFF0000FF);
    many.insert(many.end(), colour.begin(), colour.end() - 2);   // 3 bytes: completes piece ten
    Bytes block = w.block(many, true);
    EXPECT_LT(block.size(), 200u);
    auto replies = send(block);
    // The colour command is cut at the end of the last piece.
    EXPECT_EQ(countTicks(replies), 10239u);
    EXPECT_EQ(others(replies), (std::vector<Bytes>{{0x04, 0x09, 0x01, 0x00}, {0x04, 0x0A, 0xC0, 0x00}}));
    EXPECT_EQ(ALLOC_buffer_idx, poolTop);
}

TEST_F(ZlibBlockTest, PieceBoundaryCutsACommand) {
    // 3070 bytes of colours, then a colour command across the 3072 boundary
    // whose last three bytes read as a refused pen style in the next piece.
    nimbra::ZlibBlockWriter w;
    Bytes bytes;
    for (int i = 0; i < 614; i++) {
        Bytes c = setColor(0xFF00FF00);
        bytes.insert(bytes.end(), c.begin(), c.end());
    }
    Bytes cut = {0x09, 0xFF, 0x0B, 0x00, 0x00};
    bytes.insert(bytes.end(), cut.begin(), cut.end());
    ASSERT_EQ(bytes.size(), 3075u);
    // Split across two blocks: the pieces follow the buffer, not the blocks.
    EXPECT_TRUE(send(w.block(Bytes(bytes.begin(), bytes.begin() + 1800), false)).empty());
    auto replies = send(w.block(Bytes(bytes.begin() + 1800, bytes.end()), true));
    EXPECT_EQ(replies, (std::vector<Bytes>{{0x04, 0x09, 0x01, 0x00}, {0x04, 0x0A, 0xC0, 0x01}, kTickReport}));
    EXPECT_EQ(GUI_Context.colorIndex, 0x1C);
    // The stream itself is still in order.
    EXPECT_EQ(send(w.block(kTick, true)), std::vector<Bytes>{kTickReport});
}

TEST_F(ZlibBlockTest, UnknownOpcodeInsideStopsThePiece) {
    nimbra::ZlibBlockWriter w(9);
    Bytes bytes = ticks(1);
    bytes.push_back(0x33);
    Bytes more = ticks(2);
    bytes.insert(bytes.end(), more.begin(), more.end());
    getBIT();
    EXPECT_EQ(send(w.block(bytes, true)), (std::vector<Bytes>{kTickReport, {0x04, 0x0A, 0xC0, 0x09}}));
    EXPECT_EQ(getBIT(), 1u << 5);
    // The outer payload goes on after the block.
    Bytes payload = w.block(kTick, true);
    payload.insert(payload.end(), kTick.begin(), kTick.end());
    EXPECT_EQ(countTicks(send(payload)), 2u);
}

TEST_F(ZlibBlockTest, BlockThatProducesNothingBreaksTheStream) {
    nimbra::ZlibBlockWriter w;
    EXPECT_EQ(countTicks(send(w.block(kTick, true))), 1u);
    // An empty stored block: valid deflate data that yields no byte.
    Bytes empty = nimbra::zlibBlockCommand(0x81, {0x00, 0x00, 0x00, 0xFF, 0xFF});
    EXPECT_EQ(send(empty), std::vector<Bytes>{sequenceReport(1)});
    // Broken again from 1: silent until the fifth refusal.
    for (int i = 0; i < 3; i++) EXPECT_TRUE(send(w.block(kTick, true)).empty());
}

TEST_F(ZlibBlockTest, StreamEndAndCorruptDataBreakTheStream) {
    nimbra::ZlibBlockWriter w;
    EXPECT_EQ(countTicks(send(w.block(kTick, true))), 1u);
    // The stream end is refused, and what that block carried is not run.
    EXPECT_EQ(send(w.finishBlock(ticks(2), true)), std::vector<Bytes>{sequenceReport(1)});
    EXPECT_TRUE(send(w.block(kTick, true)).empty());

    // Not a zlib stream at all.
    EXPECT_EQ(send(nimbra::zlibBlockCommand(0xC3, {0xFF, 0xFF, 0xFF, 0xFF})), std::vector<Bytes>{sequenceReport(3)});
    // A valid header, then a reserved block type.
    EXPECT_EQ(send(nimbra::zlibBlockCommand(0xC4, {0x78, 0x9C, 0x07, 0x00})), std::vector<Bytes>{sequenceReport(4)});
    // A header asking for a preset dictionary.
    EXPECT_EQ(send(nimbra::zlibBlockCommand(0xC5, {0x78, 0xBB, 0x00, 0x00, 0x00, 0x01, 0x03, 0x00})),
              std::vector<Bytes>{sequenceReport(5)});
    // Recovery with a good start block.
    w.restart();
    EXPECT_EQ(countTicks(send(w.block(kTick, true))), 1u);
}

TEST_F(ZlibBlockTest, DamagedBytesInTheMiddleOfAStream) {
    nimbra::ZlibBlockWriter w;
    Bytes colours;
    for (int i = 0; i < 50; i++) {
        Bytes c = setColor(0xFF000000u | (uint32_t)i * 0x030201u);
        colours.insert(colours.end(), c.begin(), c.end());
    }
    EXPECT_TRUE(send(w.block(colours, true)).empty());
    const uint32_t poolTop = ALLOC_buffer_idx;
    // Every damaged variant of the next block is reported or runs; none may
    // crash or leave the stream half-usable.
    Bytes next = w.block(colours, true);
    for (size_t at = 4; at < next.size(); at++) {
        testsupport::resetDevice(true);
        nimbra::ZlibBlockWriter again;
        send(again.block(colours, true));
        Bytes copy = again.block(colours, true);
        ASSERT_EQ(copy, next);
        copy[at] ^= 0x5A;
        send(copy);
        EXPECT_EQ(ALLOC_buffer_idx, poolTop);
    }
}

TEST_F(ZlibBlockTest, TruncatedBlockCommands) {
    const Bytes report = {0x04, 0x0A, 0x01, 0xFF};
    int32_t result = 0;
    EXPECT_EQ(send(Bytes{0x0A, 0xC0, 0x01, 0x00}, &result), std::vector<Bytes>{report});
    EXPECT_EQ(result, -1);
    EXPECT_EQ(send(Bytes{0x0A, 0xC0, 0x00, 0x00, 0x78}), std::vector<Bytes>{report});
    EXPECT_EQ(send(Bytes{0x0A, 0xC0, 0x05, 0x00, 0x78, 0x9C}), std::vector<Bytes>{report});
    Bytes block = nimbra::ZlibBlockWriter().block(kTick, true);
    EXPECT_EQ(opcodeHandlers[0x0A](block.data(), (uint32_t)block.size() - 1), -1);
    EXPECT_EQ(getBIT() & (1u << 5), 1u << 5);
}

TEST_F(ZlibBlockTest, NestedBlockIsRefusedAndTheRestRuns) {
    nimbra::ZlibBlockWriter outer;
    nimbra::ZlibBlockWriter inner(33);
    Bytes bytes = ticks(1);
    Bytes nested = inner.block(setColor(0xFFFF0000), true);
    bytes.insert(bytes.end(), nested.begin(), nested.end());
    Bytes after = ticks(1);
    bytes.insert(bytes.end(), after.begin(), after.end());
    uint8_t before = GUI_Context.colorIndex;
    EXPECT_EQ(send(outer.block(bytes, true)), (std::vector<Bytes>{kTickReport, {0x04, 0x0A, 0x03, 33}, kTickReport}));
    EXPECT_EQ(GUI_Context.colorIndex, before);
    // The outer stream was not disturbed.
    EXPECT_EQ(send(outer.block(kTick, true)), std::vector<Bytes>{kTickReport});
    // A nested block that is cut short is reported as truncated.
    Bytes cut(nested.begin(), nested.end() - 1);
    EXPECT_EQ(send(outer.block(cut, true)), (std::vector<Bytes>{{0x04, 0x0A, 0x01, 0xFF}, {0x04, 0x0A, 0xC0, 0x02}}));
}

TEST_F(ZlibBlockTest, WriterGroupsCommandsWithoutCuttingThem) {
    // 4000 colour commands: 20000 bytes, several pieces and blocks; the host
    // side never lets a command straddle a piece.
    std::vector<Bytes> commands;
    for (int i = 0; i < 4000; i++) commands.push_back(i % 7 == 0 ? kTick : setColor(0xFF000000u | (uint32_t)i));
    commands.push_back(setColor(0xFF0000FF));
    nimbra::ZlibBlockWriter w;
    auto blocks = w.commands(commands);
    ASSERT_GT(blocks.size(), 6u);
    testsupport::clearCaptures();
    for (const Bytes &b : blocks) {
        EXPECT_LE(b.size(), nimbra::kMaxRecordPayload);
        testsupport::run(b);
    }
    auto replies = testsupport::packets();
    EXPECT_EQ(countTicks(replies), 572u);
    EXPECT_TRUE(others(replies).empty());
    EXPECT_EQ(GUI_Context.colorIndex, 0x03);

    // Incompressible bytes still fit a record per block.
    Bytes noise;
    uint32_t x = 12345;
    for (int i = 0; i < 1900; i++) {
        x = x * 1103515245u + 12345u;
        noise.push_back((uint8_t)(x >> 16));
    }
    EXPECT_LE(nimbra::ZlibBlockWriter().block(noise, false).size(), nimbra::kMaxRecordPayload);
}

// Random blocks after a good start: every one is answered with at most a
// report, the pool is untouched, and a start block always recovers.
TEST_F(ZlibBlockTest, RandomBlocksNeverBreakTheDevice) {
    const uint32_t poolTop = ALLOC_buffer_idx;
    uint32_t x = 77;
    auto next = [&x](uint32_t range) {
        x = x * 1664525u + 1013904223u;
        return (x >> 8) % range;
    };
    for (int round = 0; round < 200; round++) {
        nimbra::ZlibBlockWriter w((uint8_t)next(64));
        send(w.block(ticks(1 + next(10)), true));
        for (int i = 0; i < 5; i++) {
            Bytes data(1 + next(60));
            for (auto &b : data) b = (uint8_t)next(256);
            // Half of them are real continuations with one damaged byte.
            if (next(2) == 0) {
                data = w.block(ticks(1 + next(400)), next(2) == 0);
                data[4 + next((uint32_t)data.size() - 4)] ^= (uint8_t)(1 + next(255));
                data.erase(data.begin(), data.begin() + 4);
            }
            uint8_t flags = (uint8_t)next(256) & 0xBF;
            send(nimbra::zlibBlockCommand(flags, data));
            ASSERT_EQ(ALLOC_buffer_idx, poolTop);
        }
        w.restart((uint8_t)next(64));
        EXPECT_EQ(countTicks(send(w.block(ticks(3), true))), 3u);
    }
}
