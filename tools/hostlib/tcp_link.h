// The simulator's TCP link, host side. A host connects to a simulator that
// waits for it (`nimbra-view --listen`), sends the same record stream it
// would send to nimbra-sim (8-byte header, payload), and reads back the
// reply packets exactly as nimbra-sim writes them to standard error (2-byte
// little-endian length, AA FF, payload), in order, on the same connection.
// One host at a time: a simulator that already has one answers with one line
// of text and closes, which readPacket reports as the reason.
#pragma once
#include <cstdint>
#include <netdb.h>
#include <string>

#include "tools/hostlib/nimbra_host.h"

namespace nimbra {

constexpr const char *kDefaultLinkAddress = "127.0.0.1:7470";
constexpr uint16_t kDefaultLinkPort = 7470;

// Splits "HOST:PORT", "[IPV6]:PORT", ":PORT" or "PORT"; a missing host is
// the loopback address 127.0.0.1. False (with `error` set) on anything else.
bool splitHostPort(const std::string &address, std::string &host, uint16_t &port, std::string &error);

// The stream socket addresses of "HOST:PORT" (as splitHostPort reads it),
// for connecting or, with `passive`, for listening; free them with
// freeaddrinfo. Null (with `error` set) when the address does not resolve.
addrinfo *resolveHostPort(const std::string &address, bool passive, std::string &error);

class TcpLink {
public:
    TcpLink() = default;
    ~TcpLink();
    TcpLink(TcpLink &&other) noexcept;
    TcpLink &operator=(TcpLink &&other) noexcept;
    TcpLink(const TcpLink &) = delete;
    TcpLink &operator=(const TcpLink &) = delete;

    // Connects, trying each address the name resolves to, within `timeoutMs`.
    bool connect(const std::string &address, std::string &error, int timeoutMs = 5000);
    bool connected() const { return fd_ >= 0; }

    // Sends one record with `payload` (at most 2048 bytes).
    bool sendRecord(const Bytes &payload, std::string &error);
    // Sends bytes as they are (records already framed, or anything else).
    bool sendBytes(const uint8_t *bytes, size_t length, std::string &error);
    bool sendBytes(const Bytes &bytes, std::string &error) { return sendBytes(bytes.data(), bytes.size(), error); }

    enum class ReadStatus {
        Packet,    // `packet` holds the next reply
        Timeout,   // nothing complete arrived in time; nothing is lost
        Closed,    // the simulator closed the connection between packets
        Failed,    // connection error, refusal or a malformed stream (`error` says which)
    };
    ReadStatus readPacket(Packet &packet, int timeoutMs, std::string &error);

    // Tells the simulator that nothing more will be sent; replies still come.
    void finishSending();
    void close();

private:
    int fd_ = -1;
    Bytes pending_;   // bytes received and not yet returned as packets
};

}  // namespace nimbra
