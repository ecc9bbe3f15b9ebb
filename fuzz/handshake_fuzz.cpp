// Handshake reassembly: chunks with any counter, offset, length and total,
// the message's fixed fields and its signature check.
//
// Checks, besides the sanitizers: reassembly writes nothing past the largest
// message in the staging area it shares with the uploads, every chunk
// reports the length it occupies or stops the payload, and the signature
// check gives the pool back.
#include <cstddef>
#include <cstdint>

#include "cache/commandHandlerCache.h"
#include "fuzz/fuzz_device.h"
#include "fuzz/fuzz_layout.h"
#include "gui/GUI_Alloc.h"
#include "host/bytes.h"
#include "protocol/commandHandler.h"
#include "protocol/opcodes.h"
#include "protocol/eventHandler.h"

// The largest message is 1024 bytes; a chunk starts inside it and is no
// longer than it, so nothing past twice that may change.
constexpr size_t kReassemblyReach = 2048;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::runRepeatable(size, [&] {
        fuzz::Input input(data, size);
        if (input.u8() & fuzzlayout::kHandshakeConnect) onBLEConnected(1);
        while (!input.empty()) {
            uint8_t header[11] = {OP_HANDSHAKE};
            wr32le(header + 1, input.u32());
            const uint16_t offset = input.u16(), n = input.u16(), total = input.u16();
            wr16le(header + 5, offset);
            wr16le(header + 7, n);
            wr16le(header + 9, total);
            size_t taken = 0;
            const uint8_t *bytes = input.take(n, &taken);
            const fuzz::ExactCommand command(header, sizeof header, bytes, taken);
            const int32_t consumed = CMD_handShake(command.bytes(), command.size());
            fuzz::require(consumed == -1 || consumed == (int32_t)(11 + n), "a chunk occupies its header and its bytes");
            fuzz::require(ALLOC_buffer_idx == 0, "the signature check gives the pool back");
        }
        for (size_t i = kReassemblyReach; i < sizeof packet_cache; i++) {
            fuzz::require(packet_cache[i] == 0, "reassembly stays in the first 2 KiB of the staging area");
        }
    });
    return 0;
}
