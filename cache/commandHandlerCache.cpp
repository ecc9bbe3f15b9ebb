// The font and image cache kept in the emulated flash: the slot tables, the
// fonts opened from their slots, and the cache command's queries and clears.
#include "cache/commandHandlerCache.h"

#include <cstring>

#include "cache/cacheInternal.h"
#include "cache/flash.h"
#include "host/bytes.h"
#include "host/platform.h"
#include "protocol/commandHandler.h"
#include "resources/builtin_fonts.h"

const uint8_t *fontCacheAddress[FONT_SLOT_COUNT];
uint8_t *imageCacheAddress[IMAGE_SLOT_COUNT];
GUI_FONT loadedfont[FONT_SLOT_COUNT];
uint8_t memoryImageEntry[CACHE_RECORD_BYTES];

// magic 0xDEADBEEF, crc 0, size 0, valid 1, format 2 (2 bits per pixel)
const uint8_t staticFontEntry[CACHE_RECORD_BYTES] = {0xEF, 0xBE, 0xAD, 0xDE, 0, 0, 0, 0, 0, 0, 1, 2, 0, 0, 0, 0};

static const uint8_t _zeroRecord[CACHE_RECORD_BYTES] = {0};

constexpr uint8_t CACHE_TYPE_IMAGES = 1;
constexpr uint8_t CACHE_TYPE_FONTS = 2;
constexpr uint8_t CACHE_CLEAR_BIT = 0x10;
constexpr int32_t CACHE_INFO_BYTES = 3;
// Fonts smaller than this are not taken from a slot.
constexpr uint32_t FONT_MIN_DATA_BYTES = 64;

static void _ResetMemoryImageEntry() {
    CacheRecord r{};
    r.magic = CACHE_RECORD_MAGIC;   // in use but not valid: not present
    writeCacheRecord(memoryImageEntry, r);
}

static void _ResetCacheSlots() {
    memset(fontCacheAddress, 0, sizeof fontCacheAddress);
    memset(imageCacheAddress, 0, sizeof imageCacheAddress);
    memset(loadedfont, 0, sizeof loadedfont);
    _ResetMemoryImageEntry();
}
SIM_REGISTER_RESET(_ResetCacheSlots);

void eraseCacheRecord(uint8_t *record) { FLASH_write_data(record, _zeroRecord, CACHE_RECORD_BYTES); }

void initCache() {
    // Compressed blocks are refused until the host starts a new stream.
    markZlibStreamBroken();
    imageCacheAddress[0] = memoryImageEntry;
    for (uint32_t slot = 1; slot < IMAGE_SLOT_COUNT; slot++) imageCacheAddress[slot] = FLASH_Address(imageSlotOffset(slot));

    // The built-in fonts are generated with the device and open (a test
    // checks that they do).
    static const struct {
        const uint8_t *sif;
        uint32_t size;
    } builtIn[FONT_FIRST_FLASH_SLOT] = {
        {SAIRA_REGULAR_TTF_22X23_2BPP_SMALL_SIF, SAIRA_REGULAR_TTF_22X23_2BPP_SMALL_SIF_size},
        {SAIRA_REGULAR_TTF_34X37_2BPP_MED_SIF, SAIRA_REGULAR_TTF_34X37_2BPP_MED_SIF_size},
        {SAIRA_REGULAR_TTF_43X44_2BPP_BIG_SIF, SAIRA_REGULAR_TTF_43X44_2BPP_BIG_SIF_size},
    };
    for (uint8_t slot = 0; slot < FONT_FIRST_FLASH_SLOT; slot++) {
        static_cast<void>(load_font(slot, CACHE_FONT_FORMAT_2BPP, builtIn[slot].sif, builtIn[slot].size));
    }
    for (uint32_t slot = 0; slot < FONT_FIRST_FLASH_SLOT; slot++) fontCacheAddress[slot] = staticFontEntry;

    for (uint32_t slot = FONT_FIRST_FLASH_SLOT; slot < FONT_SLOT_COUNT; slot++) {
        uint8_t *record = FLASH_Address(fontSlotOffset(slot));
        fontCacheAddress[slot] = record;
        if (!cacheRecordUsable(record)) continue;
        CacheRecord r = readCacheRecord(record);
        // A font that does not open is erased, so that it is not tried again.
        const uint8_t format = r.format & CACHE_FORMAT_CODE_MASK;
        if (load_font((uint8_t)slot, format, record + CACHE_RECORD_BYTES, r.size) != SIF_OK) eraseCacheRecord(record);
    }
}

SifResult load_font(uint8_t slot, uint8_t formatCode, const uint8_t *data, uint32_t size) {
    if (slot >= FONT_SLOT_COUNT) return SIF_REFUSED;
    GUI_FONT *font = &loadedfont[slot];
    memset(font, 0, sizeof *font);
    uint8_t bitsPerPixel = formatCode == CACHE_FONT_FORMAT_4BPP ? 4 : 2;
    if (GUI_SIF_CreateFont(data, font, bitsPerPixel, size) == SIF_OK) return SIF_OK;
    // A font that failed half-way holds an unchecked glyph table; it is
    // cleared so that no lookup can reach it, whatever its slot record says.
    memset(font, 0, sizeof *font);
    return SIF_REFUSED;
}

const GUI_FONT *getFontSlot(uint8_t slot) {
    if (slot >= FONT_SLOT_COUNT) return nullptr;
    const uint8_t *record = fontCacheAddress[slot];
    if (!record || !cacheRecordUsable(record)) return nullptr;
    if (loadedfont[slot].dataSize < FONT_MIN_DATA_BYTES) return nullptr;
    return &loadedfont[slot];
}

// Erases the record when it is present; the data behind it stays.
static void _EraseIfPresent(uint8_t *record) {
    if (record && cacheRecordPresent(record)) eraseCacheRecord(record);
}

uint8_t clearCache(uint8_t type, uint8_t index) {
    if (type == CACHE_TYPE_IMAGES) {
        if (index == CACHE_ALL_SLOTS) {
            memset(memoryImageEntry, 0, sizeof memoryImageEntry);
            for (uint32_t slot = 1; slot < IMAGE_SLOT_COUNT; slot++) _EraseIfPresent(imageCacheAddress[slot]);
            return RESULT_OK;
        }
        if (index == 0) {
            // The decoded picture stays allocated but can no longer be drawn.
            memset(memoryImageEntry, 0, sizeof memoryImageEntry);
            return RESULT_OK;
        }
        if (index < IMAGE_SLOT_COUNT) {
            _EraseIfPresent(imageCacheAddress[index]);
            return RESULT_OK;
        }
        return RESULT_MALFORMED;
    }
    if (type == CACHE_TYPE_FONTS) {
        if (index == CACHE_ALL_SLOTS) {
            for (uint32_t slot = FONT_FIRST_FLASH_SLOT; slot < FONT_SLOT_COUNT; slot++) {
                _EraseIfPresent(const_cast<uint8_t *>(fontCacheAddress[slot]));
            }
            return RESULT_OK;
        }
        // The built-in fonts are never erased, but asking is no error.
        if (index < FONT_FIRST_FLASH_SLOT) return RESULT_OK;
        if (index < FONT_SLOT_COUNT) {
            _EraseIfPresent(const_cast<uint8_t *>(fontCacheAddress[index]));
            return RESULT_OK;
        }
        return RESULT_MALFORMED;
    }
    return RESULT_MALFORMED;
}

static const uint8_t *_SlotRecord(uint8_t type, uint8_t index) {
    if (type == CACHE_TYPE_IMAGES && index < IMAGE_SLOT_COUNT) return imageCacheAddress[index];
    if (type == CACHE_TYPE_FONTS && index < FONT_SLOT_COUNT) return fontCacheAddress[index];
    return nullptr;
}

int32_t CMD_CacheInfo(const uint8_t *command, uint32_t remaining) {
    if (remaining < CACHE_INFO_BYTES) return commandMalformed(OP_CACHE_INFO);
    const uint8_t request = command[1], index = command[2];
    const uint8_t type = request & CACHE_FORMAT_CODE_MASK;
    if ((request & ~CACHE_CLEAR_BIT) > CACHE_TYPE_FONTS) {
        return reportCommand(OP_CACHE_INFO, RESULT_MALFORMED, 0, CACHE_INFO_BYTES);
    }
    if (request & CACHE_CLEAR_BIT) {
        return reportCommand(OP_CACHE_INFO, clearCache(type, index), request, CACHE_INFO_BYTES);
    }
    if (index != CACHE_ALL_SLOTS) {
        uint8_t reply[8] = {REPLY_CACHE_ENTRY, request, index, 0, 0, 0, 0, 0};
        const uint8_t *record = _SlotRecord(type, index);
        // A record in use reports its valid byte and crc, complete or not.
        if (record && rd32le(record) == CACHE_RECORD_MAGIC) {
            reply[3] = record[10];
            memcpy(reply + 4, record + 4, 4);
        }
        sendData(reply, sizeof reply);
        return CACHE_INFO_BYTES;
    }
    // The usage map of "no type" has no slots: it is answered with count 0.
    uint32_t count = type == CACHE_TYPE_IMAGES ? IMAGE_SLOT_COUNT : type == CACHE_TYPE_FONTS ? FONT_SLOT_COUNT : 0;
    static_assert(3 + 4 * IMAGE_SLOT_COUNT <= SCRATCH_SIZE_BYTES, "the usage map is built in scratch");
    scratch[0] = REPLY_CACHE_MAP;
    scratch[1] = request;
    scratch[2] = (uint8_t)count;
    for (uint32_t slot = 0; slot < count; slot++) {
        const uint8_t *record = _SlotRecord(type, (uint8_t)slot);
        uint32_t crc = record && cacheRecordPresent(record) ? rd32le(record + 4) : 0;
        wr32le(scratch + 3 + 4 * slot, crc);
    }
    sendData(scratch, (uint16_t)(3 + 4 * count));
    return CACHE_INFO_BYTES;
}

