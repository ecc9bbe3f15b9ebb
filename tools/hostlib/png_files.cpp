// Host-side PNG reading and writing through libpng, and chunk assembly with
// zlib's CRC-32 and deflate.
#include "tools/hostlib/png_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <png.h>
#include <zlib.h>

#include "tools/hostlib/file_io.h"
#include "tools/hostlib/indexed_frame.h"
#include "tools/hostlib/nimbra_host.h"
#include "tools/hostlib/palette_png.h"

namespace nimbra {

const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

bool decodePngRgba(const Bytes &file, RgbaImage &out, std::string &error) {
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) {
        error = image.message[0] ? image.message : "not a PNG file";
        return false;
    }
    image.format = PNG_FORMAT_RGBA;
    out.width = image.width;
    out.height = image.height;
    out.rgba.assign(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, out.rgba.data(), 0, nullptr)) {
        error = image.message[0] ? image.message : "corrupt PNG data";
        png_image_free(&image);
        return false;
    }
    return true;
}

bool readPngRgba(const std::string &path, RgbaImage &out, std::string &error) {
    std::optional<Bytes> file = loadFile(path, error);
    return file && decodePngRgba(*file, out, error);
}

bool writePngRgba(const std::string &path, const RgbaImage &image, std::string &error) {
    png_image desc;
    memset(&desc, 0, sizeof desc);
    desc.version = PNG_IMAGE_VERSION;
    desc.width = image.width;
    desc.height = image.height;
    desc.format = PNG_FORMAT_RGBA;
    if (!png_image_write_to_file(&desc, path.c_str(), 0, image.rgba.data(), 0, nullptr)) {
        error = desc.message[0] ? desc.message : "cannot write " + path;
        return false;
    }
    return true;
}

// libpng reports a failure by jumping back to the setjmp below, past the
// frames between. This function holds no object with a destructor, before
// or after the setjmp, so the jump leaves nothing undestroyed; the caller
// keeps its buffers and strings in its own frame. Returns false when libpng
// failed.
static bool _WriteRgbRows(FILE *f, const uint8_t *rgb, uint32_t width, uint32_t height) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (uint32_t y = 0; y < height; y++) png_write_row(png, rgb + (size_t)y * width * 3);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool writePngRgb(const std::string &path, const uint8_t *rgb, uint32_t width, uint32_t height, std::string &error) {
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) {
        error = strerror(errno);
        return false;
    }
    errno = 0;
    if (!_WriteRgbRows(f, rgb, width, height)) {
        // libpng stops on a failed write; errno still holds the reason.
        error = errno ? strerror(errno) : "cannot encode the PNG file";
        fclose(f);
        return false;
    }
    if (fclose(f) != 0) {
        error = strerror(errno);
        return false;
    }
    return true;
}

bool writeFramePng(const Frame &frame, const std::string &path, std::string *error) {
    // A device frame goes as a palette PNG; anything else (a frame made by
    // hand) as RGB.
    if (frame.bgra.size() == kScreenPixels * kFramePixelBytes) {
        IndexedFrame indexed;
        if (indexFramePixels(frame.bgra.data(), indexed)) {
            std::string why;
            if (writeFramePalettePng(indexed, path, why)) return true;
            if (error) *error = why;
            return false;
        }
    }
    std::vector<uint8_t> rgb(kScreenPixels * 3);
    for (size_t i = 0; i < kScreenPixels; i++) {
        const uint8_t *bgra = &frame.bgra[i * kFramePixelBytes];
        rgb[i * 3 + 0] = bgra[2];
        rgb[i * 3 + 1] = bgra[1];
        rgb[i * 3 + 2] = bgra[0];
    }
    std::string reason;
    if (writePngRgb(path, rgb.data(), kScreenWidth, kScreenHeight, reason)) return true;
    if (error) *error = reason;
    return false;
}

void appendPngChunk(Bytes &file, const char type[4], const uint8_t *data, size_t length) {
    uint8_t head[8] = {(uint8_t)(length >> 24), (uint8_t)(length >> 16), (uint8_t)(length >> 8), (uint8_t)length,
                       (uint8_t)type[0],        (uint8_t)type[1],        (uint8_t)type[2],       (uint8_t)type[3]};
    file.insert(file.end(), head, head + 8);
    if (length) file.insert(file.end(), data, data + length);
    uLong crc = crc32(0L, head + 4, 4);
    if (length) crc = crc32(crc, data, (uInt)length);
    uint8_t tail[4] = {(uint8_t)(crc >> 24), (uint8_t)(crc >> 16), (uint8_t)(crc >> 8), (uint8_t)crc};
    file.insert(file.end(), tail, tail + 4);
}

void appendPngChunk(Bytes &file, const char type[4], const Bytes &data) {
    appendPngChunk(file, type, data.data(), data.size());
}

Bytes pngHeaderData(uint32_t width, uint32_t height, uint8_t bitDepth, uint8_t colorType, uint8_t compression,
                    uint8_t filter, uint8_t interlace) {
    return Bytes{(uint8_t)(width >> 24),  (uint8_t)(width >> 16),  (uint8_t)(width >> 8),  (uint8_t)width,
                 (uint8_t)(height >> 24), (uint8_t)(height >> 16), (uint8_t)(height >> 8), (uint8_t)height,
                 bitDepth,                colorType,               compression,            filter,
                 interlace};
}

Bytes zlibCompress(const Bytes &raw, int level) {
    uLongf bound = compressBound((uLong)raw.size());
    Bytes out(bound);
    if (compress2(out.data(), &bound, raw.data(), (uLong)raw.size(), level) != Z_OK) return Bytes();
    out.resize(bound);
    return out;
}

}  // namespace nimbra
