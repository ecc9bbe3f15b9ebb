// Drawing commands: drawing state, clearing, shapes, text and logo screens,
// and the packed half-pixel coordinates they share.
#pragma once
#include <cstdint>

// Two 12-bit values in three bytes: byte 0 holds bits 11-8 of A (low nibble)
// and of B (high nibble), bytes 1 and 2 the low bits of A and B.
struct PackedPair {
    int32_t a;
    int32_t b;
};

static inline PackedPair readPackedPairUnsigned(const uint8_t *p) {
    return PackedPair{(int32_t)(((p[0] & 0x0F) << 8) | p[1]), (int32_t)(((p[0] & 0xF0) << 4) | p[2])};
}

static inline int32_t _SignExtend12(int32_t v) { return (v & 0x800) ? v - 0x1000 : v; }

static inline PackedPair readPackedPairSigned(const uint8_t *p) {
    PackedPair u = readPackedPairUnsigned(p);
    return PackedPair{_SignExtend12(u.a), _SignExtend12(u.b)};
}

// Half pixels to whole pixels, halves rounding up (arithmetic shift).
static inline int32_t halfToPixel(int32_t v) { return (v + 1) >> 1; }
// Half pixels to the quarter pixels of the antialiased primitives.
static inline int32_t halfToQuarter(int32_t v) { return 2 * v; }

// A signed position and an unsigned extent (a size or two radii), two packed
// pairs one after the other, in the unit that `convert` gives.
struct PositionAndExtent {
    int32_t x, y;   // position
    int32_t w, h;   // extent
};
static inline PositionAndExtent readPositionAndExtent(const uint8_t *p, int32_t (*convert)(int32_t)) {
    const PackedPair position = readPackedPairSigned(p);
    const PackedPair extent = readPackedPairUnsigned(p + 3);
    return PositionAndExtent{convert(position.a), convert(position.b), convert(extent.a), convert(extent.b)};
}

void initDraw();

int32_t CMD_setColor(const uint8_t *command, uint32_t remaining);
int32_t CMD_setPenStyle(const uint8_t *command, uint32_t remaining);
int32_t CMD_clearRect(const uint8_t *command, uint32_t remaining);
int32_t CMD_drawLine(const uint8_t *command, uint32_t remaining);
int32_t CMD_drawRect(const uint8_t *command, uint32_t remaining);
int32_t CMD_drawEllipse(const uint8_t *command, uint32_t remaining);
int32_t CMD_drawArc(const uint8_t *command, uint32_t remaining);
int32_t CMD_drawPolygon(const uint8_t *command, uint32_t remaining);
int32_t CMD_drawPath(const uint8_t *command, uint32_t remaining);
int32_t CMD_drawText(const uint8_t *command, uint32_t remaining);
int32_t CMD_drawLogo(const uint8_t *command, uint32_t remaining);

// Text alignment of the draw text command.
constexpr uint8_t TEXT_ALIGN_LEFT = 0;
constexpr uint8_t TEXT_ALIGN_CENTER = 1;
constexpr uint8_t TEXT_ALIGN_RIGHT = 2;

// Logo kinds of the draw logo command.
constexpr uint8_t LOGO_BOOT = 1;
constexpr uint8_t LOGO_LINK_LOST = 2;
constexpr uint8_t LOGO_SHUTDOWN = 3;
constexpr uint8_t LOGO_PAIRING = 4;
constexpr uint8_t LOGO_LOW_BATTERY = 5;
// The logo screen is centred on (320, 150) plus the command's offsets; its
// caption is in the big built-in font.
constexpr int32_t LOGO_CENTRE_Y = 150;
constexpr uint8_t LOGO_CAPTION_FONT_SLOT = 2;

// The fixed parts of the text and logo commands, opcode included; the
// caption's bytes follow.
constexpr uint32_t TEXT_HEADER_BYTES = 7;
constexpr uint32_t LOGO_HEADER_BYTES = 7;
