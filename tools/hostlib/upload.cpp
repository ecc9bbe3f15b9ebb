// Upload chunking and the image drawing commands.
#include "tools/hostlib/upload.h"

#include "tools/hostlib/png_files.h"

namespace nimbra {

uint32_t deviceCrc32(const uint8_t *data, size_t length) {
    static uint32_t table[256];
    static bool ready = false;
    if (!ready) {
        for (uint32_t i = 0; i < 256; i++) {
            uint32_t c = i << 24;
            for (int k = 0; k < 8; k++) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
            table[i] = c;
        }
        ready = true;
    }
    uint32_t crc = 0;
    for (size_t i = 0; i < length; i++) crc = table[((crc >> 24) ^ data[i]) & 0xFF] ^ (crc << 8);
    return crc;
}

Bytes withCrc(const Bytes &file) {
    Bytes data = file;
    uint32_t crc = deviceCrc32(file.data(), file.size());
    for (int i = 0; i < 4; i++) data.push_back((uint8_t)(crc >> (8 * i)));
    return data;
}

Bytes uploadChunkCommand(uint8_t opcode, uint8_t slot, uint16_t offset, uint16_t total, uint8_t format,
                         const uint8_t *data, size_t length) {
    CommandBuilder b;
    const Bytes chunk(data, data + length);
    if (opcode == kOpLoadFont) return b.loadFontChunk(slot, offset, total, format, chunk).payload();
    return b.loadImageChunk(slot, offset, total, format, chunk).payload();
}

static std::vector<Bytes> _Chunks(uint8_t opcode, uint8_t slot, const Bytes &data, uint8_t format, size_t maxData,
                                  const UploadOptions &options, std::string *error) {
    auto fail = [&](const std::string &why) {
        if (error) *error = why;
        return std::vector<Bytes>{};
    };
    if (options.chunkBytes < 1 || options.chunkBytes > kUploadMaxChunkBytes) {
        return fail("chunk size must be 1 to " + std::to_string(kUploadMaxChunkBytes) + " bytes");
    }
    if (data.size() > maxData) {
        return fail("the file and its CRC take " + std::to_string(data.size()) + " bytes; a slot holds at most " +
                    std::to_string(maxData));
    }
    std::vector<Bytes> commands;
    for (size_t offset = 0; offset < data.size(); offset += options.chunkBytes) {
        size_t n = std::min(options.chunkBytes, data.size() - offset);
        commands.push_back(uploadChunkCommand(opcode, slot, (uint16_t)offset, (uint16_t)data.size(), format,
                                              data.data() + offset, n));
    }
    return commands;
}

std::vector<Bytes> loadFontCommands(uint8_t slot, const Bytes &sifFile, uint8_t formatCode,
                                    const UploadOptions &options, std::string *error) {
    uint8_t format = formatCode & 0x0F;
    Bytes file = sifFile;
    if (options.compress) {
        // The device inflates into a slot: the font itself must fit one too.
        if (sifFile.size() >= kFontMaxDataBytes) {
            if (error) *error = "the font inflates to more than a slot holds";
            return {};
        }
        file = zlibCompress(sifFile);
        format |= kFontCompressed;
    }
    return _Chunks(kOpLoadFont, slot, withCrc(file), format, kFontMaxDataBytes, options, error);
}

std::vector<Bytes> loadImageCommands(uint8_t slot, const Bytes &imageFile, uint8_t format,
                                     const UploadOptions &options, std::string *error) {
    return _Chunks(kOpLoadImage, slot, withCrc(imageFile), format, kImageMaxDataBytes, options, error);
}

Bytes drawImageCommand(uint8_t slot, int32_t xHalf, int32_t yHalf) {
    return CommandBuilder().drawImage(slot, xHalf, yHalf).payload();
}

Bytes drawSpriteCommand(int32_t xHalf, int32_t yHalf, int32_t srcXHalf, int32_t srcYHalf, int32_t wHalf,
                        int32_t hHalf, uint8_t slot) {
    return CommandBuilder().drawSprite(slot, xHalf, yHalf, srcXHalf, srcYHalf, wHalf, hHalf).payload();
}

Bytes clipRectCommand(int32_t xHalf, int32_t yHalf, int32_t wHalf, int32_t hHalf) {
    return CommandBuilder().clipRect(xHalf, yHalf, wHalf, hHalf).payload();
}

}  // namespace nimbra
