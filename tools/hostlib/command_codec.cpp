// Encoding and decoding walk a command's fields in table order: a field with
// slot bytes starts a new slot on the wire, the fields after it with none
// take their bits from that same slot, and the variable part follows the
// last slot.
#include "tools/hostlib/command_codec.h"

namespace nimbra {

namespace {

uint64_t _ReadSlot(const uint8_t *p, size_t bytes) {
    uint64_t v = 0;
    for (size_t i = 0; i < bytes; i++) v |= (uint64_t)p[i] << (8 * i);
    return v;
}

void _WriteSlot(uint8_t *p, size_t bytes, uint64_t v) {
    for (size_t i = 0; i < bytes; i++) p[i] = (uint8_t)(v >> (8 * i));
}

int64_t _Extract(const FieldSpec &f, uint64_t slot, size_t slotBytes) {
    const unsigned width = f.bits ? f.bits : (unsigned)slotBytes * 8;
    const uint64_t mask = width >= 64 ? ~0ull : (1ull << width) - 1;
    uint64_t raw = (slot >> f.shift) & mask;
    if (f.isSigned && (raw >> (width - 1)) & 1) return (int64_t)raw - (int64_t)(1ull << width);
    return (int64_t)raw;
}

uint64_t _Insert(const FieldSpec &f, uint64_t slot, size_t slotBytes, int64_t value) {
    const unsigned width = f.bits ? f.bits : (unsigned)slotBytes * 8;
    const uint64_t mask = width >= 64 ? ~0ull : (1ull << width) - 1;
    return (slot & ~(mask << f.shift)) | (((uint64_t)value & mask) << f.shift);
}

// A packed pair: byte 0 holds bits 8-11 of both values (A low nibble, B high
// nibble), bytes 1 and 2 their low bytes.
void _ReadPair(const FieldSpec &f, const uint8_t *p, int64_t &a, int64_t &b) {
    uint32_t ua = ((uint32_t)(p[0] & 0x0F) << 8) | p[1];
    uint32_t ub = ((uint32_t)(p[0] >> 4) << 8) | p[2];
    a = f.isSigned && (ua & 0x800) ? (int64_t)ua - 4096 : ua;
    b = f.isSigned && (ub & 0x800) ? (int64_t)ub - 4096 : ub;
}

void _WritePair(uint8_t *p, int64_t a, int64_t b) {
    uint32_t ua = (uint32_t)a & 0xFFF, ub = (uint32_t)b & 0xFFF;
    p[0] = (uint8_t)((ua >> 8) | ((ub >> 8) << 4));
    p[1] = (uint8_t)ua;
    p[2] = (uint8_t)ub;
}

bool _Fail(std::string *error, const std::string &message) {
    if (error) *error = message;
    return false;
}

std::string _Range(const FieldSpec &f) {
    return std::to_string(f.min) + " to " + std::to_string(f.max);
}

// Where the slots lie as the fields are walked in table order.
struct SlotWalk {
    size_t pos = 1;         // past the slots so far (the opcode is byte 0)
    size_t slotAt = 1;      // the current slot's first byte
    size_t slotBytes = 0;   // its size; 0 before the first slot

    // Moves to the field's slot; true when the field starts a new one.
    bool enter(const FieldSpec &f) {
        if (!f.slotBytes) return false;
        slotAt = pos;
        slotBytes = f.slotBytes;
        pos += f.slotBytes;
        return true;
    }
};

}  // namespace

size_t fixedBytes(const CommandSpec &entry) {
    size_t n = 1;
    for (const FieldSpec &f : entry.fields) n += f.slotBytes;
    return n;
}

const FieldSpec *variableField(const CommandSpec &entry) {
    for (const FieldSpec &f : entry.fields)
        if (f.type == FieldType::Text || f.type == FieldType::Data || f.type == FieldType::Points) return &f;
    return nullptr;
}

size_t commandLength(const CommandSpec &entry, const uint8_t *command) {
    const FieldSpec *tail = variableField(entry);
    SlotWalk walk;
    int64_t elements = 0;
    for (const FieldSpec &f : entry.fields) {
        walk.enter(f);
        if (f.type == FieldType::Count) {
            elements = _Extract(f, _ReadSlot(command + walk.slotAt, walk.slotBytes), walk.slotBytes);
        }
    }
    return walk.pos + (tail ? (size_t)elements * tail->elementBytes : 0);
}

bool encodeCommand(const CommandSpec &entry, const CommandValues &values, Bytes &out, std::string *error) {
    const FieldSpec *tail = variableField(entry);
    int64_t elements = 0;
    if (tail) elements = tail->type == FieldType::Points ? (int64_t)values.points.size() : (int64_t)values.data.size();
    // Written in place after what `out` holds, and taken back on failure.
    const size_t start = out.size();
    out.resize(start + fixedBytes(entry), 0);
    uint8_t *bytes = out.data() + start;
    bytes[0] = entry.opcode;
    SlotWalk walk;
    size_t next = 0;
    uint64_t slot = 0;
    // Pairs are written straight into their 3-byte slot; other slots
    // gather their fields' bits first.
    auto flushSlot = [&]() {
        if (walk.slotBytes && walk.slotBytes != 3) _WriteSlot(&bytes[walk.slotAt], walk.slotBytes, slot);
    };
    auto fail = [&](const std::string &message) {
        out.resize(start);
        return _Fail(error, message);
    };
    auto take = [&](const FieldSpec &f, int64_t &v) {
        if (next >= values.numbers.size()) return fail(std::string(entry.name) + ": " + f.name + " missing");
        v = values.numbers[next++];
        if (v < f.min || v > f.max)
            return fail(std::string(f.name) + " " + std::to_string(v) + " is out of range (" + _Range(f) + ")");
        return true;
    };
    for (const FieldSpec &f : entry.fields) {
        if (f.slotBytes) {
            flushSlot();
            walk.enter(f);
            slot = 0;
        }
        const size_t slotBytes = walk.slotBytes;
        int64_t a = 0, b = 0;
        switch (f.type) {
        case FieldType::Pair:
            if (!take(f, a) || !take(f, b)) return false;
            _WritePair(&bytes[walk.slotAt], a, b);
            break;
        case FieldType::Number:
        case FieldType::Colour:
        case FieldType::Flag:
            if (!take(f, a)) return false;
            slot = _Insert(f, slot, slotBytes, a);
            break;
        case FieldType::Constant: slot = _Insert(f, slot, slotBytes, f.min); break;
        case FieldType::Count:
            if (elements > f.max) {
                return fail(std::string(entry.name) + ": " + std::to_string(elements) +
                            (tail->type == FieldType::Points ? " points" : " bytes") + ", at most " +
                            std::to_string(f.max));
            }
            slot = _Insert(f, slot, slotBytes, elements);
            break;
        default: break;
        }
    }
    flushSlot();
    if (next != values.numbers.size()) return fail(std::string(entry.name) + ": too many values");
    if (tail && tail->type == FieldType::Points) {
        for (const Point &p : values.points) {
            if (p.x < -2048 || p.x > 2047 || p.y < -2048 || p.y > 2047) return fail("point out of range (-1024 to 1023.5)");
            uint8_t packed[3];
            _WritePair(packed, p.x, p.y);
            out.insert(out.end(), packed, packed + 3);
        }
    } else if (tail) {
        out.insert(out.end(), values.data.begin(), values.data.end());
    }
    return true;
}

bool decodeCommand(const CommandSpec &entry, const uint8_t *command, size_t length, CommandValues &values) {
    values.numbers.clear();
    values.data.clear();
    values.points.clear();
    SlotWalk walk;
    uint64_t slot = 0;
    for (const FieldSpec &f : entry.fields) {
        if (walk.enter(f)) {
            if (walk.pos > length) return false;
            slot = walk.slotBytes == 3 ? 0 : _ReadSlot(command + walk.slotAt, walk.slotBytes);
        }
        const size_t slotBytes = walk.slotBytes;
        int64_t a, b;
        switch (f.type) {
        case FieldType::Pair:
            _ReadPair(f, command + walk.slotAt, a, b);
            values.numbers.push_back(a);
            values.numbers.push_back(b);
            break;
        case FieldType::Number:
        case FieldType::Colour:
        case FieldType::Flag:
        case FieldType::Constant:
            a = _Extract(f, slot, slotBytes);
            if (a < f.min || a > f.max) return false;
            if (f.type != FieldType::Constant) values.numbers.push_back(a);
            break;
        default: break;
        }
    }
    const FieldSpec *tail = variableField(entry);
    const size_t pos = walk.pos;
    if (!tail) return pos == length;
    if (tail->type == FieldType::Points) {
        if ((length - pos) % 3) return false;
        FieldSpec pairSpec = *tail;
        for (size_t at = pos; at < length; at += 3) {
            int64_t x, y;
            _ReadPair(pairSpec, command + at, x, y);
            values.points.push_back(Point{(int32_t)x, (int32_t)y});
        }
    } else {
        values.data.assign(command + pos, command + length);
    }
    return true;
}

}  // namespace nimbra
