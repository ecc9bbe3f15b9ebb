// Drawing PNG and ORV images into the current frame buffer, clipped to the
// clip rectangle. Ordinary images are quantised to RGB332 and blended where
// they carry alpha; ORV images already hold colour indices.
#pragma once
#include <cstdint>

// Draws the image with its top-left corner at (x, y). Returns 0 on success,
// also when the image data ends early (the rows it has stay drawn) or when
// nothing of the image lies inside the clip rectangle; -1 when the image is
// one pixel wide or high or lies wholly above or left of the origin; 1 when
// the decoder cannot start (no pool room for its record, or the inflater
// fails to initialise); 2 when the chunks or the compressed data are damaged
// (rows drawn before stay drawn); 3 or 4 when the header is refused.
int GUI_PNG_Draw(const uint8_t *data, uint32_t size, int32_t x, int32_t y);

// Reads the size and whether the image carries alpha (colour types 4 and 6)
// from the header alone, taking nothing from the pool. Returns 0, or the
// header's refusal (3 or 4), and then writes nothing.
int GUI_PNG_GetSize(const uint8_t *data, uint32_t size, uint32_t *xSize, uint32_t *ySize, uint8_t *hasAlpha);
