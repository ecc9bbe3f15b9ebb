// Baseline JPEG images held whole in memory, decoded one MCU row at a time
// straight into the current frame buffer as RGB332 colour indices, clipped
// to the clip rectangle. All working memory comes from the pool and is given
// back before either call returns.
#pragma once
#include <cstdint>

// Pool bytes the decoder record takes; the row buffers come on top of it.
constexpr uint32_t JPEG_CONTEXT_BYTES = 15200;

// The results of the decoder, its steps included.
enum JpegResult : int {
    JPEG_OK = 0,        // done (drawn, or nothing of the image lies inside the clip rectangle)
    JPEG_REFUSED = 1,   // the stream is refused or broken
    JPEG_NO_POOL = -1,  // the pool has too little free memory for the decoder
};

// Reads up to the frame header without parsing table segments: JPEG_OK, or
// JPEG_REFUSED. Width, height and the progressive flag are always written
// (0 when no frame header was read).
[[nodiscard]] JpegResult GUI_JPEG_GetSize(const uint8_t *data, uint32_t size, uint32_t *xSize, uint32_t *ySize,
                                          uint8_t *isProgressive);

// Draws the image with its top-left corner at (x, y). JPEG_OK also when the
// image starts right of or below the clip rectangle; on JPEG_REFUSED the
// lines drawn before the fault stay drawn.
[[nodiscard]] JpegResult GUI_JPEG_Draw(const uint8_t *data, uint32_t size, int32_t x, int32_t y);
