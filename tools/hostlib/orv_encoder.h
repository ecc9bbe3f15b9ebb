// Encoding images in the device's own PNG variant (ORV): a PNG whose palette
// entries or grey samples are RGB332 colour indices, marked by an empty
// "orVL" chunk right after the header. Ordinary viewers show such a file as
// a grey picture whose levels are the index values.
#pragma once
#include <cstdint>
#include <string>

#include "tools/hostlib/png_files.h"

namespace nimbra {

enum class OrvLayout {
    Auto,       // palette when every pixel is opaque, grey with alpha otherwise
    Palette,    // colour type 3: packed palette indices, each entry an RGB332 index
    Grey,       // colour type 0, depth 8: one RGB332 index per pixel
    GreyAlpha,  // colour type 4, depth 8: RGB332 index and alpha per pixel
};

struct OrvOptions {
    OrvLayout layout = OrvLayout::Auto;
    int paletteDepth = 0;   // 1, 2, 4 or 8 for palette images; 0 picks the smallest that holds the colours
};

struct OrvSummary {
    OrvLayout layout = OrvLayout::Auto;   // the layout written
    int bitDepth = 0;
    int paletteEntries = 0;               // 0 unless a palette was written
};

// The RGB332 index nearest to an 8-bit-per-channel colour (halves round up).
uint8_t rgb332(uint8_t r, uint8_t g, uint8_t b);
// The alpha value stored for a source alpha: the device blends in eighths
// (weight (alpha + 15) >> 5) and treats alpha 7 as opaque, so each source
// alpha is stored as the one canonical value of its weight: 0, 17, 49, ...,
// 209, 255. This keeps what the device shows and compresses better.
uint8_t orvAlpha(uint8_t alpha);

// Encodes the image; false with a message when the options cannot hold it
// (transparent pixels in an opaque layout, too many colours for the depth,
// an image too wide for the device's row limit).
bool encodeOrv(const RgbaImage &image, const OrvOptions &options, Bytes &out, std::string &error,
               OrvSummary *summary = nullptr);

}  // namespace nimbra
