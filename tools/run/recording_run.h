// A recording run on the device core in this process, command by command:
// the tools that show what a recording does (the inspector, golden frames,
// frame export) see each command the device starts, each reply, log line
// and frame it produces, and the bytes it does not run, in the order they
// happen. The device is the same code nimbra-sim runs, fed the same reads,
// so the frames and replies are the ones nimbra-sim writes.
//
// The device is one global machine: one run at a time. A run starts from a
// reset device (start-up sequence included: frame 0 is the boot screen),
// and the output seams are put back as they were when it ends.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "tools/hostlib/indexed_frame.h"
#include "tools/hostlib/record_walk.h"

namespace nimbra {

struct RunCommand {
    size_t offset = 0;              // of the command in the recording
    const uint8_t *payload = nullptr;   // its record's payload, inside the recording
    size_t payloadBytes = 0;
    size_t payloadOffset = 0;       // of the command in that payload
};

// Bytes of the recording the device does not run: a piece of the stream it
// drops (RecordPiece), or a piece it never reads because a command ended
// the stream before it.
struct NotRun {
    RecordPiece piece;
    std::string reason;
};

// Told what happens, in order. Replies, log lines and frames before the
// first command belong to the start-up sequence; later ones to the last
// command started.
class RunObserver {
public:
    virtual ~RunObserver() = default;
    virtual void commandStarted(const RunCommand &) {}
    // The command last started made the device skip the rest of its record
    // (it was refused, cut short, or has an unknown opcode).
    virtual void commandStopped() {}
    virtual void notRun(const NotRun &) {}
    // A reply's payload (without the packet's 4-byte header).
    virtual void reply(const uint8_t *, size_t) {}
    // Text the device wrote to its log (whole lines, each ending in a newline).
    virtual void logText(const char *, size_t) {}
    // A frame shown; its buffer is reused for the next one.
    virtual void frame(const IndexedFrame &) {}
    // Asked after each record: false ends the run early.
    virtual bool wantsMore() { return true; }
    // Recording bytes handled so far, after each record.
    virtual void progress(size_t, size_t) {}
};

struct RunOptions {
    bool log = true;   // keep the device's log (it costs time; frames and replies do not need it)
};

struct RunSummary {
    uint64_t frames = 0;
    bool stoppedReading = false;   // the end-of-stream command ended it
    bool endedEarly = false;       // the observer asked to stop
};

// Runs the recording. False, with the reason, only when a frame the device
// wrote cannot be read as one (which would be a fault of the device).
bool runRecording(const uint8_t *recording, size_t size, RunObserver &observer, const RunOptions &options,
                  RunSummary &summary, std::string &error);

// A recording from a file: a recording as it is, or a script of the text
// form (a name ending in ".nsc") assembled first. nullopt, with a message
// naming the file, when it cannot be read or assembled.
std::optional<Bytes> loadRecording(const std::string &path, std::string &error);

}  // namespace nimbra
