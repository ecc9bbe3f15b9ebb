#include "tools/hostlib/script_lexer.h"

#include <array>

namespace nimbra {

namespace {

bool _IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The characters that end a word, as a table: the scan over words is the
// assembler's hottest loop.
constexpr auto kEndsWord = [] {
    std::array<bool, 256> ends{};
    for (char c : {' ', '\t', '\r', '"', '{', '}'}) ends[(uint8_t)c] = true;
    return ends;
}();
bool _IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int _HexValue(char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }

// The length of the escape at line[i] (a backslash), or 0 when it is not one.
size_t _EscapeLength(std::string_view line, size_t i) {
    if (i + 1 >= line.size()) return 0;
    switch (line[i + 1]) {
    case 'n': case 'r': case 't': case '0': case '\\': case '"': return 2;
    case 'x': return i + 3 < line.size() && _IsHex(line[i + 2]) && _IsHex(line[i + 3]) ? 4 : 0;
    default: return 0;
    }
}

}  // namespace

std::string stringValue(const Token &token) {
    const std::string_view text = token.text.substr(1, token.text.size() - 2);
    std::string value;
    value.reserve(text.size());
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] != '\\') {
            value += text[i];
            continue;
        }
        switch (text[++i]) {
        case 'n': value += '\n'; break;
        case 'r': value += '\r'; break;
        case 't': value += '\t'; break;
        case '0': value += '\0'; break;
        case 'x':
            value += (char)(_HexValue(text[i + 1]) * 16 + _HexValue(text[i + 2]));
            i += 2;
            break;
        default: value += text[i]; break;   // \\ and \"
        }
    }
    return value;
}

bool endsWord(char c) { return kEndsWord[(uint8_t)c]; }

bool tokenizeLine(std::string_view line, std::vector<Token> &tokens, LexError &error, size_t from, size_t maxTokens,
                  size_t *stoppedAt) {
    if (from == 0) tokens.clear();
    if (stoppedAt) *stoppedAt = line.size();
    size_t i = from;
    while (i < line.size()) {
        const char c = line[i];
        if (_IsSpace(c)) {
            i++;
            continue;
        }
        const size_t start = i;
        // After the first word, '#' glued to what follows is a word (a
        // colour, or a mistake to report); "# ..." is a comment anywhere.
        if (c == '#' && (tokens.empty() || i + 1 == line.size() || _IsSpace(line[i + 1]))) break;
        if (tokens.size() >= maxTokens) {
            if (stoppedAt) *stoppedAt = i;
            break;
        }
        if (c == '{' || c == '}') {
            tokens.push_back(Token{c == '{' ? TokenKind::Open : TokenKind::Close, line.substr(i, 1), i + 1});
            i++;
            continue;
        }
        if (c == '"') {
            i++;
            for (;;) {
                if (i >= line.size()) {
                    error = {start + 1, "closing quote expected"};
                    return false;
                }
                const char d = line[i];
                if (d == '"') break;
                if (d != '\\') {
                    i++;
                    continue;
                }
                const size_t length = _EscapeLength(line, i);
                if (length == 0) {
                    const bool atEnd = i + 1 >= line.size();
                    error = {i + 1, "escape expected (\\n \\r \\t \\0 \\\\ \\\" or \\xHH), got '" +
                                        std::string(line.substr(i, atEnd ? 1 : 2)) + "'"};
                    return false;
                }
                i += length;
            }
            i++;
            tokens.push_back(Token{TokenKind::String, line.substr(start, i - start), start + 1});
            continue;
        }
        while (i < line.size() && !kEndsWord[(uint8_t)line[i]]) i++;
        tokens.push_back(Token{TokenKind::Word, line.substr(start, i - start), start + 1});
    }
    return true;
}

}  // namespace nimbra
