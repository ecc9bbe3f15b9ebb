// Frame output: the copy-to-screen command, the seek gate, the conversion of
// the frame buffer into output frames, and "frame.bin".
#pragma once
#include <cstdint>
#include "host/config.h"

extern uint8_t frame[FRAME_SIZE_BYTES];
extern int32_t frame_counter;
extern uint32_t seekTo;
extern uint8_t palette_type;

int32_t CMD_copyToScreen(const uint8_t *command, uint32_t remaining);
// Shows the frame buffer (the whole screen, whatever the rectangle and
// flag), unless a seek target lies ahead.
void copyToScreen(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint8_t flag);
void copyBuffer();
void clearFrameBuffer();
void GUI_X_Config();
