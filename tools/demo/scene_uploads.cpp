// Uploaded resources: a compressed 4-bit font, two JPEG photographs (chroma
// 4:2:0 and 4:4:4), a PNG with alpha blended over them, a sprite sheet
// decoded into slot 0 with sprites cut from it, and a clip rectangle that
// windows a wall of photographs.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/demo/demo_scenes.h"
#include "tools/hostlib/png_files.h"
#include "tools/hostlib/upload.h"

namespace {

using nimbra::Bytes;

constexpr uint8_t kFontSlot = 3;
constexpr uint8_t kPhoto420Slot = 1, kPhoto444Slot = 2, kOrbSlot = 3, kSheetSlot = 0;
constexpr int kPhotoW = 200, kPhotoH = 120;
constexpr int kCell = 32, kSheetColumns = 4, kSheetRows = 2;

Bytes asset(const char *name) {
    std::string path = std::string(NIMBRA_SOURCE_DIR) + "/examples/assets/" + name;
    Bytes b = nimbra::readFile(path);
    if (b.empty()) {
        fprintf(stderr, "nimbra-make-demo: cannot read %s\n", path.c_str());
        exit(1);
    }
    return b;
}

// An 8-bit RGBA PNG from rows of pixels, unfiltered.
Bytes rgbaPng(uint32_t w, uint32_t h, const std::vector<uint8_t> &rgba) {
    Bytes raw;
    for (uint32_t y = 0; y < h; y++) {
        raw.push_back(0);
        raw.insert(raw.end(), rgba.begin() + (size_t)y * w * 4, rgba.begin() + (size_t)(y + 1) * w * 4);
    }
    Bytes file(nimbra::kPngSignature, nimbra::kPngSignature + 8);
    nimbra::appendPngChunk(file, "IHDR", nimbra::pngHeaderData(w, h, 8, 6));
    nimbra::appendPngChunk(file, "IDAT", nimbra::zlibCompress(raw));
    nimbra::appendPngChunk(file, "IEND", Bytes{});
    return file;
}

// A warm glow whose alpha falls off from the centre.
Bytes orbPng() {
    const int size = 96;
    std::vector<uint8_t> px((size_t)size * size * 4);
    for (int y = 0; y < size; y++) {
        for (int x = 0; x < size; x++) {
            double d = std::hypot(x - 47.5, y - 47.5) / 48.0;
            double a = d >= 1.0 ? 0.0 : std::pow(1.0 - d, 0.7);
            uint8_t *p = &px[((size_t)y * size + x) * 4];
            p[0] = 255;
            p[1] = (uint8_t)(150 + 100 * (1.0 - d > 0 ? 1.0 - d : 0));
            p[2] = 90;
            p[3] = (uint8_t)std::lround(255 * a);
        }
    }
    return rgbaPng(size, size, px);
}

// Eight 32 x 32 icons on a transparent sheet. Their pixels are opaque and
// never black, so only the background is transparent once decoded.
Bytes spriteSheetPng() {
    const int w = kCell * kSheetColumns, h = kCell * kSheetRows;
    std::vector<uint8_t> px((size_t)w * h * 4, 0);
    const uint8_t colours[8][3] = {{255, 60, 60}, {60, 220, 80},  {80, 120, 255}, {255, 220, 40},
                                   {230, 70, 230}, {40, 220, 230}, {255, 150, 30}, {240, 240, 240}};
    for (int cell = 0; cell < 8; cell++) {
        const int ox = (cell % kSheetColumns) * kCell, oy = (cell / kSheetColumns) * kCell;
        for (int y = 0; y < kCell; y++) {
            for (int x = 0; x < kCell; x++) {
                const double cx = x - 15.5, cy = y - 15.5, r = std::hypot(cx, cy);
                const double ax = std::fabs(cx), ay = std::fabs(cy);
                bool in = false;
                switch (cell) {
                case 0: in = r < 14; break;                                         // disc
                case 1: in = ax < 12 && ay < 12; break;                             // square
                case 2: in = ax + ay < 15; break;                                   // diamond
                case 3: in = r < 14 && r > 8; break;                                // ring
                case 4: in = cy > -12 && cy < 12 && ax < (cy + 12) * 0.6; break;    // triangle
                case 5: in = (ax < 4 && ay < 14) || (ay < 4 && ax < 14); break;     // cross
                case 6: in = r < 6 + 8 * std::pow(std::fabs(std::cos(2.5 * std::atan2(cy, cx))), 2); break;  // star
                case 7: in = (ax < 14 && ay < 14) && ((x / 4 + y / 4) % 2 == 0); break;  // chequer
                }
                if (!in) continue;
                uint8_t *p = &px[((size_t)(oy + y) * w + ox + x) * 4];
                // A darker rim one pixel wide.
                const bool rim = r > 13 && cell != 1 && cell != 5 && cell != 7;
                for (int c = 0; c < 3; c++) p[c] = rim ? (uint8_t)(colours[cell][c] / 2 + 20) : colours[cell][c];
                p[3] = 255;
            }
        }
    }
    return rgbaPng(w, h, px);
}

Bytes drawTextCommand(uint8_t slot, int x, int y, uint8_t align, const std::string &text) {
    nimbra::CommandBuilder b;
    b.u8(0x08).u8(slot).pair(2 * x, 2 * y).u8(align).u8((uint8_t)text.size()).text(text);
    return b.payload();
}

Bytes sprite(int x, int y, int cell) {
    const int sx = (cell % kSheetColumns) * kCell, sy = (cell / kSheetColumns) * kCell;
    return nimbra::drawSpriteCommand(2 * x, 2 * y, 2 * sx, 2 * sy, 2 * kCell, 2 * kCell);
}

Bytes command(const nimbra::CommandBuilder &b) { return b.payload(); }

void add(std::vector<Bytes> &list, const std::vector<Bytes> &more) {
    if (more.empty()) {
        fprintf(stderr, "nimbra-make-demo: an upload does not fit its slot\n");
        exit(1);
    }
    list.insert(list.end(), more.begin(), more.end());
}

void showFrame(Bytes &stream, std::vector<Bytes> &commands, uint8_t &frameId) {
    nimbra::CommandBuilder show;
    show.copyToScreen(frameId++);
    commands.push_back(show.payload());
    Bytes records = nimbra::packRecords(commands);
    stream.insert(stream.end(), records.begin(), records.end());
    commands.clear();
}

}  // namespace

DEMO_SCENE(500, uploads) {
    std::vector<Bytes> c;
    nimbra::UploadOptions compressed;
    compressed.compress = true;
    add(c, nimbra::loadFontCommands(kFontSlot, asset("sans_bold_30_4bpp.sif"), nimbra::kFontFormat4Bpp, compressed));
    add(c, nimbra::loadImageCommands(kPhoto420Slot, asset("landscape_420.jpg"), nimbra::kImageJpeg, {}));
    add(c, nimbra::loadImageCommands(kPhoto444Slot, asset("landscape_444.jpg"), nimbra::kImageJpeg, {}));
    add(c, nimbra::loadImageCommands(kOrbSlot, orbPng(), nimbra::kImagePng, {}));
    add(c, nimbra::loadImageCommands(kSheetSlot, spriteSheetPng(), nimbra::kImagePng, {}));

    // The two photographs side by side, the glow across their meeting edge,
    // captions in the uploaded font and in a built-in one.
    nimbra::CommandBuilder clear;
    clear.clearRect(0, 0, 1280, 800);
    c.push_back(command(clear));
    nimbra::CommandBuilder colour;
    colour.setColor(0xFFFFFFFF);
    c.push_back(command(colour));
    c.push_back(drawTextCommand(kFontSlot, 320, 8, 1, "Uploaded resources"));
    c.push_back(nimbra::drawImageCommand(kPhoto420Slot, 2 * 100, 2 * 60));
    c.push_back(nimbra::drawImageCommand(kPhoto444Slot, 2 * 340, 2 * 60));
    c.push_back(nimbra::drawImageCommand(kOrbSlot, 2 * 272, 2 * 72));
    colour.clear();
    colour.setColor(0xFFC0C0C0);
    c.push_back(command(colour));
    c.push_back(drawTextCommand(0, 200, 186, 1, "JPEG 4:2:0"));
    c.push_back(drawTextCommand(0, 440, 186, 1, "JPEG 4:4:4"));

    // The whole sheet, then each sprite on its own, then a parade of
    // sprites running off both edges of the screen.
    c.push_back(nimbra::drawImageCommand(kSheetSlot, 2 * 20, 2 * 230));
    for (int cell = 0; cell < 8; cell++) c.push_back(sprite(170 + cell * 56, 246, cell));
    for (int i = 0; i < 14; i++) c.push_back(sprite(-16 + i * 48, 330 + (i % 2) * 24, (i * 3) % 8));
    showFrame(stream, c, frameId);

    // A wall of photographs seen through a clip window; sprites crossing the
    // window's edges are cut by it too.
    c.push_back(command(clear));
    c.push_back(nimbra::clipRectCommand(2 * 110, 2 * 90, 2 * 420, 2 * 220));
    for (int row = 0; row < 4; row++) {
        for (int col = 0; col < 4; col++) {
            uint8_t slot = (row + col) % 2 ? kPhoto444Slot : kPhoto420Slot;
            c.push_back(nimbra::drawImageCommand(slot, 2 * (col * kPhotoW - 60), 2 * (row * kPhotoH - 20)));
        }
    }
    for (int i = 0; i < 10; i++) c.push_back(sprite(90 + i * 46, 76 + (i % 3) * 100, i % 8));
    c.push_back(nimbra::drawImageCommand(kOrbSlot, 2 * 480, 2 * 250));
    c.push_back(nimbra::clipRectCommand(0, 0, 2 * 640, 2 * 400));
    colour.clear();
    colour.setColor(0xFFFFFFFF);
    c.push_back(command(colour));
    c.push_back(drawTextCommand(kFontSlot, 320, 340, 1, "Clip window"));
    showFrame(stream, c, frameId);
}
