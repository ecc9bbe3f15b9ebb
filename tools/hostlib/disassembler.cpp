// The disassembler follows the device's own reading: a record header it
// drops, a record cut by the end of the stream, and within a record the
// dispatcher's walk (the handler's framing by the command table), stopping
// where the device stops.
#include "tools/hostlib/disassembler.h"

#include <charconv>

#include "tools/hostlib/record_walk.h"
#include "tools/hostlib/text_escape.h"

namespace nimbra {

namespace {

// Comments start at this column when the line is shorter.
constexpr size_t kCommentColumn = 40;

std::string _Report(uint8_t opcode, uint8_t code, int detail) {
    std::string s;
    const uint8_t report[4] = {0x04, opcode, code, (uint8_t)detail};
    appendHexBytes(s, report, 4);
    return s;
}

// "<reason>: the device reports 04 .. and skips the rest of the record".
std::string _StopNote(const std::string &reason, uint8_t opcode, uint8_t code, int detail) {
    if (detail < 0) return reason + ": the device skips the rest of the record without a report";
    return reason + ": the device reports " + _Report(opcode, code, detail) + " and skips the rest of the record";
}

// Integers are appended without a temporary string: a disassembly writes
// millions of them.
void _AppendInteger(std::string &out, int64_t v) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
    out.append(digits, end);
}

void _AppendHalf(std::string &out, int64_t halves) {
    const int64_t magnitude = halves < 0 ? -halves : halves;
    if (halves < 0) out += '-';
    _AppendInteger(out, magnitude / 2);
    if (magnitude & 1) out += ".5";
}

void _AppendNumber(std::string &out, const FieldSpec &f, int64_t v) {
    out += ' ';
    if (const char *name = f.nameOf(v)) {
        out += name;
    } else if (f.halfUnits) {
        _AppendHalf(out, v);
    } else {
        _AppendInteger(out, v);
    }
}

void _AppendCommand(std::string &out, const CommandSpec &entry, const CommandValues &values);

}  // namespace

std::string formatCommand(const CommandSpec &entry, const CommandValues &values) {
    std::string out;
    _AppendCommand(out, entry, values);
    return out;
}

namespace {

void _AppendCommand(std::string &out, const CommandSpec &entry, const CommandValues &values) {
    // Trailing fields equal to their defaults are left out.
    size_t numbersShown = values.numbers.size();
    for (size_t i = entry.fields.size(); i-- > 0;) {
        const FieldSpec &f = entry.fields[i];
        const size_t k = f.valueCount();
        if (k == 0) continue;
        if (!f.defaultValue || numbersShown < k) break;
        bool isDefault = true;
        for (size_t j = 0; j < k; j++) isDefault &= values.numbers[numbersShown - k + j] == *f.defaultValue;
        if (!isDefault) break;
        numbersShown -= k;
    }
    out += entry.name;
    size_t next = 0;
    for (const FieldSpec &f : entry.fields) {
        if (next >= numbersShown && f.valueCount()) break;
        switch (f.type) {
        case FieldType::Number: _AppendNumber(out, f, values.numbers[next++]); break;
        case FieldType::Pair:
            _AppendNumber(out, f, values.numbers[next++]);
            _AppendNumber(out, f, values.numbers[next++]);
            break;
        case FieldType::Colour: {
            const uint32_t argb = (uint32_t)values.numbers[next++];
            out += ' ';
            out += (argb >> 24) == 0xFF ? "#" + hexNumber(argb & 0xFFFFFF, 6).substr(2)
                                        : "#" + hexNumber(argb, 8).substr(2);
            break;
        }
        case FieldType::Flag:
            if (values.numbers[next++]) out += std::string(" ") + f.name;
            break;
        default: break;
        }
    }
    const FieldSpec *tail = variableField(entry);
    if (tail && tail->type == FieldType::Text) {
        out += ' ';
        appendQuotedText(out, values.data.data(), values.data.size());
    } else if (tail && tail->type == FieldType::Data && !values.data.empty()) {
        out += ' ';
        appendHexBytes(out, values.data.data(), values.data.size());
    } else if (tail && tail->type == FieldType::Points) {
        for (const Point &p : values.points) {
            out += ' ';
            _AppendHalf(out, p.x);
            out += ' ';
            _AppendHalf(out, p.y);
        }
    }
}

// Fills `d` (its text and note cleared first, their room kept).
void _Disassemble(const uint8_t *payload, size_t size, size_t offset, DisassembledCommand &d);

}  // namespace

DisassembledCommand disassembleCommand(const uint8_t *payload, size_t size, size_t offset) {
    DisassembledCommand d;
    _Disassemble(payload, size, offset, d);
    return d;
}

namespace {

void _RestAsBytes(const uint8_t *p, size_t n, std::string note, DisassembledCommand &d) {
    d.text = "bytes ";
    appendHexBytes(d.text, p, n);
    d.length = n;
    d.note = std::move(note);
    d.stopsRecord = true;
}

void _Disassemble(const uint8_t *payload, size_t size, size_t offset, DisassembledCommand &d) {
    d.text.clear();
    d.note.clear();
    d.stopsRecord = d.endsStream = false;
    const uint8_t *c = payload + offset;
    const size_t remaining = size - offset;
    const uint8_t op = c[0];
    const auto &entries = commandsOf(op);
    if (entries.empty()) {
        return _RestAsBytes(c, remaining,
                            "unknown opcode " + hexNumber(op, 2) +
                                ": the device sets status bit 5 and skips the rest of the record",
                            d);
    }
    const CommandSpec &first = *entries[0];
    if (remaining < first.minBytes) {
        if (first.shortAction) {
            _RestAsBytes(c, remaining, std::string("too short: ") + first.shortAction, d);
            d.endsStream = first.endsStream;
            return;
        }
        return _RestAsBytes(c, remaining, _StopNote("too short", op, 0x01, first.shortDetail), d);
    }
    const size_t length = commandLength(first, c);
    std::optional<Refusal> refusal = first.refusal ? first.refusal(c, length, remaining) : std::nullopt;
    if (length > remaining) {
        Refusal overrun = refusal.value_or(Refusal{"its fields pass the end of the record", 0x01,
                                                   first.reportsOverrun ? first.shortDetail : -1});
        return _RestAsBytes(c, remaining, _StopNote(overrun.reason, op, overrun.code, overrun.detail), d);
    }
    static thread_local CommandValues values;
    for (const CommandSpec *entry : entries) {
        if (!decodeCommand(*entry, c, length, values)) continue;
        _AppendCommand(d.text, *entry, values);
        d.length = length;
        d.endsStream = entry->endsStream;
        if (refusal) {
            d.note = _StopNote("refused, " + refusal->reason, op, refusal->code, refusal->detail);
            d.stopsRecord = true;
        } else if (entry->endsStream) {
            d.note = "the device stops reading after this record";
        }
        return;
    }
    // Every byte value of every field belongs to some entry; this is a
    // safety net for a table that would leave a gap.
    _RestAsBytes(c, length, "", d);
    d.stopsRecord = false;
}

// Appends a line with its comment at the comment column.
void _Line(std::string &out, size_t indent, const std::string &text, const std::string &comment) {
    const size_t start = out.size();
    out.append(indent, ' ');
    out += text;
    if (!comment.empty()) {
        const size_t width = out.size() - start;
        if (!text.empty()) out.append(width < kCommentColumn ? kCommentColumn - width : 1, ' ');
        out += "# ";
        out += comment;
    }
    out += '\n';
}

std::string _Join(const std::string &a, const std::string &b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    return a + ": " + b;
}

std::string _At(bool offsets, size_t position) { return offsets ? "@" + std::to_string(position) : ""; }

// A command's line: indented, with "# @OFFSET: NOTE" at the comment column.
// The hot path of a disassembly, so it appends in place.
void _CommandLine(std::string &out, const DisassembledCommand &d, bool offsets, size_t position) {
    out.append(2, ' ');
    out += d.text;
    if (offsets || !d.note.empty()) {
        const size_t width = 2 + d.text.size();
        out.append(width < kCommentColumn ? kCommentColumn - width : 1, ' ');
        out += "# ";
        if (offsets) {
            out += '@';
            _AppendInteger(out, (int64_t)position);
            if (!d.note.empty()) out += ": ";
        }
        out += d.note;
    }
    out += '\n';
}

}  // namespace

std::string disassembleStream(const uint8_t *stream, size_t size, const DisassemblyOptions &options) {
    std::string out;
    DisassembledCommand d;
    size_t pos = 0;
    bool ended = false;
    // Small commands take up to about 6 characters a byte with their
    // comments, data 3.5; the room not used is never touched.
    out.reserve(size * 7 + 4096);
    while (pos < size) {
        if (ended) {
            ended = false;
            _Line(out, 0, "", "the device has stopped reading: what follows is not run");
        }
        const RecordPiece piece = recordPieceAt(stream, size, pos);
        if (piece.kind != RecordPieceKind::Record) {
            std::string text = "raw ";
            appendHexBytes(text, stream + pos, piece.bytes);
            _Line(out, 0, text, _Join(_At(options.offsets, pos), recordPieceNote(piece)));
            pos += piece.bytes;
            continue;
        }
        const uint8_t *h = stream + pos;
        const uint32_t length = piece.announced;
        std::string open = "record ";
        if (h[4] | h[5] | h[6] | h[7]) {
            appendHexBytes(open, h + 4, 4);
            open += ' ';
        }
        const uint8_t *payload = h + kRecordHeaderBytes;
        const size_t recordAt = pos;
        pos += kRecordHeaderBytes + length;
        if (length == 0) {
            _Line(out, 0, open + "{ }", _At(options.offsets, recordAt));
            continue;
        }
        _Line(out, 0, open + "{",
              _Join(_At(options.offsets, recordAt), options.offsets ? std::to_string(length) + " bytes" : ""));
        size_t at = 0;
        bool stopped = false;
        while (at < length) {
            const size_t commandAt = recordAt + kRecordHeaderBytes + at;
            if (stopped) {
                _RestAsBytes(payload + at, length - at, "not run", d);
            } else {
                _Disassemble(payload, length, at, d);
            }
            _CommandLine(out, d, options.offsets, commandAt);
            at += d.length;
            stopped = d.stopsRecord;
            ended |= d.endsStream;
        }
        _Line(out, 0, "}", "");
    }
    return out;
}

}  // namespace nimbra
