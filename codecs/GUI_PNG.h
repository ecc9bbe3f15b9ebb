// Drawing PNG and ORV images into the current frame buffer, clipped to the
// clip rectangle. Ordinary images are quantised to RGB332 and blended where
// they carry alpha; ORV images already hold colour indices.
#pragma once
#include <cstdint>

// Draws the image with its top-left corner at (x, y). 0 on success or when
// nothing of it lies inside the clip rectangle; -1 when the image is one
// pixel wide or high or lies wholly above or left of the origin; otherwise
// the reader's result (1 to 4).
int GUI_PNG_Draw(const uint8_t *data, uint32_t size, int32_t x, int32_t y);

// Reads the size and whether the image carries alpha (colour types 4 and 6)
// from the header alone. 0 on success; otherwise the header's refusal (3 or
// 4) and nothing is written.
int GUI_PNG_GetSize(const uint8_t *data, uint32_t size, uint32_t *xSize, uint32_t *ySize, uint8_t *hasAlpha);
