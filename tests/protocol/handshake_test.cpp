// The authentication handshake: reassembly of the chunks, the checks in their
// order, the replay counter, the bound identity and the signature check.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>

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
using Replies = testsupport::Replies;

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
    Bytes message = nimbra::buildHandshakeMessage(developmentKey(), {peer, limit});
    EXPECT_EQ(message.size(), nimbra::kHandshakeMessageBytes);
    return message;
}

// The handshake's result reports.
Replies report(uint8_t code) { return {testsupport::report(0x1E, code)}; }
const Replies kAccepted = report(0x00), kMalformed = report(0x01), kGap = report(0x02), kAuthFailed = report(0xE0),
              kCounterRejected = report(0xE1), kOtherIdentity = report(0xE4);

uint32_t firstHandshakeWord() { return rd32le(orvDynData + 36); }

// What a handshake leaves: authenticated, bound peer, last counter seen, and
// the counter of the first successful handshake kept in the dynamic record.
using Session = std::tuple<int, int, uint32_t, uint32_t>;
Session session() {
    return {orvState.authenticated, orvState.peerId, orvState.lastHandshakeCounter, firstHandshakeWord()};
}

}  // namespace

class HandshakeTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        onBLEConnected(1);   // unbinds the identity
    }
    // Sends the message as chunks, each in its own payload.
    static Replies send(const Bytes &message, uint32_t counter, size_t chunkBytes = 0) {
        return testsupport::replies(nimbra::handshakeChunks(message, counter, chunkBytes));
    }
    static Replies sendChunk(uint32_t counter, uint16_t offset, uint16_t total, const Bytes &data, int32_t *result = nullptr) {
        return testsupport::replies(nimbra::handshakeChunk(counter, offset, total, data.data(), (uint16_t)data.size()), result);
    }
};

// Good and bad signatures are exercised through the handshake below; here
// the pool and the refusals that come before any arithmetic.
TEST(CryptoSign, VerifiesAndRefusesWithoutMovingThePool) {
    Bytes message = signedMessage(3);
    testsupport::resetDevice(false);
    // A job below the check keeps its memory; the check returns to its own mark.
    uint32_t outer = GUI_AllocStart();
    GUI_AllocNoInit(100);
    uint32_t before = ALLOC_buffer_idx;
    EXPECT_EQ(verifySigniture(message.data(), 29, message.data() + 29), 0);
    // The signature does not cover a different length, nor can one above
    // the modulus be right.
    EXPECT_NE(verifySigniture(message.data(), 28, message.data() + 29), 0);
    std::fill(message.begin() + 29, message.end(), 0xFF);
    EXPECT_NE(verifySigniture(message.data(), 29, message.data() + 29), 0);
    EXPECT_EQ(ALLOC_buffer_idx, before);
    GUI_AllocEnd(outer);
}

TEST_F(HandshakeTest, ChunksAreAcknowledgedOnceWhenComplete) {
    Bytes message = signedMessage(7);
    auto chunks = nimbra::handshakeChunks(message, 5, 100);
    ASSERT_EQ(chunks.size(), 3u);
    // Each chunk is its own length; nothing is said until the last one.
    EXPECT_EQ(opcodeHandlers[0x1E](chunks[0].data(), (uint32_t)chunks[0].size()), (int32_t)chunks[0].size());
    EXPECT_TRUE(testsupport::replies(chunks[1]).empty());
    EXPECT_EQ(orvState.authenticated, 0);
    // The last chunk ends a payload that carries more commands after it.
    int32_t result = -1;
    EXPECT_EQ(testsupport::replies(chunks[2] + nimbra::CommandBuilder().setColor(0xFF0000FF).payload(), &result), kAccepted);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(GUI_Context.colorIndex, 0x03);
    EXPECT_EQ(session(), (Session{1, 7, 5, 5}));
    // A message longer than 285 bytes is accepted; the rest is not used.
    message.resize(1024, 0x5A);
    EXPECT_EQ(send(message, 5, 333), kAccepted);
}

TEST_F(HandshakeTest, CountersMayRepeatButNeverGoDown) {
    Bytes message = signedMessage(7);
    for (uint32_t counter : {20, 20, 30}) EXPECT_EQ(send(message, counter), kAccepted) << counter;
    EXPECT_EQ(firstHandshakeWord(), 20u);   // the first successful counter stays recorded
    // A rejection stops the payload, with status bit 5.
    const uint32_t colour = GUI_GetColor();
    int32_t result = 0;
    Bytes payload = nimbra::handshakeChunks(message, 29)[0] + nimbra::CommandBuilder().setColor(0xFF00FF00).payload();
    EXPECT_EQ(testsupport::replies(payload, &result), kCounterRejected);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(GUI_GetColor(), colour);
    EXPECT_EQ(getBIT() & (1u << 5), 1u << 5);
    EXPECT_EQ(send(message, 0), kCounterRejected);
    EXPECT_EQ(orvState.lastHandshakeCounter, 30u);
    // Counters keep growing across links.
    onBLEConnected(0);
    onBLEConnected(1);
    EXPECT_EQ(send(message, 1), kCounterRejected);
    EXPECT_EQ(orvState.authenticated, 0);
    EXPECT_EQ(send(message, 31), kAccepted);
}

TEST_F(HandshakeTest, ChunkFieldsAreChecked) {
    const Bytes data(40, 0x11);
    Bytes cut = nimbra::handshakeChunk(1, 0, 300, data.data(), 40);   // claims more data than the payload holds
    cut.pop_back();
    const std::vector<Bytes> malformed = {
        {0x1E, 1, 0, 0, 0, 0, 0, 1, 0, 1},                              // no room for a header and one byte
        nimbra::handshakeChunk(1, 40, 40, data.data(), 40),             // offset not below the total
        nimbra::handshakeChunk(1, 0, 40, data.data(), 0),               // no data
        nimbra::handshakeChunk(1, 0, 0, data.data(), 40),               // total 0
        nimbra::handshakeChunk(1, 0, 39, data.data(), 40),              // chunk longer than the total
        nimbra::handshakeChunk(1, 0, 1025, Bytes(1025).data(), 1025),   // total above 1024
        cut,
    };
    for (size_t i = 0; i < malformed.size(); i++) {
        int32_t result = 0;
        EXPECT_EQ(testsupport::replies(malformed[i], &result), kMalformed) << i;
        EXPECT_EQ(result, -1) << i;
    }
    EXPECT_EQ(orvState.lastHandshakeCounter, 0u);   // none of these touched the counter
}

TEST_F(HandshakeTest, GapsAreDetectedOnlyAboveTheBytesCounted) {
    Bytes first(100, 0x61);
    EXPECT_TRUE(sendChunk(2, 0, 285, first).empty());
    // 100 + 40 = 140 counted, and 150 is above it.
    EXPECT_EQ(sendChunk(2, 150, 285, Bytes(40, 0)), kGap);
    EXPECT_EQ(orvState.lastHandshakeCounter, 2u);   // the late rejection kept the chunk's counter
    // 100 + 50 = 150 counted: 150 is not above it, so it passes unnoticed.
    EXPECT_TRUE(sendChunk(3, 0, 285, first).empty());
    int32_t result = -1;
    EXPECT_TRUE(sendChunk(3, 150, 285, Bytes(50, 0), &result).empty());
    EXPECT_EQ(result, 0);
}

TEST_F(HandshakeTest, CompleteMessagesWithBadFieldsOrSignature) {
    Bytes message = signedMessage(7);
    EXPECT_EQ(send(Bytes(message.begin(), message.begin() + 28), 1), kMalformed);
    // "orva", the zero byte and the magic are checked before the signature;
    // the free bytes and the signature by the signature check only.
    for (size_t at : {0u, 3u, 4u, 25u, 28u, 10u, 100u}) {
        Bytes bad = message;
        bad[at] ^= 0x40;
        EXPECT_EQ(send(bad, 1), at < 29 && at != 10 ? kMalformed : kAuthFailed) << "byte " << at;
    }
    EXPECT_EQ(session(), (Session{0, 0xFFFF, 1, 0}));
    // Once authenticated, a bad message does not take it away. A complete
    // message too short to carry a signature fails, though the reassembly
    // buffer still holds the last good signature after it.
    EXPECT_EQ(send(message, 4), kAccepted);
    for (size_t n : {200u, 284u}) EXPECT_EQ(send(Bytes(message.begin(), message.begin() + n), 5), kAuthFailed) << n;
    message[100] ^= 0x01;
    EXPECT_EQ(send(message, 5), kAuthFailed);
    EXPECT_EQ(orvState.authenticated, 1);
}

TEST_F(HandshakeTest, IdentityIsBoundUntilTheNextLink) {
    EXPECT_EQ(send(signedMessage(7), 1), kAccepted);
    EXPECT_EQ(send(signedMessage(8), 2), kOtherIdentity);
    // Disconnect drops authentication but keeps the binding and the counter.
    onBLEConnected(0);
    EXPECT_EQ(session(), (Session{0, 7, 2, 1}));
    EXPECT_EQ(send(signedMessage(8), 3), kOtherIdentity);
    onBLEConnected(1);
    EXPECT_EQ(send(signedMessage(8), 3), kAccepted);
    EXPECT_EQ(session(), (Session{1, 8, 3, 1}));
}

TEST_F(HandshakeTest, CounterLimitOfTheMessage) {
    Bytes limited = signedMessage(7, 5);
    EXPECT_EQ(send(limited, 6), kCounterRejected);
    // The rejected chunk still advanced the counter, so 5 is now too low.
    EXPECT_EQ(send(limited, 5), kCounterRejected);
    testsupport::resetDevice(true);
    onBLEConnected(1);
    EXPECT_EQ(send(limited, 5), kAccepted);
    // No limit at all: any counter.
    EXPECT_EQ(send(signedMessage(7, 0), 0xFFFFFFFF), kAccepted);
}
