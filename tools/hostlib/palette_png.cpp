// Written through libpng into memory. The settings are chosen for screens,
// which are mostly flat areas and repeated rows: no row filter (filters do
// not help palette indices) and zlib's run-length strategy at its fastest
// level, which compresses such pictures about as well as the default and
// several times faster.
#include "tools/hostlib/palette_png.h"

#include <png.h>
#include <zlib.h>

#include "tools/hostlib/file_io.h"

namespace nimbra {

namespace {

void _Append(png_structp png, png_bytep data, png_size_t length) {
    Bytes *out = static_cast<Bytes *>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void _Flush(png_structp) {}

}  // namespace

bool encodePalettePng(const PaletteImage &image, Bytes &out, std::string &error) {
    if (image.width == 0 || image.height == 0 || image.index == nullptr || image.colours == nullptr ||
        image.colourCount < 1 || image.colourCount > 256 || image.alphaCount < 0 ||
        image.alphaCount > image.colourCount) {
        error = "a palette image needs pixels and 1 to 256 colours";
        return false;
    }
    const size_t pixels = (size_t)image.width * image.height;
    if (image.colourCount < 256) {
        for (size_t i = 0; i < pixels; i++) {
            if (image.index[i] >= image.colourCount) {
                error = "pixel " + std::to_string(i) + " has index " + std::to_string(image.index[i]) +
                        ", past the palette of " + std::to_string(image.colourCount);
                return false;
            }
        }
    }
    out.clear();
    out.reserve(pixels / 8 + 1024);
    png_color colours[256];
    for (int i = 0; i < image.colourCount; i++) colours[i] = {image.colours[i].r, image.colours[i].g, image.colours[i].b};
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        error = "cannot encode the PNG file";
        return false;
    }
    png_set_write_fn(png, &out, _Append, _Flush);
    png_set_IHDR(png, info, image.width, image.height, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_PLTE(png, info, colours, image.colourCount);
    if (image.alphaCount > 0) png_set_tRNS(png, info, image.alpha, image.alphaCount, nullptr);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png, 1);
    png_set_compression_strategy(png, Z_RLE);
    png_write_info(png, info);
    for (uint32_t y = 0; y < image.height; y++) {
        png_write_row(png, const_cast<png_bytep>(image.index + (size_t)y * image.width));
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool encodeFramePng(const IndexedFrame &frame, Bytes &out, std::string &error) {
    if (frame.index.size() != kScreenPixels) {
        error = "a frame has " + std::to_string(kScreenPixels) + " pixels";
        return false;
    }
    PaletteImage image;
    image.width = kScreenWidth;
    image.height = kScreenHeight;
    image.index = frame.index.data();
    image.colours = paletteOf(frame.mode).data();
    return encodePalettePng(image, out, error);
}

bool writeFramePalettePng(const IndexedFrame &frame, const std::string &path, std::string &error) {
    Bytes file;
    return encodeFramePng(frame, file, error) && saveBinary(path, file, error);
}

}  // namespace nimbra
