// Host drawing commands turned into graphics library calls. Positions arrive
// as packed half-pixel pairs; shapes take quarter pixels, fills whole pixels.
#include "commands/commandHandlerDraw.h"

#include "cache/commandHandlerCache.h"
#include "codecs/GUI_PNG.h"
#include "gui/GUI_Arc.h"
#include "gui/GUI_Circle.h"
#include "gui/GUI_Common.h"
#include "gui/GUI_Font.h"
#include "gui/GUI_Line.h"
#include "gui/GUI_Polygon.h"
#include "gui/GUI_Rect.h"
#include "gui/GUI_Spline.h"
#include "host/GUI_Driver.h"
#include "host/bytes.h"
#include "host/config.h"
#include "host/platform.h"
#include "protocol/commandHandler.h"
#include "resources/logo_images.h"

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

// Point lists of the shape commands live in scratch: 128 points of two
// 32-bit values, enough for a closed polygon outline of 63 points plus its
// repeated first point, or a path of 64 points.
static constexpr uint32_t SCRATCH_POINTS = SCRATCH_SIZE_BYTES / sizeof(GUI_POINT);
static_assert(SCRATCH_POINTS >= 128, "scratch must hold 128 points");

static GUI_POINT *_PointList() { return reinterpret_cast<GUI_POINT *>(scratch); }

// Reads n packed points (half pixels) into the point list, in quarter pixels.
static void _ReadPoints(const uint8_t *wire, uint32_t n, GUI_POINT *out) {
    for (uint32_t i = 0; i < n; i++) {
        PackedPair p = readPackedPairSigned(wire + 3 * i);
        out[i] = GUI_POINT{halfToQuarter(p.a), halfToQuarter(p.b)};
    }
}

int32_t CMD_drawLine(const uint8_t *command, uint32_t remaining) {
    if (remaining < 7) {
        handleCommandError(0x0F, RESULT_MALFORMED, 0);
        return -1;
    }
    // No range check: the path primitive clips points far off the screen.
    GUI_POINT *list = _PointList();
    _ReadPoints(command + 1, 2, list);
    GUI_DrawPath(list, 2);
    return 7;
}

int32_t CMD_drawRect(const uint8_t *command, uint32_t remaining) {
    if (remaining < 9) {
        handleCommandError(0x0C, RESULT_MALFORMED, 0);
        return -1;
    }
    PackedPair pos = readPackedPairSigned(command + 1);
    PackedPair size = readPackedPairUnsigned(command + 4);
    const int32_t x = halfToQuarter(pos.a), y = halfToQuarter(pos.b);
    const int32_t w = halfToQuarter(size.a), h = halfToQuarter(size.b);
    const int32_t r = halfToQuarter(command[7]);
    const uint8_t fill = command[8];
    if (x > 2560 || y > 1600 || x + w < 0 || y + h < 0 || r > (w >> 1) || r > (h >> 1) || fill > 1) {
        handleCommandError(0x0C, RESULT_MALFORMED, 0);
        return 9;
    }
    if (r > 0) {
        if (fill) GUI_FillRoundedRect(x, y, x + w, y + h, r);
        else GUI_DrawRoundedRect(x, y, x + w, y + h, r);
    } else if (fill) {
        // A plain filled rectangle is a pixel fill: each corner rounds to
        // the nearest pixel.
        GUI_FillRect((x + 1) >> 2, (y + 1) >> 2, (x + w + 1) >> 2, (y + h + 1) >> 2);
    } else {
        GUI_DrawRect(x, y, x + w, y + h);
    }
    return 9;
}

int32_t CMD_drawEllipse(const uint8_t *command, uint32_t remaining) {
    if (remaining < 9) {
        handleCommandError(0x0E, RESULT_MALFORMED, 0);
        return -1;
    }
    PackedPair centre = readPackedPairSigned(command + 1);
    PackedPair radii = readPackedPairUnsigned(command + 4);
    const int32_t x = halfToQuarter(centre.a), y = halfToQuarter(centre.b);
    const int32_t rx = halfToQuarter(radii.a), ry = halfToQuarter(radii.b);
    const int32_t angle = 2 * (int32_t)(command[7] | ((command[8] & 0x7F) << 8));   // quarter degrees
    const bool fill = (command[8] & 0x80) != 0;
    // The bounding box may start up to 64 pixels past the right or bottom
    // edge and end up to 64 pixels before the left or top one; each radius
    // is at least two pixels.
    if (x > rx + 2816 || y > ry + 1856 || x + rx < -256 || y + ry < -256 || rx < 8 || ry < 8 || angle > 1440) {
        handleCommandError(0x0E, RESULT_MALFORMED, 0);
        return 9;
    }
    if (rx == ry) {
        if (fill) GUI_FillCircle(x, y, rx);
        else GUI_DrawCircle(x, y, rx);
    } else if (angle == 0 || angle == 720) {
        if (fill) GUI_FillEllipse(x, y, rx, ry);
        else GUI_DrawEllipse(x, y, rx, ry);
    } else if (angle == 360 || angle == 1080) {
        if (fill) GUI_FillEllipse(x, y, ry, rx);
        else GUI_DrawEllipse(x, y, ry, rx);
    } else {
        if (fill) GUI_FillEllipseRot(x, y, rx, ry, angle);
        else GUI_DrawEllipseRot(x, y, rx, ry, angle);
    }
    return 9;
}

int32_t CMD_drawArc(const uint8_t *command, uint32_t remaining) {
    if (remaining < 10) {
        handleCommandError(0x10, RESULT_MALFORMED, 0);
        return -1;
    }
    PackedPair centre = readPackedPairSigned(command + 1);
    PackedPair radii = readPackedPairUnsigned(command + 4);
    PackedPair angles = readPackedPairUnsigned(command + 7);
    const int32_t x = halfToQuarter(centre.a), y = halfToQuarter(centre.b);
    const int32_t rx = halfToQuarter(radii.a), ry = halfToQuarter(radii.b);
    const int32_t a0 = 2 * angles.a, a1 = 2 * angles.b;   // quarter degrees
    if (x > rx + 2816 || y > ry + 1856 || x + rx < -256 || y + ry < -256 || a0 > 1440 || a1 > 1440) {
        handleCommandError(0x10, RESULT_MALFORMED, 0);
        return 10;
    }
    if (rx != ry) {
        handleCommandError(0x10, RESULT_UNSUPPORTED, 0);   // elliptic arcs
        return 10;
    }
    GUI_DrawArc(x, y, rx, ry, a0, a1);
    return 10;
}

int32_t CMD_drawPolygon(const uint8_t *command, uint32_t remaining) {
    if (remaining < 11) {
        handleCommandError(0x12, RESULT_MALFORMED, 0);
        return -1;
    }
    const uint32_t n = command[1] & 0x3F;
    const int32_t simple = (command[1] >> 6) & 1;
    const bool fill = (command[1] & 0x80) != 0;
    const uint32_t length = 2 + 3 * n;
    if (remaining < length) {
        handleCommandError(0x12, RESULT_MALFORMED, 0);
        return -1;
    }
    if (n <= 2) {
        handleCommandError(0x12, RESULT_MALFORMED, 0);
        return (int32_t)length;
    }
    GUI_POINT *list = _PointList();
    _ReadPoints(command + 2, n, list);
    if (fill) {
        GUI_FillPolygon(list, (int32_t)n, simple);
    } else {
        list[n] = list[0];   // closed: the outline ends at its first point
        GUI_DrawPath(list, (int32_t)n + 1);
    }
    return (int32_t)length;
}

int32_t CMD_drawPath(const uint8_t *command, uint32_t remaining) {
    if (remaining < 8) {
        handleCommandError(0x0D, RESULT_MALFORMED, 0);
        return -1;
    }
    const uint32_t n = command[1] & 0x7F;
    const bool smooth = (command[1] & 0x80) != 0;
    const uint32_t length = 2 + 3 * n;
    if (remaining < length) {
        handleCommandError(0x0D, RESULT_MALFORMED, 0);
        return -1;
    }
    if (n < 2 || n > 64) {
        handleCommandError(0x0D, RESULT_MALFORMED, 0);
        return (int32_t)length;
    }
    GUI_POINT *list = _PointList();
    _ReadPoints(command + 2, n, list);
    if (smooth) GUI_Spline(list, (int32_t)n);
    else GUI_DrawPath(list, (int32_t)n);
    return (int32_t)length;
}


// ---------------------------------------------------------------- text command

// The prepared line lives in scratch: one glyph reference per character.
static GUI_GlyphRef *_PreparedLine() {
    static_assert(GUI_MAX_LINE_CHARS * sizeof(GUI_GlyphRef) <= SCRATCH_SIZE_BYTES, "scratch holds the longest line");
    return reinterpret_cast<GUI_GlyphRef *>(scratch);
}

int32_t CMD_drawText(const uint8_t *command, uint32_t remaining) {
    if (remaining < 8) {
        handleCommandError(0x08, RESULT_MALFORMED, 0);
        return -1;
    }
    PackedPair pos = readPackedPairSigned(command + 2);
    const int32_t xh = pos.a;
    const int32_t x = halfToPixel(pos.a), y = halfToPixel(pos.b);
    const uint8_t alignment = command[5], n = command[6];
    if (remaining < 7u + n || n == 0 || n > GUI_MAX_LINE_CHARS) {
        handleCommandError(0x08, RESULT_MALFORMED, 0);
        return -1;
    }
    if (alignment > TEXT_ALIGN_RIGHT) {
        handleCommandError(0x08, RESULT_MALFORMED, 0);
        return 7 + n;
    }
    const GUI_FONT *font = getFontSlot(command[1]);
    if (!font) {
        handleCommandError(0x08, RESULT_SEQUENCE, 0);
        return 7 + n;
    }
    GUI_SetFont(font);   // stays selected after the command
    int32_t width, height;
    GUI_GlyphRef *refs = _PreparedLine();
    int32_t count = GUI_PrapareLine(command + 7, n, &width, &height, refs);
    int32_t left = x;
    if (alignment == TEXT_ALIGN_CENTER) {
        // Centred on the position as sent, in half pixels, then rounded.
        left = (2 * xh - 2 * width + 1) >> 2;
    } else if (alignment == TEXT_ALIGN_RIGHT) {
        left = x - width - 1;   // the text ends one pixel left of x
    }
    // y is the top of the line box; a line wholly off screen is skipped.
    if (left <= SCREEN_WIDTH && y <= SCREEN_HEIGHT && y + height > 0) GUI_DispPraparedLine(count, refs, left, y);
    return 7 + n;
}


// ------------------------------------------------------------- logo screens

// Draws an image centred on (cx, cy) from its half sizes and returns the
// distance from the centre to its bottom edge.
static int32_t _DrawCentredImage(const uint8_t *png, uint32_t size, int32_t cx, int32_t cy, int32_t halfWidth,
                                 int32_t halfHeight) {
    GUI_PNG_Draw(png, size, cx - halfWidth, cy - halfHeight);   // a picture that fails to draw is left out
    return halfHeight;
}

int32_t CMD_drawLogo(const uint8_t *command, uint32_t remaining) {
    if (remaining < 7) {
        handleCommandError(0x07, RESULT_MALFORMED, 0);
        return -1;
    }
    const uint8_t n = command[6];
    // A bad caption length stops the payload without a report.
    if (remaining < 7u + n || n > GUI_MAX_LINE_CHARS) return -1;
    const uint8_t kind = command[1];

    GUI_SetClipRect(0, 0, SCREEN_WIDTH, SCREEN_HEIGHT);
    uint32_t saved = GUI_GetColor();
    GUI_SetColor(0);
    GUI_FillRect(0, 0, SCREEN_WIDTH - 1, SCREEN_HEIGHT - 1);
    GUI_SetColor(saved);

    const int32_t cx = (int16_t)rd16le(command + 2) + SCREEN_WIDTH / 2;
    int32_t cy = (int16_t)rd16le(command + 4) + LOGO_CENTRE_Y;
    switch (kind) {
    case LOGO_BOOT:
    case LOGO_LOW_BATTERY:
        cy += _DrawCentredImage(boot_logo_png, boot_logo_png_size, cx, cy, 76, 48);
        break;
    case LOGO_SHUTDOWN:
        cy += _DrawCentredImage(shutdown_image_png, shutdown_image_png_size, cx, cy, 49, 52);
        break;
    case LOGO_PAIRING:
        cy += _DrawCentredImage(pair_image_png, pair_image_png_size, cx, cy, 55, 55);
        break;
    default:   // link lost and any other kind: no picture
        break;
    }

    const GUI_FONT *captionFont = getFontSlot(LOGO_CAPTION_FONT_SLOT);
    if (n > 0 && captionFont) {
        GUI_SetColor(0xFFFFFFFFu);   // left white afterwards
        GUI_SetFont(captionFont);
        int32_t width, height;
        GUI_GlyphRef *refs = _PreparedLine();
        int32_t count = GUI_PrapareLine(command + 7, n, &width, &height, refs);
        cy += 10;
        // Both halvings truncate toward zero.
        GUI_DispPraparedLine(count, refs, cx - width / 2, cy + height / 2);
        cy += 2 * height;
    }
    if (kind == LOGO_LOW_BATTERY) GUI_PNG_Draw(BATTERY_LOW_PNG, BATTERY_LOW_PNG_size, cx - 26, cy);

    copyToScreen(0, 0, SCREEN_WIDTH, SCREEN_HEIGHT, 1);
    return 7 + n;
}
