// Random and truncated commands of every opcode must never crash the device,
// write outside its buffers (the sanitizer build checks) or break the packet
// stream.
#include <gtest/gtest.h>

#include "gui/GUI_Alloc.h"
#include "host/main.h"
#include "protocol/commandHandler.h"
#include "tests/support/device_fixture.h"

namespace {

struct XorShift {
    uint32_t s;
    uint32_t next() {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    }
};

}  // namespace

class HostileInput : public DeviceTest {};

TEST_F(HostileInput, RandomCommandsOfEveryOpcode) {
    XorShift rng{0x12345678};
    for (int round = 0; round < 4000; round++) {
        uint8_t payload[96];
        uint32_t length = 1 + rng.next() % sizeof payload;
        for (uint32_t i = 0; i < length; i++) payload[i] = (uint8_t)rng.next();
        payload[0] = (uint8_t)(rng.next() % 51);
        // Small lengths in the usual length fields make deeper paths likely.
        if (length > 8 && (rng.next() & 1)) payload[6] = (uint8_t)(rng.next() % 16);
        handleCommand(payload, length);
        running = 1;
        if (testsupport::capturedFrames().size() > (8u << 20)) testsupport::clearCaptures();
    }
    std::vector<nimbra::Packet> parsed;
    EXPECT_TRUE(nimbra::parsePackets(testsupport::capturedPackets(), parsed));
    EXPECT_LE(ALLOC_buffer_idx, POOL_SIZE_BYTES);
}

TEST_F(HostileInput, EveryOpcodeTruncatedAtEveryLength) {
    uint8_t payload[64];
    for (int op = 0; op <= 50; op++) {
        for (uint32_t length = 1; length <= sizeof payload; length++) {
            for (uint32_t i = 0; i < length; i++) payload[i] = (uint8_t)(0xFF - i * 3);
            payload[0] = (uint8_t)op;
            int32_t result = handleCommand(payload, length);
            EXPECT_TRUE(result == 0 || result == -1);
            running = 1;
        }
        testsupport::clearCaptures();
    }
}

TEST_F(HostileInput, RandomRecordStreamsThroughTheRecordLoop) {
    XorShift rng{0xC0FFEE};
    for (int round = 0; round < 200; round++) {
        std::vector<uint8_t> stream;
        for (int r = 0; r < 8; r++) {
            uint32_t length = rng.next() % 64;
            // Now and then a length the loop must drop (above 2048) or one
            // that runs past the end of the stream.
            uint32_t claimed = (rng.next() % 8 == 0) ? length + (rng.next() % 4000) : length;
            for (int shift = 24; shift >= 0; shift -= 8) stream.push_back((uint8_t)(claimed >> shift));
            for (int i = 0; i < 4; i++) stream.push_back((uint8_t)rng.next());
            for (uint32_t i = 0; i < length; i++) stream.push_back((uint8_t)(i == 0 ? rng.next() % 51 : rng.next()));
        }
        stream.resize(stream.size() - rng.next() % 8);   // cut anywhere, even inside a header
        processedBytes = 0;
        SIM_RunRecordBytes(stream.data(), stream.size());
        EXPECT_LE(processedBytes, stream.size());
        running = 1;
        testsupport::clearCaptures();
    }
}
