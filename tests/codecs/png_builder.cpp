#include "tests/codecs/png_builder.h"

#include <cstdlib>

namespace pngtest {

Bytes packSamples(const std::vector<uint32_t> &samples, int depth) {
    Bytes out((samples.size() * depth + 7) / 8, 0);
    for (size_t i = 0; i < samples.size(); i++) {
        size_t bit = i * depth;
        out[bit / 8] |= (uint8_t)(samples[i] << (8 - depth - bit % 8));
    }
    return out;
}

static int _Paeth(int a, int b, int c) {
    int p = a + b - c;
    int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

Bytes filterRow(uint8_t filter, const Bytes &row, const Bytes &prev, size_t bpp) {
    Bytes out(row.size());
    for (size_t i = 0; i < row.size(); i++) {
        int a = i >= bpp ? row[i - bpp] : 0;
        int b = prev[i];
        int c = i >= bpp ? prev[i - bpp] : 0;
        int pred = 0;
        switch (filter) {
        case 1: pred = a; break;
        case 2: pred = b; break;
        case 3: pred = (a + b) / 2; break;
        case 4: pred = _Paeth(a, b, c); break;
        default: pred = 0; break;   // None, and unknown types are stored raw
        }
        out[i] = (uint8_t)(row[i] - pred);
    }
    return out;
}

size_t PngSpec::bytesPerPixelForFilter() const {
    int samples = colorType == 2 ? 3 : colorType == 4 ? 2 : colorType == 6 ? 4 : 1;
    size_t bits = (size_t)samples * depth;
    return bits >= 8 ? bits / 8 : 1;
}

Bytes PngSpec::build() const {
    Bytes raw;
    const size_t bpp = bytesPerPixelForFilter();
    for (size_t r = 0; r < rows.size() && r < rowsToCompress; r++) {
        Bytes zero(rows[r].size(), 0);
        const Bytes &prev = r ? rows[r - 1] : zero;
        uint8_t f = r < filters.size() ? filters[r] : 0;
        raw.push_back(f);
        Bytes filtered = filterRow(f, rows[r], prev, bpp);
        raw.insert(raw.end(), filtered.begin(), filtered.end());
    }
    Bytes z = nimbra::zlibCompress(raw);
    if (presetDictionary) {
        // FDICT set, FLEVEL 0, and the check bits that make CMF.FLG a
        // multiple of 31 again.
        const uint32_t cmfFlg = (uint32_t)z[0] << 8 | 0x20;
        z[1] = (uint8_t)(0x20 | (31 - cmfFlg % 31) % 31);
    }

    Bytes file(nimbra::kPngSignature, nimbra::kPngSignature + 8);
    nimbra::appendPngChunk(file, "IHDR", nimbra::pngHeaderData(width, height, depth, colorType, 0, 0, interlace));
    if (orv && !orvAfterPalette) nimbra::appendPngChunk(file, "orVL", nullptr, 0);
    if (!palette.empty()) nimbra::appendPngChunk(file, "PLTE", palette);
    if (orv && orvAfterPalette) nimbra::appendPngChunk(file, "orVL", nullptr, 0);
    size_t piece = idatPiece ? idatPiece : z.size();
    for (size_t pos = 0; pos < z.size(); pos += piece) {
        size_t n = z.size() - pos < piece ? z.size() - pos : piece;
        nimbra::appendPngChunk(file, "IDAT", z.data() + pos, n);
    }
    if (withIend) nimbra::appendPngChunk(file, "IEND", nullptr, 0);
    if (badCrcs) {
        // Walk the chunks and flip a bit in every CRC.
        size_t pos = 8;
        while (pos + 12 <= file.size()) {
            size_t len = ((size_t)file[pos] << 24) | (file[pos + 1] << 16) | (file[pos + 2] << 8) | file[pos + 3];
            file[pos + 8 + len] ^= 0x5A;
            pos += 12 + len;
        }
    }
    return file;
}

}  // namespace pngtest
