// Reading the values of the text form: numbers (whole, in half steps,
// hexadecimal), colours, bytes, the fields of the command table, and the
// options of the file forms. Each failure names the column of the word at
// fault and what was expected there.
#include "tools/hostlib/script_values.h"

#include "tools/hostlib/text_escape.h"

namespace nimbra {

namespace {

bool _IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int _HexValue(char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }

std::string _Range(const FieldSpec &f) {
    if (f.halfUnits) return formatHalf(f.min) + " to " + formatHalf(f.max);
    return std::to_string(f.min) + " to " + std::to_string(f.max);
}

// What a number field expects, for messages: "left, centre, right or a number".
std::string _Expected(const FieldSpec &f, const char *name) {
    std::string what = std::string(name) + " expected (";
    for (const NamedValue &n : f.names) what += std::string(n.name) + ", ";
    if (f.halfUnits) return what + (f.names.empty() ? "" : "or ") + "a number in steps of 0.5)";
    if (!f.names.empty()) {
        what.resize(what.size() - 2);
        return what + " or a number)";
    }
    return what + "a number)";
}

}  // namespace

void failAt(size_t column, std::string message) { throw ScriptLineError{column, std::move(message)}; }

std::string shown(const Token &t) { return "'" + std::string(t.text) + "'"; }

std::optional<int64_t> parseInteger(std::string_view s) {
    bool negative = false;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    if (s.empty()) return std::nullopt;
    int64_t v = 0;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        if (s.size() > 2 + 15) return std::nullopt;
        for (char c : s.substr(2)) {
            if (!_IsHexDigit(c)) return std::nullopt;
            v = v * 16 + _HexValue(c);
        }
    } else {
        if (s.size() > 15) return std::nullopt;
        for (char c : s) {
            if (c < '0' || c > '9') return std::nullopt;
            v = v * 10 + (c - '0');
        }
    }
    return negative ? -v : v;
}

// A number in half steps ("10", "300.5", "-0.5") as a count of halves.
std::optional<int64_t> parseHalves(std::string_view s) {
    const size_t dot = s.find('.');
    if (dot == std::string_view::npos) {
        auto whole = parseInteger(s);
        if (!whole) return std::nullopt;
        return *whole * 2;
    }
    std::string_view fraction = s.substr(dot + 1);
    std::string_view wholePart = s.substr(0, dot);
    const bool negative = !wholePart.empty() && wholePart[0] == '-';
    auto whole = parseInteger(wholePart == "-" || wholePart.empty() ? std::string_view("0") : wholePart);
    if (!whole || fraction.empty()) return std::nullopt;
    int half;
    if (fraction.find_first_not_of('0') == std::string_view::npos)
        half = 0;
    else if (fraction[0] == '5' && fraction.find_first_not_of('0', 1) == std::string_view::npos)
        half = 1;
    else
        return std::nullopt;
    for (char c : fraction)
        if (c < '0' || c > '9') return std::nullopt;
    const int64_t halves = (negative ? -*whole : *whole) * 2 + half;
    return negative ? -halves : halves;
}

std::optional<uint32_t> parseColour(std::string_view s) {
    if (s.size() != 7 && s.size() != 9) return std::nullopt;
    if (s[0] != '#') return std::nullopt;
    uint32_t v = 0;
    for (char c : s.substr(1)) {
        if (!_IsHexDigit(c)) return std::nullopt;
        v = v * 16 + (uint32_t)_HexValue(c);
    }
    return s.size() == 7 ? v | 0xFF000000u : v;
}

// Hexadecimal bytes from tokens[from] to the end of the line.
void hexBytes(const std::vector<Token> &tokens, size_t from, Bytes &out) {
    out.reserve(out.size() + tokens.size() - from);
    for (size_t i = from; i < tokens.size(); i++) {
        const Token &t = tokens[i];
        if (t.kind != TokenKind::Word || t.text.size() != 2 || !_IsHexDigit(t.text[0]) || !_IsHexDigit(t.text[1]))
            failAt(t.column, "hex byte expected, got " + shown(t));
        out.push_back((uint8_t)(_HexValue(t.text[0]) * 16 + _HexValue(t.text[1])));
    }
}

// Hexadecimal bytes read straight from the text, without tokens: most of a
// disassembled recording is such data. False at anything but a byte or a
// comment, for the token path to name it.
bool fastHexBytes(std::string_view text, Bytes &out) {
    out.reserve(out.size() + text.size() / 3 + 1);
    const char *p = text.data(), *end = p + text.size();
    for (;;) {
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\r')) p++;
        if (p == end) return true;
        if (*p == '#' && (p + 1 == end || p[1] == ' ' || p[1] == '\t' || p[1] == '\r')) return true;
        if (end - p < 2 || !_IsHexDigit(p[0]) || !_IsHexDigit(p[1]) || (end - p > 2 && !endsWord(p[2]))) return false;
        out.push_back((uint8_t)(_HexValue(p[0]) * 16 + _HexValue(p[1])));
        p += 2;
    }
}

std::string valueName(const FieldSpec &f, int which) {
    std::string name = f.name;
    const size_t space = name.find(' ');
    if (space == std::string::npos) return name;
    return which == 0 ? name.substr(0, space) : name.substr(space + 1);
}

int64_t parseFieldNumber(const FieldSpec &f, const Token &t, int which) {
    auto name = [&]() -> std::string { return which < 0 ? (which == -1 ? "x" : "y") : valueName(f, which); };
    std::optional<int64_t> v;
    if (t.kind == TokenKind::Word) v = f.halfUnits ? parseHalves(t.text) : parseInteger(t.text);
    // No name is a number ("2bpp" is not), so names are looked up after.
    if (!v && t.kind == TokenKind::Word) {
        for (const NamedValue &n : f.names)
            if (t.text == n.name) return n.value;
    }
    if (!v) failAt(t.column, _Expected(f, name().c_str()) + ", got " + shown(t));
    if (*v < f.min || *v > f.max) failAt(t.column, name() + " out of range (" + _Range(f) + "), got " + shown(t));
    return *v;
}

ScriptOptions parseOptions(const std::vector<Token> &tokens, size_t from, const std::vector<std::string> &withValue,
                           const std::vector<std::string> &flags) {
    ScriptOptions o;
    for (size_t i = from; i < tokens.size(); i++) {
        const Token &t = tokens[i];
        const std::string word(t.text);
        bool known = false;
        for (const std::string &k : withValue) {
            if (t.kind == TokenKind::Word && word == k) {
                if (i + 1 >= tokens.size()) failAt(t.column + t.text.size(), "value of " + k + " expected, got end of line");
                o.values[k] = &tokens[++i];
                known = true;
            }
        }
        for (const std::string &k : flags) {
            if (t.kind == TokenKind::Word && word == k) {
                o.flags[k] = true;
                known = true;
            }
        }
        if (!known) {
            std::string list;
            for (const std::string &k : withValue) list += (list.empty() ? "" : ", ") + k;
            for (const std::string &k : flags) list += (list.empty() ? "" : ", ") + k;
            failAt(t.column, (list.empty() ? std::string("end of line") : list) + " expected, got " + shown(t));
        }
    }
    return o;
}

int64_t optionNumber(const ScriptOptions &o, const std::string &key, int64_t fallback, int64_t lo, int64_t hi) {
    auto it = o.values.find(key);
    if (it == o.values.end()) return fallback;
    const Token &t = *it->second;
    auto v = parseInteger(t.text);
    if (t.kind != TokenKind::Word || !v) failAt(t.column, key + " expected (a number), got " + shown(t));
    if (*v < lo || *v > hi)
        failAt(t.column, key + " out of range (" + std::to_string(lo) + " to " + std::to_string(hi) + "), got " + shown(t));
    return *v;
}

const Token &need(const std::vector<Token> &tokens, size_t i, const std::string &what, size_t lineEnd) {
    if (i >= tokens.size()) failAt(lineEnd, what + " expected, got end of line");
    return tokens[i];
}

}  // namespace nimbra
