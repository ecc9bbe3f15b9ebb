// The graphics context and its setters. Drawing code reads the context
// directly; only these functions change it.
#include "gui/GUI_Common.h"
#include <cstring>
#include "gui/GUICC_M332.h"
#include "gui/GUI_AALib.h"
#include "gui/GUI_Units.h"
#include "host/config.h"
#include "host/GUI_Driver.h"
#include "host/platform.h"

GUI_ContextRecord GUI_Context;
GUI_ContextRecord *const pContext = &GUI_Context;
GUI_Device *pDevice = nullptr;

static void _ResetContext() {
    memset(&GUI_Context, 0, sizeof GUI_Context);
    pDevice = nullptr;
}
SIM_REGISTER_RESET(_ResetContext);

void GUI_Init() {
    pDevice = &GUI_Context.device;
    GUI_X_Config();
    GUI_Context.font = nullptr;
    GUI_Context.penSize = 4;
    GUI_Context.penShape = 1;
    GUI_Context.lineStyle = 0;
    GUI_Context.colorIndex = 255;
    GUI_Context.alpha = 255;
    memset(lineOpacityBuffer, 0, sizeof lineOpacityBuffer);
}

void GUI_SetClipRect(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    // The upper bounds are the screen's, not the device's: a smaller target
    // buffer relies on its callers to pass a fitting rectangle.
    if (x0 < 0) x0 = 0;
    if (y0 < 0) y0 = 0;
    if (x1 > SCREEN_WIDTH - 1) x1 = SCREEN_WIDTH - 1;
    if (y1 > SCREEN_HEIGHT - 1) y1 = SCREEN_HEIGHT - 1;
    GUI_Context.clipX0 = x0;
    GUI_Context.clipY0 = y0;
    GUI_Context.clipX1 = x1;
    GUI_Context.clipY1 = y1;
    // The quarter-pixel clip covers every quarter pixel of the clip's pixels.
    GUI_Context.subClipX0 = pixelFirstSub(x0);
    GUI_Context.subClipY0 = pixelFirstSub(y0);
    GUI_Context.subClipX1 = pixelLastSub(x1);
    GUI_Context.subClipY1 = pixelLastSub(y1);
}

void GUI_SetVRAMAddrEx(uint8_t *base, uint32_t xSize, uint32_t ySize) {
    GUI_Context.device.vram = base;
    GUI_Context.device.xSize = xSize;
    GUI_Context.device.ySize = ySize;
    GUI_SetClipRect(0, 0, (int32_t)xSize - 1, (int32_t)ySize - 1);
}

void GUI_SetFrameBufferBase(uint8_t *base, uint32_t xSize, uint32_t ySize) {
    GUI_Context.savedDevice = GUI_Context.device;
    GUI_SetVRAMAddrEx(base, xSize, ySize);
}

void GUI_RestoreFrameBufferBase() {
    GUI_Device saved = GUI_Context.savedDevice;
    GUI_SetVRAMAddrEx(saved.vram, saved.xSize, saved.ySize);
}

void GUI_SetColor(uint32_t color) {
    GUI_Context.alpha = (uint8_t)(color >> 24);
    GUI_Context.colorIndex = Color2Index_M332(color);
}

uint32_t GUI_GetColor() {
    return ((uint32_t)GUI_Context.alpha << 24) | (Index2Color_M332(GUI_Context.colorIndex) & 0xFFFFFFu);
}

void GUI_SetFont(const GUI_FONT *font) {
    if (font) GUI_Context.font = font;
}

const GUI_FONT *GUI_GetFont() { return GUI_Context.font; }

uint8_t GUI_GetFontSizeY() {
    // The height is the first byte of the font record.
    return GUI_Context.font ? GUI_Context.font->height : 0;
}

void GUI_SetPenSize(uint32_t size) { GUI_Context.penSize = size; }
uint32_t GUI_GetPenSize() { return GUI_Context.penSize; }
void GUI_SetPenShape(uint8_t shape) { GUI_Context.penShape = shape; }
uint8_t GUI_GetPenShape() { return GUI_Context.penShape; }
void GUI_SetLineStyle(uint8_t style) { GUI_Context.lineStyle = style; }
uint8_t GUI_GetLineStyle() { return GUI_Context.lineStyle; }
