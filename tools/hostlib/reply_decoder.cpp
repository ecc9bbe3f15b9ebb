#include "tools/hostlib/reply_decoder.h"

#include "tools/hostlib/reply_table.h"
#include "tools/hostlib/text_escape.h"

namespace nimbra {

namespace {

// How many bytes of data a line shows before it abbreviates.
constexpr size_t kLineDataBytes = 16;

uint64_t _ReadLe(const uint8_t *p, size_t n) {
    uint64_t v = 0;
    for (size_t i = 0; i < n; i++) v |= (uint64_t)p[i] << (8 * i);
    return v;
}

std::string _HexList(const uint8_t *p, size_t n, size_t shown) {
    std::string s;
    appendHexBytes(s, p, n < shown ? n : shown);
    if (n > shown) s += " ... (" + std::to_string(n) + " bytes)";
    return s;
}

std::string _JsonHex(const uint8_t *p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s = "\"";
    for (size_t i = 0; i < n; i++) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s + "\"";
}

// The length a payload of this type must have, or 0 when its bytes do not
// even hold the count that decides it.
size_t _ExpectedLength(const ReplySpec &entry, const uint8_t *p, size_t n) {
    size_t at = 1;
    uint64_t last = 0;
    bool lastKnown = true;
    for (const ReplyFieldSpec &f : entry.fields) {
        size_t size = 0;
        switch (f.type) {
        case ReplyFieldType::Number: size = f.bytes; break;
        case ReplyFieldType::Opcode:
        case ReplyFieldType::ResultCode: size = 1; break;
        case ReplyFieldType::Ascii:
        case ReplyFieldType::Zeros: size = f.bytes; break;
        case ReplyFieldType::Words: size = 4u * f.bytes; break;
        case ReplyFieldType::WordList: size = 4 * last; break;
        case ReplyFieldType::Data: size = last; break;
        }
        if ((f.type == ReplyFieldType::WordList || f.type == ReplyFieldType::Data) && !lastKnown) return 0;
        if (f.type == ReplyFieldType::Number) {
            lastKnown = at + size <= n;
            if (lastKnown) last = _ReadLe(p + at, size);
        }
        at += size;
    }
    return at;
}

ReplyItem _Number(const ReplyFieldSpec &f, const uint8_t *p) {
    uint64_t raw = _ReadLe(p, f.bytes);
    int64_t value = (int64_t)raw;
    if (f.isSigned && (raw >> (8 * f.bytes - 1)) & 1) value -= (int64_t)1 << (8 * f.bytes);
    ReplyItem item{f.name, f.hex ? hexNumber(raw, 2 * f.bytes) : std::to_string(value), std::to_string(value), {}};
    for (const NamedValue &n : f.names) {
        if (n.value == value) {
            item.text += std::string(" (") + n.name + ")";
            item.extraJson.emplace_back(std::string(f.name) + "_name", jsonString(n.name));
        }
    }
    return item;
}

}  // namespace

DecodedReply decodeReply(const uint8_t *p, size_t n) {
    DecodedReply reply;
    if (n == 0) {
        reply.name = "empty";
        reply.problem = "no bytes";
        return reply;
    }
    reply.type = p[0];
    const ReplySpec *entry = findReply(p[0]);
    if (!entry) {
        reply.name = "unknown";
        reply.problem = "type " + hexNumber(p[0], 2) + " is not a reply the device sends";
        return reply;
    }
    reply.name = entry->name;
    const size_t expected = _ExpectedLength(*entry, p, n);
    if (expected != n) {
        reply.problem = std::to_string(n) + " bytes, " +
                        (expected ? std::to_string(expected) : std::string("more")) + " expected";
        return reply;
    }
    size_t at = 1;
    uint64_t last = 0;
    for (const ReplyFieldSpec &f : entry->fields) {
        const uint8_t *q = p + at;
        switch (f.type) {
        case ReplyFieldType::Number:
            reply.items.push_back(_Number(f, q));
            last = _ReadLe(q, f.bytes);
            at += f.bytes;
            break;
        case ReplyFieldType::Opcode:
            reply.items.push_back({f.name, hexNumber(q[0], 2) + " (" + opcodeName(q[0]) + ")",
                                   std::to_string(q[0]), {{"command", jsonString(opcodeName(q[0]))}}});
            at += 1;
            break;
        case ReplyFieldType::ResultCode:
            reply.items.push_back({f.name, hexNumber(q[0], 2) + " (" + resultMeaning(q[0]) + ")",
                                   std::to_string(q[0]), {{"meaning", jsonString(resultMeaning(q[0]))}}});
            at += 1;
            break;
        case ReplyFieldType::Ascii: {
            const std::string s((const char *)q, f.bytes);
            reply.items.push_back({f.name, quoteText(q, f.bytes), jsonString(s), {}});
            at += f.bytes;
            break;
        }
        case ReplyFieldType::Zeros: {
            bool zero = true;
            for (size_t i = 0; i < f.bytes; i++) zero &= q[i] == 0;
            // Shown only when a byte that should be 0 is not.
            if (!zero) reply.items.push_back({f.name, _HexList(q, f.bytes, f.bytes), _JsonHex(q, f.bytes), {}});
            at += f.bytes;
            break;
        }
        case ReplyFieldType::Words:
        case ReplyFieldType::WordList: {
            const size_t count = f.type == ReplyFieldType::Words ? f.bytes : last;
            std::string text, json = "[";
            for (size_t i = 0; i < count; i++) {
                const uint32_t w = (uint32_t)_ReadLe(q + 4 * i, 4);
                text += (i ? " " : "") + (f.type == ReplyFieldType::WordList ? hexNumber(w, 8) : std::to_string(w));
                json += (i ? "," : "") + std::to_string(w);
            }
            reply.items.push_back({f.name, text, json + "]", {}});
            at += 4 * count;
            break;
        }
        case ReplyFieldType::Data:
            reply.items.push_back({f.name, _HexList(q, last, kLineDataBytes), _JsonHex(q, last), {}});
            at += last;
            break;
        }
    }
    return reply;
}

std::string describeReply(const uint8_t *p, size_t n) {
    const DecodedReply reply = decodeReply(p, n);
    std::string line = reply.name;
    if (!reply.problem.empty()) {
        line += " (" + reply.problem + ")";
        if (n) line += ": " + _HexList(p, n, 64);
        return line;
    }
    for (const ReplyItem &item : reply.items) {
        // A reply of one value named like itself reads "mtu 490".
        if (item.name != reply.name) line += " " + item.name;
        if (!item.text.empty()) line += " " + item.text;
    }
    return line;
}

std::string describeReplyJson(const uint8_t *p, size_t n) {
    const DecodedReply reply = decodeReply(p, n);
    std::string json = "{\"type\":" + jsonString(reply.name);
    if (!reply.problem.empty()) {
        if (n) json += ",\"code\":" + std::to_string(p[0]);
        return json + ",\"error\":" + jsonString(reply.problem) + ",\"bytes\":" + _JsonHex(p, n) + "}";
    }
    for (const ReplyItem &item : reply.items) {
        json += "," + jsonString(item.name) + ":" + item.json;
        for (const auto &[key, value] : item.extraJson) json += "," + jsonString(key) + ":" + value;
    }
    return json + "}";
}

}  // namespace nimbra
