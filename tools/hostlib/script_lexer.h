// Splits one line of the text form into tokens: words (names, numbers,
// colours, hexadecimal bytes), double-quoted strings with their escapes, and
// the braces of blocks. `#` starts a comment at the start of a line, and
// elsewhere when a blank follows it; otherwise it begins a word (a colour,
// #RRGGBB or #AARRGGBB).
#pragma once
#include <cstddef>
#include <cstdint>
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

// Fills `tokens` (cleared first when `from` is 0) with the tokens from
// line[from] on; false with `error` on a malformed string. With `maxTokens`
// it stops after that many tokens and sets `stoppedAt` to where it stopped
// (the line's length when it read the whole line), so that a caller can read
// a long run of data itself.
bool tokenizeLine(std::string_view line, std::vector<Token> &tokens, LexError &error, size_t from = 0,
                  size_t maxTokens = SIZE_MAX, size_t *stoppedAt = nullptr);
// Whether the character ends a word.
bool endsWord(char c);
// The bytes of a string token that tokenizeLine accepted, escapes resolved.
std::string stringValue(const Token &token);

}  // namespace nimbra
