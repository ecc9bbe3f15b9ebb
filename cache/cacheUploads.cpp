// Uploads of fonts and images. A resource arrives as chunks laid end to end
// in packet_cache: a 16-byte staging record (magic while an upload is in
// progress, the bytes received in its size field, the format code) and the
// data behind it. The data ends with the CRC-32 of the file before it. A
// complete font is stored in its flash slot (inflated first when it comes
// compressed); a complete image is stored in its flash slot, or, for slot 0,
// decoded into a picture in the memory pool.
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
#include "cache/commandHandlerCache.h"

#include <cstring>
#include <zlib.h>

#include "cache/cacheInternal.h"
#include "cache/flash.h"
#include "codecs/GUI_JPEG.h"
#include "codecs/GUI_PNG.h"
#include "codecs/inflate_area.h"
#include "codecs/mpeg.h"
#include "gui/GUI_Alloc.h"
#include "gui/GUI_Common.h"
#include "host/bytes.h"
#include "host/platform.h"
#include "protocol/commandHandler.h"

alignas(8) uint8_t packet_cache[PACKET_CACHE_SIZE_BYTES];

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

GUI_PoolExtent slot0PicturePoolExtent() {
    return memDeviceMemory ? GUI_PoolExtent{memDeviceMark, memDeviceEnd} : GUI_PoolExtent{};
}

constexpr uint32_t UPLOAD_HEADER_BYTES = 9;
constexpr uint32_t UPLOAD_CRC_BYTES = 4;
constexpr uint8_t FONT_FORMAT_COMPRESSED = 0x20;
// The compressed font is inflated behind a gap for its cache record.
constexpr uint32_t FONT_INFLATE_BUFFER_BYTES = 32768;
constexpr uint32_t FONT_INFLATE_ROOM = FONT_INFLATE_BUFFER_BYTES - CACHE_RECORD_BYTES;

struct UploadLimits {
    uint8_t opcode;
    uint8_t firstSlot, lastSlot;
    uint32_t maxOffset;
    uint32_t maxTotal;
};
static constexpr UploadLimits kFontUpload{OP_LOAD_FONT, FONT_FIRST_FLASH_SLOT, FONT_SLOT_COUNT - 1, 32766,
                                          FONT_MAX_DATA_BYTES};
static constexpr UploadLimits kImageUpload{OP_LOAD_IMAGE, 0, IMAGE_SLOT_COUNT - 1, 16382, IMAGE_MAX_DATA_BYTES};
static_assert(CACHE_RECORD_BYTES + FONT_MAX_DATA_BYTES <= PACKET_CACHE_SIZE_BYTES, "fonts are staged whole");

static uint8_t *const stagingData = packet_cache + CACHE_RECORD_BYTES;

static void _ClearStaging() { memset(packet_cache, 0, CACHE_RECORD_BYTES); }

// Ends the upload in progress: the staging record is cleared and the result
// reported. Returns the handler's result, the chunk's length.
static int32_t _EndUpload(uint8_t opcode, uint8_t code, uint8_t slot, int32_t length) {
    _ClearStaging();
    return reportCommand(opcode, code, slot, length);
}

struct UploadChunk {
    uint8_t slot;
    uint16_t offset;
    uint16_t total;       // T: the file and its 4 CRC bytes
    uint16_t length;
    uint8_t format;       // the format byte as sent
    uint8_t stagedFormat; // the format code the staging record carries
    const uint8_t *data;
};

// What became of one chunk. Unless it completed the upload, it has been
// answered as needed and `length` is all the handler has left to return.
struct ReceivedChunk {
    int32_t length = HANDLER_STOP;   // the handler's result
    bool complete = false;           // the upload is whole and its CRC matched
    UploadChunk chunk{};
    uint32_t crc = 0;                // the file's CRC-32, once complete
};

// Takes one chunk into the staging area.
static ReceivedChunk _ReceiveChunk(const uint8_t *command, uint32_t remaining, const UploadLimits &limits) {
    ReceivedChunk received;
    UploadChunk &c = received.chunk;
    if (remaining < UPLOAD_HEADER_BYTES + 1) {
        received.length = commandMalformed(limits.opcode, NO_DETAIL);
        return received;
    }
    c.slot = command[1];
    c.offset = rd16le(command + 2);
    c.total = rd16le(command + 4);
    c.length = rd16le(command + 6);
    c.format = command[8];
    c.data = command + UPLOAD_HEADER_BYTES;
    const bool isFont = limits.opcode == OP_LOAD_FONT;
    c.stagedFormat = isFont ? (uint8_t)(c.format & CACHE_FORMAT_CODE_MASK) : c.format;

    // Beyond the listed limits, a chunk must end inside its resource (and so
    // inside the staging area), and the resource must hold at least its CRC.
    const bool badHeader = c.slot < limits.firstSlot || c.slot > limits.lastSlot || c.offset > limits.maxOffset ||
                           c.total > limits.maxTotal || c.total < UPLOAD_CRC_BYTES || c.length < 1 ||
                           c.length > remaining - UPLOAD_HEADER_BYTES || (uint32_t)c.offset + c.length > c.total ||
                           (!isFont && c.format != CACHE_IMAGE_FORMAT_PNG && c.format != CACHE_IMAGE_FORMAT_JPEG);
    if (badHeader) {
        received.length = commandMalformed(limits.opcode, c.slot);
        return received;
    }
    const int32_t length = (int32_t)(UPLOAD_HEADER_BYTES + c.length);
    received.length = length;

    if (c.offset == 0) {
        CacheRecord fresh{};
        fresh.magic = CACHE_RECORD_MAGIC;
        fresh.format = c.stagedFormat;
        writeCacheRecord(packet_cache, fresh);
    }
    CacheRecord staged = readCacheRecord(packet_cache);
    if (staged.magic != CACHE_RECORD_MAGIC || staged.size != c.offset || staged.format != c.stagedFormat) {
        received.length = _EndUpload(limits.opcode, RESULT_SEQUENCE, c.slot, length);
        return received;
    }
    memcpy(stagingData + c.offset, c.data, c.length);
    staged.size = (uint16_t)(staged.size + c.length);
    writeCacheRecord(packet_cache, staged);
    if (staged.size != c.total) return received;   // more chunks to come

    const uint32_t fileBytes = c.total - UPLOAD_CRC_BYTES;
    received.crc = CRC_Calculate(stagingData, fileBytes);
    if (received.crc != rd32le(stagingData + fileBytes)) {
        received.length = _EndUpload(limits.opcode, RESULT_CRC_MISMATCH, c.slot, length);
        return received;
    }
    received.complete = true;
    return received;
}

// The slot already holds exactly this resource.
static bool _AlreadyCached(const uint8_t *record, const CacheRecord &staged) {
    if (!cacheRecordUsable(record)) return false;
    CacheRecord r = readCacheRecord(record);
    return r.crc == staged.crc && r.size == staged.size && r.format == staged.format;
}

// ---------------------------------------------------------------------- fonts

// Inflates the staged zlib stream of a font and writes the SIF file it gives
// into the slot. Returns the result code to report, or RESULT_OK with the
// staging record's size set to the inflated size.
static uint8_t _StoreCompressedFont(uint8_t *slotRecord, CacheRecord &staged) {
    const uint32_t need = FONT_INFLATE_BUFFER_BYTES + INFLATE_AREA_POOL_BYTES;
    if (GUI_GetNumFreeBytes() < need) {
        SIM_LOG("CMD_loadFont: no pool room to inflate the font\n");
        return RESULT_SEQUENCE;
    }
    const PoolMark job;
    uint8_t *out = static_cast<uint8_t *>(GUI_AllocNoInit(FONT_INFLATE_BUFFER_BYTES));
    InflateArea *area = InflateArea_FromPool();
    z_stream zs;
    if (InflateArea_Init(&zs, area) != Z_OK) return RESULT_SEQUENCE;
    // All T bytes are offered, the CRC behind the file included, as the
    // device does: a complete stream ends before the CRC, but one that lacks
    // its Adler-32 trailer has the CRC read as that trailer and is refused,
    // so that no upload works only here.
    zs.next_in = stagingData;
    zs.avail_in = staged.size;
    zs.next_out = out + CACHE_RECORD_BYTES;
    zs.avail_out = FONT_INFLATE_ROOM;
    const int z = inflate(&zs, Z_NO_FLUSH);
    const uint32_t produced = FONT_INFLATE_ROOM - zs.avail_out;
    inflateEnd(&zs);
    if (z != Z_OK && z != Z_STREAM_END) return RESULT_SEQUENCE;
    if (produced >= FONT_INFLATE_ROOM) return RESULT_MALFORMED;   // the font would fill the slot: too large
    // Output counts even when the stream had not reached its end.
    staged.size = (uint16_t)produced;
    writeCacheRecord(out, staged);
    FLASH_write_data(slotRecord, out, CACHE_RECORD_BYTES + produced);
    return RESULT_OK;
}

int32_t CMD_loadFont(const uint8_t *command, uint32_t remaining) {
    const ReceivedChunk received = _ReceiveChunk(command, remaining, kFontUpload);
    if (!received.complete) return received.length;
    const UploadChunk &c = received.chunk;

    CacheRecord staged = readCacheRecord(packet_cache);
    staged.valid = 1;
    staged.crc = received.crc;
    writeCacheRecord(packet_cache, staged);
    uint8_t *slotRecord = FLASH_Address(fontSlotOffset(c.slot));

    if (!_AlreadyCached(slotRecord, staged)) {
        if (!(c.format & FONT_FORMAT_COMPRESSED)) {
            FLASH_write_data(slotRecord, packet_cache, CACHE_RECORD_BYTES + staged.size);
        } else {
            const uint8_t code = _StoreCompressedFont(slotRecord, staged);
            // A stream that does not inflate leaves the staging record as it
            // is, describing the finished upload: a chunk whose offset is
            // where that upload ended would continue it, as on the device;
            // any other chunk restarts or is refused.
            if (code != RESULT_OK) return reportCommand(OP_LOAD_FONT, code, c.slot, received.length);
        }
    }
    if (load_font(c.slot, c.stagedFormat, slotRecord + CACHE_RECORD_BYTES, staged.size) != SIF_OK) {
        eraseCacheRecord(slotRecord);
        return _EndUpload(OP_LOAD_FONT, RESULT_SEQUENCE, c.slot, received.length);
    }
    return _EndUpload(OP_LOAD_FONT, RESULT_OK, c.slot, received.length);
}

// --------------------------------------------------------------------- images

struct PictureSize {
    uint32_t width = 0, height = 0;
    bool transparent = false;
};

// Reads the picture size from the file's header: RESULT_OK, or
// RESULT_DECODE_FAILED when the header is refused (a progressive JPEG
// included).
static uint8_t _ReadPictureSize(uint8_t formatCode, const uint8_t *file, uint32_t size, PictureSize &p) {
    if (formatCode == CACHE_IMAGE_FORMAT_PNG) {
        uint8_t alpha = 0;
        if (GUI_PNG_GetSize(file, size, &p.width, &p.height, &alpha) != PNG_OK) return RESULT_DECODE_FAILED;
        p.transparent = alpha != 0;
        return RESULT_OK;
    }
    uint8_t progressive = 0;
    if (GUI_JPEG_GetSize(file, size, &p.width, &p.height, &progressive) != JPEG_OK || progressive) {
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

    uint8_t code = RESULT_DECODE_FAILED;   // a picture without pixels cannot be drawn into
    if (p.width != 0 && p.height != 0) {
        GUI_SetFrameBufferBase(memDeviceMemory, p.width, p.height);
        code = formatCode == CACHE_IMAGE_FORMAT_PNG ? pngResultCode(GUI_PNG_Draw(stagingData, total, 0, 0))
                                                    : jpegResultCode(GUI_JPEG_Draw(stagingData, total, 0, 0));
        GUI_RestoreFrameBufferBase();
    }
    if (code != RESULT_OK) {
        _ReleaseSlot0Picture();
        return code;
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
    const ReceivedChunk received = _ReceiveChunk(command, remaining, kImageUpload);
    if (!received.complete) return received.length;
    const UploadChunk &c = received.chunk;
    const int32_t length = received.length;

    CacheRecord staged = readCacheRecord(packet_cache);
    const uint32_t total = staged.size;
    // Reading a JPEG's header takes a decoder record from the pool, which a
    // held picture and a running video may have filled; a PNG's header is
    // read in place.
    if (c.format == CACHE_IMAGE_FORMAT_JPEG && GUI_GetNumFreeBytes() < JPEG_CONTEXT_BYTES) {
        return _EndUpload(OP_LOAD_IMAGE, RESULT_SEQUENCE, c.slot, length);
    }
    PictureSize p;
    const uint8_t header = _ReadPictureSize(c.format, stagingData, total, p);
    if (header != RESULT_OK) return _EndUpload(OP_LOAD_IMAGE, header, c.slot, length);
    if (p.width > (uint32_t)SCREEN_WIDTH || p.height > (uint32_t)SCREEN_HEIGHT) {
        return _EndUpload(OP_LOAD_IMAGE, RESULT_MALFORMED, c.slot, length);
    }
    if (p.transparent) staged.format |= CACHE_FORMAT_TRANSPARENT;

    if (c.slot == 0) {
        // The upload is over whatever follows; the data stays for decoding.
        wr32le(packet_cache, 0);
        return reportCommand(OP_LOAD_IMAGE, _DecodeSlot0Picture(c.format, total, received.crc, p), 0, length);
    }

    staged.crc = received.crc;
    staged.valid = 1;
    staged.width = (uint16_t)p.width;
    staged.height = (uint16_t)p.height;
    writeCacheRecord(packet_cache, staged);
    uint8_t *slotRecord = imageCacheAddress[c.slot];
    if (!_AlreadyCached(slotRecord, staged)) FLASH_write_data(slotRecord, packet_cache, CACHE_RECORD_BYTES + total);
    return _EndUpload(OP_LOAD_IMAGE, RESULT_OK, c.slot, length);
}
