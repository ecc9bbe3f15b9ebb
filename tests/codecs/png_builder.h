// Test-side PNG files: small images of any colour type, depth and filter,
// built from unfiltered rows with zlib and an own chunk writer, so that
// expected pixels never come from the decoder under test.
#pragma once
#include <cstdint>
#include <vector>

#include "tools/hostlib/png_files.h"

namespace pngtest {

using nimbra::Bytes;

// Packs samples of `depth` bits, leftmost in the high-order bits.
Bytes packSamples(const std::vector<uint32_t> &samples, int depth);

// Applies PNG filter `filter` (0 to 4) to `row`; `prev` is the previous
// unfiltered row (all zeros for the first). bpp is the byte distance of the
// left neighbour.
Bytes filterRow(uint8_t filter, const Bytes &row, const Bytes &prev, size_t bpp);

struct PngSpec {
    uint32_t width = 0;
    uint32_t height = 0;
    uint8_t depth = 8;
    uint8_t colorType = 0;
    std::vector<Bytes> rows;          // unfiltered row bytes
    std::vector<uint8_t> filters;     // one per row; missing rows use filter 0
    Bytes palette;                    // PLTE data, written when not empty
    bool orv = false;                 // write the "orVL" marker
    bool orvAfterPalette = false;     // ... after PLTE instead of before it
    size_t idatPiece = 0;             // split the image data into IDAT chunks of this size (0: one chunk)
    size_t rowsToCompress = SIZE_MAX; // compress only the first rows
    bool withIend = true;
    bool badCrcs = false;             // spoil every chunk CRC
    bool presetDictionary = false;    // the zlib header asks for a preset dictionary
    uint8_t interlace = 0;

    size_t bytesPerPixelForFilter() const;
    Bytes build() const;
};

}  // namespace pngtest
