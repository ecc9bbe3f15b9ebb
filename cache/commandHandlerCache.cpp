// The font and image cache kept in the emulated flash, the chunked uploads
// staged in packet_cache, the image, sprite and clip commands, and the
// compressed command blocks.
#include "cache/commandHandlerCache.h"

#include <cstring>
#include <zlib.h>

#include "cache/flash.h"
#include "codecs/GUI_JPEG.h"
#include "codecs/GUI_PNG.h"
#include "codecs/inflate_area.h"
#include "codecs/mpeg.h"
#include "codecs/png.h"
#include "commands/commandHandlerDraw.h"
#include "gui/GUI_Alloc.h"
#include "gui/GUI_Bitmap.h"
#include "gui/GUI_Common.h"
#include "host/bytes.h"
#include "host/platform.h"
#include "protocol/commandHandler.h"
#include "resources/builtin_fonts.h"

alignas(8) uint8_t packet_cache[PACKET_CACHE_SIZE_BYTES];

// ------------------------------------------------- cache slots and the cache command

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
constexpr uint8_t REPLY_CACHE_ENTRY = 0x03;
constexpr uint8_t REPLY_CACHE_MAP = 0x0B;
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

static void _EraseFlashRecord(uint8_t *record) { FLASH_write_data(record, _zeroRecord, CACHE_RECORD_BYTES); }

void initCache() {
    // Compressed blocks are refused until the host starts a new stream.
    markZlibStreamBroken();
    imageCacheAddress[0] = memoryImageEntry;
    for (uint32_t slot = 1; slot < IMAGE_SLOT_COUNT; slot++) imageCacheAddress[slot] = FLASH_Address(imageSlotOffset(slot));

    load_font(0, 2, SAIRA_REGULAR_TTF_22X23_2BPP_SMALL_SIF, SAIRA_REGULAR_TTF_22X23_2BPP_SMALL_SIF_size);
    load_font(1, 2, SAIRA_REGULAR_TTF_34X37_2BPP_MED_SIF, SAIRA_REGULAR_TTF_34X37_2BPP_MED_SIF_size);
    load_font(2, 2, SAIRA_REGULAR_TTF_43X44_2BPP_BIG_SIF, SAIRA_REGULAR_TTF_43X44_2BPP_BIG_SIF_size);
    for (uint32_t slot = 0; slot < FONT_FIRST_FLASH_SLOT; slot++) fontCacheAddress[slot] = staticFontEntry;

    for (uint32_t slot = FONT_FIRST_FLASH_SLOT; slot < FONT_SLOT_COUNT; slot++) {
        uint8_t *record = FLASH_Address(fontSlotOffset(slot));
        fontCacheAddress[slot] = record;
        if (!cacheRecordUsable(record)) continue;
        CacheRecord r = readCacheRecord(record);
        // A font that does not open is erased, so that it is not tried again.
        if (load_font((uint8_t)slot, r.format & CACHE_FORMAT_CODE_MASK, record + CACHE_RECORD_BYTES, r.size) != 0) {
            _EraseFlashRecord(record);
        }
    }
}

int load_font(uint8_t slot, uint8_t formatCode, const uint8_t *data, uint32_t size) {
    if (slot >= FONT_SLOT_COUNT) return -1;
    GUI_FONT *font = &loadedfont[slot];
    memset(font, 0, sizeof *font);
    uint8_t bitsPerPixel = formatCode == CACHE_FONT_FORMAT_4BPP ? 4 : 2;
    if (GUI_SIF_CreateFont(data, font, bitsPerPixel, size) == 0) return 0;
    // A font that failed half-way holds an unchecked glyph table; it is
    // cleared so that no lookup can reach it, whatever its slot record says.
    memset(font, 0, sizeof *font);
    return -1;
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
    if (record && cacheRecordPresent(record)) _EraseFlashRecord(record);
}

int clearCache(uint8_t type, uint8_t index) {
    if (type == CACHE_TYPE_IMAGES) {
        if (index == CACHE_ALL_SLOTS) {
            memset(memoryImageEntry, 0, sizeof memoryImageEntry);
            for (uint32_t slot = 1; slot < IMAGE_SLOT_COUNT; slot++) _EraseIfPresent(imageCacheAddress[slot]);
            return 0;
        }
        if (index == 0) {
            // The decoded picture stays allocated but can no longer be drawn.
            memset(memoryImageEntry, 0, sizeof memoryImageEntry);
            return 0;
        }
        if (index < IMAGE_SLOT_COUNT) {
            _EraseIfPresent(imageCacheAddress[index]);
            return 0;
        }
        return 1;
    }
    if (type == CACHE_TYPE_FONTS) {
        if (index == CACHE_ALL_SLOTS) {
            for (uint32_t slot = FONT_FIRST_FLASH_SLOT; slot < FONT_SLOT_COUNT; slot++) {
                _EraseIfPresent(const_cast<uint8_t *>(fontCacheAddress[slot]));
            }
            return 0;
        }
        // The built-in fonts are never erased, but asking is no error.
        if (index < FONT_FIRST_FLASH_SLOT) return 0;
        if (index < FONT_SLOT_COUNT) {
            _EraseIfPresent(const_cast<uint8_t *>(fontCacheAddress[index]));
            return 0;
        }
        return 1;
    }
    return 1;
}

static const uint8_t *_SlotRecord(uint8_t type, uint8_t index) {
    if (type == CACHE_TYPE_IMAGES && index < IMAGE_SLOT_COUNT) return imageCacheAddress[index];
    if (type == CACHE_TYPE_FONTS && index < FONT_SLOT_COUNT) return fontCacheAddress[index];
    return nullptr;
}

int32_t CMD_CacheInfo(const uint8_t *command, uint32_t remaining) {
    if (remaining < 3) {
        handleCommandError(0x16, RESULT_MALFORMED, 0);
        return -1;
    }
    const uint8_t request = command[1], index = command[2];
    const uint8_t type = request & CACHE_FORMAT_CODE_MASK;
    if ((request & ~CACHE_CLEAR_BIT) > CACHE_TYPE_FONTS) {
        handleCommandError(0x16, RESULT_MALFORMED, 0);
        return 3;
    }
    if (request & CACHE_CLEAR_BIT) {
        handleCommandError(0x16, (uint32_t)clearCache(type, index), request);
        return 3;
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
        return 3;
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
    return 3;
}

// ------------------------------------------------------ uploads of fonts and images
//
// A resource arrives as chunks laid end to end in packet_cache: a 16-byte
// staging record (magic while an upload is in progress, the bytes received
// in its size field, the format code) and the data behind it. The data ends
// with the CRC-32 of the file before it.
//
// Pool ownership of the slot 0 picture. Two holders keep pool memory past
// the end of their command: the slot 0 picture, from its upload to the next
// one, and video playback, from its start to its stop, above its mark
// `allocToken`. The pool is a stack, so both stay valid only when neither
// releases below the other: video is always the outermost holder.
//  - While video runs, a slot 0 upload is refused with (0x04, 0x02, 0): it
//    would have to release the pool under the decoder, or place the picture
//    above the video's mark, where the video's stop would release it. The
//    picture already held stays as it is.
//  - Without video the picture is the only holder, so it is the top of the
//    pool; a new upload releases the old picture (back to where it started,
//    not to the pool's start) and places the new one there. Should anything
//    ever lie above the old picture, the upload is refused instead.
//  - A video started while a picture exists takes its mark above the
//    picture, so its stop, a restart, or a stop while stopped (which
//    releases nothing) leave the picture alone.

uint8_t *memDeviceMemory = nullptr;
// Pool offsets where the slot 0 picture starts and ends.
static uint32_t memDeviceMark = 0;
static uint32_t memDeviceEnd = 0;

static void _ResetUploads() {
    memDeviceMemory = nullptr;
    memDeviceMark = 0;
    memDeviceEnd = 0;
    memset(packet_cache, 0, sizeof packet_cache);   // no upload in progress
}
SIM_REGISTER_RESET(_ResetUploads);

constexpr uint8_t OPCODE_LOAD_IMAGE = 0x04;
constexpr uint8_t OPCODE_LOAD_FONT = 0x06;
constexpr uint32_t UPLOAD_HEADER_BYTES = 9;
constexpr uint32_t UPLOAD_CRC_BYTES = 4;
constexpr uint8_t FONT_FORMAT_COMPRESSED = 0x20;
constexpr uint8_t NO_SLOT = 0xFF;
// The compressed font is inflated behind a gap for its cache record.
constexpr uint32_t FONT_INFLATE_BUFFER_BYTES = 32768;
constexpr uint32_t FONT_INFLATE_ROOM = FONT_INFLATE_BUFFER_BYTES - CACHE_RECORD_BYTES;

struct UploadLimits {
    uint8_t opcode;
    uint8_t firstSlot, lastSlot;
    uint32_t maxOffset;
    uint32_t maxTotal;
};
static constexpr UploadLimits kFontUpload{OPCODE_LOAD_FONT, FONT_FIRST_FLASH_SLOT, FONT_SLOT_COUNT - 1, 32766,
                                          FONT_MAX_DATA_BYTES};
static constexpr UploadLimits kImageUpload{OPCODE_LOAD_IMAGE, 0, IMAGE_SLOT_COUNT - 1, 16382, IMAGE_MAX_DATA_BYTES};
static_assert(CACHE_RECORD_BYTES + FONT_MAX_DATA_BYTES <= PACKET_CACHE_SIZE_BYTES, "fonts are staged whole");

static uint8_t *const stagingData = packet_cache + CACHE_RECORD_BYTES;

static void _ClearStaging() { memset(packet_cache, 0, CACHE_RECORD_BYTES); }

struct UploadChunk {
    uint8_t slot;
    uint16_t offset;
    uint16_t total;       // T: the file and its 4 CRC bytes
    uint16_t length;
    uint8_t format;       // the format byte as sent
    uint8_t stagedFormat; // the format code the staging record carries
    const uint8_t *data;
};

// Takes one chunk into the staging area. Returns true when it completed the
// upload and the CRC matched (*crc is then the file's CRC); otherwise the
// chunk has been answered as needed and *result is the handler's return.
static bool _ReceiveChunk(const uint8_t *command, uint32_t remaining, const UploadLimits &limits, UploadChunk &c,
                          uint32_t *crc, int32_t *result) {
    if (remaining < UPLOAD_HEADER_BYTES + 1) {
        handleCommandError(limits.opcode, RESULT_MALFORMED, NO_SLOT);
        *result = -1;
        return false;
    }
    c.slot = command[1];
    c.offset = rd16le(command + 2);
    c.total = rd16le(command + 4);
    c.length = rd16le(command + 6);
    c.format = command[8];
    c.data = command + UPLOAD_HEADER_BYTES;
    const bool isFont = limits.opcode == OPCODE_LOAD_FONT;
    c.stagedFormat = isFont ? (uint8_t)(c.format & CACHE_FORMAT_CODE_MASK) : c.format;

    // Beyond the listed limits, a chunk must end inside its resource (and so
    // inside the staging area), and the resource must hold at least its CRC.
    const bool badHeader = c.slot < limits.firstSlot || c.slot > limits.lastSlot || c.offset > limits.maxOffset ||
                           c.total > limits.maxTotal || c.total < UPLOAD_CRC_BYTES || c.length < 1 ||
                           c.length > remaining - UPLOAD_HEADER_BYTES || (uint32_t)c.offset + c.length > c.total ||
                           (!isFont && c.format != CACHE_IMAGE_FORMAT_PNG && c.format != CACHE_IMAGE_FORMAT_JPEG);
    if (badHeader) {
        handleCommandError(limits.opcode, RESULT_MALFORMED, c.slot);
        *result = -1;
        return false;
    }
    *result = (int32_t)(UPLOAD_HEADER_BYTES + c.length);

    if (c.offset == 0) {
        CacheRecord fresh{};
        fresh.magic = CACHE_RECORD_MAGIC;
        fresh.format = c.stagedFormat;
        writeCacheRecord(packet_cache, fresh);
    }
    CacheRecord staged = readCacheRecord(packet_cache);
    if (staged.magic != CACHE_RECORD_MAGIC || staged.size != c.offset || staged.format != c.stagedFormat) {
        _ClearStaging();
        handleCommandError(limits.opcode, RESULT_SEQUENCE, c.slot);
        return false;
    }
    memcpy(stagingData + c.offset, c.data, c.length);
    staged.size = (uint16_t)(staged.size + c.length);
    writeCacheRecord(packet_cache, staged);
    if (staged.size != c.total) return false;

    const uint32_t fileBytes = c.total - UPLOAD_CRC_BYTES;
    *crc = CRC_Calculate(stagingData, fileBytes);
    if (*crc != rd32le(stagingData + fileBytes)) {
        _ClearStaging();
        handleCommandError(limits.opcode, RESULT_CRC_MISMATCH, c.slot);
        return false;
    }
    return true;
}

// The slot already holds exactly this resource.
static bool _AlreadyCached(const uint8_t *record, const CacheRecord &staged) {
    if (!cacheRecordUsable(record)) return false;
    CacheRecord r = readCacheRecord(record);
    return r.crc == staged.crc && r.size == staged.size && r.format == staged.format;
}

// Inflates the staged zlib stream of a font and writes the SIF file it gives
// into the slot. Returns the result code to report, or RESULT_OK with the
// staging record's size set to the inflated size.
static uint8_t _StoreCompressedFont(uint8_t *slotRecord, CacheRecord &staged) {
    const uint32_t need = FONT_INFLATE_BUFFER_BYTES + INFLATE_AREA_POOL_BYTES;
    if (GUI_GetNumFreeBytes() < need) {
        SIM_LOG("CMD_loadFont: no pool room to inflate the font\n");
        return RESULT_SEQUENCE;
    }
    const uint32_t mark = GUI_AllocStart();
    uint8_t *out = static_cast<uint8_t *>(GUI_AllocNoInit(FONT_INFLATE_BUFFER_BYTES));
    InflateArea *area = InflateArea_FromPool();
    z_stream zs;
    uint8_t code = RESULT_OK;
    if (InflateArea_Init(&zs, area) != Z_OK) {
        code = RESULT_SEQUENCE;
    } else {
        // All T bytes are offered, the CRC behind the file included, as the
        // device does: a complete stream ends before the CRC, but one that
        // lacks its Adler-32 trailer has the CRC read as that trailer and
        // is refused, so that no upload works only here.
        zs.next_in = stagingData;
        zs.avail_in = staged.size;
        zs.next_out = out + CACHE_RECORD_BYTES;
        zs.avail_out = FONT_INFLATE_ROOM;
        const int z = inflate(&zs, Z_NO_FLUSH);
        const uint32_t produced = FONT_INFLATE_ROOM - zs.avail_out;
        inflateEnd(&zs);
        if (z != Z_OK && z != Z_STREAM_END) {
            code = RESULT_SEQUENCE;
        } else if (produced >= FONT_INFLATE_ROOM) {
            code = RESULT_MALFORMED;   // the font would fill the slot: too large
        } else {
            // Output counts even when the stream had not reached its end.
            staged.size = (uint16_t)produced;
            writeCacheRecord(out, staged);
            FLASH_write_data(slotRecord, out, CACHE_RECORD_BYTES + produced);
        }
    }
    GUI_AllocEnd(mark);
    return code;
}

int32_t CMD_loadFont(const uint8_t *command, uint32_t remaining) {
    UploadChunk c;
    uint32_t crc = 0;
    int32_t result = 0;
    if (!_ReceiveChunk(command, remaining, kFontUpload, c, &crc, &result)) return result;

    CacheRecord staged = readCacheRecord(packet_cache);
    staged.valid = 1;
    staged.crc = crc;
    writeCacheRecord(packet_cache, staged);
    uint8_t *slotRecord = FLASH_Address(fontSlotOffset(c.slot));

    if (!_AlreadyCached(slotRecord, staged)) {
        if (!(c.format & FONT_FORMAT_COMPRESSED)) {
            FLASH_write_data(slotRecord, packet_cache, CACHE_RECORD_BYTES + staged.size);
        } else {
            const uint8_t code = _StoreCompressedFont(slotRecord, staged);
            if (code != RESULT_OK) {
                // A stream that does not inflate leaves the staging record
                // as it is, describing the finished upload: a chunk whose
                // offset is where that upload ended would continue it, as
                // on the device; any other chunk restarts or is refused.
                handleCommandError(OPCODE_LOAD_FONT, code, c.slot);
                return result;
            }
        }
    }
    if (load_font(c.slot, c.stagedFormat, slotRecord + CACHE_RECORD_BYTES, staged.size) != 0) {
        _EraseFlashRecord(slotRecord);
        handleCommandError(OPCODE_LOAD_FONT, RESULT_SEQUENCE, c.slot);
    } else {
        handleCommandError(OPCODE_LOAD_FONT, RESULT_OK, c.slot);
    }
    _ClearStaging();
    return result;
}

struct PictureSize {
    uint32_t width = 0, height = 0;
    bool transparent = false;
};

// Reads the picture size from the file's header: 0, RESULT_DECODE_FAILED
// when the header is refused (a progressive JPEG included).
static uint8_t _ReadPictureSize(uint8_t formatCode, const uint8_t *file, uint32_t size, PictureSize &p) {
    if (formatCode == CACHE_IMAGE_FORMAT_PNG) {
        uint8_t alpha = 0;
        if (GUI_PNG_GetSize(file, size, &p.width, &p.height, &alpha) != 0) return RESULT_DECODE_FAILED;
        p.transparent = alpha != 0;
        return RESULT_OK;
    }
    uint8_t progressive = 0;
    if (GUI_JPEG_GetSize(file, size, &p.width, &p.height, &progressive) != 0 || progressive) {
        return RESULT_DECODE_FAILED;
    }
    return RESULT_OK;
}

// Releases the slot 0 picture's pool memory; the record is cleared too.
static void _ReleaseSlot0Picture() {
    if (memDeviceMemory) GUI_AllocEnd(memDeviceMark);
    memDeviceMemory = nullptr;
    memset(memoryImageEntry, 0, sizeof memoryImageEntry);
}

// Decodes the staged image into a picture in the pool (slot 0). Returns the
// result code to report.
static uint8_t _DecodeSlot0Picture(uint8_t formatCode, uint32_t total, uint32_t crc, const PictureSize &p) {
    if (MPEG_IsRunning()) {
        SIM_LOG("CMD_loadImage: video holds the pool, slot 0 picture refused\n");
        return RESULT_SEQUENCE;
    }
    const uint32_t mark = GUI_AllocStart();
    // The old picture is released only while it is the top of the pool;
    // anything above it belongs to a holder that must not lose it.
    if (memDeviceMemory && mark != memDeviceEnd) {
        SIM_LOG("CMD_loadImage: memory held above the slot 0 picture, new picture refused\n");
        return RESULT_SEQUENCE;
    }
    if (memDeviceMemory) GUI_AllocEnd(memDeviceMark);
    // Room for the picture and for the PNG decoder that fills it; the JPEG
    // decoder's need depends on the frame and is checked by the decoder.
    const uint64_t pictureBytes = (uint64_t)p.width * p.height;
    const uint64_t need = pictureBytes + (formatCode == CACHE_IMAGE_FORMAT_PNG ? PNG_CONTEXT_BYTES : 0);
    if (GUI_GetNumFreeBytes() < need) {
        GUI_AllocEnd(mark);   // the old picture, if any, is still whole
        SIM_LOG("CMD_loadImage: no pool room for a %ux%u picture\n", (unsigned)p.width, (unsigned)p.height);
        return RESULT_SEQUENCE;
    }
    memDeviceMark = GUI_AllocStart();
    // Cleared whatever the transparency: index 0 is the transparent value,
    // and pixels a decoder leaves untouched show black, not old pool bytes.
    memDeviceMemory = static_cast<uint8_t *>(GUI_AllocZero((uint32_t)pictureBytes));
    memDeviceEnd = GUI_AllocStart();
    memset(memoryImageEntry, 0, sizeof memoryImageEntry);

    int decoded = 1;
    // A picture without pixels cannot be drawn into.
    if (p.width != 0 && p.height != 0) {
        GUI_SetFrameBufferBase(memDeviceMemory, p.width, p.height);
        decoded = formatCode == CACHE_IMAGE_FORMAT_PNG ? GUI_PNG_Draw(stagingData, total, 0, 0)
                                                       : GUI_JPEG_Draw(stagingData, total, 0, 0);
        GUI_RestoreFrameBufferBase();
    }
    if (decoded != 0) {
        _ReleaseSlot0Picture();
        // The JPEG decoder's -1 is a pool too short for its row buffers.
        return formatCode == CACHE_IMAGE_FORMAT_JPEG && decoded == -1 ? RESULT_SEQUENCE : RESULT_DECODE_FAILED;
    }
    CacheRecord entry{};
    entry.magic = CACHE_RECORD_MAGIC;
    entry.size = (uint16_t)total;
    entry.crc = crc;
    entry.valid = 1;
    entry.format = (uint8_t)(formatCode | (p.transparent ? CACHE_FORMAT_TRANSPARENT : 0));
    entry.width = (uint16_t)p.width;
    entry.height = (uint16_t)p.height;
    writeCacheRecord(memoryImageEntry, entry);
    return RESULT_OK;
}

int32_t CMD_loadImage(const uint8_t *command, uint32_t remaining) {
    UploadChunk c;
    uint32_t crc = 0;
    int32_t result = 0;
    if (!_ReceiveChunk(command, remaining, kImageUpload, c, &crc, &result)) return result;

    CacheRecord staged = readCacheRecord(packet_cache);
    const uint32_t total = staged.size;
    // Reading a JPEG's header takes a decoder record from the pool, which a
    // held picture and a running video may have filled; a PNG's header is
    // read in place.
    if (c.format == CACHE_IMAGE_FORMAT_JPEG && GUI_GetNumFreeBytes() < JPEG_CONTEXT_BYTES) {
        _ClearStaging();
        handleCommandError(OPCODE_LOAD_IMAGE, RESULT_SEQUENCE, c.slot);
        return result;
    }
    PictureSize p;
    if (_ReadPictureSize(c.format, stagingData, total, p) != RESULT_OK) {
        _ClearStaging();
        handleCommandError(OPCODE_LOAD_IMAGE, RESULT_DECODE_FAILED, c.slot);
        return result;
    }
    if (p.width > (uint32_t)SCREEN_WIDTH || p.height > (uint32_t)SCREEN_HEIGHT) {
        _ClearStaging();
        handleCommandError(OPCODE_LOAD_IMAGE, RESULT_MALFORMED, c.slot);
        return result;
    }
    if (p.transparent) staged.format |= CACHE_FORMAT_TRANSPARENT;

    if (c.slot == 0) {
        // The upload is over whatever follows; the data stays for decoding.
        wr32le(packet_cache, 0);
        handleCommandError(OPCODE_LOAD_IMAGE, _DecodeSlot0Picture(c.format, total, crc, p), 0);
        return result;
    }

    staged.crc = crc;
    staged.valid = 1;
    staged.width = (uint16_t)p.width;
    staged.height = (uint16_t)p.height;
    writeCacheRecord(packet_cache, staged);
    uint8_t *slotRecord = imageCacheAddress[c.slot];
    if (!_AlreadyCached(slotRecord, staged)) FLASH_write_data(slotRecord, packet_cache, CACHE_RECORD_BYTES + total);
    _ClearStaging();
    handleCommandError(OPCODE_LOAD_IMAGE, RESULT_OK, c.slot);
    return result;
}

// ------------------------------------------------- image, sprite and clip commands

constexpr uint8_t OPCODE_DRAW_IMAGE = 0x05;
constexpr uint8_t OPCODE_CLIP_RECT = 0x18;
constexpr uint8_t OPCODE_DRAW_SPRITE = 0x19;
constexpr uint32_t DRAW_IMAGE_BYTES = 5;
constexpr uint32_t DRAW_SPRITE_BYTES = 11;
constexpr uint32_t CLIP_RECT_BYTES = 7;

static bool _PositionInRange(int32_t x, int32_t y) {
    return x >= -SCREEN_WIDTH && x <= SCREEN_WIDTH && y >= -SCREEN_HEIGHT && y <= SCREEN_HEIGHT;
}

static bool _Slot0PictureUsable() { return memDeviceMemory && cacheRecordUsable(memoryImageEntry); }

// Draws the file of image slot 1 to 31. A file its decoder refuses loses its
// slot (0xC0); a pool too short for the decoder is reported (0x02) without
// touching the slot, since the same image draws once the pool is free again.
static void _DrawCachedFile(uint8_t slot, uint8_t *record, int32_t x, int32_t y) {
    const CacheRecord r = readCacheRecord(record);
    const uint8_t code = r.format & CACHE_FORMAT_CODE_MASK;
    const uint8_t *file = record + CACHE_RECORD_BYTES;
    int drawn = 1;
    if (r.size <= IMAGE_MAX_DATA_BYTES && code == CACHE_IMAGE_FORMAT_PNG) {
        if (GUI_GetNumFreeBytes() < PNG_CONTEXT_BYTES) {
            handleCommandError(OPCODE_DRAW_IMAGE, RESULT_SEQUENCE, slot);
            return;
        }
        drawn = GUI_PNG_Draw(file, r.size, x, y);
    } else if (r.size <= IMAGE_MAX_DATA_BYTES && code == CACHE_IMAGE_FORMAT_JPEG) {
        drawn = GUI_JPEG_Draw(file, r.size, x, y);
        if (drawn == -1) {
            handleCommandError(OPCODE_DRAW_IMAGE, RESULT_SEQUENCE, slot);
            return;
        }
    }
    if (drawn != 0) {
        _EraseFlashRecord(record);
        handleCommandError(OPCODE_DRAW_IMAGE, RESULT_DECODE_FAILED, slot);
    }
}

int32_t CMD_drawImage(const uint8_t *command, uint32_t remaining) {
    if (remaining < DRAW_IMAGE_BYTES) {
        handleCommandError(OPCODE_DRAW_IMAGE, RESULT_MALFORMED, NO_SLOT);
        return -1;
    }
    const uint8_t slot = command[1];
    const PackedPair pos = readPackedPairSigned(command + 2);
    const int32_t x = halfToPixel(pos.a), y = halfToPixel(pos.b);
    if (slot >= IMAGE_SLOT_COUNT || !_PositionInRange(x, y)) {
        handleCommandError(OPCODE_DRAW_IMAGE, RESULT_MALFORMED, slot);
        return DRAW_IMAGE_BYTES;
    }
    uint8_t *record = imageCacheAddress[slot];
    if (!record || !cacheRecordUsable(record)) {
        handleCommandError(OPCODE_DRAW_IMAGE, RESULT_SEQUENCE, slot);
        return DRAW_IMAGE_BYTES;
    }
    const CacheRecord r = readCacheRecord(record);
    // An image that would end left of or above the screen.
    if ((int32_t)r.width + x < 1 || (int32_t)r.height + y < 1) {
        handleCommandError(OPCODE_DRAW_IMAGE, RESULT_MALFORMED, slot);
        return DRAW_IMAGE_BYTES;
    }
    if (slot != 0) {
        _DrawCachedFile(slot, record, x, y);
    } else if (memDeviceMemory) {
        GUI_DrawBitmap(x, y, r.width, r.height, r.width, memDeviceMemory, (r.format & CACHE_FORMAT_TRANSPARENT) ? 1 : 0);
    } else {
        handleCommandError(OPCODE_DRAW_IMAGE, RESULT_SEQUENCE, 0);
    }
    return DRAW_IMAGE_BYTES;
}

int32_t CMD_drawSprite(const uint8_t *command, uint32_t remaining) {
    if (remaining < DRAW_SPRITE_BYTES) {
        handleCommandError(OPCODE_DRAW_SPRITE, RESULT_MALFORMED, NO_SLOT);
        return -1;
    }
    const uint8_t slot = command[1];
    const PackedPair dst = readPackedPairSigned(command + 2);
    const PackedPair src = readPackedPairUnsigned(command + 5);
    const PackedPair size = readPackedPairUnsigned(command + 8);
    const int32_t x = halfToPixel(dst.a), y = halfToPixel(dst.b);
    const int32_t sx = halfToPixel(src.a), sy = halfToPixel(src.b);
    const int32_t w = halfToPixel(size.a), h = halfToPixel(size.b);
    if (slot != 0 || !_PositionInRange(x, y) || w < 2 || h < 2) {
        handleCommandError(OPCODE_DRAW_SPRITE, RESULT_MALFORMED, slot);
        return DRAW_SPRITE_BYTES;
    }
    if (!_Slot0PictureUsable()) {
        handleCommandError(OPCODE_DRAW_SPRITE, RESULT_SEQUENCE, 0);
        return DRAW_SPRITE_BYTES;
    }
    const CacheRecord pic = readCacheRecord(memoryImageEntry);
    // The source rectangle must lie inside the picture.
    if (x + w == 0 || y + h == 0 || sx + w > (int32_t)pic.width || sy + h > (int32_t)pic.height) {
        handleCommandError(OPCODE_DRAW_SPRITE, RESULT_MALFORMED, 0);
        return DRAW_SPRITE_BYTES;
    }
    const uint8_t *pixels = memDeviceMemory + (size_t)sy * pic.width + sx;
    GUI_DrawBitmap(x, y, w, h, pic.width, pixels, (pic.format & CACHE_FORMAT_TRANSPARENT) ? 1 : 0);
    return DRAW_SPRITE_BYTES;
}

int32_t CMD_clipRect(const uint8_t *command, uint32_t remaining) {
    if (remaining < CLIP_RECT_BYTES) {
        handleCommandError(OPCODE_CLIP_RECT, RESULT_MALFORMED, NO_SLOT);
        return -1;
    }
    // Clip origins are read unsigned: there are no negative clip corners.
    const PackedPair pos = readPackedPairUnsigned(command + 1);
    const PackedPair size = readPackedPairUnsigned(command + 4);
    const int32_t x = halfToPixel(pos.a), y = halfToPixel(pos.b);
    const int32_t w = halfToPixel(size.a), h = halfToPixel(size.b);
    if (x > SCREEN_WIDTH || y > SCREEN_HEIGHT || w > SCREEN_WIDTH || h > SCREEN_HEIGHT || w < 2 || h < 2) {
        handleCommandError(OPCODE_CLIP_RECT, RESULT_MALFORMED, 0);
        return CLIP_RECT_BYTES;
    }
    GUI_SetClipRect(x, y, x + w - 1, y + h - 1);
    return CLIP_RECT_BYTES;
}

// ------------------------------------------------------- compressed command blocks

// The host keeps one deflate stream open across many blocks. Each block is
// inflated into a small buffer as it arrives; a block with the execute flag
// runs what has been inflated so far through the dispatcher.
static constexpr uint8_t ZLIB_OPCODE = 0x0A;
static constexpr uint32_t ZLIB_BLOCK_HEADER_BYTES = 4;
static constexpr uint8_t ZLIB_FLAG_EXECUTE = 0x80;
static constexpr uint8_t ZLIB_FLAG_START = 0x40;
static constexpr uint8_t ZLIB_SEQUENCE_MASK = 0x3F;
static constexpr uint32_t ZLIB_OUTPUT_BYTES = 3072;

struct ZlibBlockStream {
    uint8_t output[ZLIB_OUTPUT_BYTES];   // inflated command bytes not yet run
    uint32_t fill;                       // bytes waiting in output
    uint32_t broken = 1;                 // 0: in order; else blocks refused since it broke
    uint32_t lastSequence;               // 0 to 63
    uint8_t executing;                   // set while the inflated commands run
    z_stream inflater;
    InflateArea inflateArea;             // the inflater's state and window: no heap
};

// Broken until the host sends its first start block.
static ZlibBlockStream zstate;

static void _ResetZlibBlocks() {
    memset(static_cast<void *>(&zstate), 0, sizeof zstate);
    zstate.broken = 1;
}
SIM_REGISTER_RESET(_ResetZlibBlocks);

// A zlib that asks for more than the state and window areas is refused, and
// the start block fails with a report.
static bool _StartZlibStream() {
    zstate.fill = 0;
    zstate.lastSequence = 0;
    return InflateArea_Init(&zstate.inflater, &zstate.inflateArea) == Z_OK;
}

void markZlibStreamBroken() { zstate.broken = 1; }

static int32_t _BreakZlibStream(uint8_t sequence, int32_t length) {
    handleCommandError(ZLIB_OPCODE, RESULT_SEQUENCE, sequence);
    zstate.broken = 1;
    return length;
}

// Runs what has been inflated so far. A piece that ends inside a command cuts
// it; the dispatcher reports that as any truncated command.
static void _RunInflatedCommands(uint8_t sequence) {
    if (zstate.fill == 0) return;
    zstate.executing = 1;
    int32_t result = handleCommand(zstate.output, zstate.fill);
    zstate.executing = 0;
    if (result < 0) handleCommandError(ZLIB_OPCODE, RESULT_DECODE_FAILED, sequence);
    zstate.fill = 0;
}

int32_t CMD_Zlib(const uint8_t *command, uint32_t remaining) {
    if (remaining < ZLIB_BLOCK_HEADER_BYTES + 1) {
        handleCommandError(ZLIB_OPCODE, RESULT_MALFORMED, 0xFF);
        return -1;
    }
    uint8_t flags = command[1];
    uint8_t sequence = flags & ZLIB_SEQUENCE_MASK;
    uint32_t n = rd16le(command + 2);
    if (n == 0 || remaining < ZLIB_BLOCK_HEADER_BYTES + n) {
        handleCommandError(ZLIB_OPCODE, RESULT_MALFORMED, 0xFF);
        return -1;
    }
    const int32_t length = (int32_t)(ZLIB_BLOCK_HEADER_BYTES + n);

    // A block among the inflated commands of another block would inflate into
    // the buffer that is being run and replace the stream under it. It is
    // refused as not supported, and the commands after it go on.
    if (zstate.executing) {
        handleCommandError(ZLIB_OPCODE, RESULT_UNSUPPORTED, sequence);
        return length;
    }

    if (flags & ZLIB_FLAG_START) {
        zstate.broken = 0;
        if (!_StartZlibStream()) return _BreakZlibStream(sequence, length);
    } else if (zstate.broken != 0 || sequence != ((zstate.lastSequence + 1) & ZLIB_SEQUENCE_MASK)) {
        // The first refusal is reported, then every sixth.
        if (zstate.broken == 0 || zstate.broken % 6 == 5) {
            handleCommandError(ZLIB_OPCODE, RESULT_SEQUENCE, sequence);
        }
        // The count never wraps back to 0, which would mean "in order".
        zstate.broken = zstate.broken == UINT32_MAX ? 1 : zstate.broken + 1;
        zstate.lastSequence = sequence;
        return length;
    }

    // A block is judged as a whole: it fails when inflating reports an error
    // or the end of the stream, or when all of its bytes produced nothing.
    // When the buffer filled up exactly as the block's input ran out, the
    // next call finds nothing left to do; that ends the block normally
    // instead of breaking a sound stream.
    z_stream &zs = zstate.inflater;
    zs.next_in = const_cast<Bytef *>(command + ZLIB_BLOCK_HEADER_BYTES);
    zs.avail_in = n;
    uint32_t blockProduced = 0;
    for (;;) {
        uint32_t room = ZLIB_OUTPUT_BYTES - zstate.fill;
        // Without the execute flag a full buffer has no room to offer; a
        // one-byte probe tells whether the block holds more output (an
        // overflow, which breaks the stream) or nothing more.
        uint8_t probe;
        zs.next_out = room ? zstate.output + zstate.fill : &probe;
        zs.avail_out = room ? room : 1;
        uint32_t offered = zs.avail_out;
        int ret = inflate(&zs, Z_NO_FLUSH);
        uint32_t produced = offered - zs.avail_out;
        if (ret == Z_BUF_ERROR && produced == 0 && zs.avail_in == 0 && blockProduced > 0) break;
        if (ret != Z_OK) return _BreakZlibStream(sequence, length);
        if (room == 0 && produced > 0) return _BreakZlibStream(sequence, length);
        zstate.fill += produced;
        if (zstate.fill > ZLIB_OUTPUT_BYTES) Error_Handler();
        blockProduced += produced;
        if (flags & ZLIB_FLAG_EXECUTE) _RunInflatedCommands(sequence);
        if (zs.avail_out != 0) break;
    }
    if (blockProduced == 0) return _BreakZlibStream(sequence, length);
    zstate.lastSequence = sequence;
    return length;
}

