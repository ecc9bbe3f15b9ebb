// Host-side PNG helpers: reading any ordinary PNG into 8-bit RGBA through
// libpng, writing RGBA images, and assembling PNG files chunk by chunk (for
// files libpng would not write, such as the device's ORV images, and for
// deliberately unusual files in tests).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace nimbra {

using Bytes = std::vector<uint8_t>;

struct RgbaImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgba;   // width x height x 4, rows top to bottom

    const uint8_t *pixel(uint32_t x, uint32_t y) const { return &rgba[((size_t)y * width + x) * 4]; }
    uint8_t *pixel(uint32_t x, uint32_t y) { return &rgba[((size_t)y * width + x) * 4]; }
};

// Decodes any PNG libpng understands (every colour type and depth, palette
// transparency, interlacing) into 8-bit RGBA. On failure returns false and
// says why in `error`.
bool decodePngRgba(const Bytes &file, RgbaImage &out, std::string &error);
bool readPngRgba(const std::string &path, RgbaImage &out, std::string &error);
// Writes an 8-bit RGBA PNG through libpng.
bool writePngRgba(const std::string &path, const RgbaImage &image, std::string &error);
// Writes an 8-bit RGB PNG of width x height pixels (rows top to bottom,
// three bytes a pixel). On failure returns false with the system's reason
// ("Permission denied") in `error`, or libpng's when there is none.
bool writePngRgb(const std::string &path, const uint8_t *rgb, uint32_t width, uint32_t height, std::string &error);

// Chunk assembly.
extern const uint8_t kPngSignature[8];
// Appends length, type, data and the chunk's CRC-32.
void appendPngChunk(Bytes &file, const char type[4], const uint8_t *data, size_t length);
void appendPngChunk(Bytes &file, const char type[4], const Bytes &data);
// The 13 bytes of an IHDR chunk.
Bytes pngHeaderData(uint32_t width, uint32_t height, uint8_t bitDepth, uint8_t colorType, uint8_t compression = 0,
                    uint8_t filter = 0, uint8_t interlace = 0);
// A zlib stream (15-bit window) of `raw`.
Bytes zlibCompress(const Bytes &raw, int level = 9);

}  // namespace nimbra
