// Bytes to the text form. Whatever the bytes are, assembling the text gives
// them back: what the device cannot run as a command (an unknown opcode, a
// command cut short, a record header it drops) is written as `bytes` or
// `raw` with a comment saying what the device does with it.
//
// The per-command call is what viewers and inspectors use to show a record
// command by command; the stream call writes whole recordings.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/hostlib/command_codec.h"

namespace nimbra {

struct DisassembledCommand {
    std::string text;          // one line of the text form, without comment
    size_t length = 0;         // payload bytes the line covers
    std::string note;          // what the device does with them, when worth saying
    bool stopsRecord = false;  // the device drops the rest of the record from here
    bool endsStream = false;   // the device stops reading after this record
};

// The command at `offset` of a record payload of `size` bytes.
DisassembledCommand disassembleCommand(const uint8_t *payload, size_t size, size_t offset);
inline DisassembledCommand disassembleCommand(const Bytes &payload, size_t offset) {
    return disassembleCommand(payload.data(), payload.size(), offset);
}

// One command's text from its values (the name and its fields).
std::string formatCommand(const CommandSpec &entry, const CommandValues &values);

struct DisassemblyOptions {
    bool offsets = true;   // each record's and command's stream offset as a comment
};

// A whole record stream as text, one command a line inside `record { }`.
std::string disassembleStream(const uint8_t *stream, size_t size, const DisassemblyOptions &options = {});
inline std::string disassembleStream(const Bytes &stream, const DisassemblyOptions &options = {}) {
    return disassembleStream(stream.data(), stream.size(), options);
}

}  // namespace nimbra
