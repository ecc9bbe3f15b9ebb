#include "tools/hostlib/text_reference.h"

#include "tools/hostlib/command_codec.h"
#include "tools/hostlib/text_escape.h"

namespace nimbra {

namespace {

const char *const kIntroduction = R"(# The text form of recordings

A recording is a run of records, each a run of commands. The text form
writes one command a line, so that a scene can be written by hand, and any
recording read, edited and replayed:

    nimbra-asm scene.nsc -o scene.rec      # text to recording
    nimbra-disasm scene.rec > scene.nsc    # recording to text
    nimbra-asm --reference                 # this page

`nimbra-disasm` writes every recording so that `nimbra-asm` gives back the
same bytes, damaged ones included: what the device cannot run as a command
is written as `bytes` or `raw`, with a comment saying what the device does
with it. This page is printed from the table of commands that both tools
use.

## Lines

- One statement a line. `#` starts a comment (after a command, `# ` with a
  blank); blank lines are free.
- Numbers are decimal, or hexadecimal with `0x`; a minus sign where the
  field is signed.
- Coordinates, sizes, radii and pen widths are in pixels, with `.5` for the
  odd half pixel the wire can carry (`line 10 20 300.5 40`). Angles are in
  degrees, also in steps of 0.5.
- Colours are `#AARRGGBB`, or `#RRGGBB` for an opaque colour.
- Text is in double quotes with the escapes `\"`, `\\`, `\n`, `\r`, `\t`,
  `\0` and `\xHH` (any byte).
- Hexadecimal bytes are written as pairs of digits: `08 00 FF`.
- Where a field has names (`left`, `centre`, `right`), a number is also
  accepted, so that every byte value can be written.
- Flags (`fill`, `smooth`, ...) are written when set, in any order among
  themselves.
- Fields shown in brackets may be left out at the end of a line.

## Statements

| Statement | Meaning |
|---|---|
| `COMMAND FIELDS...` | one command (below) |
| `bytes HH HH ...` | any bytes as one command, malformed ones too |
| `record { ... }` | one record holding exactly the commands inside (`record HH HH HH HH { ... }` gives the header's 4 uninterpreted bytes, otherwise 0) |
| `raw HH HH ...` | bytes written into the stream as they are, between records (a broken header, a cut record) |
| `include "FILE"` | the statements of another script; its name is relative to the including script |
| `zlib { ... }` | the commands inside, compressed into blocks of one zlib stream that runs on through the script; the last block of each group the device can hold carries the execute flag |
| `zlib hold { ... }` | the commands inside as one compressed block without the execute flag: they run with the next block that has it |
| `load-image SLOT "FILE" [png\|jpeg] [chunk N]` | the upload of an image file: its chunks, the CRC-32 appended (the format from the name's extension unless given) |
| `load-font SLOT "FILE" [2bpp\|4bpp] [compressed] [chunk N]` | the upload of a SIF font, zlib-compressed if asked |
| `handshake COUNTER key "FILE" [peer N] [limit N] [chunk N] [part K]` | a handshake message signed with the private key in FILE, in chunks of N bytes (`part K`: only chunk K, from 0) |
| `video "FILE" at X Y [chunk N] [no-copy] [no-stop]` | a whole MPEG-1 clip: start, each picture's upload chunks, a draw at (X, Y) and a copy, then stop; written as its own records |

File names are relative to the script that names them.

## Records

Commands outside `record { }` are packed into records of at most 2048
bytes; a record is closed after each `copy`, before a `record`, `raw` or
`video`, and at the end. A command never spans two records. `copy` without
an identifier takes the last one plus 1 (the first is 1), and so do the
frames of `video`.

## Commands

)";

std::string _Offsets(size_t first, size_t bytes) {
    if (bytes == 1) return "byte " + std::to_string(first);
    return "bytes " + std::to_string(first) + "-" + std::to_string(first + bytes - 1);
}

std::string _Range(const FieldSpec &f) {
    if (f.halfUnits) return formatHalf(f.min) + " to " + formatHalf(f.max);
    return std::to_string(f.min) + " to " + std::to_string(f.max);
}

std::string _Upper(const std::string &s) {
    std::string u;
    for (char c : s) u += c == ' ' ? ' ' : (char)toupper((unsigned char)c);
    return u;
}

std::string _Synopsis(const CommandSpec &entry) {
    std::string s = entry.name;
    int optionals = 0;
    for (const FieldSpec &f : entry.fields) {
        switch (f.type) {
        case FieldType::Flag: s += std::string(" [") + f.name + "]"; break;
        case FieldType::Number:
        case FieldType::Colour:
        case FieldType::Pair:
            if (f.defaultValue || f.autoNumber) {
                s += " [";
                optionals++;
            } else {
                s += " ";
            }
            s += _Upper(f.name);
            break;
        case FieldType::Text: s += " \"TEXT\""; break;
        case FieldType::Data: s += " HH..."; break;
        case FieldType::Points: s += " X Y ..."; break;
        default: break;
        }
    }
    return s + std::string(optionals, ']');
}

std::string _Written(const FieldSpec &f) {
    switch (f.type) {
    case FieldType::Number:
    case FieldType::Pair: {
        std::string s;
        for (const NamedValue &n : f.names) s += std::string("`") + n.name + "`, ";
        s += f.halfUnits ? std::string(f.unit) + " " + _Range(f) : _Range(f);
        if (!f.halfUnits && *f.unit) s += std::string(" ") + f.unit;
        if (f.type == FieldType::Pair) s = "two values, " + s;
        if (f.defaultValue) s += "; default " + (f.halfUnits ? formatHalf(*f.defaultValue) : std::to_string(*f.defaultValue));
        return s;
    }
    case FieldType::Colour: return "`#AARRGGBB` or `#RRGGBB`";
    case FieldType::Flag: return std::string("`") + f.name + "` when set";
    case FieldType::Constant: return "not written (" + std::to_string(f.min) + ")";
    case FieldType::Count: return "not written";
    case FieldType::Text: return "text in double quotes";
    case FieldType::Data: return "hexadecimal bytes";
    case FieldType::Points: return "x y pairs in pixels, -1024 to 1023.5";
    }
    return "";
}

std::string _Wire(const FieldSpec &f, size_t slotAt, size_t slotBytes) {
    switch (f.type) {
    case FieldType::Pair:
        return _Offsets(slotAt, 3) + ": packed pair, " + (f.isSigned ? "signed" : "unsigned") + ", half " +
               (std::string(f.unit) == "degrees" ? "degrees" : "pixels");
    case FieldType::Text:
    case FieldType::Data: return "the rest of the command";
    case FieldType::Points: return "the rest: 3 bytes a point (packed pair, signed, half pixels)";
    default: break;
    }
    std::string s = _Offsets(slotAt, slotBytes);
    if (f.bits && f.bits != slotBytes * 8) {
        s += f.bits == 1 ? ", bit " + std::to_string(f.shift)
                         : ", bits " + std::to_string(f.shift) + "-" + std::to_string(f.shift + f.bits - 1);
    } else if (slotBytes > 1) {
        s += f.isSigned ? ", signed little-endian" : ", little-endian";
    }
    if (f.halfUnits) s += std::string(", half ") + (std::string(f.unit) == "degrees" ? "degrees" : "pixels");
    return s;
}

std::string _Table(const CommandSpec &entry) {
    std::string t = "| Field | Written as | On the wire | Meaning |\n|---|---|---|---|\n";
    size_t pos = 1, slotAt = 1, slotBytes = 0;
    for (const FieldSpec &f : entry.fields) {
        if (f.slotBytes) {
            slotAt = pos;
            slotBytes = f.slotBytes;
            pos += f.slotBytes;
        }
        std::string help = f.help;
        if (f.type == FieldType::Data) {
            static const char *const kinds[] = {"", " (compressed block)", " (upload chunk)", " (video chunk)",
                                                " (handshake chunk)", " (firmware chunk)"};
            help += kinds[(int)f.dataKind];
        }
        t += std::string("| ") + f.name + " | " + _Written(f) + " | " + _Wire(f, slotAt, slotBytes) + " | " + help +
             " |\n";
    }
    return t;
}

}  // namespace

std::string textFormReference() {
    std::string page = kIntroduction;
    for (const CommandSpec &entry : commandTable()) {
        page += "### " + std::string(entry.name) + " (opcode " + hexNumber(entry.opcode, 2) + ")\n\n";
        page += std::string(entry.summary) + "\n\n";
        page += "    " + _Synopsis(entry) + "\n\n";
        if (!entry.fields.empty() && !(entry.fields.size() == 1 && entry.fields[0].type == FieldType::Constant)) {
            page += _Table(entry) + "\n";
        }
        page += "Example: `" + std::string(entry.example) + "`\n\n";
    }
    page.pop_back();
    return page;
}

}  // namespace nimbra
