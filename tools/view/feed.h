// What a source gives the viewer: the ring of frames, the last reply, notes
// about the link, and whether the input has ended (and how). Written by the
// source's threads, read by the display; every member is safe to use from
// any thread.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "tools/view/frame_ring.h"

namespace nimbra::view {

struct FeedStatus {
    uint64_t replies = 0;       // reply packets seen
    Bytes lastReply;            // payload of the newest one
    std::string note;           // the source's latest news ("host connected from ...")
    bool ended = false;         // no more frames will come
    bool failed = false;        // ... because something went wrong
    std::string endMessage;     // why it ended, one line
};

class Feed {
public:
    explicit Feed(size_t ringFrames = kRingFrames) : frames(ringFrames) {}

    ~Feed();
    Feed(const Feed &) = delete;
    Feed &operator=(const Feed &) = delete;

    FrameRing frames;

    // Also writes each frame, as it arrives, to `path`: a frame stream as
    // nimbra-sim writes it. False (with `error`) when it cannot be created.
    bool copyFramesTo(const std::string &path, std::string &error);
    // One output frame of kFrameBytes from the source (one thread only).
    void pushFrame(const uint8_t *frameBytes);

    void addReply(const uint8_t *payload, size_t length);
    void setNote(const std::string &note);
    // The input has ended; the first call's message is kept.
    void finish(const std::string &message, bool failed);
    bool ended() const;
    // Waits up to `ms` milliseconds for the end; true once it has come.
    bool waitEnded(int ms) const;
    FeedStatus status() const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable endedChanged_;
    FeedStatus status_;
    FILE *frameCopy_ = nullptr;
    std::string frameCopyPath_;
};

}  // namespace nimbra::view
