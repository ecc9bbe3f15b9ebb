// Helpers for pixel tests of the graphics primitives: a reference colour
// mix written field by field, frame-buffer snapshots and comparisons, the
// idle check of both antialiasing engines, and golden crops kept as PNG.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace guitest {

constexpr int W = 640;
constexpr int H = 400;

// The blend of fore over back with weight f eighths, computed channel by
// channel: red and green move by floor((fore - back) * f / 8), blue the same
// on twice its value, then halved.
uint8_t refMix(uint8_t fore, uint8_t back, int f);
// What the engines make of a pixel of coverage c (1..16) over back.
uint8_t refCoverage(uint8_t fore, uint8_t back, int coverage);

// Fills the whole frame buffer with one index.
void fillFrame(uint8_t index);
std::vector<uint8_t> snapshot();
uint8_t pixel(int x, int y);
// Pixels that differ between two snapshots inside / outside a rectangle
// (inclusive pixel corners).
int countDiffInside(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b, int x0, int y0, int x1, int y1);
int countDiffOutside(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b, int x0, int y0, int x1, int y1);
// Bounding box of the pixels that are not `background`; false when none.
bool paintedBox(uint8_t background, int *x0, int *y0, int *x1, int *y1);
// Both engines idle and the coverage buffer all zero.
::testing::AssertionResult enginesIdle();
// Frame-buffer region equals its golden PNG under tests/golden/ (RGB of the
// indices). With NIMBRA_UPDATE_GOLDEN=1 in the environment the file is
// written instead. On a mismatch the first differing pixel is reported and
// the actual crop is written beside the build as <name>.actual.png.
::testing::AssertionResult matchesGolden(const std::string &name, int x0, int y0, int w, int h);

}  // namespace guitest
