#include "tests/gui/gui_test_support.h"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gui/GUICC_M332.h"
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_AALib.h"
#include "gui/GUI_AALibSimple.h"
#include "gui/GUI_Common.h"

// The engines' idle checks live beside their private state; no device
// module uses them, so only the tests declare them.
bool AA_IsIdle();
bool AA_IsIdleSimple();

namespace guitest {

static int _Field(int fore, int back, int f) {
    int d = (fore - back) * f;
    // floor division by 8, also for negative differences
    int q = d >= 0 ? d / 8 : -((-d + 7) / 8);
    return back + q;
}

uint8_t refMix(uint8_t fore, uint8_t back, int f) {
    int r = _Field(fore >> 5, back >> 5, f);
    int g = _Field((fore >> 2) & 7, (back >> 2) & 7, f);
    int b = _Field(2 * (fore & 3), 2 * (back & 3), f) >> 1;
    return (uint8_t)((r << 5) | (g << 2) | b);
}

uint8_t refCoverage(uint8_t fore, uint8_t back, int coverage) {
    if (back == fore) return back;
    if (coverage >= 15) return fore;
    return refMix(fore, back, (coverage + 1) >> 1);
}

void fillFrame(uint8_t index) { memset(fb, index, sizeof fb); }
Frame snapshot() { return Frame(fb, fb + sizeof fb); }
uint8_t pixel(int x, int y) { return fb[y * W + x]; }

static int _Diff(const Frame &a, const Frame &b, Box r, bool inside) {
    int n = 0;
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            bool in = x >= r.x0 && x <= r.x1 && y >= r.y0 && y <= r.y1;
            n += in == inside && a[y * W + x] != b[y * W + x];
        }
    return n;
}
int diffIn(const Frame &a, const Frame &b, Box r) { return _Diff(a, b, r, true); }
int diffOut(const Frame &a, const Frame &b, Box r) { return _Diff(a, b, r, false); }

Box painted(uint8_t background) {
    Box b{W, H, -1, -1};
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            if (fb[y * W + x] == background) continue;
            b = {std::min(b.x0, x), std::min(b.y0, y), std::max(b.x1, x), std::max(b.y1, y)};
        }
    return b;
}

Frame drawnAlone(const std::function<void()> &draw) {
    Frame saved = snapshot();
    fillFrame(BG);
    draw();
    Frame result = snapshot();
    memcpy(fb, saved.data(), sizeof fb);
    return result;
}

::testing::AssertionResult clipsExactly(const std::function<void()> &draw, Box clip) {
    Frame full = drawnAlone(draw);
    fillFrame(BG);
    GUI_SetClipRect(clip.x0, clip.y0, clip.x1, clip.y1);
    draw();
    GUI_SetClipRect(0, 0, W - 1, H - 1);
    Frame clipped = snapshot();
    if (int n = diffIn(full, clipped, clip)) return ::testing::AssertionFailure() << n << " pixels differ inside";
    if (int n = diffOut(Frame(W * H, BG), clipped, clip))
        return ::testing::AssertionFailure() << n << " pixels drawn outside";
    if (!enginesIdle()) return enginesIdle();
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult frameIs(const Frame &expected, const uint8_t *actual) {
    if (!actual) actual = fb;
    for (int i = 0; i < W * H; i++) {
        if (actual[i] == expected[i]) continue;
        int x = i % W, y = i / W;
        return ::testing::AssertionFailure()
               << "first difference at (" << x << ", " << y << "): got " << (int)actual[i] << ", expected "
               << (int)expected[i] << "\n"
               << testsupport::describeRegion(actual, W, std::max(0, std::min(x - 4, W - 12)),
                                              std::max(0, std::min(y - 2, H - 6)), 12, 6);
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult enginesIdle() {
    if (!AA_IsIdle()) return ::testing::AssertionFailure() << "general engine has a pending row";
    if (!AA_IsIdleSimple()) return ::testing::AssertionFailure() << "simple engine has a pending row";
    for (uint32_t i = 0; i < LINE_OPACITY_BUFFER_BYTES; i++) {
        if (lineOpacityBuffer[i] != 0)
            return ::testing::AssertionFailure() << "coverage cell " << i << " holds " << (int)lineOpacityBuffer[i];
    }
    return ::testing::AssertionSuccess();
}

static void _Rgb(uint8_t index, uint8_t *rgb) {
    uint32_t c = Index2Color_M332(index);
    rgb[0] = (uint8_t)(c >> 16);
    rgb[1] = (uint8_t)(c >> 8);
    rgb[2] = (uint8_t)c;
}

static bool _WritePng(const std::string &path, const std::vector<uint8_t> &rgb, int w, int h) {
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = (png_uint_32)w;
    image.height = (png_uint_32)h;
    image.format = PNG_FORMAT_RGB;
    return png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr) != 0;
}

// Reads an 8-bit RGB PNG; false when the file is missing or of another kind.
static bool _ReadPng(const std::string &path, std::vector<uint8_t> &rgb, int *w, int *h) {
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGB;
    rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return false;
    *w = (int)image.width;
    *h = (int)image.height;
    return true;
}

::testing::AssertionResult matchesGolden(const std::string &name, int x0, int y0, int w, int h) {
    std::vector<uint8_t> actual((size_t)w * h * 3);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) _Rgb(fb[(y0 + y) * W + x0 + x], &actual[((size_t)y * w + x) * 3]);
    const std::string path = std::string(NIMBRA_SOURCE_DIR) + "/tests/golden/" + name + ".png";
    const char *update = getenv("NIMBRA_UPDATE_GOLDEN");
    if (update && strcmp(update, "1") == 0) {
        if (!_WritePng(path, actual, w, h)) return ::testing::AssertionFailure() << "cannot write " << path;
        return ::testing::AssertionSuccess();
    }
    std::vector<uint8_t> expected;
    int ew = 0, eh = 0;
    if (!_ReadPng(path, expected, &ew, &eh)) return ::testing::AssertionFailure() << "cannot read " << path;
    if (ew != w || eh != h)
        return ::testing::AssertionFailure()
               << name << ": golden is " << ew << "x" << eh << ", crop is " << w << "x" << h;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            size_t i = ((size_t)y * w + x) * 3;
            if (memcmp(&actual[i], &expected[i], 3) == 0) continue;
            const std::string out = std::string(NIMBRA_BINARY_DIR) + "/" + name + ".actual.png";
            _WritePng(out, actual, w, h);
            char msg[160];
            snprintf(msg, sizeof msg, "%s: first difference at pixel (%d, %d): expected %02X%02X%02X, got %02X%02X%02X",
                     name.c_str(), x0 + x, y0 + y, expected[i], expected[i + 1], expected[i + 2], actual[i],
                     actual[i + 1], actual[i + 2]);
            return ::testing::AssertionFailure() << msg << "; actual crop written to " << out;
        }
    return ::testing::AssertionSuccess();
}

}  // namespace guitest

void ShapeTest::SetUp() {
    BareDeviceTest::SetUp();
    guitest::fillFrame(guitest::BG);
    GUI_SetColor(0xFFFFFFFF);
}
