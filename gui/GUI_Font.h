// SIF fonts: the font record and the text drawing entry points.
//
// A SIF file is used in place: opening it validates its header, ranges and
// glyph table and fills a small record. Text is drawn in two steps so that
// callers can align it: GUI_PrapareLine decodes UTF-8 and resolves glyphs,
// GUI_DispPraparedLine blends them into the current device.
#pragma once
#include <cstdint>

struct GUI_FONT {
    uint8_t height;         // the header's height (first byte: GUI_GetFontSizeY reads it)
    uint8_t lineDistance;   // low 8 bits of the header's lineDistance
    uint8_t bitsPerPixel;   // 2 or 4
    const uint8_t *data;    // the SIF file, used in place
    uint32_t dataSize;      // bytes
};

// Layout of a SIF file (little-endian).
constexpr uint32_t SIF_MAGIC = 0x50495547u;   // "GUIP"
constexpr uint32_t SIF_HEADER_BYTES = 16;
constexpr uint32_t SIF_RANGE_BYTES = 4;
constexpr uint32_t SIF_GLYPH_BYTES = 16;
constexpr uint32_t SIF_MAX_RANGES = 32;
constexpr uint32_t SIF_MIN_HEIGHT = 6;
constexpr uint32_t SIF_MAX_HEIGHT = 150;

// Offsets of the fields of a glyph table entry.
constexpr uint32_t SIF_GLYPH_WIDTH = 0;
constexpr uint32_t SIF_GLYPH_HEIGHT = 2;
constexpr uint32_t SIF_GLYPH_XOFFSET = 4;
constexpr uint32_t SIF_GLYPH_YOFFSET = 6;
constexpr uint32_t SIF_GLYPH_ADVANCE = 8;
constexpr uint32_t SIF_GLYPH_DATA_OFFSET = 12;

// A glyph reference: the address of a glyph table entry inside an opened
// font's file, or null for a character the font lacks.
using GUI_GlyphRef = const uint8_t *;

// The longest text line, in bytes and so in characters.
constexpr uint32_t GUI_MAX_LINE_CHARS = 128;

// Opening a SIF file.
enum SifResult : int { SIF_OK = 0, SIF_REFUSED = -1 };

// SIF_OK when the file is valid and the record filled, SIF_REFUSED
// otherwise (the record may then hold a partial glyph table: clear it).
[[nodiscard]] SifResult GUI_SIF_CreateFont(const uint8_t *data, GUI_FONT *font, uint8_t bitsPerPixel, uint32_t size);
GUI_GlyphRef GUI_SIF_GetCharInfo(const GUI_FONT *font, uint16_t code);

// Decodes one character from at most `available` bytes. *length is the
// number of bytes used (1 to 3), or 0 when the lead byte is not accepted or
// its sequence is cut off by the end of the text.
uint16_t UTF8_Decode(const uint8_t *bytes, uint32_t available, uint32_t *length);

// Resolves up to byteCount characters into refs (room for byteCount
// references) with the current font; returns the character count.
int32_t GUI_PrapareLine(const uint8_t *text, uint32_t byteCount, int32_t *width, int32_t *height, GUI_GlyphRef *refs);
void GUI_DispPraparedLine(int32_t count, const GUI_GlyphRef *refs, int32_t x, int32_t y);
void DispChar(GUI_GlyphRef glyph, int32_t x, int32_t y, uint8_t bitsPerPixel);
void GUI_DrawCharAA(int32_t x, int32_t y, int32_t width, int32_t rows, int32_t bytesPerRow, uint8_t bitsPerPixel,
                    const uint8_t *bitmap);
