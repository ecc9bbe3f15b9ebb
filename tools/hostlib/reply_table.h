// The one description of every reply the device sends (the first payload
// byte of a response packet is its type): its name and its fields in wire
// order. The reply decoder and nimbra-packets are driven by it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/hostlib/command_table.h"

namespace nimbra {

enum class ReplyFieldType : uint8_t {
    Number,       // little-endian integer of 1, 2 or 4 bytes
    Opcode,       // one byte: the opcode of a command, shown with its name
    ResultCode,   // one byte: a result code, shown with its meaning
    Ascii,        // `bytes` characters
    Zeros,        // `bytes` bytes that are always 0 (shown only when not)
    Words,        // `bytes` little-endian 32-bit words
    WordList,     // little-endian 32-bit words, as many as the field before says
    Data,         // bytes, as many as the field before says
};

struct ReplyFieldSpec {
    const char *name;
    ReplyFieldType type;
    uint8_t bytes = 1;          // Number: its width; Ascii, Zeros: length; Words: count
    bool isSigned = false;
    bool hex = false;           // shown as 0x...
    std::vector<NamedValue> names = {};
};

struct ReplySpec {
    uint8_t type;
    const char *name;
    const char *summary;
    std::vector<ReplyFieldSpec> fields;   // after the type byte; a field named
                                          // like the reply is its one value
};

const std::vector<ReplySpec> &replyTable();
const ReplySpec *findReply(uint8_t type);

// The meaning of a result code ("malformed"), or "unknown".
const char *resultMeaning(uint8_t code);

}  // namespace nimbra
