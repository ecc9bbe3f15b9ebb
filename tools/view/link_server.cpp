// The link's server: one thread that accepts hosts, runs their records on
// the device and sends the replies back.
#include "tools/view/link_server.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "tools/hostlib/tcp_link.h"

namespace nimbra::view {

namespace {

// Replies held for a host that does not read them; past this the link stops
// reading that host's records until it catches up (as a full pipe would
// stop nimbra-sim).
constexpr size_t kMaxUnsentBytes = 1 << 20;
// How long a leaving host's last replies may take to go out.
constexpr int kFlushMs = 2000;
// How long a refused host is given to read the refusal before it is closed.
constexpr int kRefusalLingerMs = 1000;
constexpr size_t kMaxRefused = 16;

std::string _NameOf(const sockaddr_storage &ss, socklen_t len) {
    char host[NI_MAXHOST], port[NI_MAXSERV];
    if (getnameinfo((const sockaddr *)&ss, len, host, sizeof host, port, sizeof port,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return "?";
    }
    return ss.ss_family == AF_INET6 ? "[" + std::string(host) + "]:" + port : std::string(host) + ":" + port;
}

struct Refused {
    int fd;
    std::chrono::steady_clock::time_point until;
};

}  // namespace

LinkServer::~LinkServer() {
    stop();
    if (listenFd_ >= 0) close(listenFd_);
    if (hostFd_ >= 0) close(hostFd_);
    if (save_) fclose(save_);
}

bool LinkServer::listen(const std::string &address, std::string &error) {
    addrinfo *list = resolveHostPort(address, true, error);
    if (!list) return false;
    error = "cannot listen on " + address;
    for (addrinfo *ai = list; ai && listenFd_ < 0; ai = ai->ai_next) {
        int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
        if (fd < 0) continue;
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (bind(fd, ai->ai_addr, ai->ai_addrlen) == 0 && ::listen(fd, 8) == 0) {
            listenFd_ = fd;
        } else {
            error = "cannot listen on " + address + ": " + strerror(errno);
            close(fd);
        }
    }
    freeaddrinfo(list);
    if (listenFd_ < 0) return false;
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    getsockname(listenFd_, (sockaddr *)&ss, &len);
    boundAddress_ = _NameOf(ss, len);
    return true;
}

bool LinkServer::saveTo(const std::string &path, std::string &error) {
    save_ = fopen(path.c_str(), "wb");
    if (!save_) {
        error = "cannot write " + path + ": " + strerror(errno);
        return false;
    }
    savePath_ = path;
    return true;
}

void LinkServer::start(bool once) {
    thread_ = std::thread([this, once] { _Serve(once); });
}

void LinkServer::stop() {
    stop_.raise();
    if (thread_.joinable()) thread_.join();
    if (save_) fflush(save_);
}

void LinkServer::reply(const uint8_t *packet, size_t length) {
    if (length < 4) return;
    feed_.addReply(packet + 4, length - 4);
    // Replies can only come from a host's records; with no host (the boot
    // sequence) there is nobody to send them to.
    if (hostFd_ >= 0) out_.insert(out_.end(), packet, packet + length);
}

void LinkServer::_Serve(bool once) {
    std::vector<Refused> refused;
    feed_.setNote("waiting for a host on " + boundAddress_);
    while (!stop_.raised()) {
        if (deviceEnded_ && hostFd_ < 0) {
            feed_.finish("the device stopped: the host sent the end-of-stream command", false);
            break;
        }
        if (once && hostGone_) {
            feed_.finish("the host has left", false);
            break;
        }
        std::vector<pollfd> fds;
        fds.push_back({stop_.fd(), POLLIN, 0});
        fds.push_back({listenFd_, POLLIN, 0});
        short hostEvents = 0;
        if (hostFd_ >= 0) {
            if (out_.size() < kMaxUnsentBytes) hostEvents |= POLLIN;
            if (!out_.empty()) hostEvents |= POLLOUT;
        }
        fds.push_back({hostFd_, hostEvents, 0});
        int timeoutMs = -1;
        auto now = std::chrono::steady_clock::now();
        for (const Refused &r : refused) {
            fds.push_back({r.fd, POLLIN, 0});
            int ms = (int)std::chrono::duration_cast<std::chrono::milliseconds>(r.until - now).count() + 1;
            if (timeoutMs < 0 || ms < timeoutMs) timeoutMs = ms < 0 ? 0 : ms;
        }
        int n = poll(fds.data(), (nfds_t)fds.size(), timeoutMs);
        if (n < 0 && errno != EINTR) break;
        if (stop_.raised()) break;
        if (n <= 0) fds.assign(fds.size(), pollfd{-1, 0, 0});

        // Refused hosts: closed once they have read the refusal and left,
        // or when their time is up.
        now = std::chrono::steady_clock::now();
        for (size_t i = refused.size(); i-- > 0;) {
            bool done = now >= refused[i].until;
            if (fds[3 + i].revents) {
                uint8_t discard[1024];
                ssize_t got = recv(refused[i].fd, discard, sizeof discard, MSG_DONTWAIT);
                done = done || got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR);
            }
            if (done) {
                close(refused[i].fd);
                refused.erase(refused.begin() + (long)i);
            }
        }

        if (fds[1].revents & POLLIN) {
            sockaddr_storage ss{};
            socklen_t len = sizeof ss;
            int fd = accept4(listenFd_, (sockaddr *)&ss, &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd >= 0 && (hostFd_ >= 0 || deviceEnded_)) {
                // One host at a time: the newcomer is told why in one line
                // and closed once it has read it.
                (void)!send(fd, kBusyMessage, strlen(kBusyMessage), MSG_NOSIGNAL | MSG_DONTWAIT);
                shutdown(fd, SHUT_WR);
                feed_.setNote("refused a second host from " + _NameOf(ss, len) + " (" + hostName_ + " is connected)");
                if (refused.size() >= kMaxRefused) {
                    close(refused.front().fd);
                    refused.erase(refused.begin());
                }
                refused.push_back({fd, std::chrono::steady_clock::now() + std::chrono::milliseconds(kRefusalLingerMs)});
            } else if (fd >= 0) {
                int one = 1;
                setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                hostFd_ = fd;
                hostName_ = _NameOf(ss, len);
                feed_.setNote("host " + hostName_ + " connected");
            }
        }
        if (hostFd_ >= 0 && (fds[2].revents & POLLOUT)) _SendPending(false);
        if (hostFd_ >= 0 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) _ReadHost();
        if (hostFd_ >= 0 && deviceEnded_) _HostLeft("the device stopped");
    }
    for (const Refused &r : refused) close(r.fd);
    if (listenFd_ >= 0) close(listenFd_);
    listenFd_ = -1;
    if (hostFd_ >= 0) close(hostFd_);
    hostFd_ = -1;
    if (save_) fflush(save_);
}

void LinkServer::_ReadHost() {
    uint8_t buffer[65536];
    ssize_t n = recv(hostFd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    if (n <= 0) {
        _HostLeft(n == 0 ? "left" : std::string("was lost (") + strerror(errno) + ")");
        return;
    }
    splitter_.append(buffer, (size_t)n);
    _RunComplete();
    _SendPending(false);
}

void LinkServer::_RunComplete() {
    size_t complete = splitter_.completeBytes();
    if (complete == 0 || deviceEnded_) return;
    // Saved before they run: a recording must hold what the device was
    // given even if running it is the last thing this program does.
    if (save_) {
        fwrite(splitter_.data(), 1, complete, save_);
        fflush(save_);
    }
    device_.run(splitter_.data(), complete);
    splitter_.consume(complete);
    if (device_.ended()) deviceEnded_ = true;
}

void LinkServer::_SendPending(bool wait) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFlushMs);
    size_t sent = 0;
    while (sent < out_.size() && hostFd_ >= 0) {
        ssize_t n = send(hostFd_, out_.data() + sent, out_.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += (size_t)n;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!wait) break;
            int ms = (int)std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                std::chrono::steady_clock::now())
                         .count();
            if (ms <= 0 || stop_.raised()) break;
            pollfd fds[2] = {{hostFd_, POLLOUT, 0}, {stop_.fd(), POLLIN, 0}};
            poll(fds, 2, ms);
            continue;
        }
        // The host is gone; reading will tell.
        out_.clear();
        return;
    }
    out_.erase(out_.begin(), out_.begin() + (long)sent);
}

void LinkServer::_HostLeft(const std::string &why) {
    // The complete records have run; an unfinished one is dropped so that
    // the next host's first bytes are read as a header.
    size_t unfinished = splitter_.heldBytes();
    splitter_.clear();
    // A host that only stopped sending still gets its last replies.
    _SendPending(true);
    close(hostFd_);
    hostFd_ = -1;
    out_.clear();
    std::string note = "host " + hostName_ + " " + why;
    if (unfinished) note += "; " + std::to_string(unfinished) + " bytes of an unfinished record dropped";
    if (!deviceEnded_) note += "; waiting for a host on " + boundAddress_;
    feed_.setNote(note);
    hostGone_ = true;
}

}  // namespace nimbra::view
