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

// PNG_open results.
constexpr int PNG_OK = 0;
constexpr int PNG_UNSUPPORTED = 3;
constexpr int PNG_NOT_PNG = 4;
// PNG_decode results (0 as above).
constexpr int PNG_INFLATE_INIT_FAILED = 1;
constexpr int PNG_CORRUPT = 2;

struct PNG_Context {
    uint32_t width;
    uint32_t height;
    uint8_t bitDepth;       // 1, 2, 4 or 8
    uint8_t colorType;      // 0 grey, 2 truecolour, 3 indexed, 4 grey + alpha, 6 truecolour + alpha
    uint32_t rowBytes;      // one row without its filter byte
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
    uint8_t hasAlpha;       // colour types 4 and 6
};

// Called once per delivered row; the row holds rowBytes bytes, filter byte
// stripped, valid only during the call. Non-zero stops decoding.
using PNG_LineFn = int (*)(PNG_Context *ctx, const uint8_t *row, uint32_t rowIndex, int32_t x, int32_t y);

// Takes a decoder record from the pool (aligned for zlib's pointers). The
// caller holds a pool mark and returns to it afterwards. Null when the pool
// has not room for it.
PNG_Context *PNG_AllocContext();

// Checks the header: PNG_OK, PNG_UNSUPPORTED or PNG_NOT_PNG. The header's
// fields are set as far as the checks got. Needs no memory but `header`.
int PNG_ReadHeader(const uint8_t *data, uint32_t size, PNG_Header *header);
// PNG_ReadHeader into the decoder record, which also keeps the data.
int PNG_open(PNG_Context *ctx, const uint8_t *data, uint32_t size);
int PNG_decode(PNG_Context *ctx, int32_t x, int32_t y, PNG_LineFn lineFn);
void DeFilterLine(uint8_t filterType, uint8_t *line, const uint8_t *prevLine, uint32_t width, uint32_t rowBytes);

// RGB332 index of an 8-bit-per-channel colour, rounded to the nearest level.
static inline uint8_t PNG_QuantizeRGB(uint32_t r, uint32_t g, uint32_t b) {
    return (uint8_t)((((r * 1799u + 32768u) >> 16) << 5) | (((g * 1799u + 32768u) >> 16) << 2) |
                     ((b * 771u + 32768u) >> 16));
}
