// Shape commands (lines, paths, splines, rectangles, ellipses, arcs,
// polygons) with colours and pens between them, under a clip rectangle. The
// input is a placement, then commands as the device reads them; an opcode
// byte that is no shape or state command stands for one of those.
//
// Checks, besides the sanitizers: no shape changes a pixel outside the clip
// rectangle, and each leaves the graphics context and the pool as they were.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_device.h"
#include "protocol/commandHandler.h"
#include "protocol/opcodes.h"

namespace {

// Commands that only set state, then those that draw.
constexpr uint8_t kStateOpcodes[] = {OP_SET_COLOR, OP_SET_PEN_STYLE};
constexpr uint8_t kOpcodes[] = {OP_SET_COLOR,    OP_SET_PEN_STYLE, OP_DRAW_RECT, OP_DRAW_PATH,
                                OP_DRAW_ELLIPSE, OP_DRAW_LINE,     OP_DRAW_ARC,  OP_DRAW_POLYGON};

bool _SetsState(uint8_t opcode) { return opcode == kStateOpcodes[0] || opcode == kStateOpcodes[1]; }

uint8_t _Opcode(uint8_t byte) {
    for (uint8_t opcode : kOpcodes) {
        if (byte == opcode) return opcode;
    }
    return kOpcodes[byte % sizeof kOpcodes];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::runRepeatable(size, [&] {
        fuzz::Input input(data, size);
        fuzz::applyPlacement(input);
        size_t left = 0;
        const uint8_t *p = input.take(input.left(), &left);
        while (left > 0) {
            const uint8_t opcode = _Opcode(p[0]);
            int32_t consumed;
            if (_SetsState(opcode)) {
                consumed = opcodeHandlers[opcode](p, (uint32_t)left);
            } else {
                fuzz::DrawGuard guard;
                consumed = opcodeHandlers[opcode](p, (uint32_t)left);
                guard.check();
            }
            fuzz::checkBetweenCommands();
            if (consumed <= 0 || (size_t)consumed > left) break;
            p += consumed;
            left -= (size_t)consumed;
        }
    });
    return 0;
}
