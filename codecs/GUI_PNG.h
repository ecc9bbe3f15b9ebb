// Drawing PNG and ORV images into the current frame buffer, clipped to the
// clip rectangle. Ordinary images are quantised to RGB332 and blended where
// they carry alpha; ORV images already hold colour indices.
#pragma once
#include <cstdint>

// The results (PngResult) are those of the reader.
#include "codecs/png.h"

// Draws the image with its top-left corner at (x, y). PNG_OK on success,
// also when the image data ends early (the rows it has stay drawn) or when
// nothing of the image lies inside the clip rectangle; PNG_NOT_DRAWABLE
// when the image is one pixel wide or high or lies wholly above or left of
// the origin; PNG_NO_POOL or PNG_INFLATE_INIT_FAILED (both 1) when the
// decoder cannot start; PNG_CORRUPT when the chunks or the compressed data
// are damaged (rows drawn before stay drawn); PNG_UNSUPPORTED or PNG_NOT_PNG
// when the header is refused.
[[nodiscard]] PngResult GUI_PNG_Draw(const uint8_t *data, uint32_t size, int32_t x, int32_t y);

// Reads the size and whether the image carries alpha (colour types 4 and 6)
// from the header alone, taking nothing from the pool. Returns PNG_OK, or
// the header's refusal (PNG_UNSUPPORTED or PNG_NOT_PNG), and then writes
// nothing.
[[nodiscard]] PngResult GUI_PNG_GetSize(const uint8_t *data, uint32_t size, uint32_t *xSize, uint32_t *ySize,
                                        uint8_t *hasAlpha);
