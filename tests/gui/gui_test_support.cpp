#include "tests/gui/gui_test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gui/GUICC_M332.h"
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_AALib.h"
#include "gui/GUI_AALibSimple.h"
#include "gui/GUI_Common.h"
#include "tools/hostlib/png_files.h"

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

// Goldens hold the RGB of the indices, opaque.
::testing::AssertionResult matchesGolden(const std::string &name, int x0, int y0, int w, int h) {
    nimbra::RgbaImage actual;
    actual.width = (uint32_t)w;
    actual.height = (uint32_t)h;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            uint32_t c = Index2Color_M332(fb[(y0 + y) * W + x0 + x]);
            actual.rgba.insert(actual.rgba.end(), {(uint8_t)(c >> 16), (uint8_t)(c >> 8), (uint8_t)c, 0xFF});
        }
    const std::string path = std::string(NIMBRA_SOURCE_DIR) + "/tests/golden/" + name + ".png";
    std::string error;
    const char *update = getenv("NIMBRA_UPDATE_GOLDEN");
    if (update && strcmp(update, "1") == 0) {
        if (!nimbra::writePngRgba(path, actual, error)) return ::testing::AssertionFailure() << error;
        return ::testing::AssertionSuccess();
    }
    nimbra::RgbaImage expected;
    if (!nimbra::readPngRgba(path, expected, error)) return ::testing::AssertionFailure() << error;
    if (expected.width != actual.width || expected.height != actual.height)
        return ::testing::AssertionFailure() << name << ": golden is " << expected.width << "x" << expected.height
                                             << ", crop is " << w << "x" << h;
    for (size_t i = 0; i < actual.rgba.size(); i += 4) {
        if (memcmp(&actual.rgba[i], &expected.rgba[i], 3) == 0) continue;
        const std::string out = std::string(NIMBRA_BINARY_DIR) + "/" + name + ".actual.png";
        nimbra::writePngRgba(out, actual, error);
        char msg[160];
        snprintf(msg, sizeof msg, "%s: first difference at pixel (%d, %d): expected %02X%02X%02X, got %02X%02X%02X",
                 name.c_str(), x0 + (int)(i / 4 % w), y0 + (int)(i / 4 / w), expected.rgba[i], expected.rgba[i + 1],
                 expected.rgba[i + 2], actual.rgba[i], actual.rgba[i + 1], actual.rgba[i + 2]);
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
