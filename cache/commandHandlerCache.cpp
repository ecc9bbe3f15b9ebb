// The font and image cache kept in the emulated flash, the chunked uploads
// staged in packet_cache, the image, sprite and clip commands, and the
// compressed command blocks.
#include "cache/commandHandlerCache.h"

#include <cstring>

#include "cache/flash.h"
#include "host/main.h"
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

    load_font(0, 2, BUILTIN_FONT_SMALL_SIF, BUILTIN_FONT_SMALL_SIF_size);
    load_font(1, 2, BUILTIN_FONT_MEDIUM_SIF, BUILTIN_FONT_MEDIUM_SIF_size);
    load_font(2, 2, BUILTIN_FONT_BIG_SIF, BUILTIN_FONT_BIG_SIF_size);
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


// ------------------------------------------------- image, sprite and clip commands


// ------------------------------------------------------- compressed command blocks

// Includes of this section kept with it.
#include <cstring>
#include <zlib.h>

#include "host/bytes.h"
#include "host/main.h"
#include "protocol/commandHandler.h"

// The host keeps one deflate stream open across many blocks. Each block is
// inflated into a small buffer as it arrives; a block with the execute flag
// runs what has been inflated so far through the dispatcher.
static constexpr uint8_t ZLIB_OPCODE = 0x0A;
static constexpr uint32_t ZLIB_BLOCK_HEADER_BYTES = 4;
static constexpr uint8_t ZLIB_FLAG_EXECUTE = 0x80;
static constexpr uint8_t ZLIB_FLAG_START = 0x40;
static constexpr uint8_t ZLIB_SEQUENCE_MASK = 0x3F;
static constexpr uint32_t ZLIB_OUTPUT_BYTES = 3072;
// What zlib 1.2.13 asks its allocation hook for: its inflate state, then the
// 32 KiB window on the first call that produces output. A zlib that asks for
// more is refused by the hook, and the start block fails with a report.
static constexpr uint32_t ZLIB_INFLATE_STATE_BYTES = 7160;
static constexpr uint32_t ZLIB_WINDOW_BYTES = 32768;

struct ZlibBlockStream {
    uint8_t output[ZLIB_OUTPUT_BYTES];   // inflated command bytes not yet run
    uint32_t fill;                       // bytes waiting in output
    uint32_t broken = 1;                 // 0: in order; else blocks refused since it broke
    uint32_t lastSequence;               // 0 to 63
    uint8_t executing;                   // set while the inflated commands run
    uint8_t stateAreaInUse;
    uint8_t windowInUse;
    z_stream inflater;
    alignas(16) uint8_t stateArea[ZLIB_INFLATE_STATE_BYTES];
    alignas(16) uint8_t window[ZLIB_WINDOW_BYTES];
};

// Broken until the host sends its first start block.
static ZlibBlockStream zstate;

static void _ResetZlibBlocks() {
    memset(static_cast<void *>(&zstate), 0, sizeof zstate);
    zstate.broken = 1;
}
SIM_REGISTER_RESET(_ResetZlibBlocks);

// zlib's allocation hooks: the two areas inside zstate are handed out, each
// once, to the requests that fit them; anything else is refused.
static voidpf _ZlibAlloc(voidpf opaque, uInt items, uInt size) {
    auto *z = static_cast<ZlibBlockStream *>(opaque);
    uint64_t bytes = (uint64_t)items * size;
    if (!z->stateAreaInUse && bytes <= sizeof z->stateArea) {
        z->stateAreaInUse = 1;
        return z->stateArea;
    }
    if (!z->windowInUse && bytes <= sizeof z->window) {
        z->windowInUse = 1;
        return z->window;
    }
    SIM_LOG("%s: refused a request of %llu bytes\n", "CMD_Zlib", (unsigned long long)bytes);
    return Z_NULL;
}

static void _ZlibFree(voidpf opaque, voidpf block) {
    auto *z = static_cast<ZlibBlockStream *>(opaque);
    if (block == z->stateArea) z->stateAreaInUse = 0;
    if (block == z->window) z->windowInUse = 0;
}

static bool _StartZlibStream() {
    memset(zstate.stateArea, 0, sizeof zstate.stateArea);
    zstate.stateAreaInUse = 0;
    zstate.windowInUse = 0;
    memset(&zstate.inflater, 0, sizeof zstate.inflater);
    zstate.inflater.zalloc = _ZlibAlloc;
    zstate.inflater.zfree = _ZlibFree;
    zstate.inflater.opaque = &zstate;
    zstate.fill = 0;
    zstate.lastSequence = 0;
    return inflateInit2(&zstate.inflater, 15) == Z_OK;
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

