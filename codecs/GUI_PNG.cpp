// PNG drawing: each decoded row is clipped, converted to colour indices and
// written into the current frame buffer. Rows above the clip rectangle are
// inflated but not converted; the first row below it stops the decoding.
#include "codecs/GUI_PNG.h"

#include "codecs/png.h"
#include "gui/GUICC_M332.h"
#include "gui/GUI_AALib.h"
#include "gui/GUI_AALibSimple.h"
#include "gui/GUI_Alloc.h"
#include "gui/GUI_Bitmap.h"
#include "gui/GUI_Common.h"
#include "host/platform.h"

namespace {

// The alpha rows of ordinary images are gathered in the opacity line, which
// the antialiasing engines own while a shape is drawn: it is lent out only
// between shapes.
uint8_t *_BorrowOpacityLine() {
    SIM_ASSERT(AA_IsIdle() && AA_IsIdleSimple(), "image alpha borrows the opacity line only between shapes");
    return lineOpacityBuffer;
}

// Image pixels hidden left of the clip rectangle.
uint32_t _Skip(int32_t x) { return x < GUI_Context.clipX0 ? (uint32_t)((int64_t)GUI_Context.clipX0 - x) : 0; }

// Indexed rows of either kind. Only the visible run is expanded, so that an
// image wider than outLine still draws without writing past it.
// Depth 8 is a plain look-up per byte; smaller depths take each byte's
// samples from the highest bits down.
void PNG_palate(PNG_Context *ctx, const uint8_t *row, int32_t x, int32_t x0, int32_t y, int32_t count) {
    const uint32_t skip = _Skip(x);
    const uint32_t depth = ctx->bitDepth;
    const uint8_t *map = ctx->colorMap;
    uint8_t *out = ctx->outLine;
    if (depth == 8) {
        const uint8_t *in = row + skip;
        for (int32_t i = 0; i < count; i++) out[i] = map[in[i]];
    } else {
        const uint32_t perByte = 8 / depth;
        const uint32_t mask = (1u << depth) - 1;
        uint32_t p = skip;
        const uint8_t *in = row + p / perByte;
        uint32_t shift = 8 - depth - (p % perByte) * depth;
        for (int32_t i = 0; i < count; i++) {
            out[i] = map[(*in >> shift) & mask];
            if (shift == 0) {
                shift = 8 - depth;
                in++;
            } else {
                shift -= depth;
            }
        }
    }
    DrawBitmapSimpleLine(x0, y, count, out);
}

// Ordinary PNG rows. Truecolour and alpha types are only defined at depth 8;
// at smaller depths their rows are too short for 8-bit samples and nothing
// is drawn.
void PNG_LINE(PNG_Context *ctx, const uint8_t *row, int32_t x, int32_t x0, int32_t y, int32_t count) {
    const uint32_t skip = _Skip(x);
    const uint32_t depth = ctx->bitDepth;
    uint8_t *out = ctx->outLine;
    switch (ctx->colorType) {
    case PNG_GREY: {
        // The sample is shifted to the top of the byte without replicating its
        // bits: depth 1 gives 0 or 128.
        const uint32_t perByte = 8 / depth;
        const uint32_t mask = (1u << depth) - 1;
        for (int32_t i = 0; i < count; i++) {
            uint32_t p = skip + (uint32_t)i;
            uint32_t shift = 8 - depth - (p % perByte) * depth;
            uint32_t v = ((row[p / perByte] >> shift) & mask) << (8 - depth);
            out[i] = PNG_QuantizeRGB(v, v, v);
        }
        DrawBitmapSimpleLine(x0, y, count, out);
        break;
    }
    case PNG_TRUECOLOUR: {
        if (depth != 8) break;
        const uint8_t *s = row + 3 * skip;
        for (int32_t i = 0; i < count; i++, s += 3) out[i] = PNG_QuantizeRGB(s[0], s[1], s[2]);
        DrawBitmapSimpleLine(x0, y, count, out);
        break;
    }
    case PNG_INDEXED:
        PNG_palate(ctx, row, x, x0, y, count);
        break;
    case PNG_GREY_ALPHA: {
        if (depth != 8) break;
        uint8_t *alphas = _BorrowOpacityLine();
        const uint8_t *s = row + 2 * skip;
        for (int32_t i = 0; i < count; i++, s += 2) {
            out[i] = PNG_QuantizeRGB(s[0], s[0], s[0]);
            alphas[i] = s[1];
        }
        MixIndexLineM332(out, x0, y, alphas, count, 1);
        break;
    }
    case PNG_TRUECOLOUR_ALPHA: {
        if (depth != 8) break;
        uint8_t *alphas = _BorrowOpacityLine();
        const uint8_t *s = row + 4 * skip;
        for (int32_t i = 0; i < count; i++, s += 4) {
            out[i] = PNG_QuantizeRGB(s[0], s[1], s[2]);
            alphas[i] = s[3];
        }
        MixIndexLineM332(out, x0, y, alphas, count, 1);
        break;
    }
    default:
        break;
    }
}

// ORV rows hold colour indices. Grey and grey-with-alpha rows are read one
// byte per index (or index and alpha pair); declared at a depth below 8 such
// a row is shorter than that, so it draws nothing.
void PNG_ORV_LINE(PNG_Context *ctx, const uint8_t *row, int32_t x, int32_t x0, int32_t y, int32_t count) {
    const uint32_t skip = _Skip(x);
    switch (ctx->colorType) {
    case PNG_INDEXED:
        PNG_palate(ctx, row, x, x0, y, count);
        break;
    case PNG_GREY:
        if (ctx->bitDepth == 8) DrawBitmapSimpleLine(x0, y, count, row + skip);
        break;
    case PNG_GREY_ALPHA:
        if (ctx->bitDepth == 8) MixIndexLineM332(row + 2 * skip, x0, y, row + 2 * skip + 1, count, 2);
        break;
    default:
        break;
    }
}

int PNG_LINE_CALLBACK(PNG_Context *ctx, const uint8_t *row, uint32_t rowIndex, int32_t x, int32_t y) {
    const GUI_ContextRecord &c = GUI_Context;
    const int64_t rowY = (int64_t)y + rowIndex;
    if (rowY < c.clipY0) return PNG_LINE_GO_ON;
    if (rowY > c.clipY1) return PNG_LINE_STOP;
    int64_t x0 = x;
    int64_t count = ctx->width;
    if (x0 < c.clipX0) {
        count = (int64_t)ctx->width - ((int64_t)c.clipX0 - x);
        x0 = c.clipX0;
    }
    if (x0 + count > c.clipX1) count = (int64_t)c.clipX1 - x0 + 1;
    // An inverted clip rectangle leaves nothing visible.
    if (count <= 0) return PNG_LINE_GO_ON;
    if (ctx->orvFormat) {
        PNG_ORV_LINE(ctx, row, x, (int32_t)x0, (int32_t)rowY, (int32_t)count);
    } else {
        PNG_LINE(ctx, row, x, (int32_t)x0, (int32_t)rowY, (int32_t)count);
    }
    return PNG_LINE_GO_ON;
}

}  // namespace

PngResult GUI_PNG_Draw(const uint8_t *data, uint32_t size, int32_t x, int32_t y) {
    const PoolMark job;
    PNG_Context *ctx = PNG_AllocContext();
    if (!ctx) return PNG_NO_POOL;
    const PngResult opened = PNG_open(ctx, data, size);
    if (opened != PNG_OK) return opened;
    const GUI_ContextRecord &c = GUI_Context;
    const int64_t right = (int64_t)x + ctx->width;
    const int64_t bottom = (int64_t)y + ctx->height;
    // One-pixel lines and columns are never drawn.
    if (ctx->width <= 1 || right <= 0 || ctx->height <= 1 || bottom <= 0) return PNG_NOT_DRAWABLE;
    if (bottom < c.clipY0 || y > c.clipY1 || right < c.clipX0 || x > c.clipX1) return PNG_OK;
    return PNG_decode(ctx, x, y, PNG_LINE_CALLBACK);
}

PngResult GUI_PNG_GetSize(const uint8_t *data, uint32_t size, uint32_t *xSize, uint32_t *ySize, uint8_t *hasAlpha) {
    // The header alone: no decoder record is taken from the pool, so a size
    // reads however much of the pool a picture or a video holds.
    PNG_Header h;
    const PngResult result = PNG_ReadHeader(data, size, &h);
    if (result == PNG_OK) {
        *xSize = h.width;
        *ySize = h.height;
        *hasAlpha = h.hasAlpha;
    }
    return result;
}
