// The ORV converter: quantisation, layout and depth choice, alpha storage,
// and files that both an ordinary PNG reader and the device decode to the
// same colour indices.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>

#include "codecs/GUI_PNG.h"
#include "gui/GUI_Common.h"
#include "tests/support/device_fixture.h"
#include "tools/hostlib/orv_encoder.h"
#include "tools/hostlib/png_files.h"

using nimbra::Bytes;
using nimbra::OrvLayout;
using nimbra::OrvOptions;
using nimbra::RgbaImage;

namespace {

using Colours = std::vector<std::array<uint8_t, 4>>;

RgbaImage solidImage(uint32_t w, uint32_t h, const Colours &colours) {
    RgbaImage img;
    img.width = w;
    img.height = h;
    for (uint32_t i = 0; i < w * h; i++) {
        const auto &c = colours[(i * 7 + i / w) % colours.size()];
        img.rgba.insert(img.rgba.end(), c.begin(), c.end());
    }
    return img;
}

// The file encoded with the options, which must succeed.
Bytes encode(const RgbaImage &img, OrvOptions options = {}, nimbra::OrvSummary *summary = nullptr) {
    Bytes file;
    std::string error;
    EXPECT_TRUE(nimbra::encodeOrv(img, options, file, error, summary)) << error;
    return file;
}

// The indices the device shows for the file, drawn into a picture of its size.
std::vector<uint8_t> deviceIndices(const Bytes &file, uint32_t w, uint32_t h) {
    std::vector<uint8_t> picture((size_t)w * h, 0);
    GUI_SetFrameBufferBase(picture.data(), w, h);
    EXPECT_EQ(GUI_PNG_Draw(file.data(), (uint32_t)file.size(), 0, 0), 0);
    GUI_RestoreFrameBufferBase();
    return picture;
}

using OrvEncoder = BareDeviceTest;

}  // namespace

TEST(OrvQuantise, NearestLevelsHalvesUpAndAlphaKeepsTheBlendWeight) {
    // 255 / 14 = 18.2: 18 rounds down to level 0, 19 up to level 1.
    const struct {
        uint8_t r, g, b, index;
    } cases[] = {{255, 0, 0, 0xE0}, {0, 255, 0, 0x1C}, {0, 0, 255, 0x03}, {200, 100, 50, 173},
                 {0x80, 0x80, 0x80, 0x92}, {18, 0, 0, 0x00}, {19, 0, 0, 0x20}};
    for (const auto &c : cases) EXPECT_EQ(nimbra::rgb332(c.r, c.g, c.b), c.index) << int(c.r) << "," << int(c.g);
    // The stored alpha keeps the device's blend weight for every source
    // alpha and never reads as the device's "opaque" 7.
    for (int a = 0; a < 256; a++) {
        uint8_t stored = nimbra::orvAlpha((uint8_t)a);
        EXPECT_NE(stored, 7);
        EXPECT_EQ(stored == 0 ? 0 : (stored + 15) >> 5, a == 7 ? 0 : (a + 15) >> 5) << a;
    }
    EXPECT_EQ(nimbra::orvAlpha(255), 255);
}

// The smallest palette that holds the colours; the device draws each pixel's
// quantised colour, and an ordinary reader sees grey levels equal to them.
TEST_F(OrvEncoder, PaletteDepthFollowsTheColourCount) {
    Colours all;   // the colours of 17 different indices
    for (int i = 0; i < 17; i++) {
        const int index = i * 15 + 1;
        all.push_back({(uint8_t)((index >> 5) * 255 / 7), (uint8_t)(((index >> 2) & 7) * 255 / 7), (uint8_t)((index & 3) * 85), 255});
    }
    for (auto [colours, depth] : {std::pair{2, 1}, {3, 2}, {5, 4}, {16, 4}, {17, 8}}) {
        RgbaImage img = solidImage(13, 5, Colours(all.begin(), all.begin() + colours));
        nimbra::OrvSummary summary;
        Bytes file = encode(img, {}, &summary);
        EXPECT_EQ(std::make_tuple(summary.layout, summary.bitDepth, summary.paletteEntries, file[24], file[25]),
                  std::make_tuple(OrvLayout::Palette, depth, colours, (uint8_t)depth, (uint8_t)3));
        std::vector<uint8_t> shown = deviceIndices(file, img.width, img.height);
        RgbaImage plain;
        std::string error;
        ASSERT_TRUE(nimbra::decodePngRgba(file, plain, error)) << error;
        for (uint32_t y = 0; y < img.height; y++)
            for (uint32_t x = 0; x < img.width; x++) {
                const uint8_t *p = img.pixel(x, y), want = nimbra::rgb332(p[0], p[1], p[2]);
                ASSERT_EQ(shown[y * img.width + x], want) << x << "," << y;
                ASSERT_EQ(plain.pixel(x, y)[0], want);
            }
    }
}

TEST_F(OrvEncoder, GreyAndGreyAlphaLayouts) {
    std::mt19937 rng(11);
    RgbaImage img;
    img.width = 31;
    img.height = 9;
    for (uint32_t i = 0; i < img.width * img.height * 4; i++) img.rgba.push_back((uint8_t)rng());
    // Transparent pixels choose grey with alpha: an ordinary reader sees each
    // index as a grey level and the stored alpha beside it.
    nimbra::OrvSummary summary;
    Bytes file = encode(img, {}, &summary);
    EXPECT_EQ(summary.layout, OrvLayout::GreyAlpha);
    RgbaImage plain;
    std::string error;
    ASSERT_TRUE(nimbra::decodePngRgba(file, plain, error)) << error;
    for (uint32_t y = 0; y < img.height; y++)
        for (uint32_t x = 0; x < img.width; x++) {
            const uint8_t *p = img.pixel(x, y), *q = plain.pixel(x, y);
            ASSERT_EQ(q[3], nimbra::orvAlpha(p[3])) << x << "," << y;
            ASSERT_TRUE(q[3] == 0 || q[0] == nimbra::rgb332(p[0], p[1], p[2])) << x << "," << y;
        }
    // An opaque picture as plain grey: one index per pixel.
    for (size_t i = 3; i < img.rgba.size(); i += 4) img.rgba[i] = 255;
    file = encode(img, {OrvLayout::Grey, 0});
    EXPECT_EQ(std::make_pair(file[24], file[25]), std::make_pair((uint8_t)8, (uint8_t)0));
    std::vector<uint8_t> shown = deviceIndices(file, img.width, img.height);
    for (uint32_t i = 0; i < img.width * img.height; i++)
        ASSERT_EQ(shown[i], nimbra::rgb332(img.rgba[i * 4], img.rgba[i * 4 + 1], img.rgba[i * 4 + 2]));
}

TEST(OrvEncoderRefusals, ImagesTheOptionsCannotHold) {
    Bytes file;
    std::string error;
    RgbaImage translucent = solidImage(4, 4, {{10, 20, 30, 255}, {10, 20, 30, 100}});
    EXPECT_FALSE(nimbra::encodeOrv(translucent, {OrvLayout::Palette, 0}, file, error));
    EXPECT_NE(error.find("transparent"), std::string::npos);
    RgbaImage five = solidImage(8, 2, {{0, 0, 0, 255}, {255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255},
                                       {255, 255, 255, 255}});
    EXPECT_FALSE(nimbra::encodeOrv(five, {OrvLayout::Palette, 2}, file, error));
    EXPECT_NE(error.find("5 colours"), std::string::npos);
    EXPECT_TRUE(nimbra::encodeOrv(five, {OrvLayout::Palette, 8}, file, error));   // more room than needed is fine
    EXPECT_EQ(file[24], 8);
    // Rows of at most 2560 bytes: 2560 grey pixels, 1280 with alpha.
    EXPECT_FALSE(nimbra::encodeOrv(solidImage(2561, 1, {{1, 2, 3, 255}}), {OrvLayout::Grey, 0}, file, error));
    EXPECT_TRUE(nimbra::encodeOrv(solidImage(2560, 1, {{1, 2, 3, 255}}), {OrvLayout::Grey, 0}, file, error));
    EXPECT_FALSE(nimbra::encodeOrv(solidImage(1281, 1, {{1, 2, 3, 255}}), {OrvLayout::GreyAlpha, 0}, file, error));
    EXPECT_FALSE(nimbra::encodeOrv(RgbaImage(), OrvOptions(), file, error));
}
