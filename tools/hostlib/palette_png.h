// 8-bit palette PNGs: the way frames are written. A frame's 256 possible
// colours fit a palette exactly, so the file is lossless and about a third
// the size of an RGB one, and quicker to write.
#pragma once
#include <cstdint>
#include <string>

#include "tools/hostlib/indexed_frame.h"

namespace nimbra {

struct PaletteImage {
    uint32_t width = 0, height = 0;
    const uint8_t *index = nullptr;   // width x height indices, rows top to bottom
    const Rgb *colours = nullptr;     // the palette
    int colourCount = 256;            // 1 to 256 entries, every index below it
    // Alpha of the first `alphaCount` entries (the rest are opaque).
    const uint8_t *alpha = nullptr;
    int alphaCount = 0;
};

// Encodes the image into `out` (replaced). False, with the reason, when the
// image is malformed (no pixels, an index past the palette).
bool encodePalettePng(const PaletteImage &image, Bytes &out, std::string &error);

// A frame as a palette PNG (its mode's palette).
bool encodeFramePng(const IndexedFrame &frame, Bytes &out, std::string &error);
// Writes it to `path` whole or not at all; the reason for a failure in `error`.
bool writeFramePalettePng(const IndexedFrame &frame, const std::string &path, std::string &error);

}  // namespace nimbra
