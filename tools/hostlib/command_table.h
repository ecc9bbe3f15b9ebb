// The one description of every command the device knows: its opcode, its
// name in the text form, and its fields in wire order with their type and
// unit. The command builder, the assembler, the disassembler and the
// reference page of the text form are all driven by this table, so adding a
// command is one entry in command_table.cpp.
//
// Values of fields are kept in wire units: half pixels for packed pairs, the
// pen width and corner radii, half degrees for angles. The text form writes
// half units as whole units with ".5" for the odd half.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/hostlib/nimbra_host.h"

namespace nimbra {

enum class FieldType : uint8_t {
    Number,     // an integer; some values may have names ("left", "all")
    Colour,     // 32-bit ARGB, written #AARRGGBB or #RRGGBB (opaque)
    Pair,       // packed pair of two 12-bit values, in half units
    Flag,       // one bit, written as its name when set
    Constant,   // a value fixed by the command; not written
    Count,      // the number of elements of the variable part; not written
    Text,       // the variable part as UTF-8 text in double quotes
    Data,       // the variable part as bytes, written in hexadecimal
    Points,     // the variable part as packed signed pairs, x y x y ...
};

// What a variable part carries; only the reference page tells them apart.
enum class DataKind : uint8_t { Raw, CompressedBlock, UploadChunk, VideoChunk, HandshakeChunk, FirmwareChunk };

struct NamedValue {
    int64_t value;
    const char *name;
};

struct FieldSpec {
    const char *name;             // a pair names both values: "x y"
    FieldType type;
    // Wire bytes of the slot this field starts (1, 2, 3 or 4); 0 when the
    // field is a bit range of the slot started by an earlier field.
    uint8_t slotBytes = 1;
    uint8_t shift = 0;            // position of the field's lowest bit in its slot
    uint8_t bits = 0;             // width in bits; 0: the whole slot
    bool isSigned = false;
    bool halfUnits = false;       // the wire value counts halves of the written unit
    int64_t min = 0, max = 0;     // accepted wire values (each value of a pair)
    std::vector<NamedValue> names = {};
    std::optional<int64_t> defaultValue = {};   // a trailing field that may be left out
    bool autoNumber = false;      // left out: the value this field had last time, plus one
    const char *unit = "";        // the written unit, for the reference page
    const char *help = "";
    DataKind dataKind = DataKind::Raw;
    uint8_t elementBytes = 1;     // wire bytes per element of the variable part

    // Numbers the field takes from a command's value list.
    size_t valueCount() const;
    // The name of a value, or null.
    const char *nameOf(int64_t value) const;
};

// A command the device refuses so that the rest of its record is dropped.
struct Refusal {
    std::string reason;   // "text length 0 is not 1 to 128"
    uint8_t code = 0x01;  // result code of the report
    int detail = 0;       // its detail byte; negative when the device sends no report
};

struct CommandSpec {
    uint8_t opcode;
    const char *name;
    const char *summary;
    std::vector<FieldSpec> fields;   // in text order; sub-fields of a slot follow its first field
    const char *example;             // one line of the text form
    // The device's own framing: with fewer bytes left in the record than
    // minBytes it reports (opcode, 0x01, shortDetail), or nothing when
    // shortDetail is negative, and drops the rest of the record.
    size_t minBytes;
    int shortDetail = 0;
    // When the device acts on a command cut short instead of reporting it:
    // what it does ("the device ends the stream all the same").
    const char *shortAction = nullptr;
    // Whether the device reports a command whose variable part passes the
    // end of the record; the detail byte is shortDetail unless the refusal
    // check below says otherwise.
    bool reportsOverrun = true;
    // A refusal the device makes from the command's own bytes, after which it
    // drops the rest of the record. `length` is the command's length by its
    // fields, `remaining` the bytes left in the record from its opcode (the
    // length may pass it: a check that sees this decides the report itself).
    std::optional<Refusal> (*refusal)(const uint8_t *command, size_t length, size_t remaining) = nullptr;
    // The device ends the stream after the record that holds this command.
    bool endsStream = false;
};

// Every command, in opcode order; connect and disconnect share opcode 0x30
// and are told apart by their second byte.
const std::vector<CommandSpec> &commandTable();
// The commands of an opcode (none for an empty dispatcher slot).
const std::vector<const CommandSpec *> &commandsOf(uint8_t opcode);
const CommandSpec *findCommand(std::string_view name);
// The command's name for a result report ("load-image", "connect/disconnect");
// "0x2A" for an opcode without a handler.
std::string opcodeName(uint8_t opcode);

constexpr uint8_t kOpCopy = 0x02, kOpClear = 0x03, kOpLoadImage = 0x04, kOpDrawImage = 0x05, kOpLoadFont = 0x06,
                  kOpLogo = 0x07, kOpText = 0x08, kOpColor = 0x09, kOpZlib = 0x0A,
                  kOpPen = 0x0B, kOpRect = 0x0C, kOpPath = 0x0D, kOpEllipse = 0x0E, kOpLine = 0x0F, kOpArc = 0x10,
                  kOpVideoPlay = 0x11, kOpPolygon = 0x12, kOpVideoUpload = 0x13, kOpTickRate = 0x14,
                  kOpCache = 0x16, kOpSystemInfo = 0x17, kOpClipRect = 0x18, kOpDrawSprite = 0x19, kOpSession = 0x1B,
                  kOpOtaUpload = 0x1C, kOpOtaStart = 0x1D, kOpHandshake = 0x1E, kOpEnable = 0x1F,
                  kOpConnect = 0x30, kOpSeek = 0x31, kOpEof = 0x32;

}  // namespace nimbra
