// The reply decoder: one table of reply payloads and the lines they give,
// and the JSON form of a few.
#include <gtest/gtest.h>

#include <set>

#include "tools/hostlib/reply_decoder.h"
#include "tools/hostlib/reply_table.h"

using nimbra::Bytes;

namespace {

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

std::string line(const Bytes &p) { return nimbra::describeReply(p.data(), p.size()); }
std::string json(const Bytes &p) { return nimbra::describeReplyJson(p.data(), p.size()); }

const Bytes kDeviceId = {'1', '1', '3', '0', '0', '0', '4', '0', '0', '0', '0', '1'};

}  // namespace

TEST(ReplyDecoder, EveryReplyTypeByNameWithItsFields) {
    const std::vector<std::pair<Bytes, std::string>> cases = {
        {{0x00, 0x05}, "frame-shown id 5"},
        {{0x01, 0x0A, 0x01}, "state-change unit 10 (display) state 1"},
        {concat({{0x02, 100, 0x77, 119, 0x01}, kDeviceId, {0x20, 0, 0, 0, 0x9C, 0xFF, 0x00, 0x04, 0x76}, Bytes(7)}),
         "system-status level 100 version 119 code 119 byte4 1 device \"113000400001\" status 0x00000020 "
         "offset -100 on 0x0400 byte25 118"},
        {{0x03, 0x02, 0x01, 0x01, 0x78, 0x56, 0x34, 0x12}, "cache-entry request 0x02 (fonts) slot 1 valid 1 crc 0x12345678"},
        {{0x04, 0x03, 0x01, 0x00}, "result opcode 0x03 (clear) code 0x01 (malformed) detail 0x00"},
        {{0x04, 0x1E, 0xE1, 0x00}, "result opcode 0x1E (handshake) code 0xE1 (counter rejected) detail 0x00"},
        {{0x04, 0x30, 0x01, 0x00}, "result opcode 0x30 (connect/disconnect) code 0x01 (malformed) detail 0x00"},
        {{0x04, 0x04, 0xC1, 0x07}, "result opcode 0x04 (load-image) code 0xC1 (checksum mismatch) detail 0x07"},
        {{0x04, 0x2A, 0x77, 0xFF}, "result opcode 0x2A (0x2A) code 0x77 (unknown) detail 0xFF"},
        {concat({{0x06}, {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0, 6, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF},
                 Bytes(16), {0x58, 0x02, 0, 0, 9, 0, 0, 0}}),
         "system-counters counters 1 2 3 4 5 6 4294967295 first-handshake 600 word14 9"},
        {concat({{0x06}, Bytes(28), {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, Bytes(8)}),
         "system-counters counters 0 0 0 0 0 0 0 spare 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 "
         "first-handshake 0 word14 0"},
        {{0x07, 0x00, 0x04, 100, 150, 0x30, 0x11, 0x5E, 0x01, 100, 0, 250, 0},
         "display-info on 0x0400 level 100 display-level 150 value1 4400 value2 350 value3 100 value4 250"},
        {{0x08, 100, 0x77, 0x01, 0x00, 0x04, 0x76}, "short-status level 100 version 119 byte3 1 on 0x0400 byte6 118"},
        {{0x09, 0, 0xE8, 0x03, 0xC4, 0x03, 0x02, 0x00, 0xAB, 0xCD},
         "calibration spare 0 total 1000 offset 964 n 2 data AB CD"},
        {concat({{0x09, 0, 40, 0, 0, 0, 20, 0}, Bytes(20, 0x11)}),
         "calibration spare 0 total 40 offset 0 n 20 data 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 ... "
         "(20 bytes)"},
        {{0x0B, 0x01, 0x02, 0x01, 0, 0, 0, 0, 0, 0, 0}, "cache-usage request 0x01 (images) count 2 crcs 0x00000001 0x00000000"},
        {{0x0B, 0x00, 0x00}, "cache-usage request 0x00 (none) count 0 crcs"},
        {{0x40, 0xFF, 0xFF}, "tick-rate 65535"},
        {{0x41, 0xEA, 0x01}, "mtu 490"},
        // What does not fit its type is shown as bytes with what is wrong.
        {{0x00}, "frame-shown (1 bytes, 2 expected): 00"},
        {{0x04, 0x03, 0x01, 0x00, 0x00}, "result (5 bytes, 4 expected): 04 03 01 00 00"},
        {{0x09, 0, 40, 0, 0, 0, 20, 0, 1}, "calibration (9 bytes, 28 expected): 09 00 28 00 00 00 14 00 01"},
        {{0x0B, 0x02}, "cache-usage (2 bytes, more expected): 0B 02"},
        {{0x05, 0x01}, "unknown (type 0x05 is not a reply the device sends): 05 01"},
        {{}, "empty (no bytes)"},
    };
    for (const auto &[payload, expected] : cases) EXPECT_EQ(line(payload), expected);
}

TEST(ReplyDecoder, JsonObjectsCarryNumbersNamesAndMeanings) {
    EXPECT_EQ(json({0x04, 0x03, 0x01, 0x00}),
              R"({"type":"result","opcode":3,"command":"clear","code":1,"meaning":"malformed","detail":0})");
    EXPECT_EQ(json({0x01, 0x0A, 0x00}), R"({"type":"state-change","unit":10,"unit_name":"display","state":0})");
    EXPECT_EQ(json({0x0B, 0x02, 0x01, 0x01, 0, 0, 0}), R"({"type":"cache-usage","request":2,"request_name":"fonts","count":1,"crcs":[1]})");
    EXPECT_EQ(json({0x09, 0, 2, 0, 0, 0, 2, 0, 0xAB, 0x0C}),
              R"({"type":"calibration","spare":0,"total":2,"offset":0,"n":2,"data":"ab0c"})");
    EXPECT_EQ(json(concat({{0x02, 100, 0x77, 119, 0x01}, Bytes{'"', '\\', 0x01, 0xE9, '0', '0', '0', '0', '0', '0', '0', '0'},
                           {0, 0, 0, 0, 0x9C, 0xFF, 0x00, 0x04, 0x76}, Bytes(7)})),
              R"({"type":"system-status","level":100,"version":119,"code":119,"byte4":1,"device":"\"\\\u0001\u00e90000000)"
              R"(0","status":0,"offset":-100,"on":1024,"byte25":118})");
    EXPECT_EQ(json({0x41, 0xEA}), R"({"type":"mtu","code":65,"error":"2 bytes, 3 expected","bytes":"41ea"})");
    EXPECT_EQ(json({0x41, 0xEA, 0x01}), R"({"type":"mtu","mtu":490})");
}

TEST(ReplyDecoder, TableNamesAndTypesAreUnique) {
    std::set<std::string> names;
    for (const nimbra::ReplySpec &r : nimbra::replyTable()) {
        EXPECT_TRUE(names.insert(r.name).second) << r.name;
        EXPECT_EQ(nimbra::findReply(r.type), &r);
    }
}
