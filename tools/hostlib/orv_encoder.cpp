// ORV encoding: quantise to RGB332, choose the layout, filter each row with
// the filter that minimises the sum of absolute differences, deflate, and
// assemble IHDR, orVL, PLTE, IDAT and IEND.
#include "tools/hostlib/orv_encoder.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace nimbra {

namespace {

constexpr uint64_t kMaxRowBytes = 2560;   // the device's row limit

uint8_t _Paeth(int a, int b, int c) {
    int p = a + b - c;
    int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return (uint8_t)a;
    return (uint8_t)(pb <= pc ? b : c);
}

// Prepends to each row the filter byte of the best of the five filters.
Bytes _FilterRows(const std::vector<Bytes> &rows, size_t bpp) {
    Bytes out;
    Bytes zero(rows.empty() ? 0 : rows[0].size(), 0);
    for (size_t r = 0; r < rows.size(); r++) {
        const Bytes &cur = rows[r];
        const Bytes &prev = r ? rows[r - 1] : zero;
        Bytes best;
        uint64_t bestCost = UINT64_MAX;
        for (uint8_t f = 0; f <= 4; f++) {
            Bytes line(cur.size() + 1);
            line[0] = f;
            uint64_t cost = 0;
            for (size_t i = 0; i < cur.size(); i++) {
                int a = i >= bpp ? cur[i - bpp] : 0, b = prev[i], c = i >= bpp ? prev[i - bpp] : 0;
                int pred = f == 0 ? 0 : f == 1 ? a : f == 2 ? b : f == 3 ? (a + b) >> 1 : _Paeth(a, b, c);
                uint8_t v = (uint8_t)(cur[i] - pred);
                line[i + 1] = v;
                cost += v < 128 ? v : 256 - v;
            }
            if (cost < bestCost) {
                bestCost = cost;
                best = std::move(line);
            }
        }
        out.insert(out.end(), best.begin(), best.end());
    }
    return out;
}

}  // namespace

uint8_t rgb332(uint8_t r, uint8_t g, uint8_t b) {
    return (uint8_t)((((r * 1799u + 32768u) >> 16) << 5) | (((g * 1799u + 32768u) >> 16) << 2) |
                     ((b * 771u + 32768u) >> 16));
}

uint8_t orvAlpha(uint8_t alpha) {
    uint32_t weight = ((uint32_t)alpha + 15) >> 5;
    if (alpha == 7 || weight == 0) return 0;   // 7 would read as opaque
    if (weight >= 8) return 255;
    return (uint8_t)(weight * 32 - 15);
}

bool encodeOrv(const RgbaImage &image, const OrvOptions &options, Bytes &out, std::string &error,
               OrvSummary *summary) {
    const uint32_t w = image.width, h = image.height;
    if (w == 0 || h == 0 || image.rgba.size() != (size_t)w * h * 4) {
        error = "empty or inconsistent image";
        return false;
    }
    std::vector<uint8_t> index((size_t)w * h), alpha((size_t)w * h);
    bool translucent = false;
    std::array<bool, 256> used{};
    for (size_t i = 0; i < index.size(); i++) {
        const uint8_t *p = &image.rgba[i * 4];
        alpha[i] = orvAlpha(p[3]);
        index[i] = rgb332(p[0], p[1], p[2]);
        if (alpha[i] != 255) translucent = true;
        used[index[i]] = true;
    }

    OrvLayout layout = options.layout;
    if (layout == OrvLayout::Auto) layout = translucent ? OrvLayout::GreyAlpha : OrvLayout::Palette;
    if (translucent && layout != OrvLayout::GreyAlpha) {
        error = "the image has transparent pixels; only the grey-alpha layout keeps them";
        return false;
    }

    std::vector<Bytes> rows(h);
    Bytes palette;
    uint8_t colorType = 0;
    int depth = 8;
    int entries = 0;
    size_t bpp = 1;
    if (layout == OrvLayout::Palette) {
        // Entries in ascending index order; each triple repeats the index so
        // that ordinary viewers show its value as a grey level.
        std::array<uint8_t, 256> slot{};
        for (int v = 0; v < 256; v++) {
            if (!used[v]) continue;
            slot[v] = (uint8_t)entries++;
            palette.insert(palette.end(), {(uint8_t)v, (uint8_t)v, (uint8_t)v});
        }
        int needed = entries <= 2 ? 1 : entries <= 4 ? 2 : entries <= 16 ? 4 : 8;
        depth = options.paletteDepth ? options.paletteDepth : needed;
        if (depth != 1 && depth != 2 && depth != 4 && depth != 8) {
            error = "palette depth must be 1, 2, 4 or 8";
            return false;
        }
        if (depth < needed) {
            error = "the image has " + std::to_string(entries) + " colours, more than a " + std::to_string(depth) +
                    "-bit palette holds";
            return false;
        }
        colorType = 3;
        const uint64_t rowBytes = ((uint64_t)w * depth + 7) / 8;
        if (rowBytes > kMaxRowBytes) {
            error = "the image is too wide for the device";
            return false;
        }
        for (uint32_t y = 0; y < h; y++) {
            Bytes &row = rows[y];
            row.assign(rowBytes, 0);
            for (uint32_t x = 0; x < w; x++) {
                uint32_t bit = x * depth;
                row[bit / 8] |= (uint8_t)(slot[index[(size_t)y * w + x]] << (8 - depth - bit % 8));
            }
        }
    } else {
        const bool withAlpha = layout == OrvLayout::GreyAlpha;
        colorType = withAlpha ? 4 : 0;
        bpp = withAlpha ? 2 : 1;
        if ((uint64_t)w * bpp > kMaxRowBytes) {
            error = "the image is too wide for the device";
            return false;
        }
        for (uint32_t y = 0; y < h; y++) {
            Bytes &row = rows[y];
            for (uint32_t x = 0; x < w; x++) {
                size_t i = (size_t)y * w + x;
                // A pixel that draws nothing gets index 0, which compresses best.
                row.push_back(withAlpha && alpha[i] == 0 ? 0 : index[i]);
                if (withAlpha) row.push_back(alpha[i]);
            }
        }
    }

    Bytes idat = zlibCompress(_FilterRows(rows, bpp));
    if (idat.empty()) {
        error = "compression failed";
        return false;
    }
    out.assign(kPngSignature, kPngSignature + 8);
    appendPngChunk(out, "IHDR", pngHeaderData(w, h, (uint8_t)depth, colorType));
    appendPngChunk(out, "orVL", nullptr, 0);
    if (colorType == 3) appendPngChunk(out, "PLTE", palette);
    appendPngChunk(out, "IDAT", idat);
    appendPngChunk(out, "IEND", nullptr, 0);
    if (summary) {
        summary->layout = layout;
        summary->bitDepth = depth;
        summary->paletteEntries = entries;
    }
    return true;
}

}  // namespace nimbra
