// The simulator's end of the TCP link: it waits for a host, runs the records
// the host sends on the device, and sends the device's reply packets back
// on the same connection, byte for byte as nimbra-sim writes them to
// standard error. One host at a time; a second one is told so in one line of
// text and closed. The device keeps its state from host to host: a host
// that leaves sends it nothing, and an unfinished record it leaves behind is
// dropped, so that the next host starts on a record of its own.
//
// Everything the device ran can be saved as a recording that nimbra-sim
// replays to the same frames.
#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "tools/view/feed.h"
#include "tools/view/record_splitter.h"
#include "tools/view/stream_source.h"

namespace nimbra::view {

// The device the link drives. `run` executes whole records (and the lone
// headers of over-long ones) as the device's record loop reads them; the
// device's replies come back through LinkServer::reply while it runs.
// `ended` tells that the device has stopped reading (the end-of-stream
// command).
struct LinkDevice {
    std::function<void(const uint8_t *records, size_t length)> run;
    std::function<bool()> ended;
};

constexpr const char *kBusyMessage = "nimbra-view: busy: another host is connected; try again when it has left\n";

class LinkServer {
public:
    LinkServer(Feed &feed, LinkDevice device) : feed_(feed), device_(std::move(device)) {}
    ~LinkServer();
    LinkServer(const LinkServer &) = delete;
    LinkServer &operator=(const LinkServer &) = delete;

    // Binds and listens ("HOST:PORT"; port 0 takes a free one).
    bool listen(const std::string &address, std::string &error);
    // The address hosts connect to, as bound ("127.0.0.1:7470").
    const std::string &address() const { return boundAddress_; }
    // Writes every byte the device runs to `path` (created or truncated).
    bool saveTo(const std::string &path, std::string &error);
    // Serves hosts on a thread of its own; with `once`, the input ends when
    // the first host leaves.
    void start(bool once);
    void stop();

    // One reply packet of the device (header and payload), for the host.
    void reply(const uint8_t *packet, size_t length);

private:
    void _Serve(bool once);
    void _Accept();
    void _ReadHost();
    void _RunComplete();
    void _SendPending(bool wait);
    void _HostLeft(const std::string &why);

    Feed &feed_;
    LinkDevice device_;
    StopSignal stop_;
    std::thread thread_;
    int listenFd_ = -1;
    int hostFd_ = -1;
    std::string hostName_;
    std::string boundAddress_;
    FILE *save_ = nullptr;
    std::string savePath_;
    RecordSplitter splitter_;
    Bytes out_;              // replies not yet sent to the host
    bool deviceEnded_ = false;
    bool hostGone_ = false;  // set when a host has left (for `once`)
};

}  // namespace nimbra::view
