#include "tools/hostlib/script_lexer.h"

namespace nimbra {

namespace {

bool _IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r'; }
bool _IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int _HexValue(char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }


}  // namespace

bool tokenizeLine(std::string_view line, std::vector<Token> &tokens, LexError &error) {
    tokens.clear();
    size_t i = 0;
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
        if (c == '{' || c == '}') {
            tokens.push_back(Token{c == '{' ? TokenKind::Open : TokenKind::Close, line.substr(i, 1), i + 1, {}});
            i++;
            continue;
        }
        if (c == '"') {
            std::string value;
            i++;
            for (;;) {
                if (i >= line.size()) {
                    error = {start + 1, "closing quote expected"};
                    return false;
                }
                const char d = line[i];
                if (d == '"') break;
                if (d != '\\') {
                    value += d;
                    i++;
                    continue;
                }
                const char e = i + 1 < line.size() ? line[i + 1] : '\0';
                switch (e) {
                case 'n': value += '\n'; break;
                case 'r': value += '\r'; break;
                case 't': value += '\t'; break;
                case '0': value += '\0'; break;
                case '\\': value += '\\'; break;
                case '"': value += '"'; break;
                case 'x':
                    if (i + 3 < line.size() && _IsHex(line[i + 2]) && _IsHex(line[i + 3])) {
                        value += (char)(_HexValue(line[i + 2]) * 16 + _HexValue(line[i + 3]));
                        i += 2;
                        break;
                    }
                    [[fallthrough]];
                default:
                    error = {i + 1, "escape expected (\\n \\r \\t \\0 \\\\ \\\" or \\xHH), got '" +
                                        std::string(line.substr(i, e ? 2 : 1)) + "'"};
                    return false;
                }
                i += 2;
            }
            i++;
            tokens.push_back(Token{TokenKind::String, line.substr(start, i - start), start + 1, std::move(value)});
            continue;
        }
        while (i < line.size() && !_IsSpace(line[i]) && line[i] != '"' && line[i] != '{' && line[i] != '}') i++;
        tokens.push_back(Token{TokenKind::Word, line.substr(start, i - start), start + 1, {}});
    }
    return true;
}

}  // namespace nimbra
