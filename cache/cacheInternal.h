// What the files of the cache module share with each other and with nobody
// else.
#pragma once
#include <cstdint>

#include "codecs/GUI_JPEG.h"
#include "codecs/GUI_PNG.h"
#include "host/config.h"

// Clears a cached resource's record in flash, so that the slot reads as
// empty; the data behind the record stays.
void eraseCacheRecord(uint8_t *record);

// The result code that the image commands report for a decoder's result.
// A pool too short for the JPEG decoder is RESULT_SEQUENCE: the same file
// decodes once the pool is free again. Anything else the decoder refuses is
// RESULT_DECODE_FAILED; the PNG decoder's one result that is not about the
// file (no pool room, the same value as a failed inflater) is ruled out by
// the callers, which check the pool before they draw.
static inline uint8_t jpegResultCode(JpegResult result) {
    if (result == JPEG_OK) return RESULT_OK;
    return result == JPEG_NO_POOL ? RESULT_SEQUENCE : RESULT_DECODE_FAILED;
}
static inline uint8_t pngResultCode(PngResult result) { return result == PNG_OK ? RESULT_OK : RESULT_DECODE_FAILED; }
