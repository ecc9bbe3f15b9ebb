// The image, sprite and clip commands: cached images drawn on the screen
// (decoded from their flash slot, or copied from the slot 0 picture), parts
// of the slot 0 picture drawn as sprites, and the clip rectangle that every
// drawing command obeys.
#include "cache/commandHandlerCache.h"

#include "cache/cacheInternal.h"
#include "codecs/GUI_JPEG.h"
#include "codecs/GUI_PNG.h"
#include "commands/commandHandlerDraw.h"
#include "gui/GUI_Alloc.h"
#include "gui/GUI_Bitmap.h"
#include "gui/GUI_Common.h"
#include "protocol/commandHandler.h"

constexpr int32_t DRAW_IMAGE_BYTES = 5;
constexpr int32_t DRAW_SPRITE_BYTES = 11;
constexpr int32_t CLIP_RECT_BYTES = 7;

// A picture may be placed up to a screen's width or height off the screen.
static bool _PositionInRange(int32_t x, int32_t y) {
    return x >= -SCREEN_WIDTH && x <= SCREEN_WIDTH && y >= -SCREEN_HEIGHT && y <= SCREEN_HEIGHT;
}

static bool _Slot0PictureUsable() { return memDeviceMemory && cacheRecordUsable(memoryImageEntry); }

static uint8_t _Transparency(const CacheRecord &r) { return (r.format & CACHE_FORMAT_TRANSPARENT) ? 1 : 0; }

// Draws the file of image slot 1 to 31. A file its decoder refuses loses its
// slot (0xC0); a pool too short for the decoder is reported (0x02) without
// touching the slot, since the same image draws once the pool is free again.
static void _DrawCachedFile(uint8_t slot, uint8_t *record, int32_t x, int32_t y) {
    const CacheRecord r = readCacheRecord(record);
    const uint8_t format = r.format & CACHE_FORMAT_CODE_MASK;
    const uint8_t *file = record + CACHE_RECORD_BYTES;
    uint8_t code = RESULT_DECODE_FAILED;   // a record of no known format, or longer than its slot
    if (r.size <= IMAGE_MAX_DATA_BYTES && format == CACHE_IMAGE_FORMAT_PNG) {
        const bool room = GUI_GetNumFreeBytes() >= PNG_CONTEXT_BYTES;
        code = room ? pngResultCode(GUI_PNG_Draw(file, r.size, x, y)) : RESULT_SEQUENCE;
    } else if (r.size <= IMAGE_MAX_DATA_BYTES && format == CACHE_IMAGE_FORMAT_JPEG) {
        code = jpegResultCode(GUI_JPEG_Draw(file, r.size, x, y));
    }
    if (code == RESULT_DECODE_FAILED) eraseCacheRecord(record);
    if (code != RESULT_OK) handleCommandError(OP_DRAW_IMAGE, code, slot);
}

int32_t CMD_drawImage(const uint8_t *command, uint32_t remaining) {
    if (remaining < DRAW_IMAGE_BYTES) return commandMalformed(OP_DRAW_IMAGE, NO_DETAIL);
    const uint8_t slot = command[1];
    const PackedPair pos = readPackedPairSigned(command + 2);
    const int32_t x = halfToPixel(pos.a), y = halfToPixel(pos.b);
    if (slot >= IMAGE_SLOT_COUNT || !_PositionInRange(x, y)) {
        return reportCommand(OP_DRAW_IMAGE, RESULT_MALFORMED, slot, DRAW_IMAGE_BYTES);
    }
    uint8_t *record = imageCacheAddress[slot];
    if (!record || !cacheRecordUsable(record)) {
        return reportCommand(OP_DRAW_IMAGE, RESULT_SEQUENCE, slot, DRAW_IMAGE_BYTES);
    }
    const CacheRecord r = readCacheRecord(record);
    // An image that would end left of or above the screen.
    if ((int32_t)r.width + x < 1 || (int32_t)r.height + y < 1) {
        return reportCommand(OP_DRAW_IMAGE, RESULT_MALFORMED, slot, DRAW_IMAGE_BYTES);
    }
    if (slot != 0) {
        _DrawCachedFile(slot, record, x, y);
    } else if (memDeviceMemory) {
        GUI_DrawBitmap(x, y, r.width, r.height, r.width, memDeviceMemory, _Transparency(r));
    } else {
        handleCommandError(OP_DRAW_IMAGE, RESULT_SEQUENCE, 0);
    }
    return DRAW_IMAGE_BYTES;
}

int32_t CMD_drawSprite(const uint8_t *command, uint32_t remaining) {
    if (remaining < DRAW_SPRITE_BYTES) return commandMalformed(OP_DRAW_SPRITE, NO_DETAIL);
    const uint8_t slot = command[1];
    const PackedPair dst = readPackedPairSigned(command + 2);
    const PackedPair src = readPackedPairUnsigned(command + 5);   // inside the picture: never negative
    const PackedPair size = readPackedPairUnsigned(command + 8);
    const int32_t x = halfToPixel(dst.a), y = halfToPixel(dst.b);
    const int32_t sx = halfToPixel(src.a), sy = halfToPixel(src.b);
    const int32_t w = halfToPixel(size.a), h = halfToPixel(size.b);
    if (slot != 0 || !_PositionInRange(x, y) || w < 2 || h < 2) {
        return reportCommand(OP_DRAW_SPRITE, RESULT_MALFORMED, slot, DRAW_SPRITE_BYTES);
    }
    if (!_Slot0PictureUsable()) return reportCommand(OP_DRAW_SPRITE, RESULT_SEQUENCE, 0, DRAW_SPRITE_BYTES);
    const CacheRecord pic = readCacheRecord(memoryImageEntry);
    // The source rectangle must lie inside the picture.
    if (x + w == 0 || y + h == 0 || sx + w > (int32_t)pic.width || sy + h > (int32_t)pic.height) {
        return reportCommand(OP_DRAW_SPRITE, RESULT_MALFORMED, 0, DRAW_SPRITE_BYTES);
    }
    const uint8_t *pixels = memDeviceMemory + (size_t)sy * pic.width + sx;
    GUI_DrawBitmap(x, y, w, h, pic.width, pixels, _Transparency(pic));
    return DRAW_SPRITE_BYTES;
}

int32_t CMD_clipRect(const uint8_t *command, uint32_t remaining) {
    if (remaining < CLIP_RECT_BYTES) return commandMalformed(OP_CLIP_RECT, NO_DETAIL);
    // Clip origins are read unsigned: there are no negative clip corners.
    const PackedPair pos = readPackedPairUnsigned(command + 1);
    const PackedPair size = readPackedPairUnsigned(command + 4);
    const int32_t x = halfToPixel(pos.a), y = halfToPixel(pos.b);
    const int32_t w = halfToPixel(size.a), h = halfToPixel(size.b);
    if (x > SCREEN_WIDTH || y > SCREEN_HEIGHT || w > SCREEN_WIDTH || h > SCREEN_HEIGHT || w < 2 || h < 2) {
        return reportCommand(OP_CLIP_RECT, RESULT_MALFORMED, 0, CLIP_RECT_BYTES);
    }
    GUI_SetClipRect(x, y, x + w - 1, y + h - 1);
    return CLIP_RECT_BYTES;
}
