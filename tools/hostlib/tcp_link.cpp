// Host side of the simulator's TCP link: connect, send records, read reply
// packets with a timeout.
#include "tools/hostlib/tcp_link.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace nimbra {

namespace {

constexpr size_t kPacketHeaderBytes = 4;

bool _ParsePort(const std::string &text, uint16_t &port) {
    if (text.empty() || text.size() > 5) return false;
    unsigned v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (unsigned)(c - '0');
    }
    if (v == 0 && text != "0") return false;
    if (v > 65535) return false;
    port = (uint16_t)v;
    return true;
}

int _RemainingMs(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : (int)left.count();
}

}  // namespace

bool splitHostPort(const std::string &address, std::string &host, uint16_t &port, std::string &error) {
    std::string hostPart, portPart;
    if (!address.empty() && address[0] == '[') {
        size_t close = address.find(']');
        if (close == std::string::npos || close + 1 >= address.size() || address[close + 1] != ':') {
            error = "expected [ADDRESS]:PORT, got '" + address + "'";
            return false;
        }
        hostPart = address.substr(1, close - 1);
        portPart = address.substr(close + 2);
    } else {
        size_t colon = address.rfind(':');
        if (colon == std::string::npos) {
            portPart = address;
        } else {
            hostPart = address.substr(0, colon);
            portPart = address.substr(colon + 1);
            if (hostPart.find(':') != std::string::npos) {
                error = "write an IPv6 address in brackets ([::1]:7470), got '" + address + "'";
                return false;
            }
        }
    }
    if (!_ParsePort(portPart, port)) {
        error = "expected ADDRESS:PORT with a port from 0 to 65535, got '" + address + "'";
        return false;
    }
    host = hostPart.empty() ? "127.0.0.1" : hostPart;
    return true;
}

addrinfo *resolveHostPort(const std::string &address, bool passive, std::string &error) {
    std::string host;
    uint16_t port = 0;
    if (!splitHostPort(address, host, port, error)) return nullptr;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | (passive ? AI_PASSIVE : 0);
    addrinfo *list = nullptr;
    int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
    if (rc != 0) {
        error = "cannot resolve " + host + ": " + gai_strerror(rc);
        return nullptr;
    }
    return list;
}

TcpLink::~TcpLink() { close(); }

TcpLink::TcpLink(TcpLink &&other) noexcept : fd_(other.fd_), pending_(std::move(other.pending_)) { other.fd_ = -1; }

TcpLink &TcpLink::operator=(TcpLink &&other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        pending_ = std::move(other.pending_);
        other.fd_ = -1;
    }
    return *this;
}

void TcpLink::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    pending_.clear();
}

void TcpLink::finishSending() {
    if (fd_ >= 0) shutdown(fd_, SHUT_WR);
}

bool TcpLink::connect(const std::string &address, std::string &error, int timeoutMs) {
    close();
    addrinfo *list = resolveHostPort(address, false, error);
    if (!list) return false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    error = "cannot connect to " + address;
    for (addrinfo *ai = list; ai; ai = ai->ai_next) {
        int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
        if (fd < 0) continue;
        int err = 0;
        if (::connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
            err = errno;
            if (err == EINPROGRESS) {
                pollfd p = {fd, POLLOUT, 0};
                int n;
                while ((n = poll(&p, 1, _RemainingMs(deadline))) < 0 && errno == EINTR) {
                }
                socklen_t len = sizeof err;
                if (n <= 0) {
                    err = ETIMEDOUT;
                } else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
                    err = errno;
                }
            }
        }
        if (err == 0) {
            // Records are small and a host waits for their replies: send
            // each at once.
            int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            fd_ = fd;
            break;
        }
        ::close(fd);
        error = "cannot connect to " + address + ": " + strerror(err);
    }
    freeaddrinfo(list);
    return fd_ >= 0;
}

bool TcpLink::sendRecord(const Bytes &payload, std::string &error) {
    if (payload.size() > kMaxRecordPayload) {
        error = "a record payload holds at most " + std::to_string(kMaxRecordPayload) + " bytes, not " +
                std::to_string(payload.size());
        return false;
    }
    Bytes record = makeRecord(payload);
    return sendBytes(record.data(), record.size(), error);
}

bool TcpLink::sendBytes(const uint8_t *bytes, size_t length, std::string &error) {
    if (fd_ < 0) {
        error = "not connected";
        return false;
    }
    while (length > 0) {
        ssize_t n = send(fd_, bytes, length, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The simulator is busy: wait until it takes more.
            pollfd p = {fd_, POLLOUT, 0};
            if (poll(&p, 1, -1) < 0 && errno != EINTR) {
                error = std::string("cannot send: ") + strerror(errno);
                return false;
            }
            continue;
        }
        if (n <= 0) {
            error = std::string("cannot send: ") + strerror(errno);
            return false;
        }
        bytes += n;
        length -= (size_t)n;
    }
    return true;
}

TcpLink::ReadStatus TcpLink::readPacket(Packet &packet, int timeoutMs, std::string &error) {
    if (fd_ < 0) {
        error = "not connected";
        return ReadStatus::Failed;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        if (pending_.size() >= kPacketHeaderBytes) {
            if (pending_[2] != 0xAA || pending_[3] != 0xFF) {
                // Not a packet: a simulator that has a host already says so
                // in one line of text before it closes.
                pollfd p = {fd_, POLLIN, 0};
                uint8_t buf[512];
                while (pending_.size() < 512 && poll(&p, 1, 200) > 0) {
                    ssize_t n = recv(fd_, buf, sizeof buf, 0);
                    if (n <= 0) break;
                    pending_.insert(pending_.end(), buf, buf + n);
                }
                std::string text;
                for (uint8_t c : pending_) {
                    if (c == '\n') break;
                    text += (c >= 0x20 && c < 0x7F) ? (char)c : '?';
                }
                error = "the simulator refused the link or sent no packet: " + text;
                return ReadStatus::Failed;
            }
            size_t length = (size_t)pending_[0] | ((size_t)pending_[1] << 8);
            if (pending_.size() - kPacketHeaderBytes >= length) {
                packet.payload.assign(pending_.begin() + kPacketHeaderBytes,
                                      pending_.begin() + (long)(kPacketHeaderBytes + length));
                pending_.erase(pending_.begin(), pending_.begin() + (long)(kPacketHeaderBytes + length));
                return ReadStatus::Packet;
            }
        }
        pollfd p = {fd_, POLLIN, 0};
        int n = poll(&p, 1, _RemainingMs(deadline));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = std::string("cannot read: ") + strerror(errno);
            return ReadStatus::Failed;
        }
        if (n == 0) return ReadStatus::Timeout;
        uint8_t buf[8192];
        ssize_t got = recv(fd_, buf, sizeof buf, 0);
        if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (got < 0) {
            error = std::string("cannot read: ") + strerror(errno);
            return ReadStatus::Failed;
        }
        if (got == 0) {
            if (pending_.empty()) return ReadStatus::Closed;
            error = "the connection closed inside a packet";
            return ReadStatus::Failed;
        }
        pending_.insert(pending_.end(), buf, buf + got);
    }
}

}  // namespace nimbra
