// PNG drawing against libpng decoding the same files row by row (no
// transformations: the rows as stored). The images are written here with
// libpng's encoder at its default settings: a 256-colour picture (a colour
// cube with some dithering noise), the same picture in truecolour, and a
// truecolour image with alpha.
#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstring>

#include "bench/bench_support.h"
#include "codecs/GUI_PNG.h"

namespace {

using bench::Bytes;

// A landscape-like picture: sky, a wavy horizon, textured ground.
void pictureAt(int x, int y, int height, uint32_t &noise, int rgb[3]) {
    double horizon = height * 0.45 + 30 * std::sin(x * 0.013) + 12 * std::sin(x * 0.051 + 1);
    noise = noise * 1103515245u + 12345u;
    int n = (int)((noise >> 16) % 25) - 12;
    double t = y < horizon ? y / horizon : (y - horizon) / (height - horizon);
    double texture = y < horizon ? 0 : 40 * std::sin(x * 0.37 + y * 0.21) * std::sin(y * 0.11 - x * 0.05);
    rgb[0] = std::clamp((int)(y < horizon ? 90 + 80 * t : 70 + 60 * t + texture) + n, 0, 255);
    rgb[1] = std::clamp((int)(y < horizon ? 140 + 60 * t : 110 - 30 * t + texture) + n, 0, 255);
    rgb[2] = std::clamp((int)(y < horizon ? 230 - 20 * t : 40 + 20 * t) + n, 0, 255);
}

void appendToBytes(png_structp png, png_bytep data, png_size_t length) {
    Bytes *out = (Bytes *)png_get_io_ptr(png);
    out->insert(out->end(), data, data + length);
}

// colorType: PNG_COLOR_TYPE_PALETTE, _RGB or _RGB_ALPHA.
Bytes encodePng(int width, int height, int colorType) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) bench::fail("libpng could not write a bench PNG");
    Bytes file;
    png_set_write_fn(png, &file, appendToBytes, nullptr);
    png_set_IHDR(png, info, (png_uint_32)width, (png_uint_32)height, 8, colorType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Palette: 6 levels of red and blue, 7 of green.
    png_color palette[252];
    for (int i = 0; i < 252; i++) {
        palette[i] = png_color{(png_byte)(i / 42 * 51), (png_byte)(i / 6 % 7 * 42), (png_byte)(i % 6 * 51)};
    }
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, palette, 252);
    png_write_info(png, info);
    int channels = colorType == PNG_COLOR_TYPE_PALETTE ? 1 : colorType == PNG_COLOR_TYPE_RGB ? 3 : 4;
    std::vector<uint8_t> row((size_t)width * channels);
    uint32_t noise = 777;
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            int rgb[3];
            pictureAt(x, y, height, noise, rgb);
            uint8_t *p = &row[(size_t)x * channels];
            if (channels == 1) {
                *p = (uint8_t)((rgb[0] * 5 + 127) / 255 * 42 + (rgb[1] * 6 + 127) / 255 * 6 + (rgb[2] * 5 + 127) / 255);
            } else {
                for (int c = 0; c < 3; c++) p[c] = (uint8_t)rgb[c];
                if (channels == 4) {
                    double d = std::hypot(x - width / 2.0, y - height / 2.0) / (width / 2.0);
                    p[3] = (uint8_t)std::clamp((int)(255 * (1.2 - d)), 0, 255);
                }
            }
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return file;
}

const Bytes &palette640() {
    static const Bytes image = encodePng(640, 400, PNG_COLOR_TYPE_PALETTE);
    return image;
}
const Bytes &rgb640() {
    static const Bytes image = encodePng(640, 400, PNG_COLOR_TYPE_RGB);
    return image;
}
const Bytes &rgba200() {
    static const Bytes image = encodePng(200, 200, PNG_COLOR_TYPE_RGB_ALPHA);
    return image;
}

void drawPng(benchmark::State &state, const Bytes &image) {
    for (auto _ : state) {
        if (GUI_PNG_Draw(image.data(), (uint32_t)image.size(), 0, 0) != PNG_OK) bench::fail("a bench PNG did not draw");
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)image.size());
}

struct MemoryReader {
    const Bytes *file;
    size_t pos;
};

void readFromBytes(png_structp png, png_bytep out, png_size_t length) {
    MemoryReader *r = (MemoryReader *)png_get_io_ptr(png);
    if (r->pos + length > r->file->size()) png_error(png, "read past the end");
    memcpy(out, r->file->data() + r->pos, length);
    r->pos += length;
}

void libpng(benchmark::State &state, const Bytes &image) {
    std::vector<uint8_t> row;
    for (auto _ : state) {
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        if (setjmp(png_jmpbuf(png))) bench::fail("libpng refused a bench PNG");
        MemoryReader reader{&image, 0};
        png_set_read_fn(png, &reader, readFromBytes);
        png_read_info(png, info);
        row.resize(png_get_rowbytes(png, info));
        png_uint_32 height = png_get_image_height(png, info);
        for (png_uint_32 y = 0; y < height; y++) png_read_row(png, row.data(), nullptr);
        png_read_end(png, nullptr);
        png_destroy_read_struct(&png, &info, nullptr);
        benchmark::DoNotOptimize(row.data());
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)image.size());
}

void BM_DrawPalette640x400(benchmark::State &state) { drawPng(state, palette640()); }
void BM_DrawRgb640x400(benchmark::State &state) { drawPng(state, rgb640()); }
void BM_DrawRgba200x200(benchmark::State &state) { drawPng(state, rgba200()); }
BENCHMARK(BM_DrawPalette640x400)->Name("png/draw/640x400_palette");
BENCHMARK(BM_DrawRgb640x400)->Name("png/draw/640x400_rgb");
BENCHMARK(BM_DrawRgba200x200)->Name("png/draw/200x200_rgba");

void BM_LibpngPalette640x400(benchmark::State &state) { libpng(state, palette640()); }
void BM_LibpngRgb640x400(benchmark::State &state) { libpng(state, rgb640()); }
void BM_LibpngRgba200x200(benchmark::State &state) { libpng(state, rgba200()); }
BENCHMARK(BM_LibpngPalette640x400)->Name("anchor/libpng/640x400_palette");
BENCHMARK(BM_LibpngRgb640x400)->Name("anchor/libpng/640x400_rgb");
BENCHMARK(BM_LibpngRgba200x200)->Name("anchor/libpng/200x200_rgba");
NIMBRA_ANCHOR("png/draw/640x400_palette", "anchor/libpng/640x400_palette");
NIMBRA_ANCHOR("png/draw/640x400_rgb", "anchor/libpng/640x400_rgb");
NIMBRA_ANCHOR("png/draw/200x200_rgba", "anchor/libpng/200x200_rgba");

}  // namespace
