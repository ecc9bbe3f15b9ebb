// The shared state between a source and the display.
#include "tools/view/feed.h"

#include <cerrno>
#include <chrono>
#include <cstring>

namespace nimbra::view {

Feed::~Feed() {
    if (frameCopy_) fclose(frameCopy_);
}

bool Feed::copyFramesTo(const std::string &path, std::string &error) {
    frameCopy_ = fopen(path.c_str(), "wb");
    if (!frameCopy_) {
        error = "cannot write " + path + ": " + strerror(errno);
        return false;
    }
    frameCopyPath_ = path;
    return true;
}

void Feed::pushFrame(const uint8_t *frameBytes) {
    if (frameCopy_ && fwrite(frameBytes, 1, kFrameBytes, frameCopy_) != kFrameBytes) {
        // A full disk ends the copy, not the viewing.
        fclose(frameCopy_);
        frameCopy_ = nullptr;
        setNote("cannot write " + frameCopyPath_ + ": frames are no longer copied");
    }
    frames.push(frameBytes);
}

void Feed::addReply(const uint8_t *payload, size_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    status_.replies++;
    status_.lastReply.assign(payload, payload + length);
}

void Feed::setNote(const std::string &note) {
    std::lock_guard<std::mutex> lock(mutex_);
    status_.note = note;
}

void Feed::finish(const std::string &message, bool failed) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (status_.ended) return;
    status_.ended = true;
    status_.failed = failed;
    status_.endMessage = message;
    endedChanged_.notify_all();
}

bool Feed::ended() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return status_.ended;
}

bool Feed::waitEnded(int ms) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return endedChanged_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return status_.ended; });
}

FeedStatus Feed::status() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return status_;
}

}  // namespace nimbra::view
