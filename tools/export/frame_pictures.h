// Frames as RGB pictures: enlarged for video, shrunk for contact sheets and
// thumbnails, with numbers written on them.
#pragma once
#include <cstdint>
#include <vector>

#include "tools/hostlib/bitmap_font.h"
#include "tools/hostlib/indexed_frame.h"

namespace nimbra {

struct RgbPicture {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;   // width x height x 3, rows top to bottom

    RgbPicture() = default;
    RgbPicture(uint32_t w, uint32_t h, Rgb fill);
    uint8_t *at(uint32_t x, uint32_t y) { return &rgb[((size_t)y * width + x) * 3]; }
    const uint8_t *at(uint32_t x, uint32_t y) const { return &rgb[((size_t)y * width + x) * 3]; }
    void set(uint32_t x, uint32_t y, Rgb c);
};

// The frame with each pixel repeated `scale` x `scale` times.
RgbPicture enlargeFrame(const IndexedFrame &frame, int scale);
// The frame shrunk by `factor` (1 to 16, a divisor of 640 and 400), each
// picture pixel the rounded mean of a factor x factor block.
RgbPicture shrinkFrame(const IndexedFrame &frame, int factor);
// The same as indices of the frame's mode: a colour mean becomes its
// nearest RGB332 colour, a grey mean its grey level. For thumbnails.
std::vector<uint8_t> shrinkFrameIndices(const IndexedFrame &frame, int factor);

// Writes `number` in decimal with a 5 x 7 digit font, each font pixel
// `scale` x `scale` picture pixels, its top-left corner at (x, y); what
// falls outside the picture is left out. Returns the width written.
uint32_t drawNumber(RgbPicture &picture, int32_t x, int32_t y, uint64_t number, int scale, Rgb colour);
// The width drawNumber takes.
uint32_t numberWidth(uint64_t number, int scale);
constexpr int kDigitHeight = kGlyphHeight;

}  // namespace nimbra
