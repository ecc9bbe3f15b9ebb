// Host drawing commands turned into graphics library calls. Positions arrive
// as packed half-pixel pairs; shapes take quarter pixels, fills whole pixels.
#include "commands/commandHandlerDraw.h"

#include "gui/GUI_Common.h"
#include "gui/GUI_Rect.h"
#include "host/GUI_Driver.h"
#include "host/bytes.h"
#include "host/config.h"
#include "host/main.h"
#include "protocol/commandHandler.h"

void initDraw() { GUI_Init(); }

int32_t CMD_setColor(const uint8_t *command, uint32_t remaining) {
    if (remaining < 5) {
        handleCommandError(0x09, RESULT_MALFORMED, 0);
        return -1;
    }
    GUI_SetColor(rd32le(command + 1));
    return 5;
}

int32_t CMD_setPenStyle(const uint8_t *command, uint32_t remaining) {
    if (remaining < 3) {
        handleCommandError(0x0B, RESULT_MALFORMED, 0);
        return -1;
    }
    uint8_t widthHalf = command[1];
    uint8_t shape = command[2] >> 4, style = command[2] & 0x0F;
    if (widthHalf < 1 || widthHalf > 128 || shape > 1 || style > 3) {
        handleCommandError(0x0B, RESULT_MALFORMED, 0);
        return 3;
    }
    GUI_SetPenSize((uint32_t)widthHalf * 2);
    GUI_SetPenShape(shape);
    GUI_SetLineStyle(style);
    return 3;
}

int32_t CMD_clearRect(const uint8_t *command, uint32_t remaining) {
    if (remaining < 7) {
        handleCommandError(0x03, RESULT_MALFORMED, 0);
        return -1;
    }
    PackedPair pos = readPackedPairSigned(command + 1);
    PackedPair size = readPackedPairUnsigned(command + 4);
    int32_t x = halfToPixel(pos.a), y = halfToPixel(pos.b);
    int32_t w = halfToPixel(size.a), h = halfToPixel(size.b);
    if (x > SCREEN_WIDTH || y > SCREEN_HEIGHT || x + w < 0 || y + h < 0) {
        handleCommandError(0x03, RESULT_MALFORMED, 0);
        return 7;
    }
    if (w == SCREEN_WIDTH && h == SCREEN_HEIGHT) {
        // A full-screen clear ignores its position and the clip rectangle.
        clearFrameBuffer();
        return 7;
    }
    uint32_t saved = GUI_GetColor();
    GUI_SetColor(0);
    GUI_FillRect(x, y, x + w, y + h);
    GUI_SetColor(saved);
    return 7;
}

// ------------------------------------------------------------- shape commands


// ---------------------------------------------------------------- text command


// ------------------------------------------------------------- logo screens

int32_t CMD_drawLogo(const uint8_t *command, uint32_t remaining) {
    if (remaining < 7) {
        handleCommandError(0x07, RESULT_MALFORMED, 0);
        return -1;
    }
    uint8_t n = command[6];
    if (remaining < 7u + n || n > 128) return -1;
    GUI_SetClipRect(0, 0, SCREEN_WIDTH, SCREEN_HEIGHT);
    uint32_t saved = GUI_GetColor();
    GUI_SetColor(0);
    GUI_FillRect(0, 0, SCREEN_WIDTH - 1, SCREEN_HEIGHT - 1);
    GUI_SetColor(saved);
    copyToScreen(0, 0, SCREEN_WIDTH, SCREEN_HEIGHT, 1);
    return 7 + n;
}
