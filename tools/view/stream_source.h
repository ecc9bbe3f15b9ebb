// Sources of frames for the viewer: a frame stream on a descriptor (standard
// input, `nimbra-sim -r x.rec | nimbra-view`), or nimbra-sim run as a child
// process on a recording, whose replies are read as well. Reading happens on
// threads of its own, as fast as the simulator writes, so that the viewer
// never slows it down; the display takes the newest frame from the ring.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>

#include "tools/view/feed.h"

namespace nimbra::view {

// A pipe that wakes a thread waiting in poll(): raised once, it stays raised.
class StopSignal {
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal &) = delete;
    StopSignal &operator=(const StopSignal &) = delete;
    void raise();
    bool raised() const { return raised_.load(); }
    int fd() const { return pipe_[0]; }

private:
    int pipe_[2] = {-1, -1};
    std::atomic<bool> raised_{false};
};

// Waits up to `ms` milliseconds (negative: for ever) for `fd` to become
// readable, or for `stop`. Returns true when the descriptor is readable.
bool waitReadable(int fd, const StopSignal &stop, int ms);
// Reads what is there (at most `size` bytes), waiting for it as above:
// bytes read, 0 at end of input, -1 on a read error or once `stop` is raised.
// With `inRead`, the wait happens in read() itself, one system call less per
// wake-up: only for a descriptor whose writer is ended when `stop` is raised
// (a child process), which ends the read.
ssize_t readSome(int fd, uint8_t *dst, size_t size, const StopSignal &stop, bool inRead = false);

struct FrameStreamEnd {
    uint64_t frames = 0;
    size_t partialBytes = 0;   // bytes of a frame cut short by the end of input
    std::string partialText;   // those bytes, when they are a message rather than pixels
    bool readError = false;
    bool stopped = false;
};
// Reads whole frames into the feed's ring until the end of input. With
// `fps` > 0 the frames are taken no faster than that (the writer waits).
FrameStreamEnd readFrameStream(int fd, Feed &feed, double fps, const StopSignal &stop, bool inRead = false);

struct PacketStreamEnd {
    uint64_t packets = 0;
    bool malformed = false;   // bytes that are no packet; the rest was drained unread
};
// Reads response packets into the feed (the last reply) until the end of
// input; a malformed stream is still drained, so its writer never blocks.
PacketStreamEnd readPacketStream(int fd, Feed &feed, const StopSignal &stop, bool inRead = false);

// One line that says how a frame stream ended.
std::string describeFrameStreamEnd(const FrameStreamEnd &end, bool &failed);

// The simulator beside this program, or "nimbra-sim" to be found on PATH.
std::string findSimulator();

// Frames from a descriptor, or from nimbra-sim run on a recording.
class StreamSource {
public:
    explicit StreamSource(Feed &feed) : feed_(feed) {}
    ~StreamSource();
    StreamSource(const StreamSource &) = delete;
    StreamSource &operator=(const StreamSource &) = delete;

    // Reads frames from `fd` (not closed here).
    void startFrames(int fd, double fps);
    // Runs `simulator -r recording` with its standard input on /dev/null.
    bool startRecording(const std::string &simulator, const std::string &recording, double fps, std::string &error);
    // Stops reading, ends the child if it still runs, and waits for the threads.
    void stop();

private:
    void _RunFrames(int fd, double fps, bool inRead);
    void _TerminateChild();
    std::string _ReapChild(bool &failed);

    Feed &feed_;
    StopSignal stop_;
    std::thread framesThread_, packetsThread_;
    std::mutex childMutex_;
    pid_t child_ = -1;          // -1 once reaped (or never started)
    int childFrames_ = -1, childReplies_ = -1;
};

}  // namespace nimbra::view
