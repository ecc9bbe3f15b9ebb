// Commands as values and as bytes, both ways, by their entry in the command
// table. The values of a command are its numbers in text order (a packed
// pair gives two, a flag 0 or 1), in wire units, and its variable part: text
// or bytes, or a list of points.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/hostlib/command_table.h"

namespace nimbra {

struct CommandValues {
    std::vector<int64_t> numbers;
    Bytes data;                  // a text or data field
    std::vector<Point> points;   // a point list
};

// Bytes of the fields before the variable part.
size_t fixedBytes(const CommandSpec &entry);
// Whether the command ends in text, bytes or points.
const FieldSpec *variableField(const CommandSpec &entry);

// Appends the command to `out`. A value outside its field's range, a missing
// value or a variable part longer than its count can say gives false and a
// message (`out` is then unchanged).
bool encodeCommand(const CommandSpec &entry, const CommandValues &values, Bytes &out, std::string *error = nullptr);

// The command's length by its fields; the command must have at least
// entry.minBytes bytes (which always hold its count).
size_t commandLength(const CommandSpec &entry, const uint8_t *command);

// Reads `length` bytes (as commandLength gives) as this command. False when
// a constant or a range does not match, so that another entry of the same
// opcode may be tried.
bool decodeCommand(const CommandSpec &entry, const uint8_t *command, size_t length, CommandValues &values);

}  // namespace nimbra
