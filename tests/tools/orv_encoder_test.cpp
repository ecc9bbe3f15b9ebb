// The ORV converter: quantisation, layout and depth choice, alpha storage,
// and files that both an ordinary PNG reader and the device decode to the
// same colour indices.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <sys/wait.h>

#include "codecs/GUI_PNG.h"
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_Common.h"
#include "tests/support/device_fixture.h"
#include "tools/hostlib/nimbra_host.h"
#include "tools/hostlib/orv_encoder.h"

using nimbra::Bytes;
using nimbra::OrvLayout;
using nimbra::OrvOptions;
using nimbra::RgbaImage;

namespace {

RgbaImage solidImage(uint32_t w, uint32_t h, const std::vector<std::array<uint8_t, 4>> &colours) {
    RgbaImage img;
    img.width = w;
    img.height = h;
    for (uint32_t i = 0; i < w * h; i++) {
        const auto &c = colours[(i * 7 + i / w) % colours.size()];
        img.rgba.insert(img.rgba.end(), c.begin(), c.end());
    }
    return img;
}

// Draws the file at the origin of an off-screen buffer and returns the
// indices the device shows.
std::vector<uint8_t> deviceIndices(const Bytes &file, uint32_t w, uint32_t h) {
    std::vector<uint8_t> picture((size_t)w * h, 0);
    GUI_SetFrameBufferBase(picture.data(), w, h);
    EXPECT_EQ(GUI_PNG_Draw(file.data(), (uint32_t)file.size(), 0, 0), 0);
    GUI_RestoreFrameBufferBase();
    return picture;
}

class OrvEncoder : public BareDeviceTest {};

}  // namespace

TEST(OrvQuantise, NearestLevelsHalvesUp) {
    // 255 / 14 = 18.2: 18 rounds down to level 0, 19 up to level 1.
    const struct {
        uint8_t r, g, b, index;
    } cases[] = {{255, 255, 255, 0xFF}, {255, 0, 0, 0xE0},     {0, 255, 0, 0x1C},       {0, 0, 255, 0x03},
                 {200, 100, 50, 173},   {0x24, 0x24, 0x24, 0x24}, {0x25, 0x25, 0x25, 0x24}, {0x80, 0x80, 0x80, 0x92},
                 {18, 0, 0, 0x00},      {19, 0, 0, 0x20}};
    for (const auto &c : cases) EXPECT_EQ(nimbra::rgb332(c.r, c.g, c.b), c.index) << int(c.r) << "," << int(c.g) << "," << int(c.b);
}

// The stored alpha keeps the device's blend weight for every source alpha
// and never reads as the device's "opaque" 7.
TEST(OrvQuantise, AlphaKeepsTheBlendWeight) {
    for (int a = 0; a < 256; a++) {
        uint8_t stored = nimbra::orvAlpha((uint8_t)a);
        EXPECT_NE(stored, 7);
        uint32_t want = a == 7 ? 0 : ((uint32_t)a + 15) >> 5;
        uint32_t got = stored == 0 ? 0 : ((uint32_t)stored + 15) >> 5;
        EXPECT_EQ(got, want) << a;
    }
    EXPECT_EQ(nimbra::orvAlpha(0), 0);
    EXPECT_EQ(nimbra::orvAlpha(255), 255);
}

TEST_F(OrvEncoder, PaletteDepthFollowsTheColourCount) {
    const std::vector<std::array<uint8_t, 4>> all = {
        {0, 0, 0, 255},     {255, 0, 0, 255},   {0, 255, 0, 255},   {0, 0, 255, 255},   {255, 255, 255, 255},
        {128, 128, 128, 255}, {200, 100, 50, 255}, {37, 37, 37, 255}, {0, 128, 255, 255}, {255, 128, 0, 255},
        {60, 60, 200, 255}, {90, 200, 90, 255}, {10, 80, 160, 255}, {250, 200, 20, 255}, {180, 40, 120, 255},
        {70, 70, 70, 255},  {110, 20, 20, 255},
    };
    struct Case {
        size_t colours;
        int depth;
    } cases[] = {{1, 1}, {2, 1}, {3, 2}, {4, 2}, {5, 4}, {16, 4}, {17, 8}};
    for (const Case &c : cases) {
        std::vector<std::array<uint8_t, 4>> use(all.begin(), all.begin() + (long)c.colours);
        RgbaImage img = solidImage(13, 5, use);
        Bytes file;
        std::string error;
        nimbra::OrvSummary summary;
        ASSERT_TRUE(nimbra::encodeOrv(img, OrvOptions(), file, error, &summary)) << error;
        EXPECT_EQ(summary.layout, OrvLayout::Palette);
        EXPECT_EQ(summary.bitDepth, c.depth) << c.colours;
        EXPECT_EQ(summary.paletteEntries, (int)c.colours);
        EXPECT_EQ(file[24], c.depth);
        EXPECT_EQ(file[25], 3);

        // The device draws each pixel's quantised colour.
        std::vector<uint8_t> shown = deviceIndices(file, img.width, img.height);
        // An ordinary reader sees grey levels equal to the indices.
        RgbaImage plain;
        ASSERT_TRUE(nimbra::decodePngRgba(file, plain, error)) << error;
        for (uint32_t y = 0; y < img.height; y++) {
            for (uint32_t x = 0; x < img.width; x++) {
                const uint8_t *p = img.pixel(x, y);
                uint8_t want = nimbra::rgb332(p[0], p[1], p[2]);
                ASSERT_EQ(shown[y * img.width + x], want) << x << "," << y;
                ASSERT_EQ(plain.pixel(x, y)[0], want);
                ASSERT_EQ(plain.pixel(x, y)[1], want);
            }
        }
    }
}

TEST_F(OrvEncoder, GreyAndGreyAlphaLayouts) {
    std::mt19937 rng(11);
    RgbaImage img;
    img.width = 31;
    img.height = 9;
    for (uint32_t i = 0; i < img.width * img.height * 4; i++) img.rgba.push_back((uint8_t)rng());
    Bytes file;
    std::string error;
    nimbra::OrvSummary summary;
    // Transparent pixels choose grey with alpha by themselves: an ordinary
    // reader sees each index as a grey level and the stored alpha beside it
    // (whose blend weight is checked above; the device's blending of such
    // pairs, with the drawing tests).
    ASSERT_TRUE(nimbra::encodeOrv(img, OrvOptions(), file, error, &summary)) << error;
    EXPECT_EQ(summary.layout, OrvLayout::GreyAlpha);
    EXPECT_EQ(file[25], 4);
    RgbaImage plain;
    ASSERT_TRUE(nimbra::decodePngRgba(file, plain, error)) << error;
    for (uint32_t y = 0; y < img.height; y++) {
        for (uint32_t x = 0; x < img.width; x++) {
            const uint8_t *p = img.pixel(x, y), *q = plain.pixel(x, y);
            ASSERT_EQ(q[3], nimbra::orvAlpha(p[3])) << x << "," << y;
            if (q[3]) {
                ASSERT_EQ(q[0], nimbra::rgb332(p[0], p[1], p[2])) << x << "," << y;
            }
        }
    }

    // An opaque picture as plain grey: one index per pixel.
    for (size_t i = 3; i < img.rgba.size(); i += 4) img.rgba[i] = 255;
    OrvOptions grey;
    grey.layout = OrvLayout::Grey;
    ASSERT_TRUE(nimbra::encodeOrv(img, grey, file, error, &summary)) << error;
    EXPECT_EQ(file[24], 8);
    EXPECT_EQ(file[25], 0);
    std::vector<uint8_t> shown = deviceIndices(file, img.width, img.height);
    for (uint32_t i = 0; i < img.width * img.height; i++) {
        const uint8_t *p = &img.rgba[i * 4];
        ASSERT_EQ(shown[i], nimbra::rgb332(p[0], p[1], p[2]));
    }
}

TEST(OrvEncoderRefusals, ImagesTheOptionsCannotHold) {
    Bytes file;
    std::string error;
    RgbaImage translucent = solidImage(4, 4, {{10, 20, 30, 255}, {10, 20, 30, 100}});
    OrvOptions palette;
    palette.layout = OrvLayout::Palette;
    EXPECT_FALSE(nimbra::encodeOrv(translucent, palette, file, error));
    EXPECT_NE(error.find("transparent"), std::string::npos);

    RgbaImage five = solidImage(8, 2, {{0, 0, 0, 255}, {255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255},
                                       {255, 255, 255, 255}});
    palette.paletteDepth = 2;
    error.clear();
    EXPECT_FALSE(nimbra::encodeOrv(five, palette, file, error));
    EXPECT_NE(error.find("5 colours"), std::string::npos);
    palette.paletteDepth = 8;   // more room than needed is fine
    EXPECT_TRUE(nimbra::encodeOrv(five, palette, file, error));
    EXPECT_EQ(file[24], 8);

    OrvOptions grey;
    grey.layout = OrvLayout::Grey;
    EXPECT_FALSE(nimbra::encodeOrv(solidImage(2561, 1, {{1, 2, 3, 255}}), grey, file, error));
    EXPECT_TRUE(nimbra::encodeOrv(solidImage(2560, 1, {{1, 2, 3, 255}}), grey, file, error));
    OrvOptions greyAlpha;
    greyAlpha.layout = OrvLayout::GreyAlpha;
    EXPECT_FALSE(nimbra::encodeOrv(solidImage(1281, 1, {{1, 2, 3, 255}}), greyAlpha, file, error));
    EXPECT_FALSE(nimbra::encodeOrv(RgbaImage(), OrvOptions(), file, error));
}

// The command-line tool, run as users run it.
TEST(OrvTool, ConvertsAFileAndReportsBadInput) {
    const std::string dir = std::string(NIMBRA_BINARY_DIR) + "/orv_tool_test/";
    ASSERT_EQ(std::system(("mkdir -p '" + dir + "'").c_str()), 0);
    std::string error;
    RgbaImage img = solidImage(20, 10, {{255, 0, 0, 255}, {0, 0, 255, 255}, {0, 0, 0, 255}});
    ASSERT_TRUE(nimbra::writePngRgba(dir + "in.png", img, error)) << error;
    auto exitCode = [&](const std::string &args) {
        int status = std::system((std::string(NIMBRA_BINARY_DIR) + "/nimbra-orv " + args + " 2>/dev/null").c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    const std::string in = "'" + dir + "in.png' ", scratch = " '" + dir + "x.png'";
    ASSERT_EQ(exitCode(in + "'" + dir + "out.png'"), 0);
    Bytes out = nimbra::readFile(dir + "out.png");
    ASSERT_GT(out.size(), 40u);
    EXPECT_EQ(memcmp(out.data() + 37, "orVL", 4), 0);
    EXPECT_EQ(out[24], 2);  // three colours: a 2-bit palette
    uint32_t w = 0, h = 0;
    uint8_t a = 0;
    EXPECT_EQ(GUI_PNG_GetSize(out.data(), (uint32_t)out.size(), &w, &h, &a), 0);
    EXPECT_EQ(w, 20u);
    EXPECT_EQ(h, 10u);

    EXPECT_EQ(exitCode("'" + dir + "missing.png'" + scratch), 1);
    EXPECT_EQ(exitCode("--depth 3 " + in + scratch), 2);
    EXPECT_EQ(exitCode("--layout nope " + in + scratch), 2);
    EXPECT_EQ(exitCode("--depth 1 " + in + scratch), 1);  // three colours
    EXPECT_EQ(exitCode(in), 2);
}
