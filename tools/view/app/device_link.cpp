// The device core run in the viewer's process for the link.
#include "tools/view/app/device_link.h"

#include "host/main.h"

namespace nimbra::view {

namespace {

// The device's seams are plain function pointers: these are where they lead.
Feed *gFeed = nullptr;
LinkServer *gServer = nullptr;

void _FrameOut(const uint8_t *bytes, size_t length) {
    if (gFeed && length == kFrameBytes) gFeed->pushFrame(bytes);
}

void _PacketOut(const uint8_t *bytes, size_t length) {
    if (gServer) gServer->reply(bytes, length);
}

}  // namespace

LinkDevice inProcessDevice() {
    return LinkDevice{[](const uint8_t *records, size_t length) { SIM_RunRecordBytes(records, length); },
                      [] { return running == 0; }};
}

void startInProcessDevice(Feed &feed, LinkServer &server) {
    gFeed = &feed;
    gServer = &server;
    SIM_frameSink = _FrameOut;
    SIM_packetSink = _PacketOut;
    SIM_StartDevice();
}

}  // namespace nimbra::view
