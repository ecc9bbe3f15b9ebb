// Splits one line of the text form into tokens: words (names, numbers,
// colours, hexadecimal bytes), double-quoted strings with their escapes, and
// the braces of blocks. `#` starts a comment at the start of a line, and
// elsewhere when a blank follows it; otherwise it begins a word (a colour,
// #RRGGBB or #AARRGGBB).
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace nimbra {

enum class TokenKind { Word, String, Open, Close };

struct Token {
    TokenKind kind;
    std::string_view text;   // as written (a string with its quotes)
    size_t column;           // 1-based
};

struct LexError {
    size_t column;
    std::string message;
};

// Fills `tokens` (cleared first); false with `error` on a malformed string.
bool tokenizeLine(std::string_view line, std::vector<Token> &tokens, LexError &error);
// The bytes of a string token that tokenizeLine accepted, escapes resolved.
std::string stringValue(const Token &token);

}  // namespace nimbra
