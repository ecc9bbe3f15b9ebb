// JSON and base64 text for the report's data files.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace nimbra {

// A JSON string that keeps UTF-8 as it is (a byte that is not part of a
// valid sequence becomes U+FFFD) and escapes what a script file cannot hold
// in a string (quotes, backslashes, control characters, U+2028 and U+2029).
void appendJsonText(std::string &out, const std::string &text);
// Base64 (with padding) of the bytes.
void appendBase64(std::string &out, const uint8_t *bytes, size_t n);

}  // namespace nimbra
