// The JPEG decoder's colour conversion: Y, Cb, Cr samples to RGB332 colour
// indices. YCbCr to RGB in 16-bit fixed point (the JFIF coefficients 1.402,
// 1.772, 0.71414 and 0.34414), each channel limited to 0..255 and rounded to
// the nearest of 8, 8 and 4 levels (the RGB332 quantisation). There is no
// chroma interpolation: a chroma sample is repeated over the pixels it
// covers. The SSE2 path and the portable one give the same bytes.
#pragma once
#include <cstdint>

// 8 pixels, each with its own chroma sample.
void JPEG_ConvertPixels8(const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint8_t *out);
// 16 pixels, 8 of luma from `yLeft` then 8 from `yRight`; each of the 8
// chroma samples covers two neighbouring pixels.
void JPEG_ConvertPixels16(const uint8_t *yLeft, const uint8_t *yRight, const uint8_t *cb, const uint8_t *cr,
                          uint8_t *out);
// 8 grey pixels (R = G = B = Y).
void JPEG_ConvertGray8(const uint8_t *y, uint8_t *out);

// The portable paths, which the SSE2 ones must equal.
void JPEG_ConvertPixels8Portable(const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint8_t *out);
void JPEG_ConvertPixels16Portable(const uint8_t *yLeft, const uint8_t *yRight, const uint8_t *cb, const uint8_t *cr,
                                  uint8_t *out);
void JPEG_ConvertGray8Portable(const uint8_t *y, uint8_t *out);
