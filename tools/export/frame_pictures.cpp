#include "tools/export/frame_pictures.h"

#include <string>

#include "tools/hostlib/orv_encoder.h"

namespace nimbra {

namespace {

constexpr int kDigitWidth = 5;
constexpr int kDigitAdvance = kDigitWidth + 1;

// Each row of a digit, its leftmost pixel in bit 4.
constexpr uint8_t kDigits[10][kDigitHeight] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E},   // 0
    {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},   // 1
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F},   // 2
    {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},   // 3
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02},   // 4
    {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},   // 5
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E},   // 6
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},   // 7
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E},   // 8
    {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},   // 9
};

}  // namespace

RgbPicture::RgbPicture(uint32_t w, uint32_t h, Rgb fill) : width(w), height(h), rgb((size_t)w * h * 3) {
    for (size_t i = 0; i < rgb.size(); i += 3) {
        rgb[i] = fill.r;
        rgb[i + 1] = fill.g;
        rgb[i + 2] = fill.b;
    }
}

void RgbPicture::set(uint32_t x, uint32_t y, Rgb c) {
    uint8_t *p = at(x, y);
    p[0] = c.r;
    p[1] = c.g;
    p[2] = c.b;
}

RgbPicture enlargeFrame(const IndexedFrame &frame, int scale) {
    const Palette &palette = paletteOf(frame.mode);
    RgbPicture picture;
    picture.width = (uint32_t)(kScreenWidth * scale);
    picture.height = (uint32_t)(kScreenHeight * scale);
    picture.rgb.resize((size_t)picture.width * picture.height * 3);
    uint8_t *out = picture.rgb.data();
    for (int y = 0; y < kScreenHeight; y++) {
        uint8_t *rowStart = out;
        for (int x = 0; x < kScreenWidth; x++) {
            const Rgb c = palette[frame.at(x, y)];
            for (int k = 0; k < scale; k++) {
                *out++ = c.r;
                *out++ = c.g;
                *out++ = c.b;
            }
        }
        // The other rows of the enlarged pixel are copies of the first.
        const size_t rowBytes = (size_t)picture.width * 3;
        for (int k = 1; k < scale; k++, out += rowBytes) std::copy(rowStart, rowStart + rowBytes, out);
    }
    return picture;
}

RgbPicture shrinkFrame(const IndexedFrame &frame, int factor) {
    const Palette &palette = paletteOf(frame.mode);
    RgbPicture picture;
    picture.width = (uint32_t)(kScreenWidth / factor);
    picture.height = (uint32_t)(kScreenHeight / factor);
    picture.rgb.resize((size_t)picture.width * picture.height * 3);
    const uint32_t n = (uint32_t)(factor * factor);
    for (uint32_t y = 0; y < picture.height; y++) {
        for (uint32_t x = 0; x < picture.width; x++) {
            uint32_t r = 0, g = 0, b = 0;
            for (int dy = 0; dy < factor; dy++) {
                for (int dx = 0; dx < factor; dx++) {
                    const Rgb c = palette[frame.at((int)x * factor + dx, (int)y * factor + dy)];
                    r += c.r;
                    g += c.g;
                    b += c.b;
                }
            }
            picture.set(x, y, {(uint8_t)((r + n / 2) / n), (uint8_t)((g + n / 2) / n), (uint8_t)((b + n / 2) / n)});
        }
    }
    return picture;
}

std::vector<uint8_t> shrinkFrameIndices(const IndexedFrame &frame, int factor) {
    const RgbPicture picture = shrinkFrame(frame, factor);
    std::vector<uint8_t> index((size_t)picture.width * picture.height);
    for (size_t i = 0; i < index.size(); i++) {
        const uint8_t *p = &picture.rgb[i * 3];
        index[i] = frame.mode == PixelMode::Grey ? p[0] : rgb332(p[0], p[1], p[2]);
    }
    return index;
}

uint32_t numberWidth(uint64_t number, int scale) {
    const std::string digits = std::to_string(number);
    return (uint32_t)((digits.size() * kDigitAdvance - 1) * scale);
}

uint32_t drawNumber(RgbPicture &picture, int32_t x, int32_t y, uint64_t number, int scale, Rgb colour) {
    const std::string digits = std::to_string(number);
    for (size_t d = 0; d < digits.size(); d++) {
        const uint8_t *glyph = kDigits[digits[d] - '0'];
        const int64_t left = x + (int64_t)d * kDigitAdvance * scale;
        for (int row = 0; row < kDigitHeight; row++) {
            for (int col = 0; col < kDigitWidth; col++) {
                if (!(glyph[row] & (0x10 >> col))) continue;
                for (int k = 0; k < scale * scale; k++) {
                    const int64_t px = left + col * scale + k % scale, py = y + (int64_t)row * scale + k / scale;
                    if (px >= 0 && py >= 0 && px < picture.width && py < picture.height)
                        picture.set((uint32_t)px, (uint32_t)py, colour);
                }
            }
        }
    }
    return numberWidth(number, scale);
}

}  // namespace nimbra
