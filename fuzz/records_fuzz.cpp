// The whole record stream in-process, as nimbra-sim runs it: the input is a
// recording. Every command, the nested ones of the logo screens and the
// compressed blocks included, is reachable from here.
//
// Checks, besides the sanitizers: packets are framed whole, the stream count
// never passes the input, the pool's holders are in order when the stream
// ends, and now and then the same stream on a pool that held other bytes
// gives the same replies and screen.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_device.h"
#include "host/main.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::runRepeatable(size, [&] {
        SIM_RunRecordBytes(data, size);
        fuzz::require(processedBytes <= size, "the stream count never passes the input");
        fuzz::checkBetweenCommands();
    });
    return 0;
}
