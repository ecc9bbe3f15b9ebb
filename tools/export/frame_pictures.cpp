#include "tools/export/frame_pictures.h"

#include <algorithm>
#include <bit>
#include <string>

#include "tools/hostlib/bitmap_font.h"
#include "tools/hostlib/orv_encoder.h"

namespace nimbra {

namespace {

constexpr int kDigitAdvance = kGlyphWidth + 1;

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
    // Each colour as red, green and blue in 16-bit fields of one word, so
    // that one addition sums all three (a block of at most 256 pixels fits).
    uint64_t packed[256];
    for (int i = 0; i < 256; i++)
        packed[i] = palette[i].r | ((uint64_t)palette[i].g << 16) | ((uint64_t)palette[i].b << 32);
    RgbPicture picture;
    picture.width = (uint32_t)(kScreenWidth / factor);
    picture.height = (uint32_t)(kScreenHeight / factor);
    picture.rgb.resize((size_t)picture.width * picture.height * 3);
    const uint32_t n = (uint32_t)(factor * factor);
    // The usual factors are powers of two: a shift rather than a division
    // (which would cost more than the sums), the same rounded mean.
    const int shift = std::has_single_bit(n) ? std::countr_zero(n) : -1;
    const auto mean = [n, shift](uint64_t sum) {
        return (uint8_t)(shift >= 0 ? (sum + n / 2) >> shift : (sum + n / 2) / n);
    };
    // The sums of each picture pixel's block, gathered row by row of the
    // frame (its rows are read in order, once).
    std::vector<uint64_t> sums(picture.width);
    for (uint32_t y = 0; y < picture.height; y++) {
        std::fill(sums.begin(), sums.end(), 0);
        for (int dy = 0; dy < factor; dy++) {
            const uint8_t *row = frame.index.data() + ((size_t)y * factor + dy) * kScreenWidth;
            for (uint32_t x = 0; x < picture.width; x++, row += factor) {
                uint64_t sum = 0;
                for (int dx = 0; dx < factor; dx++) sum += packed[row[dx]];
                sums[x] += sum;
            }
        }
        uint8_t *out = picture.at(0, y);
        for (uint32_t x = 0; x < picture.width; x++, out += 3) {
            out[0] = mean(sums[x] & 0xFFFF);
            out[1] = mean((sums[x] >> 16) & 0xFFFF);
            out[2] = mean(sums[x] >> 32);
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
        const uint8_t *glyph = glyphRows(digits[d]);
        const int64_t left = x + (int64_t)d * kDigitAdvance * scale;
        for (int row = 0; row < kDigitHeight; row++) {
            for (int col = 0; col < kGlyphWidth; col++) {
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
