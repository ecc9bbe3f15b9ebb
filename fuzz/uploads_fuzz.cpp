// Uploads of fonts and images as a host sends them: the file and its CRC-32
// in chunks of any size through the load commands, now and then a lost, a
// repeated chunk or a bad CRC, then the resource drawn from its slot (image,
// sprite from the slot 0 picture, or a line of text). The target computes
// the CRC itself, so that the fuzzer reaches what lies behind the check.
//
// Checks, besides the sanitizers: every chunk reports the length it
// occupies, the pool's holders stay in order, and no upload writes into a
// slot it did not name.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "cache/commandHandlerCache.h"
#include "cache/flash.h"
#include "fuzz/fuzz_device.h"
#include "fuzz/fuzz_layout.h"
#include "host/bytes.h"
#include "host/config.h"
#include "host/platform.h"
#include "protocol/commandHandler.h"
#include "protocol/opcodes.h"

namespace {

using fuzzlayout::kUploadFont;

// Fits the 16-bit total with its CRC.
constexpr size_t kMaxFileBytes = 0xFFFF - 4;

// Runs one command from a block of exactly its size; returns what its
// handler returned.
int32_t _Run(const uint8_t *header, size_t headerBytes, const uint8_t *tail = nullptr, size_t tailBytes = 0) {
    const fuzz::ExactCommand command(header, headerBytes, tail, tailBytes);
    const int32_t consumed = opcodeHandlers[header[0]](command.bytes(), command.size());
    fuzz::checkBetweenCommands();
    return consumed;
}

void _SendChunk(uint8_t opcode, uint8_t slot, uint8_t format, const std::vector<uint8_t> &data, size_t offset,
                size_t length) {
    uint8_t header[9] = {opcode, slot};
    wr16le(header + 2, (uint16_t)offset);
    wr16le(header + 4, (uint16_t)data.size());
    wr16le(header + 6, (uint16_t)length);
    header[8] = format;
    const int32_t consumed = _Run(header, sizeof header, data.data() + offset, length);
    fuzz::require(consumed == -1 || consumed == (int32_t)(9 + length), "a chunk occupies its header and its bytes");
}

void _DrawResource(uint8_t kind, uint8_t slot, const uint8_t position[3]) {
    if (kind & kUploadFont) {
        static const char kText[] = "Hamburgefonstiv 0123 \xC3\x84\xC3\x96";
        uint8_t header[7] = {OP_DRAW_TEXT, slot, position[0], position[1], position[2], 0, sizeof kText - 1};
        _Run(header, sizeof header, reinterpret_cast<const uint8_t *>(kText), sizeof kText - 1);
        return;
    }
    const uint8_t image[5] = {OP_DRAW_IMAGE, slot, position[0], position[1], position[2]};
    _Run(image, sizeof image);
    if (slot == 0) {
        // A 40 x 30 pixel sprite from the picture's top-left corner.
        const uint8_t sprite[11] = {OP_DRAW_SPRITE, 0, position[0], position[1], position[2], 0, 0, 0, 0x00, 80, 60};
        _Run(sprite, sizeof sprite);
    }
}

bool _AllZero(const uint8_t *p, size_t n) {
    static const uint8_t zeros[FONT_SLOT_BYTES] = {0};
    return memcmp(p, zeros, n) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::runRepeatable(size, [&] {
        fuzz::Input input(data, size);
        uint32_t imageSlotsNamed = 0, fontSlotsNamed = 0;
        while (!input.empty()) {
            const uint8_t kind = input.u8(), slot = input.u8(), format = input.u8();
            const uint16_t chunkField = input.u16();
            const size_t chunkBytes = chunkField ? chunkField : 1;
            const uint8_t faults = input.u8();
            uint8_t position[3];
            for (uint8_t &b : position) b = input.u8();
            size_t fileBytes = 0;
            const uint8_t *file = input.take(input.u16() % (kMaxFileBytes + 1), &fileBytes);
            if (slot < 32) ((kind & kUploadFont) ? fontSlotsNamed : imageSlotsNamed) |= 1u << slot;

            std::vector<uint8_t> resource(file, file + fileBytes);
            uint32_t crc = CRC_Calculate(file, (uint32_t)fileBytes);
            if (faults & fuzzlayout::kUploadBadCrc) crc ^= 1;
            resource.resize(fileBytes + 4);
            wr32le(resource.data() + fileBytes, crc);

            const uint8_t opcode = (kind & kUploadFont) ? OP_LOAD_FONT : OP_LOAD_IMAGE;
            size_t offset = 0;
            for (int index = 0; offset < resource.size(); index++) {
                const size_t length = std::min(chunkBytes, resource.size() - offset);
                const bool lost = index == 1 && (faults & fuzzlayout::kUploadSkipChunk);
                if (!lost) _SendChunk(opcode, slot, format, resource, offset, length);
                if (index == 0 && (faults & fuzzlayout::kUploadRepeatChunk)) {
                    _SendChunk(opcode, slot, format, resource, offset, length);
                }
                offset += length;
            }
            if (kind & fuzzlayout::kUploadDraw) _DrawResource(kind, slot, position);
        }
        // The flash starts empty: a slot that no upload named stays so.
        for (uint32_t slot = 1; slot < IMAGE_SLOT_COUNT; slot++) {
            if (!(imageSlotsNamed >> slot & 1)) {
                fuzz::require(_AllZero(FLASH_Address(imageSlotOffset(slot)), IMAGE_SLOT_BYTES),
                              "an upload writes only into the slot it names");
            }
        }
        for (uint32_t slot = FONT_FIRST_FLASH_SLOT; slot < FONT_SLOT_COUNT; slot++) {
            if (!(fontSlotsNamed >> slot & 1)) {
                fuzz::require(_AllZero(FLASH_Address(fontSlotOffset(slot)), FONT_SLOT_BYTES),
                              "an upload writes only into the slot it names");
            }
        }
    });
    return 0;
}
