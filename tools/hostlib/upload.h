// Uploading fonts and images to the device's cache, as a host does: the
// file and its CRC-32 are split into load font (opcode 0x06) or load image
// (opcode 0x04) chunks, each a 9-byte header and up to a record's worth of
// data. Also the commands that draw what was uploaded, and the clip
// rectangle.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/hostlib/command_table.h"
#include "tools/hostlib/nimbra_host.h"

namespace nimbra {

constexpr size_t kUploadHeaderBytes = 9;
// The largest chunk that fits one record with its header.
constexpr size_t kUploadMaxChunkBytes = kMaxRecordPayload - kUploadHeaderBytes;
// Largest resource data (file and CRC) a slot takes: the slot less the
// record the device keeps in front of the data.
constexpr size_t kCacheRecordBytes = 16;
constexpr size_t kFontSlotBytes = 0x8000;
constexpr size_t kImageSlotBytes = 0x4000;
constexpr size_t kFontMaxDataBytes = kFontSlotBytes - kCacheRecordBytes;
constexpr size_t kImageMaxDataBytes = kImageSlotBytes - kCacheRecordBytes;

constexpr uint8_t kFontFormat2Bpp = 2;
constexpr uint8_t kFontFormat4Bpp = 1;
constexpr uint8_t kFontCompressed = 0x20;   // format bit: the file is a zlib stream
constexpr uint8_t kImagePng = 1;
constexpr uint8_t kImageJpeg = 2;

// The device's CRC-32: polynomial 0x04C11DB7, most significant bit first,
// initial value 0, no final inversion ("123456789" gives 0x89A1897F).
uint32_t deviceCrc32(const uint8_t *data, size_t length);
// The resource data of a file: the file followed by its CRC-32, little-endian.
Bytes withCrc(const Bytes &file);

struct UploadOptions {
    size_t chunkBytes = kUploadMaxChunkBytes;   // 1 to kUploadMaxChunkBytes
    bool compress = false;                      // fonts only: send the file as a zlib stream
};

// One load command (opcode, slot, offset, total, chunk, format byte).
Bytes uploadChunkCommand(uint8_t opcode, uint8_t slot, uint16_t offset, uint16_t total, uint8_t format,
                         const uint8_t *data, size_t length);

// The chunks of a font upload (formatCode 1: 4 bits per pixel, otherwise 2).
// Empty when the data would not fit a font slot, or the chunk size is out of
// range. `error` says why.
std::vector<Bytes> loadFontCommands(uint8_t slot, const Bytes &sifFile, uint8_t formatCode,
                                    const UploadOptions &options, std::string *error = nullptr);
// The chunks of an image upload (kImagePng or kImageJpeg); empty as above.
std::vector<Bytes> loadImageCommands(uint8_t slot, const Bytes &imageFile, uint8_t format,
                                     const UploadOptions &options, std::string *error = nullptr);

// Positions and sizes in half pixels, as on the wire.
Bytes drawImageCommand(uint8_t slot, int32_t xHalf, int32_t yHalf);
Bytes drawSpriteCommand(int32_t xHalf, int32_t yHalf, int32_t srcXHalf, int32_t srcYHalf, int32_t wHalf,
                        int32_t hHalf, uint8_t slot = 0);
Bytes clipRectCommand(int32_t xHalf, int32_t yHalf, int32_t wHalf, int32_t hHalf);

}  // namespace nimbra
