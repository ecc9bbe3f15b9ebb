// Signing with mbed TLS: the key is parsed with the pk module and signs the
// SHA-1 of the message's fixed fields with PKCS #1 v1.5 padding.
#include "tools/hostlib/handshake.h"

#include <cstring>
#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>
#include <mbedtls/pk.h>
#include <mbedtls/rsa.h>
#include <mbedtls/sha1.h>

#include "tools/hostlib/file_io.h"

namespace nimbra {

struct SigningKey::Impl {
    mbedtls_pk_context pk;
    Impl() { mbedtls_pk_init(&pk); }
    ~Impl() { mbedtls_pk_free(&pk); }
};

SigningKey::SigningKey() : impl_(std::make_unique<Impl>()) {}
SigningKey::~SigningKey() = default;

static std::string _MbedError(int code) {
    char text[32];
    snprintf(text, sizeof text, "-0x%04x", (unsigned)-code);
    return text;
}

std::unique_ptr<SigningKey> SigningKey::load(const std::string &path, std::string &error) {
    std::optional<Bytes> file = loadFile(path, error);
    if (!file) {
        error = "cannot read key file " + path + ": " + error;
        return nullptr;
    }
    return parse(*file, path, error);
}

std::unique_ptr<SigningKey> SigningKey::development(std::string &error) {
    const char *pem = kDevelopmentKeyPem;
    return parse(Bytes(pem, pem + strlen(pem)), "the built-in development key", error);
}

std::unique_ptr<SigningKey> SigningKey::parse(const Bytes &pemOrDer, const std::string &name, std::string &error) {
    if (pemOrDer.empty()) {
        error = name + " is empty";
        return nullptr;
    }
    // A PEM key is parsed with its terminating zero counted.
    Bytes file = pemOrDer;
    file.push_back(0);
    std::unique_ptr<SigningKey> key(new SigningKey());
    int rc = mbedtls_pk_parse_key(&key->impl_->pk, file.data(), file.size(), nullptr, 0);
    if (rc != 0) {
        // A DER file must be given without the added zero.
        rc = mbedtls_pk_parse_key(&key->impl_->pk, file.data(), file.size() - 1, nullptr, 0);
    }
    if (rc != 0) {
        error = name + ": not a private key (mbed TLS error " + _MbedError(rc) + ")";
        return nullptr;
    }
    if (mbedtls_pk_get_type(&key->impl_->pk) != MBEDTLS_PK_RSA) {
        error = name + ": not an RSA key";
        return nullptr;
    }
    return key;
}

Bytes SigningKey::signSha1(const uint8_t *data, size_t length) const {
    uint8_t hash[20];
    if (mbedtls_sha1_ret(data, length, hash) != 0) return {};
    // PKCS #1 v1.5 signatures are deterministic; the generator only feeds
    // the blinding of the private-key operation.
    mbedtls_entropy_context entropy;
    mbedtls_ctr_drbg_context drbg;
    mbedtls_entropy_init(&entropy);
    mbedtls_ctr_drbg_init(&drbg);
    static const char personal[] = "handshake signer";
    Bytes sig(MBEDTLS_PK_SIGNATURE_MAX_SIZE);
    size_t sigLength = 0;
    int rc = mbedtls_ctr_drbg_seed(&drbg, mbedtls_entropy_func, &entropy,
                                   reinterpret_cast<const unsigned char *>(personal), sizeof personal - 1);
    if (rc == 0) {
        rc = mbedtls_pk_sign(&impl_->pk, MBEDTLS_MD_SHA1, hash, sizeof hash, sig.data(), &sigLength,
                             mbedtls_ctr_drbg_random, &drbg);
    }
    mbedtls_ctr_drbg_free(&drbg);
    mbedtls_entropy_free(&entropy);
    if (rc != 0) return {};
    sig.resize(sigLength);
    return sig;
}

static Bytes _MpiBytes(const mbedtls_mpi &v) {
    Bytes out(mbedtls_mpi_size(&v));
    if (mbedtls_mpi_write_binary(&v, out.data(), out.size()) != 0) return {};
    return out;
}

Bytes SigningKey::modulus() const { return _MpiBytes(mbedtls_pk_rsa(impl_->pk)->N); }
Bytes SigningKey::exponent() const { return _MpiBytes(mbedtls_pk_rsa(impl_->pk)->E); }
size_t SigningKey::signatureBytes() const { return mbedtls_pk_get_len(&impl_->pk); }

Bytes handshakeSignedPart(const HandshakeMessage &m) {
    CommandBuilder b;
    b.text("orva").u8(0).u16le(0).u16le(m.peerId);
    for (int i = 0; i < 12; i++) b.u8(0);
    b.u32le(m.counterLimit).u8(0xA2).u8(0xC4).u8(0x19).u8(0x3B);
    return b.payload();
}

Bytes buildHandshakeMessage(const SigningKey &key, const HandshakeMessage &m) {
    Bytes message = handshakeSignedPart(m);
    Bytes sig = key.signSha1(message.data(), message.size());
    if (sig.empty()) return {};
    message.insert(message.end(), sig.begin(), sig.end());
    return message;
}

Bytes handshakeChunk(uint32_t counter, uint16_t offset, uint16_t total, const uint8_t *data, uint16_t n) {
    return CommandBuilder().handshakeChunk(counter, offset, total, Bytes(data, data + n)).payload();
}

std::vector<Bytes> handshakeChunks(const Bytes &message, uint32_t counter, size_t chunkBytes) {
    std::vector<Bytes> chunks;
    if (message.empty() || message.size() > kHandshakeMaxMessageBytes) return chunks;
    if (chunkBytes == 0) chunkBytes = message.size();
    for (size_t offset = 0; offset < message.size(); offset += chunkBytes) {
        size_t n = std::min(chunkBytes, message.size() - offset);
        chunks.push_back(handshakeChunk(counter, (uint16_t)offset, (uint16_t)message.size(), message.data() + offset,
                                        (uint16_t)n));
    }
    return chunks;
}

}  // namespace nimbra
