// PNG reader: header check, chunk walk, row-by-row inflation and the row
// filters. Chunk CRCs are not checked; the chunk lengths are, against the
// data, before anything of a chunk is read.
#include "codecs/png.h"

#include <cstring>
#include <new>

#include "gui/GUI_Alloc.h"
#include "host/bytes.h"

namespace {

constexpr uint32_t kHeaderBytes = 32;  // signature, IHDR head and its 13 bytes, and its CRC (short by one)
constexpr uint32_t kChunkHeadBytes = 8;
constexpr uint32_t kChunkFrameBytes = 12;  // head and CRC
constexpr uint32_t kMaxPaletteBytes = 768;

bool _IsType(const uint8_t *type, const char *name) { return memcmp(type, name, 4) == 0; }

uint32_t _SamplesPerPixel(uint8_t colorType) {
    switch (colorType) {
    case 2: return 3;
    case 4: return 2;
    case 6: return 4;
    default: return 1;
    }
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

uint8_t _Paeth(uint8_t a, uint8_t b, uint8_t c) {
    int p = (int)a + b - c;
    int pa = p > a ? p - a : a - p;
    int pb = p > b ? p - b : b - p;
    int pc = p > c ? p - c : c - p;
    if (pa <= pb && pa <= pc) return a;
    if (pb <= pc) return b;
    return c;
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

int PNG_ReadHeader(const uint8_t *data, uint32_t size, PNG_Header *h) {
    *h = PNG_Header{};
    // Only the first four signature bytes are looked at; the rest of the
    // signature and the IHDR length are taken on trust.
    if (size < kHeaderBytes) return PNG_NOT_PNG;
    if (data[0] != 0x89 || data[1] != 'P' || data[2] != 'N' || data[3] != 'G') return PNG_NOT_PNG;
    if (!_IsType(data + 12, "IHDR")) return PNG_NOT_PNG;

    h->width = rd32be(data + 16);
    h->height = rd32be(data + 20);
    h->bitDepth = data[24];
    h->colorType = data[25];
    if (data[26] != 0 || data[27] != 0 || data[28] != 0) return PNG_UNSUPPORTED;
    uint8_t depth = h->bitDepth;
    if (depth != 1 && depth != 2 && depth != 4 && depth != 8) return PNG_UNSUPPORTED;
    uint8_t type = h->colorType;
    if (type != 0 && type != 2 && type != 3 && type != 4 && type != 6) return PNG_UNSUPPORTED;
    h->hasAlpha = (type == 4 || type == 6) ? 1 : 0;
    // The depth is not checked against the colour type: the line functions
    // draw nothing for the combinations PNG does not define.
    uint64_t bits = (uint64_t)h->width * depth * _SamplesPerPixel(type);
    uint64_t rowBytes = (bits + 7) / 8;
    if (rowBytes > PNG_MAX_ROW_BYTES) return PNG_UNSUPPORTED;
    h->rowBytes = (uint32_t)rowBytes;
    return PNG_OK;
}

int PNG_open(PNG_Context *ctx, const uint8_t *data, uint32_t size) {
    PNG_Header h;
    const int result = PNG_ReadHeader(data, size, &h);
    ctx->width = h.width;
    ctx->height = h.height;
    ctx->bitDepth = h.bitDepth;
    ctx->colorType = h.colorType;
    ctx->rowBytes = h.rowBytes;
    ctx->hasAlpha = h.hasAlpha;
    ctx->orvFormat = 0;
    ctx->dataLen = size;
    ctx->data = data;
    return result;
}

void DeFilterLine(uint8_t filterType, uint8_t *line, const uint8_t *prevLine, uint32_t width, uint32_t rowBytes) {
    uint32_t bpp = rowBytes > width ? rowBytes / width : 1;
    switch (filterType) {
    case 1:
        for (uint32_t i = bpp; i < rowBytes; i++) line[i] = (uint8_t)(line[i] + line[i - bpp]);
        break;
    case 2:
        for (uint32_t i = 0; i < rowBytes; i++) line[i] = (uint8_t)(line[i] + prevLine[i]);
        break;
    case 3:
        for (uint32_t i = 0; i < rowBytes; i++) {
            uint32_t a = i >= bpp ? line[i - bpp] : 0;
            line[i] = (uint8_t)(line[i] + ((a + prevLine[i]) >> 1));
        }
        break;
    case 4:
        for (uint32_t i = 0; i < rowBytes; i++) {
            uint8_t a = i >= bpp ? line[i - bpp] : 0;
            uint8_t c = i >= bpp ? prevLine[i - bpp] : 0;
            line[i] = (uint8_t)(line[i] + _Paeth(a, prevLine[i], c));
        }
        break;
    default:
        // None needs nothing; unknown filter types leave the row as it is.
        break;
    }
}

int PNG_decode(PNG_Context *ctx, int32_t x, int32_t y, PNG_LineFn lineFn) {
    const uint32_t lineLen = ctx->rowBytes + 1;
    memset(ctx->lineBuffers[0], 0, lineLen);
    memset(ctx->lineBuffers[1], 0, lineLen);
    // A palette index past the file's palette draws black, not whatever the
    // pool held before.
    memset(ctx->colorMap, 0, sizeof ctx->colorMap);
    if (!_InflateInit(ctx)) return PNG_INFLATE_INIT_FAILED;

    z_stream &zs = ctx->stream;
    zs.avail_out = 0;
    uint8_t *cur = ctx->lineBuffers[0];
    uint8_t *prev = ctx->lineBuffers[1];
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
                if (zs.avail_out == 0) {
                    zs.next_out = cur;
                    zs.avail_out = lineLen;
                }
                ret = inflate(&zs, Z_NO_FLUSH);
                if (ret != Z_OK && ret != Z_STREAM_END) break;
                if (zs.avail_out != 0) continue;
                if (cur[0] != 0) DeFilterLine(cur[0], cur + 1, prev + 1, ctx->width, ctx->rowBytes);
                if (lineFn(ctx, cur + 1, rowIndex, x, y) != 0) return PNG_OK;
                if (++rowIndex == ctx->height) return PNG_OK;
                uint8_t *t = cur;
                cur = prev;
                prev = t;
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
