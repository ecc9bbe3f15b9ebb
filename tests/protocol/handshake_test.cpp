// The authentication handshake: reassembly of the chunks, the checks in their
// order, the replay counter, the bound identity and the signature check.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cache/flash.h"
#include "gui/GUI_Alloc.h"
#include "gui/GUI_Common.h"
#include "host/bytes.h"
#include "protocol/commandHandler.h"
#include "protocol/crypto_sign.h"
#include "protocol/eventHandler.h"
#include "tests/support/device_fixture.h"
#include "tools/hostlib/handshake.h"

using nimbra::Bytes;

namespace {

const nimbra::SigningKey &developmentKey() {
    static std::unique_ptr<nimbra::SigningKey> key = [] {
        std::string error;
        auto k = nimbra::SigningKey::load(std::string(NIMBRA_SOURCE_DIR) + "/" + nimbra::kDevelopmentKeyPath, error);
        if (!k) ADD_FAILURE() << error;
        return k;
    }();
    if (!key) abort();
    return *key;
}

Bytes signedMessage(uint16_t peer, uint32_t limit = 0) {
    nimbra::HandshakeMessage m;
    m.peerId = peer;
    m.counterLimit = limit;
    Bytes message = nimbra::buildHandshakeMessage(developmentKey(), m);
    EXPECT_EQ(message.size(), nimbra::kHandshakeMessageBytes);
    return message;
}

const Bytes kAccepted = {0x04, 0x1E, 0x00, 0x00};
const Bytes kMalformed = {0x04, 0x1E, 0x01, 0x00};
const Bytes kGap = {0x04, 0x1E, 0x02, 0x00};
const Bytes kAuthFailed = {0x04, 0x1E, 0xE0, 0x00};
const Bytes kCounterRejected = {0x04, 0x1E, 0xE1, 0x00};
const Bytes kOtherIdentity = {0x04, 0x1E, 0xE4, 0x00};

uint32_t firstHandshakeWord() { return rd32le(orvDynData + 36); }

}  // namespace

class HandshakeTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        onBLEConnected(1);   // unbinds the identity
        testsupport::clearCaptures();
    }

    // Sends the message as chunks, each in its own payload; returns the
    // packets the device sent.
    std::vector<Bytes> send(const Bytes &message, uint32_t counter, size_t chunkBytes = 0) {
        testsupport::clearCaptures();
        for (const Bytes &chunk : nimbra::handshakeChunks(message, counter, chunkBytes)) testsupport::run(chunk);
        return testsupport::packets();
    }

    // Runs one chunk with every field given; returns the handler's walk result.
    std::vector<Bytes> sendChunk(uint32_t counter, uint16_t offset, uint16_t total, const Bytes &data,
                                 int32_t *result = nullptr) {
        testsupport::clearCaptures();
        Bytes chunk = nimbra::handshakeChunk(counter, offset, total, data.data(), (uint16_t)data.size());
        int32_t r = testsupport::run(chunk);
        if (result) *result = r;
        return testsupport::packets();
    }
};

TEST(CryptoSign, BuiltInKeyIsTheDevelopmentKey) {
    ASSERT_EQ(RSA_PUB_N[0], 0x00);
    Bytes n(RSA_PUB_N + 1, RSA_PUB_N + RSA_PUB_N_BYTES);
    EXPECT_EQ(developmentKey().modulus(), n);
    EXPECT_EQ(developmentKey().exponent(), Bytes(RSA_PUB_E, RSA_PUB_E + RSA_PUB_E_BYTES));
    EXPECT_EQ(developmentKey().signatureBytes(), 256u);
}

TEST(CryptoSign, VerifiesAndRefusesWithoutMovingThePool) {
    Bytes message = signedMessage(3);
    testsupport::resetDevice(false);
    // A job below the check keeps its memory; the check returns to its own mark.
    uint32_t outer = GUI_AllocStart();
    GUI_AllocNoInit(100);
    uint32_t before = ALLOC_buffer_idx;
    EXPECT_EQ(verifySigniture(message.data(), 29, message.data() + 29), 0);
    EXPECT_EQ(ALLOC_buffer_idx, before);

    Bytes badData = message;
    badData[10] ^= 0x01;
    EXPECT_NE(verifySigniture(badData.data(), 29, badData.data() + 29), 0);
    Bytes badSignature = message;
    badSignature[284] ^= 0x80;
    EXPECT_NE(verifySigniture(badSignature.data(), 29, badSignature.data() + 29), 0);
    // A signature above the modulus is refused before any arithmetic.
    Bytes huge = message;
    std::fill(huge.begin() + 29, huge.end(), 0xFF);
    EXPECT_NE(verifySigniture(huge.data(), 29, huge.data() + 29), 0);
    // The same signature does not cover a different length.
    EXPECT_NE(verifySigniture(message.data(), 28, message.data() + 29), 0);
    EXPECT_EQ(ALLOC_buffer_idx, before);
    GUI_AllocEnd(outer);
}

TEST_F(HandshakeTest, OneChunkAuthenticatesAndBindsTheIdentity) {
    Bytes message = signedMessage(7);
    Bytes chunk = nimbra::handshakeChunks(message, 12)[0];
    ASSERT_EQ(chunk.size(), 296u);
    EXPECT_EQ(opcodeHandlers[0x1E](chunk.data(), (uint32_t)chunk.size()), 296);
    EXPECT_EQ(testsupport::packets(), std::vector<Bytes>{kAccepted});
    EXPECT_EQ(orvState.authenticated, 1);
    EXPECT_EQ(orvState.peerId, 7);
    EXPECT_EQ(orvState.lastHandshakeCounter, 12u);
    EXPECT_EQ(firstHandshakeWord(), 12u);
}

TEST_F(HandshakeTest, SeveralChunksAreAcknowledgedOnceWhenComplete) {
    Bytes message = signedMessage(7);
    auto chunks = nimbra::handshakeChunks(message, 5, 100);
    ASSERT_EQ(chunks.size(), 3u);
    for (size_t i = 0; i < 2; i++) {
        EXPECT_EQ(testsupport::run(chunks[i]), 0);
        EXPECT_TRUE(testsupport::packets().empty());
        EXPECT_EQ(orvState.authenticated, 0);
    }
    // The last chunk ends a payload that carries more commands after it.
    Bytes payload = chunks[2];
    nimbra::CommandBuilder after;
    after.setColor(0xFF0000FF);
    payload.insert(payload.end(), after.payload().begin(), after.payload().end());
    EXPECT_EQ(testsupport::run(payload), 0);
    EXPECT_EQ(testsupport::packets(), std::vector<Bytes>{kAccepted});
    EXPECT_EQ(orvState.authenticated, 1);
    // A message longer than 285 bytes is accepted; the rest is not used.
    Bytes longer = message;
    longer.resize(1024, 0x5A);
    EXPECT_EQ(send(longer, 5, 333), std::vector<Bytes>{kAccepted});
}

TEST_F(HandshakeTest, CountersMayRepeatButNeverGoDown) {
    Bytes message = signedMessage(7);
    EXPECT_EQ(send(message, 20), std::vector<Bytes>{kAccepted});
    EXPECT_EQ(send(message, 20), std::vector<Bytes>{kAccepted});
    EXPECT_EQ(send(message, 30), std::vector<Bytes>{kAccepted});
    // The first successful counter stays recorded.
    EXPECT_EQ(firstHandshakeWord(), 20u);
    EXPECT_EQ(send(message, 29), std::vector<Bytes>{kCounterRejected});
    EXPECT_EQ(orvState.lastHandshakeCounter, 30u);
    EXPECT_EQ(send(message, 0), std::vector<Bytes>{kCounterRejected});
    // Counters keep growing across links.
    onBLEConnected(0);
    onBLEConnected(1);
    EXPECT_EQ(send(message, 1), std::vector<Bytes>{kCounterRejected});
    EXPECT_EQ(orvState.authenticated, 0);
    EXPECT_EQ(send(message, 31), std::vector<Bytes>{kAccepted});
}

TEST_F(HandshakeTest, RejectionStopsThePayload) {
    Bytes message = signedMessage(7);
    Bytes payload = nimbra::handshakeChunks(message, 0)[0];
    nimbra::CommandBuilder after;
    after.setColor(0xFF00FF00);
    payload.insert(payload.end(), after.payload().begin(), after.payload().end());
    uint32_t colourBefore = GUI_GetColor();
    EXPECT_EQ(testsupport::run(payload), -1);
    EXPECT_EQ(testsupport::packets(), std::vector<Bytes>{kCounterRejected});
    EXPECT_EQ(GUI_GetColor(), colourBefore);
    EXPECT_EQ(getBIT() & (1u << 5), 1u << 5);
}

TEST_F(HandshakeTest, ChunkFieldsAreChecked) {
    Bytes data(40, 0x11);
    int32_t result = 0;
    // Too short to hold a chunk header and one byte.
    Bytes shortChunk = {0x1E, 1, 0, 0, 0, 0, 0, 1, 0, 1};
    testsupport::clearCaptures();
    EXPECT_EQ(opcodeHandlers[0x1E](shortChunk.data(), (uint32_t)shortChunk.size()), -1);
    EXPECT_EQ(testsupport::packets(), std::vector<Bytes>{kMalformed});
    // Offset not below the total.
    EXPECT_EQ(sendChunk(1, 40, 40, data, &result), std::vector<Bytes>{kMalformed});
    EXPECT_EQ(result, -1);
    // No data.
    EXPECT_EQ(sendChunk(1, 0, 40, {}), std::vector<Bytes>{kMalformed});
    // Total 0, chunk longer than the total, total above 1024.
    EXPECT_EQ(sendChunk(1, 0, 0, data), std::vector<Bytes>{kMalformed});
    EXPECT_EQ(sendChunk(1, 0, 39, data), std::vector<Bytes>{kMalformed});
    Bytes big(1025, 0);
    EXPECT_EQ(sendChunk(1, 0, 1025, big), std::vector<Bytes>{kMalformed});
    // A chunk that claims more data than the payload holds.
    Bytes cut = nimbra::handshakeChunk(1, 0, 300, data.data(), 40);
    cut.resize(cut.size() - 1);
    testsupport::clearCaptures();
    EXPECT_EQ(opcodeHandlers[0x1E](cut.data(), (uint32_t)cut.size()), -1);
    EXPECT_EQ(testsupport::packets(), std::vector<Bytes>{kMalformed});
    // None of these touched the counter.
    EXPECT_EQ(orvState.lastHandshakeCounter, 0u);
}

TEST_F(HandshakeTest, GapsAreDetectedOnlyAboveTheBytesCounted) {
    Bytes message = signedMessage(7);
    Bytes first(message.begin(), message.begin() + 100);
    EXPECT_TRUE(sendChunk(2, 0, 285, first).empty());
    // 100 + 40 = 140 counted, and 150 is above it.
    EXPECT_EQ(sendChunk(2, 150, 285, Bytes(40, 0)), std::vector<Bytes>{kGap});
    // The late rejection kept the chunk's counter.
    EXPECT_EQ(orvState.lastHandshakeCounter, 2u);

    EXPECT_TRUE(sendChunk(3, 0, 285, first).empty());
    // 100 + 50 = 150 counted: 150 is not above it, so it passes unnoticed.
    int32_t result = 0;
    EXPECT_TRUE(sendChunk(3, 150, 285, Bytes(50, 0), &result).empty());
    EXPECT_EQ(result, 0);
}

TEST_F(HandshakeTest, CompleteMessagesWithBadFixedFields) {
    Bytes message = signedMessage(7);
    // Complete but too short to carry a signature.
    EXPECT_EQ(send(Bytes(message.begin(), message.begin() + 200), 1), std::vector<Bytes>{kAuthFailed});
    EXPECT_EQ(send(Bytes(message.begin(), message.begin() + 284), 1), std::vector<Bytes>{kAuthFailed});
    EXPECT_EQ(send(Bytes(message.begin(), message.begin() + 28), 1), std::vector<Bytes>{kMalformed});
    // "orva", the zero byte and the magic are checked before the signature.
    for (size_t at : {0u, 3u, 4u, 25u, 28u}) {
        Bytes bad = message;
        bad[at] ^= 0x40;
        EXPECT_EQ(send(bad, 1), std::vector<Bytes>{kMalformed}) << "byte " << at;
    }
    // The free bytes are covered by the signature only.
    Bytes freeByte = message;
    freeByte[10] ^= 0x01;
    EXPECT_EQ(send(freeByte, 1), std::vector<Bytes>{kAuthFailed});
    EXPECT_EQ(orvState.authenticated, 0);
}

TEST_F(HandshakeTest, BadSignatureLeavesTheStateAsItWas) {
    Bytes bad = signedMessage(7);
    bad[100] ^= 0x01;
    EXPECT_EQ(send(bad, 4), std::vector<Bytes>{kAuthFailed});
    EXPECT_EQ(orvState.authenticated, 0);
    EXPECT_EQ(orvState.peerId, 0xFFFF);
    EXPECT_EQ(firstHandshakeWord(), 0u);

    EXPECT_EQ(send(signedMessage(7), 4), std::vector<Bytes>{kAccepted});
    // Once authenticated, a bad message does not take it away.
    EXPECT_EQ(send(bad, 5), std::vector<Bytes>{kAuthFailed});
    EXPECT_EQ(orvState.authenticated, 1);
}

TEST_F(HandshakeTest, IdentityIsBoundUntilTheNextLink) {
    EXPECT_EQ(send(signedMessage(7), 1), std::vector<Bytes>{kAccepted});
    EXPECT_EQ(send(signedMessage(8), 2), std::vector<Bytes>{kOtherIdentity});
    EXPECT_EQ(orvState.peerId, 7);
    // Disconnect drops authentication but keeps the binding and the counter.
    onBLEConnected(0);
    EXPECT_EQ(orvState.authenticated, 0);
    EXPECT_EQ(orvState.peerId, 7);
    EXPECT_EQ(orvState.lastHandshakeCounter, 2u);
    EXPECT_EQ(send(signedMessage(8), 3), std::vector<Bytes>{kOtherIdentity});
    onBLEConnected(1);
    EXPECT_EQ(send(signedMessage(8), 3), std::vector<Bytes>{kAccepted});
    EXPECT_EQ(orvState.peerId, 8);
    EXPECT_EQ(firstHandshakeWord(), 1u);
}

TEST_F(HandshakeTest, CounterLimitOfTheMessage) {
    Bytes limited = signedMessage(7, 5);
    EXPECT_EQ(send(limited, 6), std::vector<Bytes>{kCounterRejected});
    // The rejected chunk still advanced the counter, so 5 is now too low.
    EXPECT_EQ(send(limited, 5), std::vector<Bytes>{kCounterRejected});
    onBLEConnected(0);
    testsupport::resetDevice(true);
    onBLEConnected(1);
    testsupport::clearCaptures();
    EXPECT_EQ(send(limited, 5), std::vector<Bytes>{kAccepted});
    // No limit at all: any counter.
    EXPECT_EQ(send(signedMessage(7, 0), 0xFFFFFFFF), std::vector<Bytes>{kAccepted});
}

TEST_F(HandshakeTest, AuthenticationUnlocksStateChangeNotices) {
    onBLEConnected(0);   // display off, not authenticated: no notice
    onBLEConnected(1);
    testsupport::clearCaptures();
    setDisplayState(1);
    EXPECT_TRUE(testsupport::packets().empty());
    setDisplayState(0);
    EXPECT_EQ(send(signedMessage(7), 1), std::vector<Bytes>{kAccepted});
    testsupport::clearCaptures();
    setDisplayState(1);
    EXPECT_EQ(testsupport::packets(), std::vector<Bytes>{Bytes({0x01, 0x0A, 0x01})});
    // After the link drops, the display goes off without a notice.
    testsupport::clearCaptures();
    onBLEConnected(0);
    EXPECT_TRUE(testsupport::packets().empty());
    EXPECT_FALSE(isOnState(UNIT_DISPLAY));
}

TEST_F(HandshakeTest, AuthenticationUnlocksSystemInformation) {
    if (opcodeHandlers[0x17] == nullptr) GTEST_SKIP() << "system information command not built";
    nimbra::CommandBuilder counters;
    counters.systemInfo(2).systemInfo(4);
    testsupport::run(counters);
    EXPECT_TRUE(testsupport::packets().empty());
    EXPECT_EQ(send(signedMessage(7), 77), std::vector<Bytes>{kAccepted});
    testsupport::clearCaptures();
    testsupport::run(counters);
    auto replies = testsupport::packets();
    ASSERT_EQ(replies.size(), 2u);
    ASSERT_EQ(replies[0].size(), 53u);
    EXPECT_EQ(replies[0][0], 0x06);
    EXPECT_EQ(rd32le(replies[0].data() + 45), 77u);
    ASSERT_EQ(replies[1].size(), 13u);
    EXPECT_EQ(replies[1][0], 0x07);
}

// The command-line tool writes records that the simulator accepts.
TEST(HandshakeTool, RecordsAuthenticateTheSimulator) {
    std::string tool = std::string(NIMBRA_BINARY_DIR) + "/nimbra-handshake";
    if (FILE *f = fopen(tool.c_str(), "rb")) {
        fclose(f);
    } else {
        GTEST_SKIP() << "nimbra-handshake not built";
    }
    std::string records = std::string(NIMBRA_BINARY_DIR) + "/handshake_test.rec";
    std::string replies = std::string(NIMBRA_BINARY_DIR) + "/handshake_test.replies";
    std::string key = std::string(NIMBRA_SOURCE_DIR) + "/" + nimbra::kDevelopmentKeyPath;
    std::string make = "'" + tool + "' --id 0 --counter 9 --limit 9 --chunk 120 --key '" + key + "' -o '" + records + "'";
    ASSERT_EQ(system(make.c_str()), 0);
    Bytes stream = nimbra::readFile(records);
    // Three records of 11 + 120, 11 + 120 and 11 + 45 bytes.
    EXPECT_EQ(stream.size(), 3 * 8 + 3 * 11 + 285u);
    std::string play = "'" + std::string(NIMBRA_SIM_PATH) + "' -r '" + records + "' >/dev/null 2>'" + replies + "'";
    ASSERT_EQ(system(play.c_str()), 0);
    std::vector<nimbra::Packet> packets;
    ASSERT_TRUE(nimbra::parsePackets(nimbra::readFile(replies), packets));
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].payload, kAccepted);
    // A missing key is a clear failure, not a crash.
    std::string missing = "'" + tool + "' --id 0 --counter 1 --key /nonexistent/key.pem -o '" + records + "' 2>/dev/null";
    EXPECT_EQ(WEXITSTATUS(system(missing.c_str())), 1);
    remove(records.c_str());
    remove(replies.c_str());
}

// Random chunks, well-formed or not, in any order: the device answers each
// with at most one report and keeps the pool where it was.
TEST_F(HandshakeTest, RandomChunksNeverBreakTheDevice) {
    Bytes message = signedMessage(7);
    const uint32_t poolTop = ALLOC_buffer_idx;
    uint32_t x = 2024;
    auto next = [&x](uint32_t range) {
        x = x * 1664525u + 1013904223u;
        return (x >> 8) % range;
    };
    for (int i = 0; i < 3000; i++) {
        uint16_t total = (uint16_t)(next(3) == 0 ? 285 : next(1100));
        uint16_t offset = (uint16_t)next(total + 2u);
        uint16_t n = (uint16_t)next(300);
        Bytes data(n);
        for (uint16_t k = 0; k < n; k++) data[k] = offset + k < 285 ? message[(offset + k) % 285] : (uint8_t)next(256);
        Bytes chunk = nimbra::handshakeChunk(next(4) + (uint32_t)i / 4, offset, total, data.data(), n);
        // Sometimes the payload ends early.
        if (next(5) == 0) chunk.resize(next((uint32_t)chunk.size()) + 1);
        testsupport::clearCaptures();
        testsupport::run(chunk);
        EXPECT_LE(testsupport::packets().size(), 1u);
        ASSERT_EQ(ALLOC_buffer_idx, poolTop);
    }
}
