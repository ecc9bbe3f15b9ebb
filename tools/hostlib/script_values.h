// The values of the text form as the assembler reads them from tokens.
// Every function here fails by throwing ScriptLineError with the column of
// the word at fault and a message of the form "what expected, got 'word'".
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/hostlib/command_table.h"
#include "tools/hostlib/script_lexer.h"

namespace nimbra {

// An error in the line being read; the assembler adds file and line.
struct ScriptLineError {
    size_t column;
    std::string message;
};
[[noreturn]] void failAt(size_t column, std::string message);

// A token as a message shows it: 'word'.
std::string shown(const Token &t);
// The token at i, or a failure "WHAT expected, got end of line" at lineEnd.
const Token &need(const std::vector<Token> &tokens, size_t i, const std::string &what, size_t lineEnd);

// A whole number, decimal or 0x hexadecimal, with an optional sign.
std::optional<int64_t> parseInteger(std::string_view s);
// A number in half steps ("10", "300.5", "-0.5") as a count of halves.
std::optional<int64_t> parseHalves(std::string_view s);
// #RRGGBB (opaque) or #AARRGGBB.
std::optional<uint32_t> parseColour(std::string_view s);

// The bytes written as hexadecimal pairs in tokens[from] to the end.
void hexBytes(const std::vector<Token> &tokens, size_t from, Bytes &out);
// The same read straight from text, up to a comment; false at anything but
// a byte, for hexBytes to name it.
bool fastHexBytes(std::string_view text, Bytes &out);

// The name of one value of a field: "x" and "y" of a pair named "x y".
std::string valueName(const FieldSpec &f, int which);
// A number of a field, a name of its values or a number in its range;
// `which` is the value of a pair (0 or 1), or -1 and -2 for a point's x and
// y (names are made only for messages).
int64_t parseFieldNumber(const FieldSpec &f, const Token &t, int which);

// Options written as `key value` or `flag`, in any order.
struct ScriptOptions {
    std::map<std::string, const Token *> values;
    std::map<std::string, bool> flags;
};
ScriptOptions parseOptions(const std::vector<Token> &tokens, size_t from, const std::vector<std::string> &withValue,
                           const std::vector<std::string> &flags);
// The number of an option within [lo, hi], or `fallback` when not given.
int64_t optionNumber(const ScriptOptions &o, const std::string &key, int64_t fallback, int64_t lo, int64_t hi);

}  // namespace nimbra
