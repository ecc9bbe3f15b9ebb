// Which commands made which frame. A recording's run is cut at each frame:
// frame N lists the commands since the one that showed frame N - 1, up to
// and including the one that showed frame N, each with its text form, its
// offset in the recording, the replies it produced (decoded by name) and
// the log lines it wrote. Frame 0, the boot screen, is the start-up's. A
// command that shows several frames (a compressed block holding several
// copies) is listed with each of them. Bytes the device does not run are
// listed where they lie, saying why.
//
// A frame's list is complete when the command that showed it has ended, so
// that the reply to a copy, which follows the frame, is listed with it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "tools/run/recording_run.h"

namespace nimbra {

struct ReplyEntry {
    std::string text;   // "frame-shown id 1"
    std::string hex;    // its payload bytes, "00 01"
};

enum class CommandState {
    StartUp,   // the device's start-up sequence, before any command
    Ran,
    Stopped,   // ran and made the device skip the rest of its record
    NotRun,
};

struct CommandEntry {
    CommandState state = CommandState::Ran;
    size_t offset = 0;                // in the recording (not for StartUp)
    std::string text;                 // the text form (shortened when very long)
    std::string note;                 // what the device does with it, when worth saying
    std::vector<ReplyEntry> replies;
    size_t repliesLeftOut = 0;        // past the ones kept
    std::string log;                  // the lines it wrote
    size_t logBytesLeftOut = 0;
    std::vector<uint64_t> frames;     // the frames it showed
};

struct FrameCommands {
    std::vector<CommandEntry> commands;
    // Commands left out of a very long list, between commands[firstKept - 1]
    // and commands[firstKept] (0 when none are).
    size_t leftOut = 0;
    size_t leftOutAt = 0;
};

class TimelineSink {
public:
    virtual ~TimelineSink() = default;
    // A frame, the moment the device shows it.
    virtual void frameShown(const IndexedFrame &frame) = 0;
    // The commands of a frame, once complete.
    virtual void frameCommands(uint64_t frame, const FrameCommands &commands) = 0;
    // What ran after the last frame (not called when nothing did).
    virtual void afterLastFrame(const FrameCommands &commands) = 0;
};

class CommandTimeline : public RunObserver {
public:
    // Limits that keep a report of a pathological recording readable.
    static constexpr size_t kTextChars = 400;
    static constexpr size_t kReplies = 100;
    static constexpr size_t kLogBytes = 16384;
    static constexpr size_t kCommandsKept = 1000;   // per frame: the first and last half

    CommandTimeline(const uint8_t *recording, TimelineSink &sink);

    void commandStarted(const RunCommand &command) override;
    void commandStopped() override;
    void notRun(const NotRun &piece) override;
    void reply(const uint8_t *payload, size_t length) override;
    void logText(const char *text, size_t length) override;
    void frame(const IndexedFrame &frame) override;
    // Ends the last command after the run.
    void finish();

    uint64_t commands() const { return commandCount_; }

private:
    CommandEntry &_Current();
    void _Add(CommandEntry entry);
    void _EndCurrent();
    FrameCommands _List() const;

    const uint8_t *recording_;
    TimelineSink &sink_;
    std::vector<CommandEntry> head_;   // the first commands since the last frame
    std::deque<CommandEntry> tail_;    // the latest ones, once head_ is full
    size_t leftOut_ = 0;
    std::vector<uint64_t> pending_;    // frames shown by the current command
    const uint8_t *stoppedPayload_ = nullptr;   // the current command's record, to list what it skips
    size_t stoppedPayloadBytes_ = 0, stoppedPayloadOffset_ = 0, stoppedRecordOffset_ = 0;
    uint64_t commandCount_ = 0;
};

}  // namespace nimbra
