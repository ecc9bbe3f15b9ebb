// Host drawing commands turned into graphics library calls. Positions arrive
// as packed half-pixel pairs; shapes take quarter pixels (names ending in q),
// fills whole pixels.
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
#include "gui/GUI_Units.h"
#include "host/GUI_Driver.h"
#include "host/bytes.h"
#include "host/config.h"
#include "host/platform.h"
#include "protocol/commandHandler.h"
#include "resources/logo_images.h"

// Command lengths, opcode included (the polygon, path, text and logo
// commands add their points or characters).
constexpr int32_t SET_COLOR_BYTES = 5;
constexpr int32_t SET_PEN_STYLE_BYTES = 3;
constexpr int32_t CLEAR_RECT_BYTES = 7;
constexpr int32_t DRAW_LINE_BYTES = 7;
constexpr int32_t DRAW_RECT_BYTES = 9;
constexpr int32_t DRAW_ELLIPSE_BYTES = 9;
constexpr int32_t DRAW_ARC_BYTES = 10;
constexpr uint32_t POINT_LIST_HEADER_BYTES = 2;   // opcode, count and flags
constexpr uint32_t PACKED_POINT_BYTES = 3;
constexpr uint32_t DRAW_POLYGON_MIN_BYTES = 11;   // three points
constexpr uint32_t DRAW_PATH_MIN_BYTES = 8;       // two points

// Angles on the wire are half degrees, the primitives take quarter degrees.
constexpr int32_t FULL_TURN_QUARTER_DEGREES = 1440;
static inline int32_t _HalfToQuarterDegrees(int32_t halfDegrees) { return 2 * halfDegrees; }

void initDraw() { GUI_Init(); }

int32_t CMD_setColor(const uint8_t *command, uint32_t remaining) {
    if (remaining < SET_COLOR_BYTES) return commandMalformed(OP_SET_COLOR);
    GUI_SetColor(rd32le(command + 1));
    return SET_COLOR_BYTES;
}

int32_t CMD_setPenStyle(const uint8_t *command, uint32_t remaining) {
    if (remaining < SET_PEN_STYLE_BYTES) return commandMalformed(OP_SET_PEN_STYLE);
    uint8_t widthHalf = command[1];
    uint8_t shape = command[2] >> 4, style = command[2] & 0x0F;
    // Pens of half a pixel to 64 pixels; two pen shapes and four line styles.
    if (widthHalf < 1 || widthHalf > 128 || shape > 1 || style > 3) {
        return reportCommand(OP_SET_PEN_STYLE, RESULT_MALFORMED, 0, SET_PEN_STYLE_BYTES);
    }
    GUI_SetPenSize((uint32_t)halfToQuarter(widthHalf));
    GUI_SetPenShape(shape);
    GUI_SetLineStyle(style);
    return SET_PEN_STYLE_BYTES;
}

int32_t CMD_clearRect(const uint8_t *command, uint32_t remaining) {
    if (remaining < CLEAR_RECT_BYTES) return commandMalformed(OP_CLEAR_RECT);
    const auto [x, y, w, h] = readPositionAndExtent(command + 1, halfToPixel);
    if (x > SCREEN_WIDTH || y > SCREEN_HEIGHT || x + w < 0 || y + h < 0) {
        return reportCommand(OP_CLEAR_RECT, RESULT_MALFORMED, 0, CLEAR_RECT_BYTES);
    }
    if (w == SCREEN_WIDTH && h == SCREEN_HEIGHT) {
        // A full-screen clear ignores its position and the clip rectangle.
        clearFrameBuffer();
        return CLEAR_RECT_BYTES;
    }
    uint32_t saved = GUI_GetColor();
    GUI_SetColor(0);
    GUI_FillRect(x, y, x + w, y + h);
    GUI_SetColor(saved);
    return CLEAR_RECT_BYTES;
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
        PackedPair p = readPackedPairSigned(wire + PACKED_POINT_BYTES * i);
        out[i] = GUI_POINT{halfToQuarter(p.a), halfToQuarter(p.b)};
    }
}

// Shapes given by a centre and radii may lie partly off the screen: their
// bounding box may start up to 64 pixels past the right or bottom edge and
// end up to 64 pixels before the left or top one.
static constexpr int32_t SHAPE_MARGIN_Q = pixelFirstSub(64);

static bool _CentredShapeInRange(int32_t xq, int32_t yq, int32_t rxq, int32_t ryq) {
    return xq <= rxq + pixelFirstSub(SCREEN_WIDTH) + SHAPE_MARGIN_Q &&
           yq <= ryq + pixelFirstSub(SCREEN_HEIGHT) + SHAPE_MARGIN_Q && xq + rxq >= -SHAPE_MARGIN_Q &&
           yq + ryq >= -SHAPE_MARGIN_Q;
}

int32_t CMD_drawLine(const uint8_t *command, uint32_t remaining) {
    if (remaining < DRAW_LINE_BYTES) return commandMalformed(OP_DRAW_LINE);
    // No range check: the path primitive clips points far off the screen.
    GUI_POINT *list = _PointList();
    _ReadPoints(command + 1, 2, list);
    GUI_DrawPath(list, 2);
    return DRAW_LINE_BYTES;
}

int32_t CMD_drawRect(const uint8_t *command, uint32_t remaining) {
    if (remaining < DRAW_RECT_BYTES) return commandMalformed(OP_DRAW_RECT);
    const auto [xq, yq, wq, hq] = readPositionAndExtent(command + 1, halfToQuarter);
    const int32_t rq = halfToQuarter(command[7]);
    const uint8_t fill = command[8];
    if (xq > pixelFirstSub(SCREEN_WIDTH) || yq > pixelFirstSub(SCREEN_HEIGHT) || xq + wq < 0 || yq + hq < 0 ||
        rq > (wq >> 1) || rq > (hq >> 1) || fill > 1) {
        return reportCommand(OP_DRAW_RECT, RESULT_MALFORMED, 0, DRAW_RECT_BYTES);
    }
    if (rq > 0) {
        if (fill) GUI_FillRoundedRect(xq, yq, xq + wq, yq + hq, rq);
        else GUI_DrawRoundedRect(xq, yq, xq + wq, yq + hq, rq);
    } else if (fill) {
        // A plain filled rectangle is a pixel fill: each corner rounds to
        // the nearest pixel, halves rounding down.
        GUI_FillRect((xq + 1) >> kSubShift, (yq + 1) >> kSubShift, (xq + wq + 1) >> kSubShift,
                     (yq + hq + 1) >> kSubShift);
    } else {
        GUI_DrawRect(xq, yq, xq + wq, yq + hq);
    }
    return DRAW_RECT_BYTES;
}

int32_t CMD_drawEllipse(const uint8_t *command, uint32_t remaining) {
    if (remaining < DRAW_ELLIPSE_BYTES) return commandMalformed(OP_DRAW_ELLIPSE);
    const auto [xq, yq, rxq, ryq] = readPositionAndExtent(command + 1, halfToQuarter);
    const int32_t angle = _HalfToQuarterDegrees(command[7] | ((command[8] & 0x7F) << 8));
    const bool fill = (command[8] & 0x80) != 0;
    // Each radius is at least two pixels.
    constexpr int32_t MIN_RADIUS_Q = pixelFirstSub(2);
    if (!_CentredShapeInRange(xq, yq, rxq, ryq) || rxq < MIN_RADIUS_Q || ryq < MIN_RADIUS_Q ||
        angle > FULL_TURN_QUARTER_DEGREES) {
        return reportCommand(OP_DRAW_ELLIPSE, RESULT_MALFORMED, 0, DRAW_ELLIPSE_BYTES);
    }
    constexpr int32_t HALF_TURN = FULL_TURN_QUARTER_DEGREES / 2, QUARTER_TURN = FULL_TURN_QUARTER_DEGREES / 4;
    if (rxq == ryq) {
        if (fill) GUI_FillCircle(xq, yq, rxq);
        else GUI_DrawCircle(xq, yq, rxq);
    } else if (angle == 0 || angle == HALF_TURN) {
        if (fill) GUI_FillEllipse(xq, yq, rxq, ryq);
        else GUI_DrawEllipse(xq, yq, rxq, ryq);
    } else if (angle == QUARTER_TURN || angle == HALF_TURN + QUARTER_TURN) {
        if (fill) GUI_FillEllipse(xq, yq, ryq, rxq);
        else GUI_DrawEllipse(xq, yq, ryq, rxq);
    } else {
        if (fill) GUI_FillEllipseRot(xq, yq, rxq, ryq, angle);
        else GUI_DrawEllipseRot(xq, yq, rxq, ryq, angle);
    }
    return DRAW_ELLIPSE_BYTES;
}

int32_t CMD_drawArc(const uint8_t *command, uint32_t remaining) {
    if (remaining < DRAW_ARC_BYTES) return commandMalformed(OP_DRAW_ARC);
    const auto [xq, yq, rxq, ryq] = readPositionAndExtent(command + 1, halfToQuarter);
    const PackedPair angles = readPackedPairUnsigned(command + 7);
    const int32_t a0 = _HalfToQuarterDegrees(angles.a), a1 = _HalfToQuarterDegrees(angles.b);
    if (!_CentredShapeInRange(xq, yq, rxq, ryq) || a0 > FULL_TURN_QUARTER_DEGREES || a1 > FULL_TURN_QUARTER_DEGREES) {
        return reportCommand(OP_DRAW_ARC, RESULT_MALFORMED, 0, DRAW_ARC_BYTES);
    }
    // Elliptic arcs are not drawn.
    if (rxq != ryq) return reportCommand(OP_DRAW_ARC, RESULT_UNSUPPORTED, 0, DRAW_ARC_BYTES);
    GUI_DrawArc(xq, yq, rxq, ryq, a0, a1);
    return DRAW_ARC_BYTES;
}

// The point list commands: a count, flags in the count byte's high bits,
// then the points. The length is known once the count is read.
struct PointListCommand {
    uint32_t count;
    int32_t length;   // bytes, opcode included
};

static PointListCommand _PointListCommand(const uint8_t *command, uint8_t countMask) {
    const uint32_t count = command[1] & countMask;
    return PointListCommand{count, (int32_t)(POINT_LIST_HEADER_BYTES + PACKED_POINT_BYTES * count)};
}

int32_t CMD_drawPolygon(const uint8_t *command, uint32_t remaining) {
    if (remaining < DRAW_POLYGON_MIN_BYTES) return commandMalformed(OP_DRAW_POLYGON);
    const auto [n, length] = _PointListCommand(command, 0x3F);
    const int32_t simple = (command[1] >> 6) & 1;
    const bool fill = (command[1] & 0x80) != 0;
    if (remaining < (uint32_t)length) return commandMalformed(OP_DRAW_POLYGON);
    if (n <= 2) return reportCommand(OP_DRAW_POLYGON, RESULT_MALFORMED, 0, length);
    GUI_POINT *list = _PointList();
    _ReadPoints(command + POINT_LIST_HEADER_BYTES, n, list);
    if (fill) {
        GUI_FillPolygon(list, (int32_t)n, simple);
    } else {
        list[n] = list[0];   // closed: the outline ends at its first point
        GUI_DrawPath(list, (int32_t)n + 1);
    }
    return length;
}

int32_t CMD_drawPath(const uint8_t *command, uint32_t remaining) {
    if (remaining < DRAW_PATH_MIN_BYTES) return commandMalformed(OP_DRAW_PATH);
    const auto [n, length] = _PointListCommand(command, 0x7F);
    const bool smooth = (command[1] & 0x80) != 0;
    if (remaining < (uint32_t)length) return commandMalformed(OP_DRAW_PATH);
    if (n < 2 || n > 64) return reportCommand(OP_DRAW_PATH, RESULT_MALFORMED, 0, length);
    GUI_POINT *list = _PointList();
    _ReadPoints(command + POINT_LIST_HEADER_BYTES, n, list);
    if (smooth) GUI_Spline(list, (int32_t)n);
    else GUI_DrawPath(list, (int32_t)n);
    return length;
}


// ---------------------------------------------------------------- text command

// The prepared line lives in scratch: one glyph reference per character.
static GUI_GlyphRef *_PreparedLine() {
    static_assert(GUI_MAX_LINE_CHARS * sizeof(GUI_GlyphRef) <= SCRATCH_SIZE_BYTES, "scratch holds the longest line");
    return reinterpret_cast<GUI_GlyphRef *>(scratch);
}

int32_t CMD_drawText(const uint8_t *command, uint32_t remaining) {
    if (remaining < TEXT_HEADER_BYTES + 1) return commandMalformed(OP_DRAW_TEXT);
    PackedPair pos = readPackedPairSigned(command + 2);
    const int32_t xh = pos.a;
    const int32_t x = halfToPixel(pos.a), y = halfToPixel(pos.b);
    const uint8_t alignment = command[5], n = command[6];
    if (remaining < TEXT_HEADER_BYTES + n || n == 0 || n > GUI_MAX_LINE_CHARS) return commandMalformed(OP_DRAW_TEXT);
    const int32_t length = (int32_t)TEXT_HEADER_BYTES + n;
    if (alignment > TEXT_ALIGN_RIGHT) return reportCommand(OP_DRAW_TEXT, RESULT_MALFORMED, 0, length);
    const GUI_FONT *font = getFontSlot(command[1]);
    if (!font) return reportCommand(OP_DRAW_TEXT, RESULT_SEQUENCE, 0, length);
    GUI_SetFont(font);   // stays selected after the command
    int32_t width, height;
    GUI_GlyphRef *refs = _PreparedLine();
    int32_t count = GUI_PrapareLine(command + TEXT_HEADER_BYTES, n, &width, &height, refs);
    int32_t left = x;
    if (alignment == TEXT_ALIGN_CENTER) {
        // Centred on the position as sent, in half pixels, then rounded
        // (2 xh - 2 width is the left edge in quarter pixels).
        left = (2 * xh - 2 * width + 1) >> kSubShift;
    } else if (alignment == TEXT_ALIGN_RIGHT) {
        left = x - width - 1;   // the text ends one pixel left of x
    }
    // y is the top of the line box; a line wholly off screen is skipped.
    if (left <= SCREEN_WIDTH && y <= SCREEN_HEIGHT && y + height > 0) GUI_DispPraparedLine(count, refs, left, y);
    return length;
}


// ------------------------------------------------------------- logo screens

// Draws one of the device's own pictures. The pictures are built in and
// sound; one can only fail to draw when a running video leaves the pool no
// room for the decoder, and is then left out of the screen.
static void _DrawBuiltInPicture(const uint8_t *png, uint32_t size, int32_t x, int32_t y) {
    static_cast<void>(GUI_PNG_Draw(png, size, x, y));
}

// Draws an image centred on (cx, cy) from its half sizes and returns the
// distance from the centre to its bottom edge.
static int32_t _DrawCentredImage(const uint8_t *png, uint32_t size, int32_t cx, int32_t cy, int32_t halfWidth,
                                 int32_t halfHeight) {
    _DrawBuiltInPicture(png, size, cx - halfWidth, cy - halfHeight);
    return halfHeight;
}

int32_t CMD_drawLogo(const uint8_t *command, uint32_t remaining) {
    if (remaining < LOGO_HEADER_BYTES) return commandMalformed(OP_DRAW_LOGO);
    const uint8_t n = command[6];
    // A bad caption length stops the payload without a report.
    if (remaining < LOGO_HEADER_BYTES + n || n > GUI_MAX_LINE_CHARS) return HANDLER_STOP;
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
        int32_t count = GUI_PrapareLine(command + LOGO_HEADER_BYTES, n, &width, &height, refs);
        cy += 10;
        // Both halvings truncate toward zero.
        GUI_DispPraparedLine(count, refs, cx - width / 2, cy + height / 2);
        cy += 2 * height;
    }
    if (kind == LOGO_LOW_BATTERY) _DrawBuiltInPicture(BATTERY_LOW_PNG, BATTERY_LOW_PNG_size, cx - 26, cy);

    copyToScreen(0, 0, SCREEN_WIDTH, SCREEN_HEIGHT, 1);
    return (int32_t)LOGO_HEADER_BYTES + n;
}
