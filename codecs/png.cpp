// PNG reader: header check, chunk walk, row-by-row inflation and the row
// filters. Chunk CRCs are not checked; the chunk lengths are, against the
// data, before anything of a chunk is read. Clause numbers below are those
// of the PNG standard (second edition).
#include "codecs/png.h"

#include <cstring>
#include <new>

#include "codecs/png_adler32.h"
#include "gui/GUI_Alloc.h"
#include "host/bytes.h"

namespace {

constexpr uint32_t kHeaderBytes = 32;  // signature, IHDR head and its 13 bytes, and its CRC (short by one)
constexpr uint32_t kChunkHeadBytes = 8;    // length and type (5.3)
constexpr uint32_t kChunkFrameBytes = 12;  // head and CRC
constexpr uint32_t kMaxPaletteBytes = 768;   // 256 entries of red, green and blue

// Where the header's fields lie: the signature (5.2), then the IHDR chunk
// (11.2.2): length, type, width, height, bit depth, colour type, then the
// compression, filter and interlace methods.
constexpr uint32_t kIhdrType = 12, kIhdrWidth = 16, kIhdrHeight = 20, kIhdrBitDepth = 24, kIhdrColorType = 25;
constexpr uint32_t kIhdrCompression = 26, kIhdrFilter = 27, kIhdrInterlace = 28;

bool _IsType(const uint8_t *type, const char *name) { return memcmp(type, name, 4) == 0; }

// Samples per pixel of each colour type (11.2.2, Table 11.1).
uint32_t _SamplesPerPixel(uint8_t colorType) {
    switch (colorType) {
    case PNG_TRUECOLOUR: return 3;
    case PNG_GREY_ALPHA: return 2;
    case PNG_TRUECOLOUR_ALPHA: return 4;
    default: return 1;
    }
}

bool _ColorTypeKnown(uint8_t type) {
    return type == PNG_GREY || type == PNG_TRUECOLOUR || type == PNG_INDEXED || type == PNG_GREY_ALPHA ||
           type == PNG_TRUECOLOUR_ALPHA;
}

bool _InflateInit(PNG_Context *ctx) { return InflateArea_Init(&ctx->stream, &ctx->inflateArea) == Z_OK; }

void _ReadPalette(PNG_Context *ctx, const uint8_t *body, uint32_t length) {
    uint32_t entries = length / 3;
    for (uint32_t i = 0; i < entries; i++) {
        const uint8_t *rgb = body + 3 * i;
        // In the device's own images the red byte already is the colour index.
        ctx->colorMap[i] = ctx->orvFormat ? rgb[0] : PNG_QuantizeRGB(rgb[0], rgb[1], rgb[2]);
    }
}

// The Paeth predictor (9.4): p = a + b - c, and whichever of a, b, c is
// nearest p, ties going to a, then b. |p - a| = |b - c|, |p - b| = |a - c| and |p - c|
// = |a + b - 2c|; written as selections, which compile without branches
// (the choice is as good as random in real images).
inline uint8_t _Paeth(int a, int b, int c) {
    int pa = b - c, pb = a - c, pc = a + b - 2 * c;
    pa = pa < 0 ? -pa : pa;
    pb = pb < 0 ? -pb : pb;
    pc = pc < 0 ? -pc : pc;
    int bOrC = pb <= pc ? b : c;
    return (uint8_t)(pa <= pb && pa <= pc ? a : bOrC);
}

}  // namespace

PNG_Context *PNG_AllocContext() {
    // Refused rather than fatal: the pool may be held by a picture or a video
    // when an image is drawn, and that must not end the program.
    if (GUI_GetNumFreeBytes() < PNG_CONTEXT_BYTES) return nullptr;
    uintptr_t block = (uintptr_t)GUI_AllocNoInit(PNG_CONTEXT_BYTES);
    uintptr_t aligned = (block + alignof(PNG_Context) - 1) & ~(uintptr_t)(alignof(PNG_Context) - 1);
    return new (reinterpret_cast<void *>(aligned)) PNG_Context;
}

// The signature (5.2) and the IHDR chunk (11.2.2).
PngResult PNG_ReadHeader(const uint8_t *data, uint32_t size, PNG_Header *h) {
    *h = PNG_Header{};
    // Only the first four signature bytes are looked at; the rest of the
    // signature and the IHDR length are taken on trust.
    if (size < kHeaderBytes) return PNG_NOT_PNG;
    if (data[0] != 0x89 || data[1] != 'P' || data[2] != 'N' || data[3] != 'G') return PNG_NOT_PNG;
    if (!_IsType(data + kIhdrType, "IHDR")) return PNG_NOT_PNG;

    h->width = rd32be(data + kIhdrWidth);
    h->height = rd32be(data + kIhdrHeight);
    h->bitDepth = data[kIhdrBitDepth];
    h->colorType = data[kIhdrColorType];
    // Compression method 0 (deflate) and filter method 0 are the only ones
    // defined; interlace method 1 (Adam7) is refused.
    if (data[kIhdrCompression] != 0 || data[kIhdrFilter] != 0 || data[kIhdrInterlace] != 0) return PNG_UNSUPPORTED;
    uint8_t depth = h->bitDepth;
    if (depth != 1 && depth != 2 && depth != 4 && depth != 8) return PNG_UNSUPPORTED;   // 16-bit samples refused
    uint8_t type = h->colorType;
    if (!_ColorTypeKnown(type)) return PNG_UNSUPPORTED;
    h->hasAlpha = (type == PNG_GREY_ALPHA || type == PNG_TRUECOLOUR_ALPHA) ? 1 : 0;
    // The depth is not checked against the colour type: the line functions
    // draw nothing for the combinations PNG does not define.
    const uint32_t bitsPerPixel = depth * _SamplesPerPixel(type);
    uint64_t bits = (uint64_t)h->width * bitsPerPixel;
    uint64_t rowBytes = (bits + 7) / 8;
    if (rowBytes > PNG_MAX_ROW_BYTES) return PNG_UNSUPPORTED;
    h->rowBytes = (uint32_t)rowBytes;
    // The filters' bpp (9.2): the bytes of a complete pixel, rounded up, and
    // at least 1 for pixels smaller than a byte.
    h->bytesPerPixel = bitsPerPixel < 8 ? 1 : (bitsPerPixel + 7) / 8;
    return PNG_OK;
}

PngResult PNG_open(PNG_Context *ctx, const uint8_t *data, uint32_t size) {
    PNG_Header h;
    const PngResult result = PNG_ReadHeader(data, size, &h);
    ctx->width = h.width;
    ctx->height = h.height;
    ctx->bitDepth = h.bitDepth;
    ctx->colorType = h.colorType;
    ctx->rowBytes = h.rowBytes;
    ctx->bytesPerPixel = h.bytesPerPixel;
    ctx->hasAlpha = h.hasAlpha;
    ctx->orvFormat = 0;
    ctx->dataLen = size;
    ctx->data = data;
    return result;
}

// Filter types of filter method 0 (9.2), all arithmetic modulo 256: a is
// the byte bpp to the left (0 at the left edge), b the byte above, c the
// byte above a.
void DeFilterLine(uint8_t filterType, uint8_t *line, const uint8_t *prevLine, uint32_t bpp, uint32_t rowBytes) {
    switch (filterType) {
    case PNG_ROW_FILTER_SUB:
        for (uint32_t i = bpp; i < rowBytes; i++) line[i] = (uint8_t)(line[i] + line[i - bpp]);
        break;
    case PNG_ROW_FILTER_UP:
        for (uint32_t i = 0; i < rowBytes; i++) line[i] = (uint8_t)(line[i] + prevLine[i]);
        break;
    case PNG_ROW_FILTER_AVERAGE: {
        // The first pixel has nothing to its left (a = 0).
        uint32_t first = bpp < rowBytes ? bpp : rowBytes;
        for (uint32_t i = 0; i < first; i++) line[i] = (uint8_t)(line[i] + (prevLine[i] >> 1));
        for (uint32_t i = first; i < rowBytes; i++) {
            line[i] = (uint8_t)(line[i] + (((uint32_t)line[i - bpp] + prevLine[i]) >> 1));
        }
        break;
    }
    case PNG_ROW_FILTER_PAETH: {
        // With a = c = 0 the predictor is b.
        uint32_t first = bpp < rowBytes ? bpp : rowBytes;
        for (uint32_t i = 0; i < first; i++) line[i] = (uint8_t)(line[i] + prevLine[i]);
        for (uint32_t i = first; i < rowBytes; i++) {
            line[i] = (uint8_t)(line[i] + _Paeth(line[i - bpp], prevLine[i], prevLine[i - bpp]));
        }
        break;
    }
    default:
        // PNG_ROW_FILTER_NONE needs nothing; unknown filter types leave the row
        // as it is.
        break;
    }
}

// The Adler-32 check of the stream, which zlib is told to leave to us: the
// checksum of everything inflated, against the stream's last four bytes (the
// trailer, which may straddle two IDAT chunks) once inflate reports the end.
// A mismatch is reported as zlib reports it, a data error at the end of the
// call that read the trailer.
struct AdlerCheck {
    uint32_t sum = 1;
    uint8_t lastBytes[4] = {};   // the last four bytes inflate consumed

    void produced(const uint8_t *from, const uint8_t *to) { sum = PNG_Adler32(sum, from, (size_t)(to - from)); }
    void consumed(const uint8_t *from, const uint8_t *to) {
        size_t count = (size_t)(to - from);
        for (const uint8_t *p = count > 4 ? to - 4 : from; p < to; p++) {
            memmove(lastBytes, lastBytes + 1, 3);
            lastBytes[3] = *p;
        }
    }
    bool matches() const { return rd32be(lastBytes) == sum; }
};

// The two row buffers lie one after the other and are used as a ring of as
// many rows as fit (eight of a 640-pixel palette row): slot 0 holds the
// previous row, inflate fills slots 1 onwards in one call, and when the last
// slot is done its row moves to slot 0. Inflating several rows per call lets
// zlib take its fast path far more often than a row at a time does.
//
// The rows delivered are exactly those a row-at-a-time decoder delivers:
// every row completed before inflate stopped; but when inflate fails (or
// stops on anything but its normal results) right where a row completed in
// that call ends, that row is not delivered, since inflating it alone would
// have reported the failure together with it.
// The chunk walk (5.3), the palette (11.2.3), the image data (11.2.4, a
// zlib stream, 10.1) up to IEND (11.2.5).
PngResult PNG_decode(PNG_Context *ctx, int32_t x, int32_t y, PNG_LineFn lineFn) {
    const uint32_t lineLen = ctx->rowBytes + 1;
    uint8_t *const ring = ctx->lineBuffers[0];
    const uint32_t slots = (uint32_t)sizeof ctx->lineBuffers / lineLen;   // at least 2
    memset(ring, 0, lineLen);
    // A palette index past the file's palette draws black, not whatever the
    // pool held before.
    memset(ctx->colorMap, 0, sizeof ctx->colorMap);
    if (!_InflateInit(ctx)) return PNG_INFLATE_INIT_FAILED;
    // The stream's checksum is checked here rather than by zlib (see
    // _CheckAdler): the same outcome, a good deal faster.
    if (inflateValidate(&ctx->stream, 0) != Z_OK) return PNG_INFLATE_INIT_FAILED;
    AdlerCheck adler;

    z_stream &zs = ctx->stream;
    uint8_t *const firstRow = ring + lineLen;
    uint8_t *const ringEnd = ring + slots * lineLen;
    zs.next_out = firstRow;
    zs.avail_out = (uInt)(ringEnd - firstRow);
    uint8_t *nextRow = firstRow;   // the first row not yet delivered
    uint32_t rowIndex = 0;
    bool imageDataDone = ctx->height == 0;
    const uint8_t *data = ctx->data;
    const uint64_t dataLen = ctx->dataLen;
    uint64_t offset = 8;  // the header chunk; PNG_open saw at least 32 bytes

    for (;;) {
        uint32_t length = rd32be(data + offset);
        const uint8_t *type = data + offset + 4;
        // The chunk's data must lie inside the file (its CRC is never read).
        if (offset + kChunkHeadBytes + length > dataLen) return PNG_CORRUPT;
        const uint8_t *body = data + offset + kChunkHeadBytes;

        if (_IsType(type, "orVL")) {
            ctx->orvFormat = 1;
        } else if (_IsType(type, "PLTE")) {
            if (length > kMaxPaletteBytes) return PNG_CORRUPT;
            _ReadPalette(ctx, body, length);
        } else if (_IsType(type, "IEND")) {
            return PNG_OK;
        } else if (_IsType(type, "IDAT") && !imageDataDone) {
            zs.next_in = const_cast<Bytef *>(body);
            zs.avail_in = length;
            int ret = Z_OK;
            while (ret == Z_OK) {
                uint8_t *callStart = zs.next_out;
                const uint8_t *inputStart = zs.next_in;
                ret = inflate(&zs, Z_NO_FLUSH);
                adler.consumed(inputStart, zs.next_in);
                adler.produced(callStart, zs.next_out);
                if (ret == Z_STREAM_END && !adler.matches()) ret = Z_DATA_ERROR;
                bool normal = ret == Z_OK || ret == Z_STREAM_END;
                uint8_t *produced = zs.next_out;
                // A failing call that ends exactly at the end of a row it
                // completed keeps that row back. Running out of memory (for
                // the window, which zlib takes after the first output) fails
                // the first call that produced anything: none of its rows.
                if (ret == Z_MEM_ERROR) {
                    produced = callStart;
                } else if (!normal && produced > callStart && (uint32_t)(produced - firstRow) % lineLen == 0) {
                    produced -= lineLen;
                }
                while (nextRow + lineLen <= produced) {
                    const uint8_t *prev = nextRow - lineLen;
                    if (nextRow[0] != PNG_ROW_FILTER_NONE) {
                        DeFilterLine(nextRow[0], nextRow + 1, prev + 1, ctx->bytesPerPixel, ctx->rowBytes);
                    }
                    if (lineFn(ctx, nextRow + 1, rowIndex, x, y) != PNG_LINE_GO_ON) return PNG_OK;
                    if (++rowIndex == ctx->height) return PNG_OK;
                    nextRow += lineLen;
                }
                if (!normal) break;
                if (zs.avail_out == 0) {
                    // The ring is full and every row in it delivered: the
                    // last one becomes the previous row of the next.
                    memcpy(ring, ringEnd - lineLen, lineLen);
                    zs.next_out = firstRow;
                    zs.avail_out = (uInt)(ringEnd - firstRow);
                    nextRow = firstRow;
                }
            }
            // Z_BUF_ERROR: this chunk's input is used up, the next IDAT goes
            // on. Z_STREAM_END before the last row: the image data ended
            // early; the rows so far stay and the walk goes on to IEND.
            // Anything else is a failed decode: damaged data, a stream that
            // asks for a preset dictionary, or an inflater out of memory.
            if (ret == Z_STREAM_END) {
                imageDataDone = true;
            } else if (ret != Z_BUF_ERROR) {
                return PNG_CORRUPT;
            }
        }
        // IHDR (already read), tRNS and every other chunk are passed over.

        offset += (uint64_t)length + kChunkFrameBytes;
        if (offset + kChunkHeadBytes >= dataLen) return PNG_CORRUPT;
    }
}
