// The text form of recordings, both ways, in the host library: any bytes
// disassemble to text that assembles back to the same bytes, and any script
// either assembles or is refused with a message, and a script that
// assembles gives a stream whose text assembles to that stream again.
//
// Scripts whose strings name files (includes, uploads, clips, keys) are
// skipped: they would read whatever file the fuzzer names.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_device.h"
#include "fuzz/fuzz_layout.h"
#include "tools/hostlib/assembler.h"
#include "tools/hostlib/disassembler.h"

namespace {

bool namesAFile(std::string_view script) {
    if (script.find('"') == std::string_view::npos) return false;
    for (std::string_view word : {"include", "video", "load-image", "load-font", "handshake"})
        if (script.find(word) != std::string_view::npos) return true;
    return false;
}

// The stream's text assembles to the stream.
void requireRoundTrip(const nimbra::Bytes &stream) {
    nimbra::ScriptError error;
    const auto again = nimbra::assembleText(nimbra::disassembleStream(stream), "disassembly", "", error);
    fuzz::require(again.has_value(), "a disassembly assembles");
    fuzz::require(*again == stream, "a disassembly assembles to the bytes it came from");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const uint8_t *rest = data + 1;
    if (!(data[0] & fuzzlayout::kTextFormScript)) {
        requireRoundTrip(nimbra::Bytes(rest, rest + size - 1));
        return 0;
    }
    const std::string_view script((const char *)rest, size - 1);
    if (namesAFile(script)) return 0;
    nimbra::ScriptError error;
    const auto stream = nimbra::assembleText(script, "fuzz.nsc", "", error);
    if (!stream) {
        fuzz::require(!error.message.empty(), "a refused script says why");
        return 0;
    }
    requireRoundTrip(*stream);
    return 0;
}
