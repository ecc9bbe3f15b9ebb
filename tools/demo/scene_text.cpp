// Text in the three built-in fonts in every alignment, then the logo
// screens of each kind.
#include <string>

#include "tools/demo/demo_scenes.h"

namespace {

// Draw text: font slot, position in half pixels, alignment, UTF-8 text.
void drawText(nimbra::CommandBuilder &b, uint8_t slot, int32_t xh, int32_t yh, uint8_t alignment,
              const std::string &text) {
    b.u8(0x08).u8(slot).pair(xh, yh).u8(alignment).u8((uint8_t)text.size()).text(text);
}

// Draw logo: kind, offsets of the centre in pixels, caption.
void drawLogo(nimbra::CommandBuilder &b, uint8_t kind, int16_t dx, int16_t dy, const std::string &caption) {
    b.u8(0x07).u8(kind).u16le((uint16_t)dx).u16le((uint16_t)dy).u8((uint8_t)caption.size()).text(caption);
}

}  // namespace

DEMO_SCENE(400, text) {
    nimbra::CommandBuilder b;
    b.clearRect(0, 0, 1280, 800);
    // Each font gets a band: left-aligned, centred and right-aligned on the
    // middle column x = 320 (640 half pixels).
    const struct {
        uint8_t slot;
        int32_t topH;
        uint32_t colour;
    } bands[] = {{0, 10, 0xFFFFFFFF}, {1, 170, 0xFFFFD040}, {2, 390, 0xFF60C0FF}};
    for (const auto &band : bands) {
        b.setColor(band.colour);
        drawText(b, band.slot, 640, band.topH, 0, "left from 320");
        drawText(b, band.slot, 640, band.topH + 48 + band.slot * 24, 1, "centred on 320");
        drawText(b, band.slot, 640, band.topH + 96 + band.slot * 48, 2, "right up to 320");
    }
    // Accented letters are not in the built-in fonts: each leaves a gap of
    // half the font height.
    b.setColor(0xFF80FF80);
    drawText(b, 0, 20, 740, 0, "Caf\xC3\xA9 cr\xC3\xA8me, 12\xE2\x82\xAC");
    drawText(b, 0, 1260, 740, 2, "<>{}[]()|@#$%&*+-=/\\~^_`'\";:,.!?");
    demo::showFrame(stream, b, frameId);

    // Text cut by the screen edges.
    b.clearRect(0, 0, 1280, 800);
    b.setColor(0xFFFFFFFF);
    drawText(b, 2, -40, -20, 0, "cut at the top left");
    drawText(b, 2, 1320, 760, 2, "cut at the bottom right");
    drawText(b, 1, 640, 380, 1, "The quick brown fox jumps over the lazy dog");
    demo::showFrame(stream, b, frameId);

    // The logo screens show themselves; each is one frame.
    const struct {
        uint8_t kind;
        const char *caption;
    } logos[] = {{1, "OR-SIM"}, {4, "Pairing"}, {3, "Goodbye"}, {5, "Battery low"}, {2, "Link lost"}};
    for (const auto &logo : logos) {
        drawLogo(b, logo.kind, 0, 0, logo.caption);
        nimbra::appendRecord(stream, b.payload());
        b.clear();
    }
    drawLogo(b, 1, -150, 60, "");
    nimbra::appendRecord(stream, b.payload());
    b.clear();
}
