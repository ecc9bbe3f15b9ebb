// The general antialiasing engine: spans in quarter pixels accumulate
// coverage in lineOpacityBuffer and are written out per pixel row.
#include "gui/GUI_AALib.h"

uint8_t lineOpacityBuffer[LINE_OPACITY_BUFFER_BYTES];
