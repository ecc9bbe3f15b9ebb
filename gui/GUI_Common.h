// The one graphics context: clip rectangle (pixels and quarter pixels), pen,
// line style, font, colour and the device record drawing goes to.
#pragma once
#include <cstdint>

#include "gui/GUI_Font.h"

struct GUI_Device {
    uint8_t *vram;     // address of pixel (0, 0)
    uint32_t xSize;    // width in pixels, also bytes per row
    uint32_t ySize;    // height in pixels
};

struct GUI_ContextRecord {
    int32_t clipX0, clipY0, clipX1, clipY1;             // pixels, inclusive
    int32_t subClipX0, subClipY0, subClipX1, subClipY1; // quarter pixels, inclusive
    uint32_t penSize;                                   // quarter pixels
    uint8_t penShape;
    uint8_t lineStyle;
    const GUI_FONT *font;
    uint8_t colorIndex;                                 // RGB332
    uint8_t alpha;
    GUI_Device device;
    GUI_Device savedDevice;
};

extern GUI_ContextRecord GUI_Context;
extern GUI_ContextRecord *const pContext;
extern GUI_Device *pDevice;

void GUI_Init();
void GUI_SetClipRect(int32_t x0, int32_t y0, int32_t x1, int32_t y1);
void GUI_SetVRAMAddrEx(uint8_t *base, uint32_t xSize, uint32_t ySize);
void GUI_SetFrameBufferBase(uint8_t *base, uint32_t xSize, uint32_t ySize);
void GUI_RestoreFrameBufferBase();
void GUI_SetColor(uint32_t color);
uint32_t GUI_GetColor();
void GUI_SetFont(const GUI_FONT *font);
const GUI_FONT *GUI_GetFont();
uint8_t GUI_GetFontSizeY();
void GUI_SetPenSize(uint32_t size);
uint32_t GUI_GetPenSize();
void GUI_SetPenShape(uint8_t shape);
uint8_t GUI_GetPenShape();
void GUI_SetLineStyle(uint8_t style);
uint8_t GUI_GetLineStyle();
