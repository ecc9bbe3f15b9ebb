// Reader threads over the simulator's frame and packet streams, and the
// nimbra-sim child process of a replay.
#include "tools/view/stream_source.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace nimbra::view {

namespace {
// How long the reply reader waits between reads.
constexpr int kReplyBatchMs = 10;
}  // namespace

StopSignal::StopSignal() {
    if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) pipe_[0] = pipe_[1] = -1;
}

StopSignal::~StopSignal() {
    if (pipe_[0] >= 0) close(pipe_[0]);
    if (pipe_[1] >= 0) close(pipe_[1]);
}

void StopSignal::raise() {
    if (raised_.exchange(true)) return;
    const uint8_t byte = 1;
    if (pipe_[1] >= 0) (void)!write(pipe_[1], &byte, 1);
}

bool waitReadable(int fd, const StopSignal &stop, int ms) {
    for (;;) {
        if (stop.raised()) return false;
        pollfd fds[2] = {{fd, POLLIN, 0}, {stop.fd(), POLLIN, 0}};
        int n = poll(fds, stop.fd() >= 0 ? 2 : 1, ms);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        if (stop.raised()) return false;
        // End of input and errors show as readable: the read tells which.
        return fds[0].revents != 0;
    }
}

ssize_t readSome(int fd, uint8_t *dst, size_t size, const StopSignal &stop, bool inRead) {
    for (;;) {
        if (inRead ? stop.raised() : !waitReadable(fd, stop, -1)) return -1;
        ssize_t n = read(fd, dst, size);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        return n;
    }
}

// A frame cut short may be a message the simulator printed instead of
// frames (a recording it could not open): such bytes are shown as text.
static std::string _TextOf(const uint8_t *bytes, size_t n) {
    if (n == 0 || n > 4096) return "";
    std::string text;
    for (size_t i = 0; i < n; i++) {
        uint8_t c = bytes[i];
        if (c == '\n' || c == '\r' || c == '\t') {
            if (!text.empty() && text.back() != ' ') text += ' ';
        } else if (c >= 0x20 && c < 0x7F) {
            text += (char)c;
        } else {
            return "";
        }
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

FrameStreamEnd readFrameStream(int fd, Feed &feed, double fps, const StopSignal &stop, bool inRead) {
    using Clock = std::chrono::steady_clock;
    FrameStreamEnd end;
    Bytes buffer(kFrameBytes);
    Clock::time_point first;
    for (;;) {
        size_t got = 0;
        while (got < buffer.size()) {
            ssize_t n = readSome(fd, buffer.data() + got, buffer.size() - got, stop, inRead);
            if (n < 0) {
                end.stopped = stop.raised();
                end.readError = !end.stopped;
                break;
            }
            if (n == 0) break;
            got += (size_t)n;
        }
        if (got < buffer.size()) {
            // A child ended by the stop closes its pipe: that is no failure.
            end.stopped = end.stopped || stop.raised();
            end.readError = end.readError && !end.stopped;
            end.partialBytes = end.stopped ? 0 : got;
            end.partialText = end.stopped ? "" : _TextOf(buffer.data(), got);
            return end;
        }
        feed.pushFrame(buffer.data());
        if (end.frames++ == 0) first = Clock::now();
        if (fps > 0) {
            // Frame k is due k / fps after the first: the writer waits
            // meanwhile, and a late frame does not push back the next ones.
            auto due = first + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>((double)end.frames / fps));
            for (;;) {
                auto now = Clock::now();
                if (now >= due || stop.raised()) break;
                auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count() + 1;
                pollfd p = {stop.fd(), POLLIN, 0};
                poll(&p, 1, (int)(ms > INT_MAX ? INT_MAX : ms));
            }
        }
    }
}

PacketStreamEnd readPacketStream(int fd, Feed &feed, const StopSignal &stop, bool inRead) {
    PacketStreamEnd end;
    Bytes pending;
    uint8_t chunk[16384];
    for (;;) {
        ssize_t n = readSome(fd, chunk, sizeof chunk, stop, inRead);
        if (n <= 0) return end;
        if (end.malformed) continue;
        pending.insert(pending.end(), chunk, chunk + n);
        size_t pos = 0;
        while (pending.size() - pos >= 4) {
            const uint8_t *h = pending.data() + pos;
            if (h[2] != 0xAA || h[3] != 0xFF) {
                end.malformed = true;
                feed.setNote("the reply stream is malformed after " + std::to_string(end.packets) + " replies");
                break;
            }
            size_t length = (size_t)h[0] | ((size_t)h[1] << 8);
            if (pending.size() - pos - 4 < length) break;
            feed.addReply(h + 4, length);
            end.packets++;
            pos += 4 + length;
        }
        pending.erase(pending.begin(), pending.begin() + (long)pos);
        if (end.malformed) pending.clear();
        // Replies are small and come with every frame: taking them in
        // batches spares a wake-up of this thread (and a switch away from
        // the simulator) per reply. The pipe holds far more than a batch.
        pollfd p = {stop.fd(), POLLIN, 0};
        poll(&p, 1, kReplyBatchMs);
    }
}

std::string describeFrameStreamEnd(const FrameStreamEnd &end, bool &failed) {
    failed = true;
    if (end.readError) return "cannot read the frame stream: " + std::string(strerror(errno));
    if (!end.partialText.empty()) return end.partialText;
    if (end.partialBytes) {
        return "the frame stream ends inside a frame (" + std::to_string(end.partialBytes) + " of " +
               std::to_string(kFrameBytes) + " bytes)";
    }
    failed = false;
    return "end of input after " + std::to_string(end.frames) + (end.frames == 1 ? " frame" : " frames");
}

std::string findSimulator() {
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        self[n] = 0;
        std::string dir(self);
        dir.erase(dir.find_last_of('/') + 1);
        std::string beside = dir + "nimbra-sim";
        if (access(beside.c_str(), X_OK) == 0) return beside;
    }
    return "nimbra-sim";
}

StreamSource::~StreamSource() { stop(); }

void StreamSource::startFrames(int fd, double fps) {
    framesThread_ = std::thread([this, fd, fps] { _RunFrames(fd, fps, false); });
}

bool StreamSource::startRecording(const std::string &simulator, const std::string &recording, double fps,
                                  std::string &error) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        error = std::string("cannot make a pipe: ") + strerror(errno);
        return false;
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        error = std::string("cannot make a pipe: ") + strerror(errno);
        close(out[0]);
        close(out[1]);
        return false;
    }
    // The pipes keep their default size: a pipe that holds a whole frame
    // was measured slower, its pages no longer in the cache when read.

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::string sim = simulator;
    const char *argv[] = {sim.c_str(), "-r", recording.c_str(), nullptr};
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, sim.c_str(), &actions, nullptr, (char *const *)argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    if (rc != 0) {
        close(out[0]);
        close(err[0]);
        error = "cannot run " + sim + ": " + strerror(rc);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(childMutex_);
        child_ = pid;
    }
    childFrames_ = out[0];
    childReplies_ = err[0];
    // Stopping ends the child, and with it these reads.
    packetsThread_ = std::thread([this] { readPacketStream(childReplies_, feed_, stop_, true); });
    framesThread_ = std::thread([this, fps] { _RunFrames(childFrames_, fps, true); });
    return true;
}

void StreamSource::_RunFrames(int fd, double fps, bool inRead) {
    FrameStreamEnd end = readFrameStream(fd, feed_, fps, stop_, inRead);
    bool failed = false;
    std::string message = describeFrameStreamEnd(end, failed);
    if (packetsThread_.joinable()) {
        // The replies of the last frames come after them: wait for the end
        // of the packet stream too, then for the simulator itself.
        packetsThread_.join();
        bool childFailed = false;
        std::string childEnd = _ReapChild(childFailed);
        if (childFailed && !end.stopped) {
            message = childEnd;
            failed = true;
        }
    }
    if (!end.stopped) feed_.finish(message, failed);
}

std::string StreamSource::_ReapChild(bool &failed) {
    failed = false;
    pid_t pid;
    {
        std::lock_guard<std::mutex> lock(childMutex_);
        pid = child_;
    }
    if (pid < 0) return "";
    // Wait for the end without reaping, so that the lock is not held while
    // waiting and the process id stays the child's until it is reaped below.
    siginfo_t info;
    memset(&info, 0, sizeof info);
    while (waitid(P_PID, (id_t)pid, &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
    int status = 0;
    {
        std::lock_guard<std::mutex> lock(childMutex_);
        if (child_ != pid) return "";
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        child_ = -1;
    }
    if (WIFSIGNALED(status)) {
        failed = true;
        return "nimbra-sim stopped by signal " + std::to_string(WTERMSIG(status)) + " (" +
               strsignal(WTERMSIG(status)) + ")";
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
        failed = true;
        return "nimbra-sim exited with status " + std::to_string(WEXITSTATUS(status));
    }
    return "";
}

void StreamSource::_TerminateChild() {
    std::lock_guard<std::mutex> lock(childMutex_);
    // Only a child not yet reaped: its process id cannot have been reused.
    if (child_ > 0) kill(child_, SIGTERM);
}

void StreamSource::stop() {
    stop_.raise();
    _TerminateChild();
    if (framesThread_.joinable()) framesThread_.join();
    if (packetsThread_.joinable()) packetsThread_.join();
    {
        // A child that ended after the threads were stopped.
        bool failed = false;
        _ReapChild(failed);
    }
    if (childFrames_ >= 0) close(childFrames_);
    if (childReplies_ >= 0) close(childReplies_);
    childFrames_ = childReplies_ = -1;
}

}  // namespace nimbra::view
