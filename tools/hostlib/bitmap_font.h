// A tiny bitmap font for the tools' own words on pictures (the viewer's
// status line, the frame numbers of contact sheets): printable ASCII, 5 x 7
// pixels a glyph in a 6 x 10 cell. Drawn by hand; nothing more is needed,
// and no font library is wanted for it.
#pragma once
#include <cstdint>
#include <string>

namespace nimbra {

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;
constexpr int kCellWidth = 6;
constexpr int kCellHeight = 10;

// The 7 rows of a character's glyph, bit 4 the leftmost pixel; characters
// outside 0x20 to 0x7E are drawn as '?'.
const uint8_t *glyphRows(char c);

// Draws `text` with its top-left corner at (x, y) into a 0xAARRGGBB image
// `width` x `height` pixels, clipped to it; returns the x after the text.
int drawText(uint32_t *image, int width, int height, int x, int y, const std::string &text, uint32_t colour);

}  // namespace nimbra
