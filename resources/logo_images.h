// The built-in ORV images of the logo screens.
#pragma once
#include <cstdint>

extern const uint8_t boot_logo_png[];        // 152 x 96, 4-bit palette
extern const uint32_t boot_logo_png_size;
extern const uint8_t pair_image_png[];       // 110 x 110, 4-bit palette
extern const uint32_t pair_image_png_size;
extern const uint8_t shutdown_image_png[];   // 99 x 104, 4-bit palette
extern const uint32_t shutdown_image_png_size;
extern const uint8_t BATTERY_LOW_PNG[];      // 53 x 24, 8-bit grey
extern const uint32_t BATTERY_LOW_PNG_size;
