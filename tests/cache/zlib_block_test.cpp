// Compressed command blocks: sequence numbers and the broken stream, the
// execute flag and accumulation, the 3072-byte pieces, errors of the
// compressed data and nested blocks.
#include <gtest/gtest.h>
#include <zlib.h>

#include "gui/GUI_Alloc.h"
#include "gui/GUI_Common.h"
#include "protocol/commandHandler.h"
#include "protocol/eventHandler.h"
#include "tests/support/device_fixture.h"
#include "tools/hostlib/zlib_blocks.h"

using nimbra::Bytes;
using Replies = testsupport::Replies;
using testsupport::report;

namespace {

// A pen style of width 0 is refused with a report of its own and a known
// length: each one that runs leaves one trace in the replies.
const Bytes kTick = {0x0B, 0x00, 0x00};
const Bytes kTickReport = report(0x0B, 0x01);

Bytes ticks(size_t count) {
    Bytes b;
    for (size_t i = 0; i < count; i++) b.insert(b.end(), kTick.begin(), kTick.end());
    return b;
}
Replies tickReports(size_t count) { return Replies(count, kTickReport); }

Bytes setColor(uint32_t argb) { return nimbra::CommandBuilder().setColor(argb).payload(); }

Replies sequenceReport(uint8_t seq) { return {report(0x0A, 0x02, seq)}; }

// Replies other than ticks.
Replies others(const Replies &packets) {
    Replies out;
    for (const Bytes &p : packets)
        if (p != kTickReport) out.push_back(p);
    return out;
}

}  // namespace

class ZlibBlockTest : public DeviceTest {
protected:
    // Runs one command as a payload of its own and returns what it sent.
    static Replies send(const Bytes &command, int32_t *result = nullptr) { return testsupport::replies(command, result); }
};

TEST_F(ZlibBlockTest, StreamIsBrokenAfterStartUp) {
    // Blocks before any start block are counted; the fifth is reported, then
    // every sixth after it.
    Bytes data = nimbra::ZlibBlockWriter().block(kTick, true);
    for (uint8_t seq = 1; seq <= 16; seq++) {
        int32_t result = -1;
        auto replies =
            send(nimbra::zlibBlockCommand((uint8_t)(0x80 | seq), Bytes(data.begin() + 4, data.end())), &result);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(replies, seq == 5 || seq == 11 ? sequenceReport(seq) : Replies{}) << "block " << int(seq);
    }
}

TEST_F(ZlibBlockTest, StartBlockRunsItsCommandsAndNumbersWrapAfter63) {
    nimbra::ZlibBlockWriter w(62);
    for (int expected : {62, 63, 0, 1}) {
        Bytes block = w.block(kTick, true);
        EXPECT_EQ(block[1], (expected == 62 ? 0xC0 : 0x80) | expected);
        int32_t result = -1;
        EXPECT_EQ(send(block, &result), tickReports(1)) << expected;
        EXPECT_EQ(result, 0);
    }
    // The handler reports the block's own length.
    Bytes next = w.block(kTick, true);
    EXPECT_EQ(opcodeHandlers[0x0A](next.data(), (uint32_t)next.size()), (int32_t)next.size());
}

TEST_F(ZlibBlockTest, SequenceMustFollowTheLastBlock) {
    nimbra::ZlibBlockWriter w(5);
    EXPECT_EQ(send(w.block(kTick, true)), tickReports(1));   // start block 5 runs its tick
    EXPECT_EQ(send(w.block(kTick, true)), tickReports(1));   // 6
    w.block(kTick, true);                                    // 7 is lost
    EXPECT_EQ(send(w.block(kTick, true)), sequenceReport(8));
    // Broken: the next four are dropped silently and the sixth refusal is
    // reported again, even for blocks that would have been in sequence.
    for (uint8_t seq = 9; seq <= 19; seq++)
        EXPECT_EQ(send(w.block(kTick, true)), seq == 13 || seq == 19 ? sequenceReport(seq) : Replies{}) << int(seq);
    // A new start block repairs the stream, whatever its number.
    w.restart(40);
    for (int i = 0; i < 2; i++) EXPECT_EQ(send(w.block(kTick, true)), tickReports(1));
    // The same block number again is out of sequence too, and the stream
    // stays broken even when the numbers line up again.
    Bytes again = w.block(kTick, true);
    EXPECT_EQ(send(again), tickReports(1));
    EXPECT_EQ(send(again), sequenceReport(42));
    EXPECT_TRUE(send(w.block(kTick, true)).empty());
}

TEST_F(ZlibBlockTest, BlocksWithoutExecuteAccumulate) {
    nimbra::ZlibBlockWriter w;
    uint8_t before = GUI_Context.colorIndex;
    EXPECT_TRUE(send(w.block(ticks(1) + setColor(0xFF00FF00), false)).empty());
    EXPECT_TRUE(send(w.block(ticks(2), false)).empty());
    EXPECT_EQ(GUI_Context.colorIndex, before);
    EXPECT_EQ(send(w.block(ticks(3), true)), tickReports(6));
    EXPECT_EQ(GUI_Context.colorIndex, 0x1C);
    // Nothing is left over for the next block.
    EXPECT_EQ(send(w.block(ticks(1), true)), tickReports(1));
}

TEST_F(ZlibBlockTest, AccumulatedBytesMustFitTheBuffer) {
    // Exactly 3072 bytes are kept; one more byte, even in a block that would
    // run them, finds no room and breaks the stream.
    nimbra::ZlibBlockWriter w;
    EXPECT_TRUE(send(w.block(ticks(1024), false)).empty());
    EXPECT_EQ(send(w.block(ticks(1), true)), sequenceReport(1));
    EXPECT_TRUE(send(w.block(ticks(1), true)).empty());
    // 3071 bytes, then 4 more in one block: the buffer fills within it. With
    // the execute flag the full buffer is run and inflating goes on.
    const Bytes almost = ticks(1023) + Bytes{0x0B, 0x00}, rest = {0x00, 0x0B, 0x00, 0x00};
    for (bool execute : {false, true}) {
        w.restart();
        EXPECT_TRUE(send(w.block(almost, false)).empty());
        EXPECT_EQ(send(w.block(rest, execute)), execute ? tickReports(1025) : sequenceReport(1));
    }
}

TEST_F(ZlibBlockTest, LargeBlocksRunInPiecesOfTheBufferSize) {
    // Blocks that inflate to exactly one and two buffers run them and keep
    // the stream in order.
    nimbra::ZlibBlockWriter w;
    EXPECT_EQ(send(w.block(ticks(1024), true)), tickReports(1024));
    EXPECT_EQ(send(w.block(ticks(2048), true)), tickReports(2048));
    // 30720 bytes from a small block (number 2): ten full pieces, all run in
    // order. The colour command at the end is cut by the end of the last piece.
    const uint32_t poolTop = ALLOC_buffer_idx;
    Bytes colour = setColor(0xFF0000FF);
    Bytes block = w.block(ticks(10239) + Bytes(colour.begin(), colour.end() - 2), true);
    EXPECT_LT(block.size(), 200u);
    auto replies = send(block);
    EXPECT_EQ(replies.size() - others(replies).size(), 10239u);
    EXPECT_EQ(others(replies), (Replies{report(0x09, 0x01), report(0x0A, 0xC0, 0x02)}));
    EXPECT_EQ(ALLOC_buffer_idx, poolTop);
}

TEST_F(ZlibBlockTest, PieceBoundaryCutsACommand) {
    // 3070 bytes of colours, then a colour command across the 3072 boundary
    // whose last three bytes read as a refused pen style in the next piece.
    // Split across two blocks: the pieces follow the buffer, not the blocks.
    nimbra::ZlibBlockWriter w;
    Bytes bytes;
    for (int i = 0; i < 614; i++) bytes = bytes + setColor(0xFF00FF00);
    bytes = bytes + Bytes{0x09, 0xFF, 0x0B, 0x00, 0x00};
    EXPECT_TRUE(send(w.block(Bytes(bytes.begin(), bytes.begin() + 1800), false)).empty());
    EXPECT_EQ(send(w.block(Bytes(bytes.begin() + 1800, bytes.end()), true)),
              (Replies{report(0x09, 0x01), report(0x0A, 0xC0, 0x01), kTickReport}));
    EXPECT_EQ(GUI_Context.colorIndex, 0x1C);
    EXPECT_EQ(send(w.block(kTick, true)), tickReports(1));   // the stream itself is still in order
}

TEST_F(ZlibBlockTest, UnknownOpcodeInsideStopsThePieceButNotThePayload) {
    nimbra::ZlibBlockWriter w(9);
    getBIT();
    EXPECT_EQ(send(w.block(ticks(1) + Bytes{0x33} + ticks(2), true)), (Replies{kTickReport, report(0x0A, 0xC0, 0x09)}));
    EXPECT_EQ(getBIT(), 1u << 5);
    EXPECT_EQ(send(w.block(kTick, true) + kTick), tickReports(2));
}

TEST_F(ZlibBlockTest, BadCompressedDataBreaksTheStream) {
    const Bytes cases[] = {
        nimbra::zlibBlockCommand(0x81, {0x00, 0x00, 0x00, 0xFF, 0xFF}),   // an empty stored block: no byte
        // Start blocks: not a zlib stream, a reserved block type, a preset
        // dictionary.
        nimbra::zlibBlockCommand(0xC3, {0xFF, 0xFF, 0xFF, 0xFF}),
        nimbra::zlibBlockCommand(0xC4, {0x78, 0x9C, 0x07, 0x00}),
        nimbra::zlibBlockCommand(0xC5, {0x78, 0xBB, 0x00, 0x00, 0x00, 0x01, 0x03, 0x00}),
    };
    nimbra::ZlibBlockWriter w;
    for (const Bytes &bad : cases) {
        w.restart();
        EXPECT_EQ(send(w.block(kTick, true)), tickReports(1));
        EXPECT_EQ(send(bad), sequenceReport(bad[1] & 0x3F));
        // Broken from here: silent until the fifth refusal.
        for (int i = 0; i < 3; i++) EXPECT_TRUE(send(w.block(kTick, true)).empty()) << int(bad[1]);
    }
    // The stream end is refused, and what that block carried is not run.
    w.restart();
    EXPECT_EQ(send(w.block(kTick, true)), tickReports(1));
    EXPECT_EQ(send(w.finishBlock(ticks(2), true)), sequenceReport(1));
}

TEST_F(ZlibBlockTest, TruncatedBlockCommands) {
    const Replies truncated = {report(0x0A, 0x01, 0xFF)};
    for (const Bytes &cut : {Bytes{0x0A, 0xC0, 0x01, 0x00}, Bytes{0x0A, 0xC0, 0x00, 0x00, 0x78},
                             Bytes{0x0A, 0xC0, 0x05, 0x00, 0x78, 0x9C}}) {
        int32_t result = 0;
        EXPECT_EQ(send(cut, &result), truncated) << cut.size();
        EXPECT_EQ(result, -1);
    }
    Bytes block = nimbra::ZlibBlockWriter().block(kTick, true);
    EXPECT_EQ(opcodeHandlers[0x0A](block.data(), (uint32_t)block.size() - 1), -1);
    EXPECT_EQ(getBIT() & (1u << 5), 1u << 5);
}

TEST_F(ZlibBlockTest, NestedBlockIsRefusedAndTheRestRuns) {
    nimbra::ZlibBlockWriter outer, inner(33);
    Bytes nested = inner.block(setColor(0xFFFF0000), true);
    uint8_t before = GUI_Context.colorIndex;
    EXPECT_EQ(send(outer.block(ticks(1) + nested + ticks(1), true)),
              (Replies{kTickReport, report(0x0A, 0x03, 33), kTickReport}));
    EXPECT_EQ(GUI_Context.colorIndex, before);
    EXPECT_EQ(send(outer.block(kTick, true)), tickReports(1));   // the outer stream was not disturbed
    // A nested block that is cut short is reported as truncated.
    EXPECT_EQ(send(outer.block(Bytes(nested.begin(), nested.end() - 1), true)),
              (Replies{report(0x0A, 0x01, 0xFF), report(0x0A, 0xC0, 0x02)}));
}

// The host side's grouping, checked with zlib itself: the command bytes
// each group inflates to (every block up to the one that runs them).
std::vector<Bytes> inflatedGroups(const std::vector<Bytes> &blocks) {
    z_stream zs{};
    EXPECT_EQ(inflateInit(&zs), Z_OK);
    std::vector<Bytes> groups(1);
    for (const Bytes &block : blocks) {
        zs.next_in = const_cast<Bytef *>(block.data() + nimbra::kZlibBlockHeaderBytes);
        zs.avail_in = (uInt)(block.size() - nimbra::kZlibBlockHeaderBytes);
        uint8_t out[4096];
        do {
            zs.next_out = out;
            zs.avail_out = sizeof out;
            EXPECT_EQ(inflate(&zs, Z_SYNC_FLUSH), Z_OK);
            groups.back().insert(groups.back().end(), out, out + (sizeof out - zs.avail_out));
        } while (zs.avail_in > 0);
        if (block[1] & nimbra::kZlibBlockExecute) groups.emplace_back();
    }
    inflateEnd(&zs);
    EXPECT_TRUE(groups.back().empty()) << "the last block runs what is left";
    groups.pop_back();
    return groups;
}

// A group that inflates to exactly the device's 3072 bytes breaks the
// stream on the device: groups stay one byte short of it, and commands are
// never split between groups.
TEST(ZlibBlockWriterGroups, NoGroupFillsTheDeviceBuffer) {
    const struct {
        std::vector<size_t> commandBytes;
        std::vector<size_t> groupBytes;
    } cases[] = {
        {{3071}, {3071}},
        {{3000, 71}, {3071}},
        {{3000, 72}, {3000, 72}},
        {{1024, 1024, 1024}, {2048, 1024}},
        {{1, 3071, 1}, {1, 3071, 1}},
    };
    for (const auto &c : cases) {
        std::vector<Bytes> commands;
        for (size_t n : c.commandBytes) commands.push_back(Bytes(n, (uint8_t)n));
        std::vector<size_t> sizes;
        for (const Bytes &g : inflatedGroups(nimbra::ZlibBlockWriter().commands(commands))) sizes.push_back(g.size());
        EXPECT_EQ(sizes, c.groupBytes) << c.commandBytes.size() << " commands, the first of " << c.commandBytes[0];
    }
    EXPECT_THROW(nimbra::ZlibBlockWriter().commands({Bytes(3072, 1)}), std::invalid_argument);

    // Many commands of mixed lengths: the groups, joined, are the commands.
    std::vector<Bytes> commands;
    Bytes all;
    for (int i = 0; i < 3000; i++) {
        commands.push_back(Bytes(1 + (i * 37) % 200, (uint8_t)i));
        all.insert(all.end(), commands.back().begin(), commands.back().end());
    }
    Bytes joined;
    size_t next = 0, at = 0;
    for (const Bytes &g : inflatedGroups(nimbra::ZlibBlockWriter().commands(commands))) {
        EXPECT_LE(g.size(), nimbra::kZlibMaxGroupBytes);
        joined.insert(joined.end(), g.begin(), g.end());
        while (at < joined.size()) at += commands[next++].size();
        EXPECT_EQ(at, joined.size()) << "a command is split between groups";
    }
    EXPECT_EQ(joined, all);
    // Incompressible bytes still fit a record per block.
    Bytes noise;
    uint32_t x = 12345;
    for (int i = 0; i < 1900; i++) noise.push_back((uint8_t)((x = x * 1103515245u + 12345u) >> 16));
    EXPECT_LE(nimbra::ZlibBlockWriter().block(noise, false).size(), nimbra::kMaxRecordPayload);
}
