// What the viewer shows and what its keys do, with no window: the window
// (or a test) calls these and draws the picture composeView makes.
//
// The shown frame is the newest one of the ring, refreshed at the display's
// pace, until the view is paused: then it stays, and the arrow keys step to
// the frame before or after it while those are still in the ring. The view
// keeps its own copy of the shown frame, so a paused frame stays on screen
// even after the ring has moved past it.
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "tools/view/feed.h"

namespace nimbra::view {

enum class Key { Pause, Previous, Next, Save, Grid, Quit };

// The window's picture: the screen, and the status lines under it.
constexpr int kStatusLines = 3;
constexpr int kStatusHeight = kStatusLines * 10 + 4;
constexpr int kViewWidth = kScreenWidth;
constexpr int kViewHeight = kScreenHeight + kStatusHeight;
constexpr int kGridStep = 10;   // pixels between grid lines

class Viewer {
public:
    // Frames saved with the save key go to `saveDir`.
    explicit Viewer(Feed &feed, std::string saveDir = ".");

    // Takes the newest frame unless paused, and samples the frame rate;
    // `nowSeconds` is any steady clock. True when the picture changed.
    bool refresh(double nowSeconds);
    void press(Key key);
    // The pointer over the window's picture, in picture pixels of a window
    // drawn at `scale`; call leave() when it is outside.
    void pointAt(int windowX, int windowY, int scale);
    void leave();

    bool paused() const { return paused_; }
    bool grid() const { return grid_; }
    bool quitRequested() const { return quit_; }
    // The frame on screen; null before the first one.
    const IndexedFrame *shown() const { return hasFrame_ ? &shown_ : nullptr; }
    // The last key's message ("saved ...", "newest frame").
    const std::string &message() const { return message_; }
    // Frames per second arriving from the source, over the last second.
    double framesPerSecond() const { return fps_; }

    // The status lines as text.
    std::vector<std::string> statusLines() const;
    // Writes the shown frame as a PNG; false (with `error`) when there is
    // none or it cannot be written.
    bool snapshot(const std::string &path, std::string &error) const;

private:
    void _Step(int direction);

    Feed &feed_;
    std::string saveDir_;
    IndexedFrame shown_;
    bool hasFrame_ = false;
    bool paused_ = false;
    bool grid_ = false;
    bool quit_ = false;
    std::string message_;
    bool pointerInside_ = false;
    int pointerXh_ = 0, pointerYh_ = 0;   // half pixels
    std::deque<std::pair<double, uint64_t>> samples_;   // (time, frames received)
    double fps_ = 0;
};

// Draws the view (frame, grid, status lines) into a 0xAARRGGBB image of
// kViewWidth x kViewHeight pixels.
void composeView(const Viewer &viewer, uint32_t *image);

// A file name in `dir` for frame `number` that no file has yet.
std::string freeFramePath(const std::string &dir, uint64_t number);

}  // namespace nimbra::view
