// The Adler-32 checksum of a zlib stream's data, for the PNG decoder, which
// checks it itself (with SSE2, several times faster than zlib's own loop).
// Same value as zlib's adler32(): start from 1 and feed the data in pieces.
#pragma once
#include <cstddef>
#include <cstdint>

uint32_t PNG_Adler32(uint32_t adler, const uint8_t *data, size_t length);
// The portable path, which the SSE2 one must equal.
uint32_t PNG_Adler32Portable(uint32_t adler, const uint8_t *data, size_t length);
