#include "tools/hostlib/indexed_frame.h"

#include <cstdio>
#include <cstring>

#include "tools/hostlib/colour_indexing.h"

namespace nimbra {

namespace {

constexpr uint8_t kLevels3[8] = {0x00, 0x25, 0x49, 0x6D, 0x92, 0xB6, 0xDB, 0xFF};
constexpr uint8_t kLevels2[4] = {0x00, 0x55, 0xAA, 0xFF};

Palette _MakePalette(PixelMode mode) {
    Palette p{};
    for (int i = 0; i < 256; i++) {
        p[i] = mode == PixelMode::Grey ? Rgb{(uint8_t)i, (uint8_t)i, (uint8_t)i}
                                       : Rgb{kLevels3[i >> 5], kLevels3[(i >> 2) & 7], kLevels2[i & 3]};
    }
    return p;
}

// A pixel's four bytes as one little-endian word: blue in the low byte.
uint32_t _PixelWord(const uint8_t *p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

// The one index a pixel's bytes can be: the top bits of each channel name
// its level (the levels are spread so that they differ there). Whether the
// bytes are that index's is for the caller to check.
uint8_t _CandidateIndex(uint32_t word) {
    return (uint8_t)(((word >> 16) & 0xE0) | ((word >> 11) & 0x1C) | ((word >> 6) & 0x03));
}

bool _IsColour(const uint8_t *p) {
    const uint32_t w = _PixelWord(p);
    return colourFrameWords()[_CandidateIndex(w)] == w;
}

bool _IsGrey(const uint8_t *p) { return p[0] == p[1] && p[0] == p[2] && p[3] == kFramePixelMarker; }

std::string _Where(size_t i) {
    return "pixel (" + std::to_string(i % kScreenWidth) + ", " + std::to_string(i / kScreenWidth) + ")";
}

// Why a frame is neither all colour nor all grey: its first pixel that is
// neither, or else the first of each kind.
std::string _NotADeviceFrame(const uint8_t *pixels) {
    size_t firstNotColour = kScreenPixels, firstNotGrey = kScreenPixels;
    for (size_t i = 0; i < kScreenPixels; i++) {
        const uint8_t *p = pixels + i * 4;
        const bool colour = _IsColour(p), grey = _IsGrey(p);
        if (!colour && !grey) {
            char bytes[16];
            snprintf(bytes, sizeof bytes, "%02X %02X %02X %02X", p[0], p[1], p[2], p[3]);
            return _Where(i) + " has the bytes " + bytes + ": neither a device colour nor a grey level";
        }
        if (!colour && firstNotColour == kScreenPixels) firstNotColour = i;
        if (!grey && firstNotGrey == kScreenPixels) firstNotGrey = i;
    }
    return _Where(firstNotColour) + " is grey but " + _Where(firstNotGrey) +
           " is a colour: a frame is all colour or all grey";
}

}  // namespace

const Palette &paletteOf(PixelMode mode) {
    static const Palette colour = _MakePalette(PixelMode::Colour), grey = _MakePalette(PixelMode::Grey);
    return mode == PixelMode::Grey ? grey : colour;
}

bool indexFrame(const uint8_t *frameBytes, IndexedFrame &out, std::string *error) {
    out.processedBytes = (uint32_t)frameBytes[0] | ((uint32_t)frameBytes[1] << 8) |
                         ((uint32_t)frameBytes[2] << 16) | ((uint32_t)frameBytes[3] << 24);
    return indexFramePixels(frameBytes + 4, out, error);
}

bool indexFramePixels(const uint8_t *pixels, IndexedFrame &out, std::string *error) {
    out.index.resize(kScreenPixels);
    uint8_t *index = out.index.data();
    // Colour first: it is the usual mode, and one pass decides it.
    if (indexColourPixels(pixels, index)) {
        out.mode = PixelMode::Colour;
        return true;
    }
    for (size_t i = 0; i < kScreenPixels; i++) {
        const uint8_t *p = pixels + i * 4;
        if (!_IsGrey(p)) {
            if (error) *error = _NotADeviceFrame(pixels);
            return false;
        }
        index[i] = p[0];
    }
    out.mode = PixelMode::Grey;
    return true;
}

void expandFrame(const IndexedFrame &frame, uint8_t *frameBytes) {
    frameBytes[0] = (uint8_t)frame.processedBytes;
    frameBytes[1] = (uint8_t)(frame.processedBytes >> 8);
    frameBytes[2] = (uint8_t)(frame.processedBytes >> 16);
    frameBytes[3] = (uint8_t)(frame.processedBytes >> 24);
    const Palette &palette = paletteOf(frame.mode);
    uint8_t *p = frameBytes + 4;
    for (size_t i = 0; i < kScreenPixels; i++, p += 4) {
        const Rgb c = palette[frame.index[i]];
        p[0] = c.b;
        p[1] = c.g;
        p[2] = c.r;
        p[3] = kFramePixelMarker;
    }
}

FrameChange compareFrames(const IndexedFrame &before, const IndexedFrame &after, std::vector<uint8_t> *mask) {
    FrameChange change;
    if (mask) mask->assign(kScreenPixels, 0);
    const bool sameMode = before.mode == after.mode;
    const Palette &pb = paletteOf(before.mode), &pa = paletteOf(after.mode);
    for (int y = 0; y < kScreenHeight; y++) {
        const uint8_t *b = before.index.data() + (size_t)y * kScreenWidth;
        const uint8_t *a = after.index.data() + (size_t)y * kScreenWidth;
        // Whole rows that are the same are the common case.
        if (sameMode && memcmp(a, b, kScreenWidth) == 0) continue;
        for (int x = 0; x < kScreenWidth; x++) {
            const bool differs = sameMode ? a[x] != b[x] : !(pa[a[x]] == pb[b[x]]);
            if (!differs) continue;
            if (mask) (*mask)[(size_t)y * kScreenWidth + x] = 1;
            if (change.count++ == 0) {
                change.x0 = change.x1 = x;
                change.y0 = y;
            }
            if (x < change.x0) change.x0 = x;
            if (x > change.x1) change.x1 = x;
            change.y1 = y;
        }
    }
    return change;
}

}  // namespace nimbra
