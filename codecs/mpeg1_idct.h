// The 8 x 8 inverse DCT of the MPEG-1 video decoder: separable, integer,
// 14-bit cosines, three extra bits kept between the passes, accurate within
// the limits that interchangeable inverse DCTs must keep to.
//
// Coefficient blocks are stored transposed (the coefficient of horizontal
// frequency u and vertical frequency v at index u x 8 + v), so that the
// first pass, along the rows of the picture, runs down the stored columns.
// Results go straight into the picture: put (intra blocks) stores the
// samples clamped to 0..255, add (predicted blocks) adds them to the
// prediction already there and clamps.
//
// The SSE2 path and the portable one compute the same integers: 32-bit
// wrapping sums, the same roundings, 16-bit saturation between the passes.
#pragma once
#include <cstdint>

// Stores the transform of `coefficients` into 8 rows of 8 samples, `stride`
// bytes apart. `low` promises that only frequencies 0 to 3 each way are
// non-zero (a shorter kernel, the same result).
void MPEG_IdctPut(const int16_t coefficients[64], uint8_t *destination, int stride, bool low);
// Adds the transform of `coefficients` to the 8 x 8 samples at `destination`.
void MPEG_IdctAdd(const int16_t coefficients[64], uint8_t *destination, int stride, bool low);
// The transform itself (transposed coefficients in), as signed samples in
// natural order (row by row), saturated to 16 bits; and the same with the
// promise of `low` above.
void MPEG_Idct(const int16_t coefficients[64], int16_t samples[64]);
void MPEG_IdctLow(const int16_t coefficients[64], int16_t samples[64]);
// The portable path, which the SSE2 one must equal.
void MPEG_IdctPortable(const int16_t coefficients[64], int16_t samples[64]);
