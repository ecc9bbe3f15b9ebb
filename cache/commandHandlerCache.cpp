// The font and image cache kept in the emulated flash, the chunked uploads
// staged in packet_cache, the image, sprite and clip commands, and the
// compressed command blocks.
#include "cache/commandHandlerCache.h"

alignas(8) uint8_t packet_cache[PACKET_CACHE_SIZE_BYTES];

// ------------------------------------------------- cache slots and the cache command

void initCache() {}

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

