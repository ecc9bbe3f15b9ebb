// The viewer's window (SDL2): a thin layer that turns events into the
// viewer's keys and pointer, and shows composeView's picture at an integer
// scale.
#pragma once
#include <string>

#include "tools/view/viewer.h"

namespace nimbra::view {

struct WindowOptions {
    int scale = 0;            // 1 to 3; 0: the largest that fits the display
    std::string title;
    bool exitAtEnd = false;   // close once the input has ended and its last frame is shown
};

// Runs the window until it is closed (or the input ends, with exitAtEnd).
// False, with `error`, when no window can be opened.
bool runWindow(Viewer &viewer, const Feed &feed, const WindowOptions &options, std::string &error);

}  // namespace nimbra::view
