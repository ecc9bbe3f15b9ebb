// The inverse DCT of the JPEG decoder: the slow integer transform (constants
// scaled by 2^13, two extra bits between the passes, rows first), exact to
// the bit. The decoder stores its coefficient blocks transposed (the
// coefficient of horizontal frequency u and vertical frequency v at index
// u x 8 + v), which lets the SSE2 path run the row pass down the stored
// columns. The SSE2 path and the portable one give the same bytes for every
// block of 16-bit coefficients.
#pragma once
#include <cstdint>

// One block: transposed coefficients in, 8 rows of 8 samples out (row by
// row).
void JPEG_Idct(const int16_t coefficients[64], uint8_t samples[64]);
// The portable path, which the SSE2 one must equal.
void JPEG_IdctPortable(const int16_t coefficients[64], uint8_t samples[64]);
