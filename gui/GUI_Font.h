// SIF fonts: the font record and the text drawing entry points.
#pragma once
#include <cstdint>

struct GUI_FONT {
    uint8_t height;         // the header's height (first byte: GUI_GetFontSizeY reads it)
    uint8_t lineDistance;   // low 8 bits of the header's lineDistance
    uint8_t bitsPerPixel;   // 2 or 4
    const uint8_t *data;    // the SIF file, used in place
    uint32_t dataSize;      // bytes
};
