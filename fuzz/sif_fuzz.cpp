// SIF fonts opened from an upload's bytes and a line of UTF-8 text laid out
// and drawn with them, aligned as the draw text command aligns it.
//
// Checks, besides the sanitizers: every glyph that a lookup returns lies in
// the file, no pixel outside the clip rectangle changes, and the pool and
// the context are left as they were.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_device.h"
#include "fuzz/fuzz_layout.h"
#include "gui/GUICC_M332.h"
#include "gui/GUI_Common.h"
#include "gui/GUI_Font.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::runRepeatable(size, [&] {
        fuzz::Input input(data, size);
        const fuzz::Placement at = fuzz::applyPlacement(input);
        const uint8_t colour = input.u8(), alpha = input.u8();
        size_t textBytes = 0;
        const uint8_t *text = input.take(input.u8() % (GUI_MAX_LINE_CHARS + 1), &textBytes);
        size_t fileBytes = 0;
        const uint8_t *file = input.take(input.left(), &fileBytes);

        const uint8_t bitsPerPixel = (at.flags & fuzzlayout::kTextFourBits) ? 4 : 2;
        GUI_FONT font{};
        if (GUI_SIF_CreateFont(file, &font, bitsPerPixel, (uint32_t)fileBytes) != SIF_OK) return;
        fuzz::require(font.data == file && font.dataSize == fileBytes, "an opened font is the file in place");

        GUI_SetColor(((uint32_t)alpha << 24) | Index2Color_M332(colour));
        GUI_SetFont(&font);
        fuzz::DrawGuard guard;
        GUI_GlyphRef refs[GUI_MAX_LINE_CHARS];
        int32_t width = 0, height = 0;
        const int32_t count = GUI_PrapareLine(text, (uint32_t)textBytes, &width, &height, refs);
        fuzz::require(count >= 0 && (size_t)count <= textBytes, "a line has at most one glyph per byte");
        for (int32_t i = 0; i < count; i++) {
            fuzz::require(refs[i] == nullptr || (refs[i] >= file && refs[i] + SIF_GLYPH_BYTES <= file + fileBytes),
                          "a glyph lies in its font's file");
        }
        // Left, centred on the position or ending left of it, as the command does.
        int32_t left = at.x;
        const int32_t alignment = (at.flags >> fuzzlayout::kTextAlignShift) & 3;
        if (alignment == 1) left = at.x - width / 2;
        if (alignment == 2) left = at.x - width - 1;
        GUI_DispPraparedLine(count, refs, left, at.y);
        guard.check();
    });
    return 0;
}
