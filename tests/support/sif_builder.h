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

    SifBuilder &glyph(const SifGlyph &g) {
        glyphs_.push_back(g);
        return *this;
    }
    // A glyph whose pixels all have the given level.
    SifBuilder &solid(uint16_t code, int width, int rows, int xOffset, int yOffset, int advance, uint8_t level) {
        return glyph({code, width, rows, xOffset, yOffset, advance, std::vector<uint8_t>((size_t)width * rows, level)});
    }

    // Ranges are formed from runs of consecutive codes, in the order the
    // glyphs were added.
    std::vector<uint8_t> build() const {
        std::vector<std::pair<uint16_t, uint16_t>> ranges;
        for (const auto &g : glyphs_)
            if (!ranges.empty() && ranges.back().second + 1 == g.code)
                ranges.back().second = g.code;
            else
                ranges.push_back({g.code, g.code});
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
        for (size_t i = 0; i < glyphs_.size(); i++) {
            const SifGlyph &g = glyphs_[i];
            const size_t e = table + 16 * i;
            put16(out, e + 0, (uint16_t)g.width);
            put16(out, e + 2, (uint16_t)g.rows);
            put16(out, e + 4, (uint16_t)(int16_t)g.xOffset);
            put16(out, e + 6, (uint16_t)(int16_t)g.yOffset);
            put16(out, e + 8, (uint16_t)g.advance);
            put32(out, e + 12, (uint32_t)out.size());
            auto rows = packRows(g, bpp_);
            out.insert(out.end(), rows.begin(), rows.end());
        }
        return out;
    }

    // A glyph's levels packed into rows padded to whole bytes, the leftmost
    // pixel in the high bits.
    static std::vector<uint8_t> packRows(const SifGlyph &g, int bitsPerPixel) {
        const int perByte = 8 / bitsPerPixel, bytesPerRow = (g.width + perByte - 1) / perByte;
        std::vector<uint8_t> out((size_t)bytesPerRow * g.rows, 0);
        for (int y = 0; y < g.rows; y++)
            for (int x = 0; x < g.width; x++)
                out[(size_t)y * bytesPerRow + x / perByte] |=
                    (uint8_t)(g.levels[(size_t)y * g.width + x] << (8 - bitsPerPixel * (x % perByte + 1)));
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

}  // namespace testsupport
