// Frames as the device holds them: one RGB332 colour index per pixel (a
// quarter of an output frame's bytes, and exact). An output frame writes
// each index as blue, green and red from the device's levels, or, in grey
// mode, as the index byte itself in all three; the colour bytes of the 256
// indices are all distinct, so the bytes give the indices back exactly.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/hostlib/nimbra_host.h"

namespace nimbra {

constexpr size_t kScreenPixels = (size_t)kScreenWidth * kScreenHeight;

enum class PixelMode : uint8_t {
    Colour,   // the indices are RGB332 colours
    Grey,     // the indices are grey levels (the device's grey mode)
};

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb &) const = default;
};
using Palette = std::array<Rgb, 256>;

// The colour of each index: the device's RGB332 levels, or 256 greys.
const Palette &paletteOf(PixelMode mode);

struct IndexedFrame {
    uint64_t number = 0;            // position in the stream, the boot screen being 0
    uint32_t processedBytes = 0;    // the frame's header: stream bytes read when it was shown
    PixelMode mode = PixelMode::Colour;
    std::vector<uint8_t> index;     // kScreenPixels indices, rows top to bottom

    uint8_t at(int x, int y) const { return index[(size_t)y * kScreenWidth + x]; }
    Rgb rgbAt(int x, int y) const { return paletteOf(mode)[at(x, y)]; }
};

// Reads one output frame (kFrameBytes: the 4-byte header, then blue, green,
// red and 0xAA per pixel) into `out`, whose buffer is reused. A frame is
// colour when every pixel is one of the 256 colours, else grey when every
// pixel has three equal bytes; a frame of black and white only is both, and
// gives the same indices either way (it is called colour). Anything else is
// no device frame: false, with the first pixel that is neither in `error`.
bool indexFrame(const uint8_t *frameBytes, IndexedFrame &out, std::string *error = nullptr);
// The same for the pixels alone (kScreenPixels x 4 bytes); the header is
// left as it was.
bool indexFramePixels(const uint8_t *pixels, IndexedFrame &out, std::string *error = nullptr);

// The output frame's bytes again (kFrameBytes).
void expandFrame(const IndexedFrame &frame, uint8_t *frameBytes);

// Where two frames differ: the count of differing pixels and the box that
// holds them (inclusive; empty when count is 0). Frames of different modes
// are compared by colour.
struct FrameChange {
    size_t count = 0;
    int x0 = 0, y0 = 0, x1 = -1, y1 = -1;
    bool empty() const { return count == 0; }
};
// With `mask`, also marks each differing pixel (1, else 0; kScreenPixels).
FrameChange compareFrames(const IndexedFrame &before, const IndexedFrame &after,
                          std::vector<uint8_t> *mask = nullptr);

}  // namespace nimbra
