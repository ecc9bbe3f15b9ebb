// Drawing PNG and ORV images into the current frame buffer.
#pragma once
#include <cstdint>

// Draws the image with its top-left corner at (x, y); 0 on success.
int GUI_PNG_Draw(const uint8_t *data, uint32_t size, int32_t x, int32_t y);
