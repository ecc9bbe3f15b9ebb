// Host side of the authentication handshake: builds the signed message and
// splits it into handshake chunk commands.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/hostlib/nimbra_host.h"

namespace nimbra {

constexpr uint8_t kHandshakeOpcode = 0x1E;
constexpr size_t kHandshakeSignedBytes = 29;
constexpr size_t kHandshakeSignatureBytes = 256;   // RSA-2048
constexpr size_t kHandshakeMessageBytes = kHandshakeSignedBytes + kHandshakeSignatureBytes;
constexpr size_t kHandshakeMaxMessageBytes = 1024;
constexpr size_t kHandshakeChunkHeaderBytes = 11;
// Where the development key lives, relative to the source tree.
constexpr const char *kDevelopmentKeyPath = "keys/development-private-key.pem";
// The same key's PEM text, built into the library.
extern const char kDevelopmentKeyPem[];

// An RSA private key read from a PEM (or DER) file.
class SigningKey {
public:
    // Returns null and sets `error` when the file cannot be read or holds no
    // RSA private key.
    static std::unique_ptr<SigningKey> load(const std::string &path, std::string &error);
    // The same for a key held in memory; `name` is used in messages.
    static std::unique_ptr<SigningKey> parse(const Bytes &pemOrDer, const std::string &name, std::string &error);
    // The built-in development key.
    static std::unique_ptr<SigningKey> development(std::string &error);
    ~SigningKey();
    SigningKey(const SigningKey &) = delete;
    SigningKey &operator=(const SigningKey &) = delete;

    // RSASSA-PKCS1-v1_5 signature of the SHA-1 of `data`; empty on failure.
    Bytes signSha1(const uint8_t *data, size_t length) const;
    // The public modulus, big-endian without leading zeros, and exponent.
    Bytes modulus() const;
    Bytes exponent() const;
    size_t signatureBytes() const;

private:
    SigningKey();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

struct HandshakeMessage {
    uint16_t peerId = 0;
    uint32_t counterLimit = 0;   // 0: no limit
};

// The 29 signed bytes: "orva", 0, two free bytes, the peer identity, twelve
// free bytes (zero), the counter limit and the magic A2 C4 19 3B.
Bytes handshakeSignedPart(const HandshakeMessage &m);
// The signed part followed by its signature (285 bytes for a 2048-bit key);
// empty when signing failed.
Bytes buildHandshakeMessage(const SigningKey &key, const HandshakeMessage &m);

// Splits a message into handshake chunk commands of at most `chunkBytes`
// message bytes each, all carrying `counter`. The message may be at most
// 1024 bytes; chunkBytes 0 means one chunk.
std::vector<Bytes> handshakeChunks(const Bytes &message, uint32_t counter, size_t chunkBytes = 0);
// One chunk command with every field given, for building malformed chunks.
Bytes handshakeChunk(uint32_t counter, uint16_t offset, uint16_t total, const uint8_t *data, uint16_t n);

}  // namespace nimbra
