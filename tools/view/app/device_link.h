// The device the link drives, run in this process: the device core library
// with its output seams pointed at the viewer. Running it here rather than
// as a nimbra-sim child lets every reply go to the host whose record caused
// it (a pipe would mix the last replies of a host that just left with the
// next host's), and costs no copy of each frame through a pipe.
#pragma once
#include "tools/view/feed.h"
#include "tools/view/link_server.h"

namespace nimbra::view {

// The device's record loop, for LinkServer.
LinkDevice inProcessDevice();
// Points the device's frames at `feed` and its replies at `server`, then
// starts it (the boot screen becomes frame 0). Call once per process.
void startInProcessDevice(Feed &feed, LinkServer &server);

}  // namespace nimbra::view
