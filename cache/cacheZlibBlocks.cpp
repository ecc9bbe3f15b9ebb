// Compressed command blocks. The host keeps one deflate stream open across
// many blocks. Each block is inflated into a small buffer as it arrives; a
// block with the execute flag runs what has been inflated so far through
// the dispatcher.
#include "cache/commandHandlerCache.h"

#include <cstring>
#include <zlib.h>

#include "codecs/inflate_area.h"
#include "host/bytes.h"
#include "host/platform.h"
#include "protocol/commandHandler.h"

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
    zstate.broken = 1;
    return reportCommand(OP_ZLIB, RESULT_SEQUENCE, sequence, length);
}

// Runs what has been inflated so far. A piece that ends inside a command cuts
// it; the dispatcher reports that as any truncated command.
static void _RunInflatedCommands(uint8_t sequence) {
    if (zstate.fill == 0) return;
    zstate.executing = 1;
    const DispatchResult ran = handleCommand(zstate.output, zstate.fill);
    zstate.executing = 0;
    if (ran != DISPATCH_DONE) handleCommandError(OP_ZLIB, RESULT_DECODE_FAILED, sequence);
    zstate.fill = 0;
}

int32_t CMD_Zlib(const uint8_t *command, uint32_t remaining) {
    if (remaining < ZLIB_BLOCK_HEADER_BYTES + 1) return commandMalformed(OP_ZLIB, NO_DETAIL);
    uint8_t flags = command[1];
    uint8_t sequence = flags & ZLIB_SEQUENCE_MASK;
    uint32_t n = rd16le(command + 2);
    if (n == 0 || remaining < ZLIB_BLOCK_HEADER_BYTES + n) return commandMalformed(OP_ZLIB, NO_DETAIL);
    const int32_t length = (int32_t)(ZLIB_BLOCK_HEADER_BYTES + n);

    // A block among the inflated commands of another block would inflate into
    // the buffer that is being run and replace the stream under it. It is
    // refused as not supported, and the commands after it go on.
    if (zstate.executing) return reportCommand(OP_ZLIB, RESULT_UNSUPPORTED, sequence, length);

    if (flags & ZLIB_FLAG_START) {
        zstate.broken = 0;
        if (!_StartZlibStream()) return _BreakZlibStream(sequence, length);
    } else if (zstate.broken != 0 || sequence != ((zstate.lastSequence + 1) & ZLIB_SEQUENCE_MASK)) {
        // The first refusal is reported, then every sixth.
        if (zstate.broken == 0 || zstate.broken % 6 == 5) {
            handleCommandError(OP_ZLIB, RESULT_SEQUENCE, sequence);
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

