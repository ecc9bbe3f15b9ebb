// Replies by name: one readable line, or one JSON object, per response
// payload, driven by the reply table. A payload whose length does not fit
// its type, or of a type the table does not know, is shown as its bytes with
// what is wrong.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace nimbra {

struct ReplyItem {
    std::string name;    // "opcode"
    std::string text;    // as the line shows it: "0x03 (clear)"
    std::string json;    // a JSON value: 3
    // More JSON members the value brings ("command": "clear").
    std::vector<std::pair<std::string, std::string>> extraJson;
};

struct DecodedReply {
    std::string name;          // "result"; "unknown" for a type not in the table
    uint8_t type = 0;
    std::vector<ReplyItem> items;
    std::string problem;       // empty when the payload is well formed
};

DecodedReply decodeReply(const uint8_t *payload, size_t length);
// "result opcode 0x03 (clear) code 0x01 (malformed) detail 0x00"
std::string describeReply(const uint8_t *payload, size_t length);
// {"type":"result","opcode":3,"command":"clear","code":1,"meaning":"malformed","detail":0}
std::string describeReplyJson(const uint8_t *payload, size_t length);

}  // namespace nimbra
