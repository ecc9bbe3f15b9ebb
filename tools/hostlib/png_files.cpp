// Host-side PNG reading and writing through libpng, and chunk assembly with
// zlib's CRC-32 and deflate.
#include "tools/hostlib/png_files.h"

#include <cstdio>
#include <cstring>
#include <png.h>
#include <zlib.h>

#include "tools/hostlib/file_io.h"
#include "tools/hostlib/nimbra_host.h"

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
