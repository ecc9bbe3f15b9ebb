// Baseline JPEG decoder drawing into the current frame buffer.
//
// The stream is held whole in memory and decoded one MCU row at a time: the
// entropy layer fills a row of dequantised coefficient blocks, the integer
// inverse DCT turns the row into samples, and each line is converted to
// RGB332 colour indices and copied into the frame buffer under the clip
// rectangle. Decoding stops at the clip rectangle's bottom edge.
//
// Accepted: sequential Huffman frames (SOF0, SOF1) with one interleaved scan,
// grey or YCbCr with luma sampled 1x1, 2x1, 1x2 or 2x2 and chroma 1x1, and
// restart intervals. A progressive frame (SOF2) has its header read so that
// callers can refuse it; drawing one decodes its first scan as if it were
// sequential, which gives no meaningful picture.
//
// Memory: the decoder is an ordinary nested pool job. It takes the pool mark
// on entry, takes the record and the row buffers above it, and returns to the
// mark on every way out, so it never holds memory past its call. Every size
// that comes from the image is checked against the pool's free space first
// and refused with -1; the pool's exhaustion handler is never reached from
// here.
//
// Hostile data: every read goes through the bounded byte reader; Huffman
// tables that over-subscribe the code space or need more tree nodes than the
// table holds are refused; entropy data that is broken abandons the rest of
// the MCU row; data that ends early (with or without a marker) reads as
// 1-bits, which always decode to something, so decoding comes to an end.
#include "codecs/GUI_JPEG.h"

#include <array>
#include <bit>
#include <cstring>

#include "codecs/jpeg_color.h"
#include "codecs/jpeg_idct.h"
#include "gui/GUI_Alloc.h"
#include "gui/GUI_Bitmap.h"
#include "gui/GUI_Common.h"

namespace {

constexpr int HUFF_SLOTS = 4;
constexpr int TREE_ENTRIES = 512;
constexpr int MAX_MCU_BLOCKS = 10;
constexpr int RESTART_SEARCH_BYTES = 2000;

// Row buffer bytes per block of an MCU row: 64 coefficients of 16 bits, 64
// samples and the block's blockMaxZag byte.
constexpr uint32_t COEFFICIENT_BYTES_PER_BLOCK = 64 * sizeof(int16_t);
constexpr uint32_t SAMPLE_BYTES_PER_BLOCK = 64;
constexpr uint32_t ROW_BYTES_PER_BLOCK = COEFFICIENT_BYTES_PER_BLOCK + SAMPLE_BYTES_PER_BLOCK + 1;
static_assert(ROW_BYTES_PER_BLOCK == 193, "the decoder's memory need per block");

// Marker codes (ITU-T T.81 B.1.1.3, Table B.1). A marker is MARKER_PREFIX
// followed by its code; in entropy-coded data the prefix followed by
// STUFFED_ZERO is the data byte 0xFF (F.1.2.3).
constexpr uint8_t MARKER_PREFIX = 0xFF, STUFFED_ZERO = 0x00;
// Frame headers: baseline, extended, progressive and lossless Huffman frames
// (SOF0 to SOF3), the differential ones (SOF5 to SOF7) and the arithmetic-
// coded ones (SOF9 to SOF11, SOF13 to SOF15).
constexpr uint8_t M_SOF0 = 0xC0, M_SOF1 = 0xC1, M_SOF2 = 0xC2, M_SOF3 = 0xC3;
constexpr uint8_t M_SOF5 = 0xC5, M_SOF6 = 0xC6, M_SOF7 = 0xC7;
constexpr uint8_t M_SOF9 = 0xC9, M_SOF10 = 0xCA, M_SOF11 = 0xCB;
constexpr uint8_t M_SOF13 = 0xCD, M_SOF14 = 0xCE, M_SOF15 = 0xCF;
constexpr uint8_t M_DHT = 0xC4, M_JPG = 0xC8, M_DAC = 0xCC;
constexpr uint8_t M_RST0 = 0xD0, M_RST7 = 0xD7, M_SOI = 0xD8, M_EOI = 0xD9, M_SOS = 0xDA, M_DQT = 0xDB;
constexpr uint8_t M_DRI = 0xDD, M_APP14 = 0xEE, M_TEM = 0x01;

// Adobe's APP14 segment: the colour transform flag follows 11 bytes of
// identifier and version fields; 1 means YCbCr.
constexpr int32_t ADOBE_TRANSFORM_OFFSET = 11;
constexpr uint8_t ADOBE_TRANSFORM_YCBCR = 1;

enum ScanType : uint8_t { SCAN_GRAY = 0, SCAN_H1V1 = 1, SCAN_H2V1 = 2, SCAN_H1V2 = 3, SCAN_H2V2 = 4 };

// lookUp: by the next 8 bits, a symbol (>= 0) whose code is at most 8 bits
// long, or a tree node (< 0) for longer codes. Node n has its children in
// tree[-n - 1] (next bit 1) and tree[-n] (next bit 0). Once the table is
// built, each symbol entry also carries codeSize[symbol] in bits 8 and up,
// so that decoding a short code takes one look-up.
struct HuffTable {
    int32_t lookUp[256];
    uint8_t codeSize[256];
    int32_t tree[TREE_ENTRIES];
};

struct JPEG_Context {
    uint16_t xSize;
    uint16_t ySize;
    const uint8_t *pData;          // next unread byte; the caller owns the data
    uint32_t numBytesLeft;
    uint64_t bitBuffer;            // the next 16 + bitsLeft bits, most significant first, zeros after
    int32_t bitsLeft;              // bits held beyond the next 16 (1 to 16 between reads)
    uint8_t huffDefined[HUFF_SLOTS];
    uint8_t huffCounts[HUFF_SLOTS][17];
    uint8_t huffValues[HUFF_SLOTS][256];
    HuffTable huffTables[HUFF_SLOTS];
    uint16_t quantTables[4][64];   // zig-zag order
    const uint16_t *quantDefined[4];
    uint8_t numCompsInFrame;
    uint8_t compHSamp[4];
    uint8_t compVSamp[4];
    uint8_t compQuant[4];
    uint8_t compId[4];
    uint8_t compsInScan;
    uint8_t compList[4];
    uint8_t compDCTab[4];
    uint8_t compACTab[4];
    int32_t lastDCVal[4];
    uint8_t spectralStart;
    uint8_t spectralEnd;
    uint8_t rowNeedsTransform;
    uint8_t isProgressive;
    uint8_t scanType;
    int32_t maxMCUsPerRow;
    int32_t maxMCUsPerCol;
    int32_t maxBlocksPerMCU;
    int32_t maxBlocksPerRow;
    int32_t mcuXSize;
    int32_t mcuYSize;
    uint32_t restartInterval;
    uint32_t restartsLeft;
    uint32_t nextRestartNum;
    int32_t mcusPerRow;
    int32_t mcusPerCol;
    int32_t blocksPerMCU;
    int32_t mcuOrg[MAX_MCU_BLOCKS];
    int16_t *coefBuffer;           // maxBlocksPerRow blocks of 64, transposed (see kZigzagTransposed)
    uint8_t *blockMaxZag;          // per block: where its decoding ended last row
    uint8_t *sampleBuffer;         // maxBlocksPerRow blocks of 8 x 8 samples
    int32_t totalLinesLeft;
    int32_t mcuLinesLeft;
    uint8_t *lineBuffer[2];
    uint8_t useSecondLine;
};
static_assert(sizeof(JPEG_Context) <= JPEG_CONTEXT_BYTES, "the decoder record must fit its pool budget");

// Zig-zag position to row-major index within an 8 x 8 block.
constexpr uint8_t kZigzag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Zig-zag position to index in the transposed blocks of coefBuffer (column
// major: horizontal frequency u, vertical v at u x 8 + v), the order the
// inverse DCT takes them in.
constexpr auto kZigzagTransposed = [] {
    std::array<uint8_t, 64> t{};
    for (int k = 0; k < 64; k++) t[k] = (uint8_t)((kZigzag[k] & 7) * 8 + (kZigzag[k] >> 3));
    return t;
}();

// ---------------------------------------------------------------------------
// Byte reader: every read of the stream goes through these, bounded by
// numBytesLeft. A failed read leaves nothing to read.

[[nodiscard]] JpegResult _GetU8(JPEG_Context *ctx, uint8_t *byte) {
    if (ctx->numBytesLeft == 0) return JPEG_REFUSED;
    *byte = *ctx->pData++;
    ctx->numBytesLeft--;
    return JPEG_OK;
}

[[nodiscard]] JpegResult _GetU16(JPEG_Context *ctx, uint16_t *value) {
    if (ctx->numBytesLeft < 2) {
        ctx->numBytesLeft = 0;
        return JPEG_REFUSED;
    }
    *value = (uint16_t)((ctx->pData[0] << 8) | ctx->pData[1]);
    ctx->pData += 2;
    ctx->numBytesLeft -= 2;
    return JPEG_OK;
}

[[nodiscard]] JpegResult _SkipInputData(JPEG_Context *ctx, int32_t count) {
    if (count < 1) return JPEG_OK;
    if ((uint32_t)count > ctx->numBytesLeft) {
        ctx->numBytesLeft = 0;
        return JPEG_REFUSED;
    }
    ctx->pData += count;
    ctx->numBytesLeft -= (uint32_t)count;
    return JPEG_OK;
}

// Skips a marker segment by its length Lr, which counts itself (B.1.1.4).
[[nodiscard]] JpegResult _SkipVariable(JPEG_Context *ctx) {
    uint16_t length;
    if (_GetU16(ctx, &length)) return JPEG_REFUSED;
    return _SkipInputData(ctx, (int32_t)length - 2);
}

// ---------------------------------------------------------------------------
// Markers (T.81 B.1.1.2 to B.1.1.4).

// The stream starts with SOI (B.2.1).
[[nodiscard]] JpegResult _ReadFirstMarker(JPEG_Context *ctx, uint8_t *marker) {
    uint8_t b0, b1;
    if (_GetU8(ctx, &b0) || _GetU8(ctx, &b1)) return JPEG_REFUSED;
    if (b0 != MARKER_PREFIX || b1 != M_SOI) return JPEG_REFUSED;
    *marker = b1;
    return JPEG_OK;
}

// Steps over anything up to the next 0xFF, over fill bytes (B.1.1.2), and
// over stuffed FF 00 pairs, which are entropy data and not markers.
[[nodiscard]] JpegResult _ReadNextMarker(JPEG_Context *ctx, uint8_t *marker) {
    for (;;) {
        uint8_t b;
        do {
            if (_GetU8(ctx, &b)) return JPEG_REFUSED;
        } while (b != MARKER_PREFIX);
        do {
            if (_GetU8(ctx, &b)) return JPEG_REFUSED;
        } while (b == MARKER_PREFIX);
        if (b != STUFFED_ZERO) {
            *marker = b;
            return JPEG_OK;
        }
    }
}

// T.81 B.2.2, frame header: Lf, P, Y, X, Nf, then Ci, Hi and Vi, Tqi per
// component.
[[nodiscard]] JpegResult _GetSOF(JPEG_Context *ctx) {
    uint16_t length, ySize, xSize;
    uint8_t precision, count;  // the precision is not checked: 12-bit data decodes as 8-bit
    if (_GetU16(ctx, &length) || _GetU8(ctx, &precision) || _GetU16(ctx, &ySize) || _GetU16(ctx, &xSize) ||
        _GetU8(ctx, &count)) {
        return JPEG_REFUSED;
    }
    if (ySize == 0 || xSize == 0 || count > 4 || (int32_t)length - 8 != 3 * count) return JPEG_REFUSED;
    for (int i = 0; i < count; i++) {
        uint8_t id, sampling, quant;   // Ci; Hi (high nibble) and Vi; Tqi
        if (_GetU8(ctx, &id) || _GetU8(ctx, &sampling) || _GetU8(ctx, &quant)) return JPEG_REFUSED;
        ctx->compId[i] = id;
        ctx->compHSamp[i] = (uint8_t)(sampling >> 4);
        ctx->compVSamp[i] = (uint8_t)(sampling & 15);
        ctx->compQuant[i] = quant;
    }
    ctx->xSize = xSize;
    ctx->ySize = ySize;
    ctx->numCompsInFrame = count;
    return JPEG_OK;
}

// T.81 B.2.4.1, the quantisation tables segment (DQT): Lq, then per table Pq and
// Tq in one byte and 64 values Qk in zig-zag order (8 bits when Pq is 0,
// else 16).
[[nodiscard]] JpegResult _GetDQT(JPEG_Context *ctx) {
    uint16_t length;
    if (_GetU16(ctx, &length)) return JPEG_REFUSED;
    int32_t remaining = (int32_t)length - 2;
    while (remaining > 0) {
        uint8_t pqTq;
        if (_GetU8(ctx, &pqTq)) return JPEG_REFUSED;
        int precision = pqTq >> 4, slot = pqTq & 15;
        if (slot > 3) return JPEG_REFUSED;
        uint16_t *table = ctx->quantTables[slot];
        ctx->quantDefined[slot] = table;
        for (int k = 0; k < 64; k++) {
            if (precision == 0) {
                uint8_t v;
                if (_GetU8(ctx, &v)) return JPEG_REFUSED;
                table[k] = v;
            } else {
                if (_GetU16(ctx, &table[k])) return JPEG_REFUSED;
            }
        }
        remaining -= precision == 0 ? 65 : 129;
    }
    return remaining != 0 ? JPEG_REFUSED : JPEG_OK;
}

// T.81 B.2.4.2, the Huffman tables segment (DHT): Lh, then per table Tc and Th
// in one byte, the 16 counts Li of codes of each length and the symbols Vij.
[[nodiscard]] JpegResult _GetDHT(JPEG_Context *ctx) {
    uint16_t length;
    if (_GetU16(ctx, &length)) return JPEG_REFUSED;
    int32_t remaining = (int32_t)length - 2;
    // Up to 16 bytes left over are not read; the marker search steps over them.
    while (remaining > 16) {
        uint8_t classId;
        if (_GetU8(ctx, &classId)) return JPEG_REFUSED;
        int slot = (classId & 15) + ((classId & 0x10) ? 2 : 0);   // AC tables (Tc = 1) after the DC ones
        if (slot > 3) return JPEG_REFUSED;
        ctx->huffDefined[slot] = 1;
        uint8_t *counts = ctx->huffCounts[slot];
        counts[0] = 0;
        int32_t total = 0;
        for (int l = 1; l <= 16; l++) {
            if (_GetU8(ctx, &counts[l])) return JPEG_REFUSED;
            total += counts[l];
        }
        remaining -= 17;
        if (total > 255 || total > remaining) return JPEG_REFUSED;
        for (int i = 0; i < total; i++) {
            if (_GetU8(ctx, &ctx->huffValues[slot][i])) return JPEG_REFUSED;
        }
        remaining -= total;
    }
    return JPEG_OK;
}

// T.81 B.2.4.4, restart interval definition: Lr is always 4, then Ri.
[[nodiscard]] JpegResult _GetDRI(JPEG_Context *ctx) {
    uint16_t length, interval;
    if (_GetU16(ctx, &length) || length != 4 || _GetU16(ctx, &interval)) return JPEG_REFUSED;
    ctx->restartInterval = interval;
    return JPEG_OK;
}

// Adobe's APP14 segment (not part of T.81). Only YCbCr data (colour
// transform flag 1) is drawn; RGB and YCCK are refused.
[[nodiscard]] JpegResult _GetAdobe(JPEG_Context *ctx) {
    uint16_t length;
    uint8_t transform;
    if (_GetU16(ctx, &length)) return JPEG_REFUSED;
    if ((int32_t)length - 2 < ADOBE_TRANSFORM_OFFSET + 1) return JPEG_REFUSED;
    if (_SkipInputData(ctx, ADOBE_TRANSFORM_OFFSET) || _GetU8(ctx, &transform)) return JPEG_REFUSED;
    return transform != ADOBE_TRANSFORM_YCBCR ? JPEG_REFUSED : JPEG_OK;
}

// T.81 B.2.3, scan header: Ls, Ns, then Csj and Tdj, Taj per component, then
// Ss, Se and Ah, Al.
[[nodiscard]] JpegResult _GetSOS(JPEG_Context *ctx) {
    uint16_t length;
    uint8_t count;
    if (_GetU16(ctx, &length) || _GetU8(ctx, &count)) return JPEG_REFUSED;
    // A scan without components is refused too: it would decode nothing and
    // draw an undefined picture.
    if (count == 0 || count > 4 || length != 6 + 2 * count) return JPEG_REFUSED;
    ctx->compsInScan = count;
    for (int i = 0; i < count; i++) {
        uint8_t id, tables;   // Csj; Tdj (high nibble) and Taj
        if (_GetU8(ctx, &id) || _GetU8(ctx, &tables)) return JPEG_REFUSED;
        int c = 0;
        while (c < ctx->numCompsInFrame && ctx->compId[c] != id) c++;
        if (c == ctx->numCompsInFrame) return JPEG_REFUSED;
        ctx->compList[i] = (uint8_t)c;
        ctx->compDCTab[c] = (uint8_t)(tables >> 4);
        ctx->compACTab[c] = (uint8_t)((tables & 15) + 2);
    }
    uint8_t ss, se, approx;
    if (_GetU8(ctx, &ss) || _GetU8(ctx, &se) || _GetU8(ctx, &approx)) return JPEG_REFUSED;
    if (ctx->isProgressive) {
        ctx->spectralStart = ss;
        ctx->spectralEnd = se;
    } else {
        ctx->spectralStart = 0;
        ctx->spectralEnd = 63;
    }
    return JPEG_OK;
}

// Reads a table segment, or skips it when the caller only wants the size.
[[nodiscard]] JpegResult _ReadOrSkip(JPEG_Context *ctx, bool skip, JpegResult (*read)(JPEG_Context *)) {
    return skip ? _SkipVariable(ctx) : read(ctx);
}

// Reads the segments up to the next frame header, scan header, SOI or EOI,
// which is handed back in *marker.
[[nodiscard]] JpegResult _ReadMarkers(JPEG_Context *ctx, uint8_t *marker, int skipTables) {
    for (;;) {
        uint8_t m;
        if (_ReadNextMarker(ctx, &m)) return JPEG_REFUSED;
        switch (m) {
            case M_SOF0: case M_SOF1: case M_SOF2: case M_SOF3: case M_SOF5: case M_SOF6: case M_SOF7:
            case M_SOF9: case M_SOF10: case M_SOF11: case M_SOF13: case M_SOF14: case M_SOF15:
            case M_SOI: case M_EOI: case M_SOS:
                *marker = m;
                return JPEG_OK;
            case M_DHT:
                if (_ReadOrSkip(ctx, skipTables, _GetDHT)) return JPEG_REFUSED;
                break;
            case M_DQT:
                if (_ReadOrSkip(ctx, skipTables, _GetDQT)) return JPEG_REFUSED;
                break;
            case M_DRI:
                if (_ReadOrSkip(ctx, skipTables, _GetDRI)) return JPEG_REFUSED;
                break;
            case M_APP14:
                if (_ReadOrSkip(ctx, skipTables, _GetAdobe)) return JPEG_REFUSED;
                break;
            case M_DAC: case M_JPG: case M_TEM:
                return JPEG_REFUSED;
            default:
                if (m >= M_RST0 && m <= M_RST7) return JPEG_REFUSED;
                // Any other segment (APPn, COM, DNL, ...) is skipped by its
                // length. A failed skip has used the data up, so the next
                // marker search would fail: it fails here instead.
                if (_SkipVariable(ctx)) return JPEG_REFUSED;
                break;
        }
    }
}

// Reads from the start of the data up to and including the frame header.
// A stream whose marker search ends at anything but a SOF0, SOF1 or SOF2
// frame header (lossless or arithmetic-coded frames, a scan or EOI before any
// frame) is refused here, so that callers never store an image that can
// only fail to draw.
[[nodiscard]] JpegResult GUI_JPEG__ReadUntilSOF(JPEG_Context *ctx, int skipTables) {
    uint8_t marker;
    if (_ReadFirstMarker(ctx, &marker)) return JPEG_REFUSED;
    if (_ReadMarkers(ctx, &marker, skipTables)) return JPEG_REFUSED;
    if (marker == M_SOF0 || marker == M_SOF1) return _GetSOF(ctx);
    if (marker == M_SOF2) {
        ctx->isProgressive = 1;
        return _GetSOF(ctx);
    }
    return JPEG_REFUSED;
}

// ---------------------------------------------------------------------------
// Huffman decoding tables.

// Canonical code assignment (T.81 C.2: the code sizes of Figure C.1, the
// codes of Figure C.2), then the look-up table for codes of up to 8 bits and
// the tree for longer ones. Refuses count lists that over-subscribe the code
// space (the codes would overlap) and tables whose long codes need more
// nodes than the tree holds.
[[nodiscard]] JpegResult _CreateHuffmanTable(JPEG_Context *ctx, int slot, HuffTable *table) {
    const uint8_t *counts = ctx->huffCounts[slot];
    const uint8_t *values = ctx->huffValues[slot];
    memset(table, 0, sizeof *table);

    uint8_t sizes[257];
    int numCodes = 0;
    for (int l = 1; l <= 16; l++) {
        for (int i = 0; i < counts[l]; i++) sizes[numCodes++] = (uint8_t)l;
    }
    sizes[numCodes] = 0;

    uint16_t codes[256];
    uint32_t code = 0;
    int si = sizes[0];
    int p = 0;
    while (sizes[p]) {
        while (sizes[p] == si) codes[p++] = (uint16_t)code++;
        // code is one past the last code of length si; it must still fit.
        if (code > (1u << si)) return JPEG_REFUSED;
        code <<= 1;
        si++;
    }

    int32_t nextFree = -1;
    const int32_t lastNode = -(TREE_ENTRIES - 1);
    for (p = 0; p < numCodes; p++) {
        uint8_t symbol = values[p];
        int z = sizes[p];
        uint32_t c = codes[p];
        table->codeSize[symbol] = (uint8_t)z;
        if (z <= 8) {
            uint32_t first = c << (8 - z);
            for (uint32_t i = 0; i < (1u << (8 - z)); i++) table->lookUp[first + i] = symbol;
            continue;
        }
        int32_t *entry = &table->lookUp[c >> (z - 8)];
        if (*entry == 0) {
            if (nextFree < lastNode) return JPEG_REFUSED;
            *entry = nextFree;
            nextFree -= 2;
        }
        int32_t node = *entry;
        uint32_t bits = c << (24 - z);  // the ninth bit of the code at bit 15
        for (int remaining = z; remaining > 9; remaining--) {
            if (node >= 0) return JPEG_REFUSED;
            if (!(bits & 0x8000)) node--;
            int32_t *child = &table->tree[-node - 1];
            if (*child == 0) {
                if (nextFree < lastNode) return JPEG_REFUSED;
                *child = nextFree;
                nextFree -= 2;
            }
            node = *child;
            bits <<= 1;
        }
        if (node >= 0) return JPEG_REFUSED;
        if (!(bits & 0x8000)) node--;
        table->tree[-node - 1] = symbol;
    }
    for (int32_t &entry : table->lookUp) {
        if (entry >= 0) entry |= (int32_t)table->codeSize[entry] << 8;
    }
    return JPEG_OK;
}

// ---------------------------------------------------------------------------
// Entropy layer (T.81 F.2.2: DECODE, RECEIVE and EXTEND, NEXTBIT).

// Stuffed FF 00 reads as FF. At a marker, or at the end of the data, the
// reader stays where it is and yields 1-bits for as long as it is asked, so
// the marker is left for the end-of-image and restart checks.
template <class Reader>
inline uint8_t _GetU8_NoMarker(Reader *ctx) {
    if (ctx->numBytesLeft == 0) return 0xFF;
    uint8_t b = ctx->pData[0];
    if (b != MARKER_PREFIX) {
        ctx->pData++;
        ctx->numBytesLeft--;
        return b;
    }
    if (ctx->numBytesLeft >= 2 && ctx->pData[1] == STUFFED_ZERO) {
        ctx->pData += 2;
        ctx->numBytesLeft -= 2;
    }
    return 0xFF;
}

// The next n bits (0 to 16), most significant first. Two more bytes are
// fetched each time fewer than 17 bits are left: the reader fetches exactly
// when and what a 32-bit buffer refilled two bytes at a time would, so that
// the read position seen by restart and end-of-image handling is that one.
template <class Reader>
inline uint32_t _GetBitsNoMarker(Reader *ctx, int n) {
    if (n == 0) return 0;
    uint32_t result = (uint32_t)(ctx->bitBuffer >> (64 - n));
    ctx->bitBuffer <<= n;
    ctx->bitsLeft -= n;
    if (ctx->bitsLeft > 0) return result;
    uint64_t c1 = _GetU8_NoMarker(ctx);
    uint64_t c2 = _GetU8_NoMarker(ctx);
    // 16 + bitsLeft bits (1 to 16) are still held; the new ones follow them.
    ctx->bitBuffer |= ((c1 << 8) | c2) << (48 - (16 + ctx->bitsLeft));
    ctx->bitsLeft += 16;
    return result;
}

void _InitBitBuffer(JPEG_Context *ctx) {
    ctx->bitBuffer = 0;
    ctx->bitsLeft = 16;
    _GetBitsNoMarker(ctx, 16);
    _GetBitsNoMarker(ctx, 16);
}

// The entropy reader's state, copied out of the record for the length of an
// MCU row so that it stays in registers (the coefficient stores could
// otherwise alias it), and written back before anything else reads it.
struct EntropyState {
    const uint8_t *pData;
    uint32_t numBytesLeft;
    uint64_t bitBuffer;
    int32_t bitsLeft;

    explicit EntropyState(const JPEG_Context *ctx)
        : pData(ctx->pData), numBytesLeft(ctx->numBytesLeft), bitBuffer(ctx->bitBuffer), bitsLeft(ctx->bitsLeft) {}
    void storeTo(JPEG_Context *ctx) const {
        ctx->pData = pData;
        ctx->numBytesLeft = numBytesLeft;
        ctx->bitBuffer = bitBuffer;
        ctx->bitsLeft = bitsLeft;
    }
};

// Look-up by the next 8 bits (always held); longer codes walk the tree a bit
// at a time.
template <class Reader>
inline int _HuffDecode(Reader *ctx, const HuffTable *table) {
    int32_t v = table->lookUp[ctx->bitBuffer >> 56];
    if (v >= 0) {
        _GetBitsNoMarker(ctx, v >> 8);
        return v & 0xFF;
    }
    _GetBitsNoMarker(ctx, 8);
    // Children are always allocated below their parent, so the walk ends.
    do {
        v = _GetBitsNoMarker(ctx, 1) ? table->tree[-v - 1] : table->tree[-v];
    } while (v < 0);
    return v;
}

// EXTEND (T.81 F.2.2.1), without a branch on the sign: r below half the
// range takes away 2^s - 1 (the mask is all ones exactly then).
inline int32_t _Extend(uint32_t r, int s) {
    int32_t below = (int32_t)(r - (1u << (s - 1))) >> 31;
    return (int32_t)r - (below & ((1 << s) - 1));
}

// Finds the expected RSTn within a bounded search and starts the next
// restart interval (T.81 E.2.4: the predictions reset, the bit reader starts
// afresh). On failure nothing is reset.
[[nodiscard]] JpegResult _ProcessRestart(JPEG_Context *ctx) {
    int budget = RESTART_SEARCH_BYTES;
    uint8_t b;
    do {
        if (budget-- == 0 || _GetU8(ctx, &b)) return JPEG_REFUSED;
    } while (b != MARKER_PREFIX);
    do {
        if (budget-- == 0 || _GetU8(ctx, &b)) return JPEG_REFUSED;
    } while (b == MARKER_PREFIX);
    if (b != M_RST0 + ctx->nextRestartNum) return JPEG_REFUSED;
    for (int32_t &dc : ctx->lastDCVal) dc = 0;
    ctx->restartsLeft = ctx->restartInterval;
    ctx->nextRestartNum = (ctx->nextRestartNum + 1) & 7;
    _InitBitBuffer(ctx);
    return JPEG_OK;
}

inline void _ZeroZigzag(int16_t *block, int from, int to) {
    for (int k = from; k < to; k++) block[kZigzagTransposed[k]] = 0;
}

// Decodes block b of the row for frame component c (T.81 F.2.2.1 for the DC
// difference, F.2.2.2 for the AC coefficients): JPEG_REFUSED for broken
// entropy data. The row buffer is not cleared between rows: each position
// the block set last row is either overwritten or cleared, up to where its
// decoding ended then.
[[nodiscard]] JpegResult _DecodeBlock(JPEG_Context *ctx, EntropyState *bits, int c, int b) {
    int16_t *p = ctx->coefBuffer + 64 * b;
    const uint16_t *q = ctx->quantTables[ctx->compQuant[c]];
    const HuffTable *dcTable = &ctx->huffTables[ctx->compDCTab[c]];
    const HuffTable *acTable = &ctx->huffTables[ctx->compACTab[c]];

    int s = _HuffDecode(bits, dcTable);
    if (s > 15) return JPEG_REFUSED;  // no DC difference has more than 15 bits
    int32_t diff = s ? _Extend(_GetBitsNoMarker(bits, s), s) : 0;
    // Wrapping arithmetic: a hostile stream may sum differences past 32 bits;
    // the coefficient keeps the low 16 bits of the product either way.
    ctx->lastDCVal[c] = (int32_t)((uint32_t)ctx->lastDCVal[c] + (uint32_t)diff);
    p[0] = (int16_t)((uint32_t)ctx->lastDCVal[c] * q[0]);

    int prev = ctx->blockMaxZag[b];
    int k;
    for (k = 1; k < 64; k++) {
        int symbol = _HuffDecode(bits, acTable);
        int r = symbol >> 4;
        s = symbol & 15;
        if (s) {
            if (r) {
                if (k + r > 63) return JPEG_REFUSED;
                _ZeroZigzag(p, k, k + r < prev ? k + r : prev);
                k += r;
            }
            int32_t value = _Extend(_GetBitsNoMarker(bits, s), s);
            p[kZigzagTransposed[k]] = (int16_t)((uint32_t)value * q[k]);
        } else if (r == 15) {   // ZRL: sixteen zeros
            if (k > 48) return JPEG_REFUSED;
            _ZeroZigzag(p, k, k + 16 < prev ? k + 16 : prev);
            k += 15;
        } else {
            break;   // EOB
        }
    }
    _ZeroZigzag(p, k, prev);
    ctx->blockMaxZag[b] = (uint8_t)k;
    return JPEG_OK;
}

// Decodes the next MCU row into coefBuffer. There is nothing to report:
// broken entropy data abandons the rest of the row without failing the
// image (the blocks not reached keep the previous row's coefficients), and
// restart handling still runs for the MCUs that are left.
void _DecodeNextRow(JPEG_Context *ctx) {
    bool abandoned = false;
    EntropyState bits(ctx);
    for (int32_t m = 0; m < ctx->mcusPerRow; m++) {
        if (ctx->restartInterval != 0 && ctx->restartsLeft == 0) {
            bits.storeTo(ctx);
            if (_ProcessRestart(ctx) != JPEG_OK) {
                // No marker where one was due: decoding goes on with the bits
                // already read. restartsLeft now counts down past zero and
                // wraps, so no further marker is looked for in this image.
            }
            bits = EntropyState(ctx);
        }
        for (int32_t i = 0; i < ctx->blocksPerMCU && !abandoned; i++) {
            int32_t b = m * ctx->blocksPerMCU + i;
            if (_DecodeBlock(ctx, &bits, ctx->mcuOrg[i], b) != JPEG_OK) {
                // The broken block may have set positions beyond where its
                // last good decoding ended: clear all of it next row.
                ctx->blockMaxZag[b] = 64;
                abandoned = true;
            }
        }
        ctx->restartsLeft--;
    }
    bits.storeTo(ctx);
}

// ---------------------------------------------------------------------------
// Scan set-up.

// The MCU layout of the scan (T.81 A.2: one block per MCU for a scan of one
// component, else Hi x Vi blocks of each component in turn, A.2.3).
[[nodiscard]] JpegResult _CalcMCUBlockOrder(JPEG_Context *ctx) {
    int32_t maxH = 0, maxV = 0;
    for (int c = 0; c < ctx->numCompsInFrame; c++) {
        if (ctx->compHSamp[c] > maxH) maxH = ctx->compHSamp[c];
        if (ctx->compVSamp[c] > maxV) maxV = ctx->compVSamp[c];
    }
    if (maxH == 0 || maxV == 0) return JPEG_REFUSED;
    if (ctx->compsInScan == 1) {
        int c = ctx->compList[0];
        int32_t width = (ctx->xSize * ctx->compHSamp[c] + maxH - 1) / maxH;
        int32_t height = (ctx->ySize * ctx->compVSamp[c] + maxV - 1) / maxV;
        ctx->mcusPerRow = (width + 7) / 8;
        ctx->mcusPerCol = (height + 7) / 8;
        ctx->blocksPerMCU = 1;
        ctx->mcuOrg[0] = c;
    } else {
        ctx->mcusPerRow = ((ctx->xSize + 7) / 8 + maxH - 1) / maxH;
        ctx->mcusPerCol = ((ctx->ySize + 7) / 8 + maxV - 1) / maxV;
        int32_t n = 0;
        for (int i = 0; i < ctx->compsInScan; i++) {
            int c = ctx->compList[i];
            int32_t blocks = ctx->compHSamp[c] * ctx->compVSamp[c];
            if (n + blocks > MAX_MCU_BLOCKS) return JPEG_REFUSED;
            for (int32_t k = 0; k < blocks; k++) ctx->mcuOrg[n++] = c;
        }
        ctx->blocksPerMCU = n;
    }
    if ((int64_t)ctx->mcusPerRow * ctx->blocksPerMCU > ctx->maxBlocksPerRow) return JPEG_REFUSED;
    return JPEG_OK;
}

[[nodiscard]] JpegResult _CheckHuffmanTables(JPEG_Context *ctx) {
    for (int i = 0; i < ctx->compsInScan; i++) {
        int c = ctx->compList[i];
        int dc = ctx->compDCTab[c], ac = ctx->compACTab[c];
        if (dc > 3 || (ctx->spectralStart == 0 && !ctx->huffDefined[dc])) return JPEG_REFUSED;
        if (ac > 3 || (ctx->spectralEnd != 0 && !ctx->huffDefined[ac])) return JPEG_REFUSED;
    }
    for (int slot = 0; slot < HUFF_SLOTS; slot++) {
        if (ctx->huffDefined[slot] && _CreateHuffmanTable(ctx, slot, &ctx->huffTables[slot])) return JPEG_REFUSED;
    }
    return JPEG_OK;
}

[[nodiscard]] JpegResult _CheckQuantTables(JPEG_Context *ctx) {
    for (int i = 0; i < ctx->compsInScan; i++) {
        int q = ctx->compQuant[ctx->compList[i]];
        if (q > 3 || ctx->quantDefined[q] == nullptr) return JPEG_REFUSED;
    }
    return JPEG_OK;
}

[[nodiscard]] JpegResult _InitScan(JPEG_Context *ctx) {
    uint8_t marker;
    if (_ReadMarkers(ctx, &marker, 0) || marker != M_SOS || _GetSOS(ctx)) return JPEG_REFUSED;
    if (_CalcMCUBlockOrder(ctx) || _CheckHuffmanTables(ctx) || _CheckQuantTables(ctx)) return JPEG_REFUSED;
    for (int32_t &dc : ctx->lastDCVal) dc = 0;
    if (ctx->restartInterval != 0) {
        ctx->restartsLeft = ctx->restartInterval;
        ctx->nextRestartNum = 0;
    }
    _InitBitBuffer(ctx);
    return JPEG_OK;
}

// ---------------------------------------------------------------------------
// Frame set-up and reconstruction.

// JPEG_REFUSED for a frame layout that is not drawn, JPEG_NO_POOL when the
// row buffers do not fit the pool.
[[nodiscard]] JpegResult _InitFrame(JPEG_Context *ctx) {
    const uint8_t *h = ctx->compHSamp, *v = ctx->compVSamp;
    if (ctx->numCompsInFrame == 1) {
        // Any sampling draws as one 8 x 8 block per MCU, but a factor of 0
        // would leave the MCU layout undefined.
        if (h[0] == 0 || v[0] == 0) return JPEG_REFUSED;
        ctx->scanType = SCAN_GRAY;
    } else if (ctx->numCompsInFrame == 3) {
        if (h[1] != 1 || v[1] != 1 || h[2] != 1 || v[2] != 1) return JPEG_REFUSED;
        if (h[0] == 1 && v[0] == 1) {
            ctx->scanType = SCAN_H1V1;
        } else if (h[0] == 2 && v[0] == 1) {
            ctx->scanType = SCAN_H2V1;
        } else if (h[0] == 1 && v[0] == 2) {
            ctx->scanType = SCAN_H1V2;
        } else if (h[0] == 2 && v[0] == 2) {
            ctx->scanType = SCAN_H2V2;
        } else {
            return JPEG_REFUSED;
        }
    } else {
        return JPEG_REFUSED;
    }
    static constexpr int32_t kBlocks[] = {1, 3, 4, 4, 6};
    static constexpr int32_t kMcuWidth[] = {8, 8, 16, 8, 16};
    static constexpr int32_t kMcuHeight[] = {8, 8, 8, 16, 16};
    ctx->maxBlocksPerMCU = kBlocks[ctx->scanType];
    ctx->mcuXSize = kMcuWidth[ctx->scanType];
    ctx->mcuYSize = kMcuHeight[ctx->scanType];
    ctx->maxMCUsPerRow = (ctx->xSize + ctx->mcuXSize - 1) / ctx->mcuXSize;
    ctx->maxMCUsPerCol = (ctx->ySize + ctx->mcuYSize - 1) / ctx->mcuYSize;
    ctx->maxBlocksPerRow = ctx->maxBlocksPerMCU * ctx->maxMCUsPerRow;
    ctx->totalLinesLeft = ctx->ySize;
    ctx->mcuLinesLeft = 0;

    // Room for two lines is asked for whatever the layout. The pool's free
    // count is always a multiple of 4, so a request that passes this check
    // also holds the block flags rounded up to 4 bytes.
    uint32_t blocks = (uint32_t)ctx->maxBlocksPerRow;
    uint32_t lineBytes = ((uint32_t)ctx->xSize + 15u) & ~15u;
    uint64_t need = (uint64_t)ROW_BYTES_PER_BLOCK * blocks + 2ull * lineBytes;
    if (need >= GUI_GetNumFreeBytes()) return JPEG_NO_POOL;

    ctx->coefBuffer = (int16_t *)GUI_AllocZero(COEFFICIENT_BYTES_PER_BLOCK * blocks);
    ctx->sampleBuffer = (uint8_t *)GUI_AllocZero(SAMPLE_BYTES_PER_BLOCK * blocks);
    ctx->blockMaxZag = (uint8_t *)GUI_AllocNoInit(blocks);
    memset(ctx->blockMaxZag, 64, blocks);
    ctx->lineBuffer[0] = (uint8_t *)GUI_AllocZero(lineBytes);
    if (ctx->scanType == SCAN_H1V2 || ctx->scanType == SCAN_H2V2) {
        ctx->lineBuffer[1] = (uint8_t *)GUI_AllocZero(lineBytes);
    }
    return JPEG_OK;
}

// One block: the slow integer transform (codecs/jpeg_idct), which reads the
// coefficients without changing them, so that coefBuffer keeps them for the
// next row's selective clearing.
inline void _IDCT(const int16_t *coefficients, uint8_t *samples) { JPEG_Idct(coefficients, samples); }

void _TransformRow(JPEG_Context *ctx) {
    for (int32_t b = 0; b < ctx->maxBlocksPerRow; b++) {
        _IDCT(ctx->coefBuffer + 64 * b, ctx->sampleBuffer + 64 * b);
    }
}

// Converters: line r of the MCU row (lines r and r + 1 for the layouts with
// two luma blocks down) into lineBuffer, MCU after MCU. Each chroma sample is
// repeated over the pixels it covers.

void _ConvertGray(JPEG_Context *ctx, int r) {
    uint8_t *out = ctx->lineBuffer[0];
    const uint8_t *y = ctx->sampleBuffer + 8 * r;
    for (int32_t m = 0; m < ctx->maxMCUsPerRow; m++, y += 64, out += 8) JPEG_ConvertGray8(y, out);
}

void _ConvertH1V1(JPEG_Context *ctx, int r) {
    uint8_t *out = ctx->lineBuffer[0];
    const uint8_t *mcu = ctx->sampleBuffer + 8 * r;
    for (int32_t m = 0; m < ctx->maxMCUsPerRow; m++, mcu += 3 * 64, out += 8) {
        JPEG_ConvertPixels8(mcu, mcu + 64, mcu + 128, out);
    }
}

// Luma from the left and right blocks, each chroma sample over two pixels.
void _ConvertH2V1(JPEG_Context *ctx, int r) {
    uint8_t *out = ctx->lineBuffer[0];
    const uint8_t *mcu = ctx->sampleBuffer + 8 * r;
    for (int32_t m = 0; m < ctx->maxMCUsPerRow; m++, mcu += 4 * 64, out += 16) {
        JPEG_ConvertPixels16(mcu, mcu + 64, mcu + 128, mcu + 192, out);
    }
}

// Two lines of the top or bottom luma block over one chroma row.
void _ConvertH1V2(JPEG_Context *ctx, int r) {
    uint8_t *out0 = ctx->lineBuffer[0], *out1 = ctx->lineBuffer[1];
    const uint8_t *mcu = ctx->sampleBuffer;
    int lumaOffset = (r < 8 ? 0 : 64) + 8 * (r & 7);
    int chromaOffset = 8 * (r >> 1);
    for (int32_t m = 0; m < ctx->maxMCUsPerRow; m++, mcu += 4 * 64, out0 += 8, out1 += 8) {
        const uint8_t *y = mcu + lumaOffset, *cb = mcu + 128 + chromaOffset, *cr = mcu + 192 + chromaOffset;
        JPEG_ConvertPixels8(y, cb, cr, out0);
        JPEG_ConvertPixels8(y + 8, cb, cr, out1);
    }
}

// Two lines of the top or bottom pair of luma blocks over one chroma row.
void _ConvertH2V2(JPEG_Context *ctx, int r) {
    uint8_t *out0 = ctx->lineBuffer[0], *out1 = ctx->lineBuffer[1];
    const uint8_t *mcu = ctx->sampleBuffer;
    int lumaOffset = (r < 8 ? 0 : 128) + 8 * (r & 7);
    int chromaOffset = 8 * (r >> 1);
    for (int32_t m = 0; m < ctx->maxMCUsPerRow; m++, mcu += 6 * 64, out0 += 16, out1 += 16) {
        const uint8_t *y = mcu + lumaOffset, *cb = mcu + 256 + chromaOffset, *cr = mcu + 320 + chromaOffset;
        JPEG_ConvertPixels16(y, y + 64, cb, cr, out0);
        JPEG_ConvertPixels16(y + 8, y + 72, cb, cr, out1);
    }
}

// Makes the next image line available in lineBuffer[useSecondLine].
[[nodiscard]] JpegResult GUI_JPEG__DecodeLine(JPEG_Context *ctx) {
    if (ctx->mcuLinesLeft == 0) {
        _DecodeNextRow(ctx);
        // The last MCU row is only drawn when the image ends there; a second
        // scan or missing EOI refuses it.
        if (ctx->totalLinesLeft <= ctx->mcuYSize) {
            uint8_t marker;
            if (_ReadMarkers(ctx, &marker, 0) || marker != M_EOI) return JPEG_REFUSED;
        }
        ctx->rowNeedsTransform = 1;
        ctx->mcuLinesLeft = ctx->mcuYSize;
    }
    if (ctx->rowNeedsTransform) {
        _TransformRow(ctx);
        ctx->rowNeedsTransform = 0;
    }
    int r = ctx->mcuYSize - ctx->mcuLinesLeft;
    switch (ctx->scanType) {
        case SCAN_GRAY: _ConvertGray(ctx, r); ctx->useSecondLine = 0; break;
        case SCAN_H1V1: _ConvertH1V1(ctx, r); ctx->useSecondLine = 0; break;
        case SCAN_H2V1: _ConvertH2V1(ctx, r); ctx->useSecondLine = 0; break;
        default:
            // Pairs of lines are made together; the odd one is already there.
            if (ctx->mcuLinesLeft & 1) {
                ctx->useSecondLine = 1;
            } else {
                if (ctx->scanType == SCAN_H1V2) {
                    _ConvertH1V2(ctx, r);
                } else {
                    _ConvertH2V2(ctx, r);
                }
                ctx->useSecondLine = 0;
            }
            break;
    }
    ctx->mcuLinesLeft--;
    ctx->totalLinesLeft--;
    return JPEG_OK;
}

// The clip rectangle, kept inside the drawing surface as well, so that no
// line can be written outside the buffer drawing goes to.
struct ClipBox {
    int64_t x0, y0, x1, y1;
};

ClipBox _EffectiveClip() {
    const GUI_ContextRecord &c = GUI_Context;
    ClipBox box{c.clipX0, c.clipY0, c.clipX1, c.clipY1};
    if (box.x0 < 0) box.x0 = 0;
    if (box.y0 < 0) box.y0 = 0;
    if (box.x1 > (int64_t)c.device.xSize - 1) box.x1 = (int64_t)c.device.xSize - 1;
    if (box.y1 > (int64_t)c.device.ySize - 1) box.y1 = (int64_t)c.device.ySize - 1;
    return box;
}

// Rows above the clip rectangle are decoded but not drawn; decoding stops
// below it.
[[nodiscard]] JpegResult _DrawAtOnce(JPEG_Context *ctx, int32_t x, int32_t y) {
    ClipBox clip = _EffectiveClip();
    if ((int64_t)x + ctx->xSize < clip.x0 || (int64_t)y + ctx->ySize < clip.y0) return JPEG_OK;
    int64_t x0 = x, count = ctx->xSize, skip = 0;
    if (x0 < clip.x0) {
        skip = clip.x0 - x0;
        count -= skip;
        x0 = clip.x0;
    }
    if (x0 + count > clip.x1) count = clip.x1 - x0 + 1;
    for (int32_t i = 0; i < ctx->ySize; i++) {
        int64_t row = (int64_t)y + i;
        if (row > clip.y1) return JPEG_OK;
        if (GUI_JPEG__DecodeLine(ctx) != JPEG_OK) return JPEG_REFUSED;
        if (row >= clip.y0 && count > 0) {
            const uint8_t *line = ctx->lineBuffer[ctx->useSecondLine ? 1 : 0];
            DrawBitmapSimpleLine((int32_t)x0, (int32_t)row, (int32_t)count, line + skip);
        }
    }
    return JPEG_OK;
}

// The row buffers go back with the pool mark; single frees do nothing.
void GUI_JPEG__Free(JPEG_Context *ctx) {
    GUI_Free(ctx->lineBuffer[1]);
    GUI_Free(ctx->lineBuffer[0]);
    GUI_Free(ctx->sampleBuffer);
    GUI_Free(ctx->blockMaxZag);
    GUI_Free(ctx->coefBuffer);
}

// The record holds pointers; the pool hands out 4-byte steps, so the record
// may need 4 bytes of padding in front of it to sit on an 8-byte boundary.
uint32_t _ContextPadding() { return (GUI_AllocStart() & 7u) ? 4u : 0u; }

bool _RoomForContext() { return GUI_GetNumFreeBytes() >= JPEG_CONTEXT_BYTES + _ContextPadding(); }

JPEG_Context *_NewContext(const uint8_t *data, uint32_t size) {
    if (_ContextPadding()) GUI_AllocNoInit(4);
    auto *ctx = (JPEG_Context *)GUI_AllocZero(JPEG_CONTEXT_BYTES);
    ctx->pData = data;
    ctx->numBytesLeft = data ? size : 0;
    return ctx;
}

}  // namespace

JpegResult GUI_JPEG_GetSize(const uint8_t *data, uint32_t size, uint32_t *xSize, uint32_t *ySize,
                            uint8_t *isProgressive) {
    *xSize = 0;
    *ySize = 0;
    *isProgressive = 0;
    // The image loader checks the pool before it asks; a pool without room
    // for the record refuses the stream rather than ending the program.
    if (!_RoomForContext()) return JPEG_REFUSED;
    const PoolMark job;
    JPEG_Context *ctx = _NewContext(data, size);
    const JpegResult result = GUI_JPEG__ReadUntilSOF(ctx, 1);
    *xSize = ctx->xSize;
    *ySize = ctx->ySize;
    *isProgressive = ctx->isProgressive;
    GUI_JPEG__Free(ctx);
    return result;
}

JpegResult GUI_JPEG_Draw(const uint8_t *data, uint32_t size, int32_t x, int32_t y) {
    ClipBox clip = _EffectiveClip();
    if (x > clip.x1 || y > clip.y1) return JPEG_OK;
    // Even the record is checked: the pool may be held by a running video.
    if (!_RoomForContext()) return JPEG_NO_POOL;
    const PoolMark job;
    JPEG_Context *ctx = _NewContext(data, size);
    JpegResult result = GUI_JPEG__ReadUntilSOF(ctx, 0);
    if (result == JPEG_OK) result = _InitFrame(ctx);
    if (result == JPEG_OK) result = _InitScan(ctx);
    if (result == JPEG_OK) result = _DrawAtOnce(ctx, x, y);
    GUI_JPEG__Free(ctx);
    return result;
}
