// The resource cache: font and image slots in flash and the cache command
// (commandHandlerCache.cpp), the chunked uploads staged in packet_cache
// (cacheUploads.cpp), the image, sprite and clip commands
// (cacheImageCommands.cpp) and the compressed command blocks
// (cacheZlibBlocks.cpp).
#pragma once
#include <cstdint>
#include "gui/GUI_Alloc.h"
#include "gui/GUI_Font.h"
#include "host/bytes.h"
#include "host/config.h"

// Upload staging, shared with the authentication handshake's reassembly.
extern uint8_t packet_cache[PACKET_CACHE_SIZE_BYTES];

// ------------------------------------------------------------ cache records
//
// Each cached resource is headed by a 16-byte little-endian record: magic,
// CRC-32 of the uploaded file, data size, valid flag, format byte, and the
// picture size (images only). The record is kept as bytes where it lies
// (flash or memory); CacheRecord is its decoded form.
constexpr uint32_t CACHE_RECORD_MAGIC = 0xDEADBEEFu;
constexpr uint32_t CACHE_RECORD_BYTES = 16;
constexpr uint32_t CACHE_FORMAT_CODE_MASK = 0x0F;
constexpr uint32_t CACHE_FORMAT_TRANSPARENT = 0x10;   // images: the PNG has alpha
constexpr uint8_t CACHE_FONT_FORMAT_4BPP = 1;         // any other font code: 2 bits per pixel
constexpr uint8_t CACHE_FONT_FORMAT_2BPP = 2;         // the code the built-in fonts carry
constexpr uint8_t CACHE_IMAGE_FORMAT_PNG = 1;
constexpr uint8_t CACHE_IMAGE_FORMAT_JPEG = 2;

struct CacheRecord {
    uint32_t magic;
    uint32_t crc;
    uint16_t size;     // data bytes after the record
    uint8_t valid;     // 1: complete and usable
    uint8_t format;    // bits 0-3 format code, bit 4 transparency
    uint16_t width;
    uint16_t height;
};

static inline CacheRecord readCacheRecord(const uint8_t *p) {
    return CacheRecord{rd32le(p), rd32le(p + 4), rd16le(p + 8), p[10], p[11], rd16le(p + 12), rd16le(p + 14)};
}

static inline void writeCacheRecord(uint8_t *p, const CacheRecord &r) {
    wr32le(p, r.magic);
    wr32le(p + 4, r.crc);
    wr16le(p + 8, r.size);
    p[10] = r.valid;
    p[11] = r.format;
    wr16le(p + 12, r.width);
    wr16le(p + 14, r.height);
}

// Present: in use and not marked incomplete. Loaders and the font lookup
// want valid = 1 exactly.
static inline bool cacheRecordPresent(const uint8_t *p) { return rd32le(p) == CACHE_RECORD_MAGIC && p[10] != 0; }
static inline bool cacheRecordUsable(const uint8_t *p) { return rd32le(p) == CACHE_RECORD_MAGIC && p[10] == 1; }

// --------------------------------------------------------------- slot layout
constexpr uint32_t FONT_SLOT_COUNT = 15;       // 0 to 2 built in, 3 to 14 in flash
constexpr uint32_t FONT_FIRST_FLASH_SLOT = 3;
constexpr uint32_t FONT_SLOT_BYTES = 0x8000;   // record + up to 32752 data bytes
constexpr uint32_t IMAGE_SLOT_COUNT = 32;      // 0 in memory, 1 to 31 in flash
constexpr uint32_t IMAGE_SLOT_BYTES = 0x4000;  // record + up to 16368 data bytes
constexpr uint32_t FONT_MAX_DATA_BYTES = FONT_SLOT_BYTES - CACHE_RECORD_BYTES;
constexpr uint32_t IMAGE_MAX_DATA_BYTES = IMAGE_SLOT_BYTES - CACHE_RECORD_BYTES;
constexpr uint8_t CACHE_ALL_SLOTS = 255;

// Flash offsets of the slot records: font slots grow downwards from 0x278000
// (slot 3), image slots downwards from 0x2F8000 (slot 1).
constexpr uint32_t fontSlotOffset(uint32_t slot) { return 0x280000u - (slot - 2) * FONT_SLOT_BYTES; }
constexpr uint32_t imageSlotOffset(uint32_t slot) { return 0x2FC000u - slot * IMAGE_SLOT_BYTES; }

// Slot -> record address; filled by initCache.
extern const uint8_t *fontCacheAddress[FONT_SLOT_COUNT];
extern uint8_t *imageCacheAddress[IMAGE_SLOT_COUNT];
// The shared record of the built-in fonts (slots 0 to 2).
extern const uint8_t staticFontEntry[CACHE_RECORD_BYTES];
// The record of image slot 0, whose picture lives in the memory pool.
extern uint8_t memoryImageEntry[CACHE_RECORD_BYTES];
// One font record per font slot.
extern GUI_FONT loadedfont[FONT_SLOT_COUNT];

void initCache();
// Refuses compressed blocks until the host starts a new stream.
void markZlibStreamBroken();
// Opens the SIF file at data into the slot's font record: SIF_OK, or
// SIF_REFUSED (the record is then cleared).
[[nodiscard]] SifResult load_font(uint8_t slot, uint8_t formatCode, const uint8_t *data, uint32_t size);
// The slot's font, or null when the slot holds no usable font.
const GUI_FONT *getFontSlot(uint8_t slot);
// Erases the slot (or all slots, CACHE_ALL_SLOTS) of a type. Returns the
// result code to report: RESULT_OK, or RESULT_MALFORMED for a type or slot
// that does not exist.
[[nodiscard]] uint8_t clearCache(uint8_t type, uint8_t index);

int32_t CMD_CacheInfo(const uint8_t *command, uint32_t remaining);

// Compressed command blocks: inflates the host's zlib stream block by block
// and runs the inflated commands through the dispatcher.
int32_t CMD_Zlib(const uint8_t *command, uint32_t remaining);

// ------------------------------------------------------------ uploads
//
// The slot 0 picture: width x height colour indices, row after row, in the
// memory pool, described by memoryImageEntry; null until one is decoded.
extern uint8_t *memDeviceMemory;
// Where the slot 0 picture lies in the pool; empty without one.
GUI_PoolExtent slot0PicturePoolExtent();

int32_t CMD_loadImage(const uint8_t *command, uint32_t remaining);
int32_t CMD_loadFont(const uint8_t *command, uint32_t remaining);

// ------------------------------------------- image, sprite and clip commands
int32_t CMD_drawImage(const uint8_t *command, uint32_t remaining);
int32_t CMD_drawSprite(const uint8_t *command, uint32_t remaining);
int32_t CMD_clipRect(const uint8_t *command, uint32_t remaining);
