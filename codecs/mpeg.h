// Video playback: the video play (0x11) and video upload (0x13) commands and
// the glue between them and the MPEG-1 video decoder.
#pragma once
#include <cstdint>

#include "gui/GUI_Alloc.h"

// Pool mark held by video playback from its start to its stop.
extern uint32_t allocToken;

// The results of playback.
enum VideoResult : int {
    VIDEO_OK = 0,
    VIDEO_NO_POOL = 1,     // MPEG_Start: the pool cannot hold a decoder
    VIDEO_NO_FRAME = -1,   // MPEG_DrawFrame: no decoder runs, or it has no picture yet
};

// Starts a decoder (stopping a running one first): VIDEO_OK or VIDEO_NO_POOL.
[[nodiscard]] VideoResult MPEG_Start();
// Stops a running decoder and releases its pool memory. Always VIDEO_OK.
VideoResult MPEG_Stop();
// True while a decoder runs and holds pool memory above allocToken. The slot
// 0 picture must not be released or allocated while this holds (see the pool
// rule at the top of codecs/mpeg.cpp).
bool MPEG_IsRunning();
// The pool a running decoder holds: everything from allocToken up to the
// top. Empty when stopped.
GUI_PoolExtent MPEG_PoolExtent();
// Appends stream bytes; when they do not fit, all buffered data is dropped.
void MPEG_PushStreamData(const uint8_t *bytes, uint32_t length);
// Drops what was appended since the last decoded picture.
void MPEG_RestoreStreamData();
// Decodes the next picture and draws its luma at (x, y) in pixels, clipped:
// VIDEO_OK when a frame was drawn, else VIDEO_NO_FRAME.
[[nodiscard]] VideoResult MPEG_DrawFrame(int32_t x, int32_t y);

int32_t CMD_videoPlay(const uint8_t *command, uint32_t remaining);
int32_t CMD_videoUpload(const uint8_t *command, uint32_t remaining);
