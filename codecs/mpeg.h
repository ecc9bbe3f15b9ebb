// Video playback: the video play (0x11) and video upload (0x13) commands and
// the glue between them and the MPEG-1 video decoder.
#pragma once
#include <cstdint>

// Pool mark held by video playback from its start to its stop.
extern uint32_t allocToken;

// Starts a decoder (stopping a running one first). 0, or 1 when the pool
// cannot hold one.
int MPEG_Start();
// Stops a running decoder and releases its pool memory. Always 0.
int MPEG_Stop();
// True while a decoder runs and holds pool memory above allocToken. The slot
// 0 picture must not be released or allocated while this holds (see the pool
// rule at the top of codecs/mpeg.cpp).
bool MPEG_IsRunning();
// Appends stream bytes; when they do not fit, all buffered data is dropped.
void MPEG_PushStreamData(const uint8_t *bytes, uint32_t length);
// Drops what was appended since the last decoded picture.
void MPEG_RestoreStreamData();
// Decodes the next picture and draws its luma at (x, y) in pixels, clipped.
// 0 when a frame was drawn, -1 when there is no decoder or no frame.
int MPEG_DrawFrame(int32_t x, int32_t y);

int32_t CMD_videoPlay(const uint8_t *command, uint32_t remaining);
int32_t CMD_videoUpload(const uint8_t *command, uint32_t remaining);
