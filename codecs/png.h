// A small allocation-free PNG reader for images held whole in memory.
//
// PNG_open checks the header; PNG_decode walks the chunks, inflates the image
// data row by row, undoes the row filters and hands each finished row to a
// line function. It never converts colours and never touches the frame
// buffer. All working memory, the inflater's included, lives in one
// PNG_Context that the caller takes from the pool for one call.
//
// The device's own variant of PNG carries a private chunk "orVL"; in such a
// file palette entries and grey samples are RGB332 colour indices. The reader
// only records the marker and reads the palette accordingly.
#pragma once
#include <cstdint>
#include <zlib.h>

#include "codecs/inflate_area.h"

// The inflater's working memory lives in the decoder record (see
// codecs/inflate_area.h for how it is sized and handed to zlib).
constexpr uint32_t PNG_INFLATE_STATE_BYTES = INFLATE_STATE_BYTES;
constexpr uint32_t PNG_WINDOW_BYTES = INFLATE_WINDOW_BYTES;
constexpr uint32_t PNG_MAX_ROW_BYTES = 2560;
constexpr uint32_t PNG_OUT_LINE_PIXELS = 640;
constexpr uint32_t PNG_PALETTE_ENTRIES = 256;
// What one decoder takes from the pool: the record and room to align it.
constexpr uint32_t PNG_CONTEXT_BYTES = 46248;

// The results of the reader and of drawing (codecs/GUI_PNG.h).
enum PngResult : int {
    PNG_OK = 0,
    // PNG_decode: the inflater could not start.
    PNG_INFLATE_INIT_FAILED = 1,
    // Drawing: no pool room for the decoder record. The same value as a
    // failed inflater: either way the decoder cannot start.
    PNG_NO_POOL = 1,
    // PNG_decode: a chunk reaches past the data, a palette is too long, or
    // the compressed data is damaged.
    PNG_CORRUPT = 2,
    // PNG_open: the header asks for what this reader does not do.
    PNG_UNSUPPORTED = 3,
    // PNG_open: not a PNG file.
    PNG_NOT_PNG = 4,
    // Drawing: the image is one pixel wide or high, or lies wholly above or
    // left of the origin; nothing is drawn.
    PNG_NOT_DRAWABLE = -1,
};

// Colour types (the PNG standard, 11.2.2 IHDR, Table 11.1).
enum PngColorType : uint8_t {
    PNG_GREY = 0,
    PNG_TRUECOLOUR = 2,
    PNG_INDEXED = 3,
    PNG_GREY_ALPHA = 4,
    PNG_TRUECOLOUR_ALPHA = 6,
};

// Filter types of filter method 0 (the PNG standard, 9.2); any other type
// leaves its row as it is.
enum PngFilterType : uint8_t {
    PNG_ROW_FILTER_NONE = 0,
    PNG_ROW_FILTER_SUB = 1,
    PNG_ROW_FILTER_UP = 2,
    PNG_ROW_FILTER_AVERAGE = 3,
    PNG_ROW_FILTER_PAETH = 4,
};

// What a line function returns.
constexpr int PNG_LINE_GO_ON = 0;
constexpr int PNG_LINE_STOP = -1;

struct PNG_Context {
    uint32_t width;
    uint32_t height;
    uint8_t bitDepth;       // 1, 2, 4 or 8
    uint8_t colorType;      // a PngColorType
    uint32_t rowBytes;      // one row without its filter byte
    uint32_t bytesPerPixel; // the filters' bpp: bytes of a complete pixel, at least 1
    uint8_t hasAlpha;
    uint8_t orvFormat;      // 1 once the "orVL" marker has been seen
    uint32_t dataLen;
    const uint8_t *data;    // the caller's PNG data, read only

    z_stream stream;
    InflateArea inflateArea;   // the inflater's state and window: no heap

    uint8_t colorMap[PNG_PALETTE_ENTRIES];              // palette as colour indices
    uint8_t lineBuffers[2][PNG_MAX_ROW_BYTES + 1];      // filter byte + row, current and previous
    uint8_t outLine[PNG_OUT_LINE_PIXELS];               // one converted row of colour indices
};

static_assert(sizeof(PNG_Context) + alignof(PNG_Context) <= PNG_CONTEXT_BYTES,
              "the decoder record must fit the pool block taken for it");

// What the header tells, read without a decoder record.
struct PNG_Header {
    uint32_t width;
    uint32_t height;
    uint8_t bitDepth;
    uint8_t colorType;
    uint32_t rowBytes;      // one row without its filter byte
    uint32_t bytesPerPixel; // the filters' bpp: bytes of a complete pixel, at least 1
    uint8_t hasAlpha;       // colour types 4 and 6
};

// Called once per delivered row; the row holds rowBytes bytes, filter byte
// stripped, valid only during the call. PNG_LINE_GO_ON or PNG_LINE_STOP (any
// other non-zero value stops too).
using PNG_LineFn = int (*)(PNG_Context *ctx, const uint8_t *row, uint32_t rowIndex, int32_t x, int32_t y);

// Takes a decoder record from the pool (aligned for zlib's pointers). The
// caller holds a pool mark and returns to it afterwards. Null when the pool
// has not room for it.
PNG_Context *PNG_AllocContext();

// Checks the header: PNG_OK, PNG_UNSUPPORTED or PNG_NOT_PNG. The header's
// fields are set as far as the checks got. Needs no memory but `header`.
[[nodiscard]] PngResult PNG_ReadHeader(const uint8_t *data, uint32_t size, PNG_Header *header);
// PNG_ReadHeader into the decoder record, which also keeps the data.
[[nodiscard]] PngResult PNG_open(PNG_Context *ctx, const uint8_t *data, uint32_t size);
// Delivers the rows: PNG_OK (also when the line function stopped it, or the
// image data ended early and IEND followed), PNG_INFLATE_INIT_FAILED or
// PNG_CORRUPT.
[[nodiscard]] PngResult PNG_decode(PNG_Context *ctx, int32_t x, int32_t y, PNG_LineFn lineFn);
// Undoes one row's filter in place (a PngFilterType). `prevLine` is the row
// above (zeros for the first row); bytesPerPixel is the header's.
void DeFilterLine(uint8_t filterType, uint8_t *line, const uint8_t *prevLine, uint32_t bytesPerPixel,
                  uint32_t rowBytes);

// RGB332 index of an 8-bit-per-channel colour, rounded to the nearest level.
static inline uint8_t PNG_QuantizeRGB(uint32_t r, uint32_t g, uint32_t b) {
    return (uint8_t)((((r * 1799u + 32768u) >> 16) << 5) | (((g * 1799u + 32768u) >> 16) << 2) |
                     ((b * 771u + 32768u) >> 16));
}
