// SIF fonts and antialiased text. Fonts are validated once when opened, so
// that lookups and drawing can trust the glyph table; glyph bitmaps are
// still bounded by the file size at draw time, because the open check counts
// glyph data without its row padding. Glyphs are blended through the 2-bit
// and 4-bit coverage mixers with the current colour.
#include "gui/GUI_Font.h"

#include <cstring>

#include "gui/GUICC_M332.h"
#include "gui/GUI_Common.h"
#include "host/bytes.h"

// ------------------------------------------------------------- opening a font

static uint32_t _GlyphTableOffset(uint32_t rangeCount) { return SIF_HEADER_BYTES + SIF_RANGE_BYTES * rangeCount; }

// A range whose last code lies below its first holds no glyphs.
static uint32_t _RangeGlyphCount(const uint8_t *range) {
    uint16_t first = rd16le(range), last = rd16le(range + 2);
    return last >= first ? (uint32_t)(last - first) + 1 : 0;
}

SifResult GUI_SIF_CreateFont(const uint8_t *data, GUI_FONT *font, uint8_t bitsPerPixel, uint32_t size) {
    // A file too short for its header is refused before any field is read.
    if (!data || size < SIF_HEADER_BYTES) return SIF_REFUSED;
    uint32_t height = rd16le(data + 4);
    uint32_t rangeCount = rd16le(data + 14);
    if (rd32le(data) != SIF_MAGIC || rangeCount == 0 || rangeCount > SIF_MAX_RANGES || height > SIF_MAX_HEIGHT ||
        height < SIF_MIN_HEIGHT) {
        return SIF_REFUSED;
    }
    font->data = data;
    font->dataSize = size;
    font->bitsPerPixel = bitsPerPixel;
    font->height = (uint8_t)height;
    font->lineDistance = (uint8_t)rd16le(data + 6);

    const uint32_t glyphTable = _GlyphTableOffset(rangeCount);
    uint64_t glyph = 0;
    for (uint32_t r = 0; r < rangeCount; r++) {
        if (SIF_HEADER_BYTES + SIF_RANGE_BYTES * r + SIF_RANGE_BYTES > size) return SIF_REFUSED;
        uint32_t count = _RangeGlyphCount(data + SIF_HEADER_BYTES + SIF_RANGE_BYTES * r);
        for (uint32_t i = 0; i < count; i++, glyph++) {
            uint64_t entry = glyphTable + SIF_GLYPH_BYTES * glyph;
            if (entry + SIF_GLYPH_BYTES > size) return SIF_REFUSED;
            const uint8_t *g = data + entry;
            uint32_t glyphWidth = rd16le(g + SIF_GLYPH_WIDTH);
            uint32_t glyphHeight = rd16le(g + SIF_GLYPH_HEIGHT);
            uint64_t dataOffset = rd32le(g + SIF_GLYPH_DATA_OFFSET);
            if (glyphHeight > 2 * height) return SIF_REFUSED;
            const uint64_t glyphDataBytes = ((uint64_t)bitsPerPixel * glyphWidth * glyphHeight) / 8;
            if ((uint64_t)size < dataOffset + glyphDataBytes) return SIF_REFUSED;
        }
    }
    return SIF_OK;
}

GUI_GlyphRef GUI_SIF_GetCharInfo(const GUI_FONT *font, uint16_t code) {
    if (!font || !font->data) return nullptr;
    const uint8_t *data = font->data;
    uint32_t rangeCount = rd16le(data + 14);
    uint32_t glyph = 0;
    for (uint32_t r = 0; r < rangeCount; r++) {
        const uint8_t *range = data + SIF_HEADER_BYTES + SIF_RANGE_BYTES * r;
        uint16_t first = rd16le(range), last = rd16le(range + 2);
        if (first <= code && code <= last) {
            return data + _GlyphTableOffset(rangeCount) + SIF_GLYPH_BYTES * (glyph + (uint32_t)(code - first));
        }
        glyph += _RangeGlyphCount(range);
    }
    return nullptr;
}

// ------------------------------------------------------------------- UTF-8

uint16_t UTF8_Decode(const uint8_t *bytes, uint32_t available, uint32_t *length) {
    *length = 0;
    if (available == 0) return 0;
    uint8_t b0 = bytes[0];
    if (b0 < 0x80) {
        *length = 1;
        return b0;
    }
    // Continuation bytes are taken as they come; a sequence cut off by the
    // end of the text ends the line like an unaccepted lead byte, so nothing
    // past the text is read.
    if ((b0 & 0xE0) == 0xC0) {
        if (available < 2) return 0;
        *length = 2;
        return (uint16_t)(((b0 & 0x1F) << 6) | (bytes[1] & 0x3F));
    }
    if ((b0 & 0xF0) == 0xE0) {
        if (available < 3) return 0;
        *length = 3;
        return (uint16_t)(((b0 & 0x0F) << 12) | ((bytes[1] & 0x3F) << 6) | (bytes[2] & 0x3F));
    }
    return 0;
}

// ------------------------------------------------------------ text lines

int32_t GUI_PrapareLine(const uint8_t *text, uint32_t byteCount, int32_t *width, int32_t *height, GUI_GlyphRef *refs) {
    const GUI_FONT *font = GUI_Context.font;
    int32_t count = 0, total = 0;
    *width = 0;
    *height = font ? font->lineDistance : 0;
    if (!font) return 0;
    uint32_t i = 0;
    while (i < byteCount) {
        uint32_t length;
        uint16_t code = UTF8_Decode(text + i, byteCount - i, &length);
        if (length == 0) break;
        i += length;
        GUI_GlyphRef glyph = GUI_SIF_GetCharInfo(font, code);
        total += glyph ? rd16le(glyph + SIF_GLYPH_ADVANCE) : font->height / 2;
        refs[count++] = glyph;
    }
    *width = total;
    return count;
}

void GUI_DispPraparedLine(int32_t count, const GUI_GlyphRef *refs, int32_t x, int32_t y) {
    const GUI_FONT *font = GUI_Context.font;
    if (!font) return;
    int32_t pen = x;
    // The first character is always drawn; the line stops once the pen has
    // reached the right clip edge.
    for (int32_t i = 0; i < count; i++) {
        GUI_GlyphRef glyph = refs[i];
        int32_t advance;
        if (glyph) {
            DispChar(glyph, pen, y, font->bitsPerPixel);
            advance = rd16le(glyph + SIF_GLYPH_ADVANCE);
        } else {
            advance = font->height / 2;
        }
        pen += advance;
        if (pen >= GUI_Context.clipX1) break;
    }
}

// ------------------------------------------------------------------ glyphs

void DispChar(GUI_GlyphRef glyph, int32_t x, int32_t y, uint8_t bitsPerPixel) {
    const GUI_FONT *font = GUI_Context.font;
    if (!glyph || !font || (bitsPerPixel != 2 && bitsPerPixel != 4)) return;
    const int32_t pixelsPerByte = 8 / bitsPerPixel;
    const int32_t glyphWidth = rd16le(glyph + SIF_GLYPH_WIDTH);
    const int32_t glyphHeight = rd16le(glyph + SIF_GLYPH_HEIGHT);
    const int32_t bytesPerRow = (glyphWidth + pixelsPerByte - 1) / pixelsPerByte;
    const uint32_t dataOffset = rd32le(glyph + SIF_GLYPH_DATA_OFFSET);
    if (dataOffset > font->dataSize) return;   // opened fonts never have this
    x += (int16_t)rd16le(glyph + SIF_GLYPH_XOFFSET);
    y += (int16_t)rd16le(glyph + SIF_GLYPH_YOFFSET);
    const uint8_t *bitmap = font->data + dataOffset;

    // The padded rows of a glyph at the end of the file may reach past it.
    // Bytes beyond the file count as zero coverage: the rows that lie wholly
    // inside are drawn as they are, a cut row only as far as its bytes go.
    uint32_t available = font->dataSize - dataOffset;
    uint32_t fullRows = bytesPerRow > 0 ? available / (uint32_t)bytesPerRow : (uint32_t)glyphHeight;
    if (fullRows >= (uint32_t)glyphHeight) {
        GUI_DrawCharAA(x, y, glyphWidth, glyphHeight, bytesPerRow, bitsPerPixel, bitmap);
        return;
    }
    if (fullRows > 0) GUI_DrawCharAA(x, y, glyphWidth, (int32_t)fullRows, bytesPerRow, bitsPerPixel, bitmap);
    int32_t cutPixels = (int32_t)(available - fullRows * (uint32_t)bytesPerRow) * pixelsPerByte;
    if (cutPixels > 0) {
        GUI_DrawCharAA(x, y + (int32_t)fullRows, cutPixels < glyphWidth ? cutPixels : glyphWidth, 1, bytesPerRow,
                       bitsPerPixel, bitmap + fullRows * (uint32_t)bytesPerRow);
    }
}

void GUI_DrawCharAA(int32_t x, int32_t y, int32_t width, int32_t rows, int32_t bytesPerRow, uint8_t bitsPerPixel,
                    const uint8_t *bitmap) {
    if (bitsPerPixel != 2 && bitsPerPixel != 4) return;
    const int32_t pixelsPerByte = 8 / bitsPerPixel;
    const int32_t clipX0 = GUI_Context.clipX0, clipY0 = GUI_Context.clipY0;
    const int32_t clipX1 = GUI_Context.clipX1, clipY1 = GUI_Context.clipY1;
    // A glyph ending exactly at clipX0 has no visible pixel either; leaving
    // it out here also keeps the mixer from reading the byte after its row.
    if ((int64_t)x + width <= clipX0 || x > clipX1 || width <= 0 || rows <= 0) return;
    if ((int64_t)x + width > clipX1) width = clipX1 - x + 1;

    int32_t skip = 0, end = width;
    if (x < clipX0) {
        int32_t d = clipX0 - x;
        bitmap += d / pixelsPerByte;
        skip = d % pixelsPerByte;
        end = width - d + skip;
        x = clipX0;
    }
    // A clip rectangle with its right edge left of its left edge leaves
    // nothing to draw.
    if (end <= skip) return;

    int64_t lastRow = (int64_t)y + rows - 1;
    if (lastRow > clipY1) lastRow = clipY1;
    int32_t firstRow = y;
    if (y < clipY0) {
        if ((int64_t)clipY0 > lastRow) return;
        bitmap += (int64_t)(clipY0 - y) * bytesPerRow;
        firstRow = clipY0;
    }
    if (firstRow > lastRow) return;

    if (bitsPerPixel == 2) {
        Mix2bitBlockM332(x, firstRow, (int32_t)lastRow + 1, bitmap, end, bytesPerRow, skip);
    } else {
        Mix4bitBlockM332(x, firstRow, (int32_t)lastRow + 1, bitmap, end, bytesPerRow, skip);
    }
}
