// Which command made which frame, reply and log line: a recording run
// in-process command by command, cut at each frame.
#include <gtest/gtest.h>

#include <map>

#include "host/platform.h"
#include "tools/inspect/command_timeline.h"

using nimbra::Bytes;
using nimbra::CommandBuilder;
using nimbra::CommandEntry;
using nimbra::CommandState;
using nimbra::FrameCommands;

namespace {

struct Lists : nimbra::TimelineSink {
    std::vector<nimbra::IndexedFrame> shown;
    std::map<uint64_t, FrameCommands> frames;
    std::vector<FrameCommands> after;
    void frameShown(const nimbra::IndexedFrame &f) override { shown.push_back(f); }
    void frameCommands(uint64_t frame, const FrameCommands &c) override {
        EXPECT_FALSE(frames.count(frame)) << "frame " << frame << " listed twice";
        frames[frame] = c;
    }
    void afterLastFrame(const FrameCommands &c) override { after.push_back(c); }
};

Bytes records(const std::vector<Bytes> &payloads) {
    Bytes out;
    for (const Bytes &p : payloads) {
        const Bytes r = nimbra::makeRecord(p);
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

Lists run(const Bytes &recording, nimbra::RunSummary &summary) {
    Lists lists;
    nimbra::CommandTimeline timeline(recording.data(), lists);
    std::string error;
    EXPECT_TRUE(nimbra::runRecording(recording.data(), recording.size(), timeline, {}, summary, error)) << error;
    timeline.finish();
    SIM_ResetDevice();
    return lists;
}

std::string describe(const CommandEntry &c) {
    std::string s = "@" + std::to_string(c.offset) + " " + c.text;
    for (const auto &r : c.replies) s += " <- " + r.text;
    return s;
}

}  // namespace

TEST(CommandTimeline, RepliesLogLinesAndFramesBelongToTheCommandThatMadeThem) {
    const Bytes recording = records({
        CommandBuilder().connect().setColor(0xFFFF0000).clearRect(0, 0, 100, 100).copyToScreen(1).payload(),
        // An unknown opcode ends its record: the status query after it never runs.
        CommandBuilder().u8(0x33).u8(0x02).systemInfo(1).payload(),
        CommandBuilder().systemInfo(1).copyToScreen(2).payload(),
        CommandBuilder().setColor(0xFF00FF00).payload(),
    });
    nimbra::RunSummary summary;
    const Lists lists = run(recording, summary);
    ASSERT_EQ(lists.shown.size(), 3u);
    ASSERT_EQ(lists.frames.size(), 3u);
    EXPECT_EQ(summary.frames, 3u);

    // Frame 0: the start-up, before any command.
    ASSERT_FALSE(lists.frames.at(0).commands.empty());
    EXPECT_EQ(lists.frames.at(0).commands[0].state, CommandState::StartUp);

    // Frame 1: connect and its two replies, then the drawing and the copy
    // that showed it, with the reply that follows the frame.
    const auto &one = lists.frames.at(1).commands;
    ASSERT_EQ(one.size(), 4u);
    EXPECT_EQ(one[0].offset, nimbra::kRecordHeaderBytes) << "the first command follows its record's header";
    EXPECT_EQ(describe(one[0]), "@8 connect <- mtu 490 <- tick-rate 90");
    EXPECT_NE(one[0].log.find("handleCommand: opcode: 0x30"), std::string::npos) << one[0].log;
    EXPECT_EQ(one[1].text, "color #FF0000");
    EXPECT_TRUE(one[1].replies.empty());
    EXPECT_EQ(one[3].frames, (std::vector<uint64_t>{1}));
    ASSERT_EQ(one[3].replies.size(), 1u);
    EXPECT_EQ(one[3].replies[0].text, "frame-shown id 1");
    EXPECT_EQ(one[3].replies[0].hex, "00 01");

    // Frame 2: the unknown opcode stopped its record, and is listed with
    // the bytes it skipped (the query among them, which never answers); the
    // next record's query answers, reporting the unknown opcode.
    const auto &two = lists.frames.at(2).commands;
    ASSERT_EQ(two.size(), 3u);
    EXPECT_EQ(two[0].state, CommandState::Stopped);
    EXPECT_EQ(two[0].text, "bytes 33 02 17 01");
    EXPECT_NE(two[0].note.find("unknown opcode 0x33"), std::string::npos) << two[0].note;
    EXPECT_TRUE(two[0].replies.empty());
    EXPECT_EQ(two[1].state, CommandState::Ran);
    EXPECT_EQ(two[1].offset, two[0].offset + 4 + nimbra::kRecordHeaderBytes);
    ASSERT_EQ(two[1].replies.size(), 1u);
    EXPECT_EQ(two[1].replies[0].text.rfind("system-status", 0), 0u) << two[1].replies[0].text;
    EXPECT_NE(two[1].replies[0].text.find("status 0x00000020"), std::string::npos)
        << "status bit 5 reports the unknown opcode: " << two[1].replies[0].text;
    EXPECT_EQ(two[2].frames, (std::vector<uint64_t>{2}));

    // The colour set after the last frame is listed after it.
    ASSERT_EQ(lists.after.size(), 1u);
    ASSERT_EQ(lists.after[0].commands.size(), 1u);
    EXPECT_EQ(lists.after[0].commands[0].text, "color #00FF00");
}

TEST(CommandTimeline, AVeryLongFrameKeepsItsFirstAndLastCommands) {
    const size_t count = nimbra::CommandTimeline::kCommandsKept + 500;
    Bytes recording;
    for (size_t i = 0; i < count; i += 100) {
        CommandBuilder part;
        for (size_t k = i; k < i + 100 && k < count; k++) part.setColor(0xFF000000u + (uint32_t)k);
        const Bytes r = nimbra::makeRecord(part.payload());
        recording.insert(recording.end(), r.begin(), r.end());
    }
    const Bytes copy = nimbra::makeRecord(CommandBuilder().copyToScreen(1).payload());
    recording.insert(recording.end(), copy.begin(), copy.end());
    nimbra::RunSummary summary;
    const Lists lists = run(recording, summary);
    const FrameCommands &list = lists.frames.at(1);
    EXPECT_EQ(list.commands.size() + list.leftOut, count + 1);
    EXPECT_EQ(list.commands.size(), nimbra::CommandTimeline::kCommandsKept);
    EXPECT_EQ(list.leftOutAt, nimbra::CommandTimeline::kCommandsKept / 2);
    EXPECT_EQ(list.commands.front().text, "color #000000");
    EXPECT_EQ(list.commands[list.leftOutAt - 1].text, "color #0001F3");
    EXPECT_EQ(list.commands.back().frames, (std::vector<uint64_t>{1}));
}
