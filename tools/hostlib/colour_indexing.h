// Output frames read back as RGB332 indices, for every tool that reads
// frames: each pixel's four bytes (blue, green, red, 0xAA) become the one
// index whose device colour they are. SSE2, which every x86-64 has, or AVX2
// where the processor has it: the same bytes either way.
#pragma once
#include <cstdint>

namespace nimbra {

// The 32-bit word (blue, green, red, 0xAA in memory order, read
// little-endian) an output frame writes for each colour index.
const uint32_t *colourFrameWords();

// Converts a screen of pixels (640 x 400 x 4 bytes) into indices; false when
// any pixel is no device colour (the indices are then incomplete).
// `forceSse2` takes the SSE2 path even where AVX2 is there (for tests).
bool indexColourPixels(const uint8_t *pixels, uint8_t *index, bool forceSse2 = false);

}  // namespace nimbra
