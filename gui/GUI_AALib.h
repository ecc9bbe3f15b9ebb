// The general 4 x 4 supersampling antialiasing engine.
#pragma once
#include <cstdint>
#include "host/config.h"

// One coverage byte per frame-buffer column (plus a small margin).
extern uint8_t lineOpacityBuffer[LINE_OPACITY_BUFFER_BYTES];
