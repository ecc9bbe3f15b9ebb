// Bytes and numbers as text, the ways the host tools write them:
// hexadecimal byte lists and numbers, numbers in half units, quoted strings
// of the text form, and JSON strings.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace nimbra {

// Appends "0A 1B ..." (upper case, one blank between bytes).
void appendHexBytes(std::string &out, const uint8_t *bytes, size_t n);
// "0x" and `digits` upper-case hexadecimal digits.
std::string hexNumber(uint64_t value, int digits);
// A value in half units as the text form writes it: 301 -> "150.5",
// -1 -> "-0.5".
std::string formatHalf(int64_t halves);

// A double-quoted string of the text form: UTF-8 sequences as they are,
// \" \\ \n \r \t for those characters, \xHH for any other control byte and
// for bytes that are not valid UTF-8, so that every byte string survives.
std::string quoteText(const uint8_t *bytes, size_t n);
void appendQuotedText(std::string &out, const uint8_t *bytes, size_t n);

// A JSON string; bytes that are not printable ASCII become \u00HH.
std::string jsonString(const std::string &s);

}  // namespace nimbra
