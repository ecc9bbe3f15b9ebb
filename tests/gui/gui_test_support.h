// Helpers for pixel tests of the graphics primitives: a reference colour
// mix written field by field, frame-buffer snapshots and comparisons, the
// idle check of both antialiasing engines, and golden crops kept as PNG.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/device_fixture.h"

namespace guitest {

constexpr int W = 640;
constexpr int H = 400;
constexpr uint8_t BG = 0x49;   // a mid colour, so that mixes in both directions show
constexpr uint8_t FG = 0xFF;

using Frame = std::vector<uint8_t>;
struct Box {
    int x0, y0, x1, y1;   // inclusive pixel corners
    bool operator==(const Box &) const = default;
};
inline std::ostream &operator<<(std::ostream &out, const Box &b) {
    return out << "(" << b.x0 << ", " << b.y0 << ")-(" << b.x1 << ", " << b.y1 << ")";
}
constexpr Box kScreen{0, 0, W - 1, H - 1};

// The blend of fore over back with weight f eighths, computed channel by
// channel: red and green move by floor((fore - back) * f / 8), blue the same
// on twice its value, then halved.
uint8_t refMix(uint8_t fore, uint8_t back, int f);
// What the engines make of a pixel of coverage c (1..16) over back.
uint8_t refCoverage(uint8_t fore, uint8_t back, int coverage);

void fillFrame(uint8_t index);
Frame snapshot();
uint8_t pixel(int x, int y);
// Pixels that differ between two snapshots inside / outside a box.
int diffIn(const Frame &a, const Frame &b, Box r = kScreen);
int diffOut(const Frame &a, const Frame &b, Box r);
// Bounding box of the pixels that are not `background`; x1 < 0 when none.
Box painted(uint8_t background = BG);
inline bool nothingPainted(uint8_t background = BG) { return painted(background).x1 < 0; }
// The frame `draw` leaves on a screen of BG; the frame buffer is kept.
Frame drawnAlone(const std::function<void()> &draw);
// Drawing under a clip gives the unclipped pixels inside it and BG outside.
::testing::AssertionResult clipsExactly(const std::function<void()> &draw, Box clip);
// The frame buffer equals `expected`; the failure shows the first difference.
::testing::AssertionResult frameIs(const Frame &expected, const uint8_t *actual = nullptr);
// Both engines idle and the coverage buffer all zero.
::testing::AssertionResult enginesIdle();
// Frame-buffer region equals its golden PNG under tests/golden/ (RGB of the
// indices). With NIMBRA_UPDATE_GOLDEN=1 in the environment the file is
// written instead. On a mismatch the first differing pixel is reported and
// the actual crop is written beside the build as <name>.actual.png.
::testing::AssertionResult matchesGolden(const std::string &name, int x0, int y0, int w, int h);

}  // namespace guitest

// A reset device with the frame buffer painted BG and the colour white.
class ShapeTest : public BareDeviceTest {
protected:
    void SetUp() override;
};
