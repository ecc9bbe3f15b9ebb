// Upload checks: PNG and JPEG headers against the device's decoders, SIF
// fonts against the device's font reader. Every read goes through one
// bounded cursor, so a damaged file is refused, never read past its end.
#include "tools/hostlib/resource_checks.h"

#include <cstring>

namespace nimbra {

namespace {

// A read position that cannot pass the end; a read beyond it sets `failed`
// and yields zeros.
struct Cursor {
    const Bytes &bytes;
    size_t pos = 0;
    bool failed = false;

    bool has(size_t n) const { return !failed && bytes.size() - pos >= n; }
    void skip(size_t n) {
        if (!has(n)) {
            failed = true;
            pos = bytes.size();
            return;
        }
        pos += n;
    }
    uint8_t u8() {
        if (!has(1)) {
            failed = true;
            return 0;
        }
        return bytes[pos++];
    }
    uint32_t be16() { return (uint32_t)u8() << 8 | u8(); }
    uint32_t be32() { return be16() << 16 | be16(); }
};

uint32_t _Le16(const Bytes &b, size_t at) { return (uint32_t)b[at] | (uint32_t)b[at + 1] << 8; }
uint32_t _Le32(const Bytes &b, size_t at) { return _Le16(b, at) | _Le16(b, at + 2) << 16; }

std::string _Size(uint32_t w, uint32_t h) { return std::to_string(w) + " x " + std::to_string(h); }

bool _Refuse(std::string &why, const std::string &message) {
    why = message;
    return false;
}

bool _CheckPictureSize(uint32_t w, uint32_t h, std::string &why) {
    if (w > kMaxPictureWidth || h > kMaxPictureHeight) {
        return _Refuse(why, "is " + _Size(w, h) + " pixels; the device takes pictures of at most " +
                                _Size(kMaxPictureWidth, kMaxPictureHeight));
    }
    // The PNG drawer refuses images one pixel wide or high; a JPEG without
    // pixels has nothing to draw either.
    if (w < 2 || h < 2) {
        return _Refuse(why, "is " + _Size(w, h) + " pixels; the device draws no picture narrower or lower than 2 pixels");
    }
    return true;
}

// PNG colour types.
constexpr uint8_t kPngGrey = 0, kPngTruecolour = 2, kPngIndexed = 3, kPngGreyAlpha = 4, kPngTruecolourAlpha = 6;

bool _CheckPng(const Bytes &file, ImageFacts &facts, std::string &why) {
    Cursor c{file};
    c.skip(8);   // signature
    uint32_t headerLength = c.be32();
    uint32_t type = c.be32();
    if (c.failed || type != 0x49484452u /* IHDR */ || headerLength < 13) {
        return _Refuse(why, "is not a PNG file the device reads (its first chunk is not a complete header)");
    }
    facts.width = c.be32();
    facts.height = c.be32();
    uint8_t depth = c.u8(), colourType = c.u8(), compression = c.u8(), filter = c.u8(), interlace = c.u8();
    if (c.failed) return _Refuse(why, "is cut short inside its header");
    if (interlace != 0) {
        return _Refuse(why, "is interlaced; the device decodes only PNGs without interlacing (save it again "
                            "with interlacing off)");
    }
    if (depth == 16) {
        return _Refuse(why, "has 16-bit samples; the device decodes 1, 2, 4 and 8 bits per sample (convert it "
                            "to 8 bits)");
    }
    if (depth != 1 && depth != 2 && depth != 4 && depth != 8) {
        return _Refuse(why, "has " + std::to_string(depth) + "-bit samples, which the device does not decode");
    }
    if (colourType != kPngGrey && colourType != kPngTruecolour && colourType != kPngIndexed &&
        colourType != kPngGreyAlpha && colourType != kPngTruecolourAlpha) {
        return _Refuse(why, "has colour type " + std::to_string(colourType) + ", which is no PNG colour type");
    }
    if (compression != 0 || filter != 0) {
        return _Refuse(why, "names a compression or filter method other than the standard one");
    }
    if (!_CheckPictureSize(facts.width, facts.height, why)) return false;
    facts.alpha = colourType == kPngGreyAlpha || colourType == kPngTruecolourAlpha;

    // The chunks must lie within the file up to the end chunk, as the
    // decoder walks them. The ORV marker gives the samples another meaning.
    c.pos = 8;
    bool orv = false;
    for (;;) {
        uint32_t length = c.be32();
        uint32_t chunk = c.be32();
        if (c.failed) return _Refuse(why, "is cut short: it ends before its end chunk (IEND)");
        if (chunk == 0x49454E44u /* IEND */) break;
        if (chunk == 0x6F72564Cu /* orVL */) orv = true;
        c.skip((size_t)length + 4);   // data and CRC
    }
    if (orv && (colourType == kPngTruecolour || colourType == kPngTruecolourAlpha)) {
        return _Refuse(why, "is an ORV image in truecolour, which the device draws as nothing (ORV images are "
                            "indexed, grey or grey with alpha: convert the original with nimbra-orv)");
    }
    return true;
}

// JPEG markers.
constexpr uint8_t kSof0 = 0xC0, kSof1 = 0xC1, kSof2 = 0xC2, kDht = 0xC4, kDac = 0xCC, kSoi = 0xD8, kEoi = 0xD9,
                  kSos = 0xDA, kApp14 = 0xEE,
                  kJpg = 0xC8;

// SOF3, SOF5 to SOF7, SOF9 to SOF11, SOF13 to SOF15.
bool _IsOtherFrame(uint8_t m) { return m >= 0xC3 && m <= 0xCF && m != kDht && m != kJpg && m != kDac; }

bool _CheckJpegFrame(Cursor &c, ImageFacts &facts, uint32_t &components, std::string &why) {
    uint32_t length = c.be16();
    uint8_t precision = c.u8();
    facts.height = c.be16();
    facts.width = c.be16();
    components = c.u8();
    if (c.failed || length != 8 + 3 * components) return _Refuse(why, "has a damaged frame header");
    if (precision != 8) {
        return _Refuse(why, "has " + std::to_string(precision) + "-bit samples; the device decodes 8-bit JPEGs only");
    }
    if (components != 1 && components != 3) {
        return _Refuse(why, "has " + std::to_string(components) +
                                " colour components; the device draws grey (1) and YCbCr (3) JPEGs");
    }
    uint8_t h[3] = {}, v[3] = {};
    for (uint32_t k = 0; k < components; k++) {
        c.u8();   // component identifier
        uint8_t sampling = c.u8();
        h[k] = sampling >> 4;
        v[k] = sampling & 15;
        c.u8();   // quantisation table
    }
    if (components == 3) {
        bool lumaKnown = h[0] >= 1 && h[0] <= 2 && v[0] >= 1 && v[0] <= 2;
        if (!lumaKnown || h[1] != 1 || v[1] != 1 || h[2] != 1 || v[2] != 1) {
            return _Refuse(why, "uses a chroma sampling the device does not decode (it draws 4:4:4, 4:2:2, "
                                "4:4:0 and 4:2:0)");
        }
    }
    if (facts.width == 0 || facts.height == 0) return _Refuse(why, "has no pixels (its frame is 0 pixels wide or high)");
    return _CheckPictureSize(facts.width, facts.height, why);
}

bool _CheckJpeg(const Bytes &file, ImageFacts &facts, std::string &why) {
    Cursor c{file};
    c.skip(2);   // SOI
    bool haveFrame = false;
    uint32_t components = 0;
    for (;;) {
        // Find the next marker, stepping over fill bytes.
        uint8_t b = c.u8();
        while (!c.failed && b != 0xFF) b = c.u8();
        while (!c.failed && b == 0xFF) b = c.u8();
        if (c.failed) return _Refuse(why, "ends before its first scan");
        uint8_t marker = b;
        if (marker == kSof0 || marker == kSof1) {
            if (!_CheckJpegFrame(c, facts, components, why)) return false;
            haveFrame = true;
            continue;
        }
        if (marker == kSof2) {
            return _Refuse(why, "is a progressive JPEG; the device decodes baseline JPEGs only (save it as "
                                "baseline, e.g. cjpeg without -progressive)");
        }
        if (_IsOtherFrame(marker) || marker == kDac || marker == kJpg) {
            return _Refuse(why, "is a lossless, hierarchical or arithmetic-coded JPEG; the device decodes "
                                "baseline JPEGs only");
        }
        if (marker == kSos) {
            if (!haveFrame) return _Refuse(why, "has a scan before its frame header");
            c.be16();
            uint32_t scanComponents = c.u8();
            if (c.failed) return _Refuse(why, "is cut short in its scan header");
            if (scanComponents != components) {
                return _Refuse(why, "stores its colour components in separate scans; the device decodes one "
                                    "interleaved scan");
            }
            return true;
        }
        if (marker == kSoi || marker == kEoi || marker == 0x00 || (marker >= 0xD0 && marker <= 0xD7) ||
            marker == 0x01) {
            return _Refuse(why, "has a misplaced marker before its first scan");
        }
        uint32_t length = c.be16();
        if (c.failed || length < 2) return _Refuse(why, "has a damaged segment before its first scan");
        if (marker == kApp14) {
            // The device draws only YCbCr: an Adobe segment must say so.
            size_t at = c.pos;
            if (length < 14 || !c.has(12) || file[at + 11] != 1) {
                return _Refuse(why, "is stored in RGB or CMYK colour (Adobe transform); the device draws "
                                    "YCbCr JPEGs only");
            }
        }
        c.skip(length - 2);
    }
}

// The device's font reader: the header's limits and, for each glyph, its
// table entry inside the file, its height at most twice the font's, and its
// bitmap (counted without row padding) inside the file.
constexpr uint32_t kSifMagic = 0x50495547u;   // "GUIP"
constexpr uint32_t kSifMinHeight = 6, kSifMaxHeight = 150, kSifMaxRanges = 32;
// A cached font shorter than this is treated as absent.
constexpr size_t kSifMinBytes = 64;

struct SifTable {
    uint32_t height = 0, rangeCount = 0, glyphs = 0;
    size_t glyphTable = 0;   // offset of the first glyph entry
};

// Reads the header and ranges; false with the reason when the device would
// not open the file whatever its depth.
bool _ReadSifTable(const Bytes &file, SifTable &t, std::string &why) {
    if (file.size() < 16 || _Le32(file, 0) != kSifMagic) return _Refuse(why, "is not a SIF font (no GUIP header)");
    if (file.size() < kSifMinBytes) {
        return _Refuse(why, "is a SIF font of " + std::to_string(file.size()) + " bytes; the device takes none under " +
                                std::to_string(kSifMinBytes));
    }
    t.height = _Le16(file, 4);
    t.rangeCount = _Le16(file, 14);
    if (t.height < kSifMinHeight || t.height > kSifMaxHeight) {
        return _Refuse(why, "has height " + std::to_string(t.height) + "; the device opens fonts of height " +
                                std::to_string(kSifMinHeight) + " to " + std::to_string(kSifMaxHeight));
    }
    if (t.rangeCount < 1 || t.rangeCount > kSifMaxRanges) {
        return _Refuse(why, "has " + std::to_string(t.rangeCount) + " character ranges; the device opens 1 to " +
                                std::to_string(kSifMaxRanges));
    }
    t.glyphTable = 16 + 4 * (size_t)t.rangeCount;
    if (file.size() < t.glyphTable) return _Refuse(why, "is cut short inside its range table");
    for (uint32_t r = 0; r < t.rangeCount; r++) {
        uint32_t first = _Le16(file, 16 + 4 * r), last = _Le16(file, 18 + 4 * r);
        if (last >= first) t.glyphs += last - first + 1;
    }
    if ((file.size() - t.glyphTable) / 16 < t.glyphs) {
        return _Refuse(why, "is cut short inside its glyph table (" + std::to_string(t.glyphs) + " glyphs)");
    }
    return true;
}

size_t _RowBytes(uint32_t width, int bits) { return ((size_t)width * (size_t)bits + 7) / 8; }

// True when the bitmaps lie end to end right after the glyph table and the
// file ends with the last one, for rows of `bits` per pixel.
bool _LaidEndToEnd(const Bytes &file, const SifTable &t, int bits) {
    size_t expected = t.glyphTable + 16 * (size_t)t.glyphs;
    for (uint32_t g = 0; g < t.glyphs; g++) {
        size_t e = t.glyphTable + 16 * (size_t)g;
        if (_Le32(file, e + 12) != expected) return false;
        expected += _Le16(file, e + 2) * _RowBytes(_Le16(file, e), bits);
    }
    return expected == file.size();
}

// Whether every bitmap, rows padded, lies inside the file at this depth.
bool _BitmapsInside(const Bytes &file, const SifTable &t, int bits) {
    for (uint32_t g = 0; g < t.glyphs; g++) {
        size_t e = t.glyphTable + 16 * (size_t)g;
        if ((size_t)_Le32(file, e + 12) + _Le16(file, e + 2) * _RowBytes(_Le16(file, e), bits) > file.size()) {
            return false;
        }
    }
    return true;
}

}  // namespace

FileKind fileKind(const Bytes &file) {
    if (file.size() >= 4 && file[0] == 0x89 && file[1] == 'P' && file[2] == 'N' && file[3] == 'G') return FileKind::Png;
    if (file.size() >= 2 && file[0] == 0xFF && file[1] == kSoi) return FileKind::Jpeg;
    if (file.size() >= 4 && _Le32(file, 0) == kSifMagic) return FileKind::Sif;
    return FileKind::Unknown;
}

const char *fileKindName(FileKind kind) {
    switch (kind) {
    case FileKind::Png: return "a PNG image";
    case FileKind::Jpeg: return "a JPEG image";
    case FileKind::Sif: return "a SIF font";
    default: return "neither a PNG, a JPEG nor a SIF file";
    }
}

bool checkImageFile(const Bytes &file, ImageFacts &facts, std::string &why) {
    facts = ImageFacts{};
    facts.kind = fileKind(file);
    switch (facts.kind) {
    case FileKind::Png: return _CheckPng(file, facts, why);
    case FileKind::Jpeg: return _CheckJpeg(file, facts, why);
    case FileKind::Sif: return _Refuse(why, "is a SIF font, not an image: upload it with --font SLOT");
    default: return _Refuse(why, "is neither a PNG nor a JPEG image");
    }
}

int sifBitsPerPixel(const Bytes &file) {
    SifTable t;
    std::string why;
    if (!_ReadSifTable(file, t, why)) return 0;
    bool two = _LaidEndToEnd(file, t, 2), four = _LaidEndToEnd(file, t, 4);
    if (two != four) return two ? 2 : 4;
    if (two) return 0;   // every glyph too narrow to tell
    // Not laid end to end: a depth whose bitmaps would pass the end of the
    // file is ruled out.
    bool twoInside = _BitmapsInside(file, t, 2), fourInside = _BitmapsInside(file, t, 4);
    return twoInside && !fourInside ? 2 : 0;
}

bool checkSifFile(const Bytes &file, int bitsPerPixel, FontFacts &facts, std::string &why) {
    facts = FontFacts{};
    FileKind kind = fileKind(file);
    if (kind == FileKind::Png || kind == FileKind::Jpeg) {
        return _Refuse(why, std::string("is ") + fileKindName(kind) + ", not a SIF font: upload it with --image SLOT");
    }
    SifTable t;
    if (!_ReadSifTable(file, t, why)) return false;
    int shown = sifBitsPerPixel(file);
    if (bitsPerPixel != 0 && shown != 0 && shown != bitsPerPixel) {
        return _Refuse(why, "has " + std::to_string(shown) + " bits per pixel (its glyph table says so), not " +
                                std::to_string(bitsPerPixel) + ": leave out --bpp or give --bpp " +
                                std::to_string(shown));
    }
    int bits = bitsPerPixel ? bitsPerPixel : shown ? shown : 2;
    for (uint32_t g = 0; g < t.glyphs; g++) {
        size_t e = t.glyphTable + 16 * (size_t)g;
        uint32_t width = _Le16(file, e), rows = _Le16(file, e + 2), offset = _Le32(file, e + 12);
        if (rows > 2 * t.height) {
            return _Refuse(why, "has a glyph " + std::to_string(rows) + " rows high, more than twice the font's "
                                "height of " + std::to_string(t.height));
        }
        if ((size_t)offset + (size_t)bits * width * rows / 8 > file.size()) {
            return _Refuse(why, "has glyph bitmaps past the end of the file at " + std::to_string(bits) +
                                    " bits per pixel");
        }
    }
    facts.bitsPerPixel = bits;
    facts.height = t.height;
    facts.glyphs = t.glyphs;
    return true;
}

}  // namespace nimbra
