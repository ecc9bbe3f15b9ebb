// The signature check of the authentication handshake: SHA-1 over the signed
// bytes, RSASSA-PKCS1-v1_5 with the public key built into the device.
#pragma once
#include <cstdint>

constexpr uint32_t RSA_PUB_N_BYTES = 257;   // big-endian, leading zero byte
constexpr uint32_t RSA_PUB_E_BYTES = 3;     // big-endian
constexpr uint32_t RSA_SIGNATURE_BYTES = 256;

extern const uint8_t RSA_PUB_N[RSA_PUB_N_BYTES];
extern const uint8_t RSA_PUB_E[RSA_PUB_E_BYTES];

// Returns SIGNATURE_VALID when `signature` (256 bytes) is a valid signature
// of the `length` bytes at `data`; otherwise the cryptography library's
// error, which is never SIGNATURE_VALID. Leaves the memory pool as it found
// it.
constexpr int SIGNATURE_VALID = 0;
[[nodiscard]] int verifySigniture(const uint8_t *data, uint32_t length, const uint8_t *signature);
