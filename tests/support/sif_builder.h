// Builds small SIF font files for tests, straight from the file layout:
// header, range table, glyph table, then the packed glyph bitmaps.
#pragma once
#include <cstdint>
#include <vector>

namespace testsupport {

struct SifGlyph {
    uint16_t code;
    int width = 0, rows = 0, xOffset = 0, yOffset = 0, advance = 0;
    std::vector<uint8_t> levels;   // width x rows coverage levels, row by row
};

class SifBuilder {
public:
    SifBuilder(int height, int lineDistance, int bitsPerPixel)
        : height_(height), lineDistance_(lineDistance), bpp_(bitsPerPixel) {}

    // A glyph whose pixels all have the given level.
    SifBuilder &solid(uint16_t code, int width, int rows, int xOffset, int yOffset, int advance, uint8_t level) {
        SifGlyph g{code, width, rows, xOffset, yOffset, advance, std::vector<uint8_t>((size_t)width * rows, level)};
        glyphs_.push_back(g);
        return *this;
    }
    SifBuilder &glyph(const SifGlyph &g) {
        glyphs_.push_back(g);
        return *this;
    }

    // Ranges are formed from runs of consecutive codes, in the order the
    // glyphs were added.
    std::vector<uint8_t> build() const {
        std::vector<std::pair<uint16_t, uint16_t>> ranges;
        for (const auto &g : glyphs_) {
            if (!ranges.empty() && ranges.back().second + 1 == g.code) {
                ranges.back().second = g.code;
            } else {
                ranges.push_back({g.code, g.code});
            }
        }
        const size_t table = 16 + 4 * ranges.size();
        std::vector<uint8_t> out(table + 16 * glyphs_.size(), 0);
        put32(out, 0, 0x50495547u);
        put16(out, 4, (uint16_t)height_);
        put16(out, 6, (uint16_t)lineDistance_);
        put16(out, 8, (uint16_t)(height_ * 3 / 4));
        put16(out, 14, (uint16_t)ranges.size());
        for (size_t r = 0; r < ranges.size(); r++) {
            put16(out, 16 + 4 * r, ranges[r].first);
            put16(out, 18 + 4 * r, ranges[r].second);
        }
        const int perByte = 8 / bpp_;
        for (size_t i = 0; i < glyphs_.size(); i++) {
            const SifGlyph &g = glyphs_[i];
            const size_t e = table + 16 * i;
            put16(out, e + 0, (uint16_t)g.width);
            put16(out, e + 2, (uint16_t)g.rows);
            put16(out, e + 4, (uint16_t)(int16_t)g.xOffset);
            put16(out, e + 6, (uint16_t)(int16_t)g.yOffset);
            put16(out, e + 8, (uint16_t)g.advance);
            put32(out, e + 12, (uint32_t)out.size());
            const int bytesPerRow = (g.width + perByte - 1) / perByte;
            for (int y = 0; y < g.rows; y++) {
                for (int b = 0; b < bytesPerRow; b++) {
                    uint8_t byte = 0;
                    for (int k = 0; k < perByte; k++) {
                        int x = b * perByte + k;
                        if (x < g.width) byte |= (uint8_t)(g.levels[(size_t)y * g.width + x] << (8 - bpp_ * (k + 1)));
                    }
                    out.push_back(byte);
                }
            }
        }
        return out;
    }

    static void put16(std::vector<uint8_t> &out, size_t at, uint16_t v) {
        out[at] = (uint8_t)v;
        out[at + 1] = (uint8_t)(v >> 8);
    }
    static void put32(std::vector<uint8_t> &out, size_t at, uint32_t v) {
        put16(out, at, (uint16_t)v);
        put16(out, at + 2, (uint16_t)(v >> 16));
    }

private:
    int height_, lineDistance_, bpp_;
    std::vector<SifGlyph> glyphs_;
};

// The index that white blended over black at the given eighths gives: red
// and green 7 x w / 8 rounded down, blue (3 x 2) x w / 8 rounded down and
// then halved.
inline uint8_t whiteOverBlack(int eighths) {
    int rg = 7 * eighths / 8, b = (6 * eighths / 8) / 2;
    return (uint8_t)((rg << 5) | (rg << 2) | b);
}

// What one coverage level of white over black becomes.
inline uint8_t expectedCoverage(int level, int bitsPerPixel) {
    int max = (1 << bitsPerPixel) - 1;
    if (level == 0) return 0;
    if (level == max) return 0xFF;
    return whiteOverBlack(bitsPerPixel == 2 ? 3 * level : level >> 1);
}

}  // namespace testsupport
