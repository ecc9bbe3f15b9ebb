// Compressed command blocks: a run of block commands, each with its flag
// byte, sequence number and a piece of a deflate stream, sent one by one
// through the dispatcher. What inflates runs as commands of any kind.
//
// Checks, besides the sanitizers: every block command reports the length it
// occupies, and after each block the pool's holders are in order.
#include <cstddef>
#include <cstdint>

#include "cache/commandHandlerCache.h"
#include "fuzz/fuzz_device.h"
#include "fuzz/fuzz_layout.h"
#include "host/bytes.h"
#include "host/config.h"
#include "protocol/commandHandler.h"
#include "protocol/opcodes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::runRepeatable(size, [&] {
        fuzz::Input input(data, size);
        constexpr size_t kMaxBlockBytes = RECORD_MAX_PAYLOAD_BYTES - 4;
        while (!input.empty()) {
            const uint8_t flags = input.u8();
            size_t n = 0;
            const uint8_t *bytes = input.take(input.u16() % (kMaxBlockBytes + 1), &n);
            uint8_t header[4] = {OP_ZLIB, flags};
            wr16le(header + 2, (uint16_t)n);
            const fuzz::ExactCommand command(header, sizeof header, bytes, n);
            const int32_t consumed = CMD_Zlib(command.bytes(), command.size());
            fuzz::require(consumed == (n == 0 ? -1 : (int32_t)(4 + n)), "a block command occupies its header and its bytes");
            fuzz::checkBetweenCommands();
        }
    });
    return 0;
}
