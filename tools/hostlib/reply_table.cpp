// The table of every reply. Field names are those of the replies' own
// descriptions where they have one; the two constant bytes of the status
// replies, which carry no meaning the device documents, are named after
// their offset.
#include "tools/hostlib/reply_table.h"

namespace nimbra {

namespace {

ReplyFieldSpec u8(const char *name) { return {name, ReplyFieldType::Number, 1}; }
ReplyFieldSpec u16(const char *name) { return {name, ReplyFieldType::Number, 2}; }
ReplyFieldSpec u32(const char *name) { return {name, ReplyFieldType::Number, 4}; }
ReplyFieldSpec hex(const char *name, uint8_t bytes) { return {name, ReplyFieldType::Number, bytes, false, true}; }
ReplyFieldSpec named(ReplyFieldSpec f, std::vector<NamedValue> names) {
    f.names = std::move(names);
    return f;
}

// The request byte of the cache command, echoed in its replies.
const std::vector<NamedValue> kCacheRequests = {{0x00, "none"}, {0x01, "images"}, {0x02, "fonts"}};

std::vector<ReplySpec> _BuildTable() {
    return {
        {0x00, "frame-shown", "a copy command was carried out", {u8("id")}},
        {0x01, "state-change", "a device unit was switched (sent once authenticated)",
         {named(u8("unit"), {{10, "display"}}), u8("state")}},
        {0x02, "system-status", "system information, kind status",
         {u8("level"), u8("version"), u8("code"), u8("byte4"), {"device", ReplyFieldType::Ascii, 12},
          hex("status", 4), {"offset", ReplyFieldType::Number, 2, true}, hex("on", 2), u8("byte25"),
          {"spare", ReplyFieldType::Zeros, 7}}},
        {0x03, "cache-entry", "the state of one cache slot",
         {named(hex("request", 1), kCacheRequests), u8("slot"), u8("valid"), hex("crc", 4)}},
        {0x04, "result", "the result of a command: 0x00 acknowledges, any other code refuses",
         {{"opcode", ReplyFieldType::Opcode}, {"code", ReplyFieldType::ResultCode}, hex("detail", 1)}},
        {0x06, "system-counters", "system information, kind counters",
         {{"counters", ReplyFieldType::Words, 7}, {"spare", ReplyFieldType::Zeros, 16}, u32("first-handshake"),
          u32("word14")}},
        {0x07, "display-info", "system information, kind display",
         {hex("on", 2), u8("level"), u8("display-level"), u16("value1"), u16("value2"), u16("value3"),
          u16("value4")}},
        {0x08, "short-status", "system information, kind short status",
         {u8("level"), u8("version"), u8("byte3"), hex("on", 2), u8("byte6")}},
        {0x09, "calibration", "one chunk of the calibration data",
         {u8("spare"), u16("total"), u16("offset"), u16("n"), {"data", ReplyFieldType::Data}}},
        {0x0B, "cache-usage", "the checksums of all slots of a kind (0: empty)",
         {named(hex("request", 1), kCacheRequests), u8("count"), {"crcs", ReplyFieldType::WordList}}},
        {0x40, "tick-rate", "the tick rate changed", {u16("tick-rate")}},
        {0x41, "mtu", "the link's MTU, sent on connect", {u16("mtu")}},
    };
}

}  // namespace

const std::vector<ReplySpec> &replyTable() {
    static const std::vector<ReplySpec> table = _BuildTable();
    return table;
}

const ReplySpec *findReply(uint8_t type) {
    for (const ReplySpec &r : replyTable())
        if (r.type == type) return &r;
    return nullptr;
}

const char *resultMeaning(uint8_t code) {
    switch (code) {
    case 0x00: return "ok";
    case 0x01: return "malformed";
    case 0x02: return "out of sequence or missing data";
    case 0x03: return "not supported";
    case 0xC0: return "cannot be decoded";
    case 0xC1: return "checksum mismatch";
    case 0xE0: return "authentication failed";
    case 0xE1: return "counter rejected";
    case 0xE4: return "another device identity";
    default: return "unknown";
    }
}

}  // namespace nimbra
