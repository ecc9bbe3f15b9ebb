// What the device accepts as an upload, checked on the host before anything
// is sent: the device answers a file it cannot use with a bare result code,
// or takes it and draws nothing, so a host tool says why in words instead.
//
// The checks read only headers and tables: the PNG header and chunk layout,
// the JPEG markers up to the first scan, the SIF header, ranges and glyph
// table. Each refusal names the problem and, where there is one, the fix.
#pragma once
#include <cstdint>
#include <string>

#include "tools/hostlib/nimbra_host.h"

namespace nimbra {

// The largest picture the device caches or draws.
constexpr uint32_t kMaxPictureWidth = kScreenWidth;
constexpr uint32_t kMaxPictureHeight = kScreenHeight;

enum class FileKind { Unknown, Png, Jpeg, Sif };

// What a file is, from its first bytes.
FileKind fileKind(const Bytes &file);
// "a PNG image", "a JPEG image", "a SIF font", "neither a PNG, a JPEG nor a SIF file".
const char *fileKindName(FileKind kind);

struct ImageFacts {
    FileKind kind = FileKind::Unknown;
    uint32_t width = 0, height = 0;
    bool alpha = false;   // a PNG with an alpha channel: drawn blended
};

// Checks a PNG or JPEG file the way the device's loader and decoders will
// meet it. False with the reason in `why` ("is interlaced; ...").
bool checkImageFile(const Bytes &file, ImageFacts &facts, std::string &why);

// The bits per pixel a SIF file's glyph table shows: its glyphs' bitmaps lie
// end to end, each glyphHeight rows of ceil(glyphWidth x bits / 8) bytes, so
// the offsets fit 2 or 4 bits but not both. 0 when they do not tell (every
// glyph so narrow that both depths give the same rows, or bitmaps not laid
// end to end).
int sifBitsPerPixel(const Bytes &file);

struct FontFacts {
    int bitsPerPixel = 0;   // the depth checked: as given, or as the file shows
    uint32_t height = 0;
    uint32_t glyphs = 0;
};

// Checks a SIF font as the device opens it, at `bitsPerPixel` (2 or 4), or
// at the depth the file shows when `bitsPerPixel` is 0 (2 when it does not
// tell). A depth given that the glyph table contradicts is refused.
bool checkSifFile(const Bytes &file, int bitsPerPixel, FontFacts &facts, std::string &why);

}  // namespace nimbra
