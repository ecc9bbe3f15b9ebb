// The assembler reads a script line by line and writes the stream as it
// goes: commands at the top level are packed into records by default,
// `record { }` and `zlib { }` collect their own, and the file forms (uploads,
// a video clip, a signed handshake) expand into the commands a host sends.
// Errors stop it at once; nothing is returned then.
#include "tools/hostlib/assembler.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>

#include "tools/hostlib/command_codec.h"
#include "tools/hostlib/disassembler.h"
#include "tools/hostlib/file_io.h"
#include "tools/hostlib/handshake.h"
#include "tools/hostlib/script_lexer.h"
#include "tools/hostlib/upload.h"
#include "tools/hostlib/video_stream.h"
#include "tools/hostlib/zlib_blocks.h"

namespace fs = std::filesystem;

namespace nimbra {

std::string ScriptError::text() const {
    if (line == 0) return file + ": " + message;
    return file + ": line " + std::to_string(line) + ":" + std::to_string(column) + ": " + message;
}

namespace {

// An error in the line being read.
struct _LineFailure {
    size_t column;
    std::string message;
};
// An error with its place already known (from an included file).
struct _ScriptFailure {
    ScriptError error;
};

constexpr size_t kMaxIncludeDepth = 32;
constexpr size_t kZlibBufferBytes = kZlibDeviceBufferBytes;

[[noreturn]] void _Fail(size_t column, std::string message) { throw _LineFailure{column, std::move(message)}; }

std::string _Shown(const Token &t) { return "'" + std::string(t.text) + "'"; }

bool _IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int _HexValue(char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }

std::optional<int64_t> _ParseInteger(std::string_view s) {
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
std::optional<int64_t> _ParseHalves(std::string_view s) {
    const size_t dot = s.find('.');
    if (dot == std::string_view::npos) {
        auto whole = _ParseInteger(s);
        if (!whole) return std::nullopt;
        return *whole * 2;
    }
    std::string_view fraction = s.substr(dot + 1);
    std::string_view wholePart = s.substr(0, dot);
    const bool negative = !wholePart.empty() && wholePart[0] == '-';
    auto whole = _ParseInteger(wholePart == "-" || wholePart.empty() ? std::string_view("0") : wholePart);
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

std::optional<uint32_t> _ParseColour(std::string_view s) {
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
void _HexBytes(const std::vector<Token> &tokens, size_t from, Bytes &out) {
    out.reserve(out.size() + tokens.size() - from);
    for (size_t i = from; i < tokens.size(); i++) {
        const Token &t = tokens[i];
        if (t.kind != TokenKind::Word || t.text.size() != 2 || !_IsHexDigit(t.text[0]) || !_IsHexDigit(t.text[1]))
            _Fail(t.column, "hex byte expected, got " + _Shown(t));
        out.push_back((uint8_t)(_HexValue(t.text[0]) * 16 + _HexValue(t.text[1])));
    }
}

// Hexadecimal bytes read straight from the text, without tokens: most of a
// disassembled recording is such data. False at anything but a byte or a
// comment, for the token path to name it.
bool _FastHexBytes(std::string_view text, Bytes &out) {
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

// The name of one value of a field; "x" and "y" of a pair named "x y".
std::string _ValueName(const FieldSpec &f, int which) {
    std::string name = f.name;
    const size_t space = name.find(' ');
    if (space == std::string::npos) return name;
    return which == 0 ? name.substr(0, space) : name.substr(space + 1);
}

// `which`: the value of a pair (0 or 1), or -1 for a point's x and -2 for
// its y; names are made only for messages.
int64_t _ParseFieldNumber(const FieldSpec &f, const Token &t, int which) {
    auto name = [&]() -> std::string { return which < 0 ? (which == -1 ? "x" : "y") : _ValueName(f, which); };
    std::optional<int64_t> v;
    if (t.kind == TokenKind::Word) v = f.halfUnits ? _ParseHalves(t.text) : _ParseInteger(t.text);
    // No name is a number ("2bpp" is not), so names are looked up after.
    if (!v && t.kind == TokenKind::Word) {
        for (const NamedValue &n : f.names)
            if (t.text == n.name) return n.value;
    }
    if (!v) _Fail(t.column, _Expected(f, name().c_str()) + ", got " + _Shown(t));
    if (*v < f.min || *v > f.max) _Fail(t.column, name() + " out of range (" + _Range(f) + "), got " + _Shown(t));
    return *v;
}

// Reads options written as `key value` or `flag` in any order.
struct _Options {
    std::map<std::string, const Token *> values;
    std::map<std::string, bool> flags;
};

_Options _ParseOptions(const std::vector<Token> &tokens, size_t from, const std::vector<std::string> &withValue,
                       const std::vector<std::string> &flags) {
    _Options o;
    for (size_t i = from; i < tokens.size(); i++) {
        const Token &t = tokens[i];
        const std::string word(t.text);
        bool known = false;
        for (const std::string &k : withValue) {
            if (t.kind == TokenKind::Word && word == k) {
                if (i + 1 >= tokens.size()) _Fail(t.column + t.text.size(), "value of " + k + " expected, got end of line");
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
            _Fail(t.column, (list.empty() ? std::string("end of line") : list) + " expected, got " + _Shown(t));
        }
    }
    return o;
}

int64_t _OptionNumber(const _Options &o, const std::string &key, int64_t fallback, int64_t lo, int64_t hi) {
    auto it = o.values.find(key);
    if (it == o.values.end()) return fallback;
    const Token &t = *it->second;
    auto v = _ParseInteger(t.text);
    if (t.kind != TokenKind::Word || !v) _Fail(t.column, key + " expected (a number), got " + _Shown(t));
    if (*v < lo || *v > hi)
        _Fail(t.column, key + " out of range (" + std::to_string(lo) + " to " + std::to_string(hi) + "), got " + _Shown(t));
    return *v;
}

const Token &_Need(const std::vector<Token> &tokens, size_t i, const std::string &what, size_t lineEnd) {
    if (i >= tokens.size()) _Fail(lineEnd, what + " expected, got end of line");
    return tokens[i];
}

class Assembler {
public:
    std::optional<Bytes> run(std::string_view text, const std::string &name, const std::string &directory,
                             ScriptError &error) {
        stream_.reserve(text.size() / 6);   // about the text of small commands with comments
        try {
            _Script(text, name, directory);
            _FlushPending();
            return std::move(stream_);
        } catch (const _ScriptFailure &f) {
            error = f.error;
            return std::nullopt;
        }
    }

    std::optional<Bytes> runFile(const std::string &path, ScriptError &error) {
        try {
            _IncludeFile(path, ScriptError{path, 0, 0, ""}, 0);
            _FlushPending();
            return std::move(stream_);
        } catch (const _ScriptFailure &f) {
            error = f.error;
            return std::nullopt;
        }
    }

private:
    enum class BlockKind { Record, Zlib };
    struct Block {
        BlockKind kind = BlockKind::Record;
        size_t line = 0;
        Bytes payload;                 // a record's
        uint8_t header[4] = {0, 0, 0, 0};
        std::vector<Bytes> commands;   // a zlib block's
        bool hold = false;
    };

    // ---------------------------------------------------------- files, lines

    void _IncludeFile(const std::string &path, const ScriptError &from, size_t column) {
        std::error_code ec;
        const std::string key = fs::weakly_canonical(path, ec).string();
        for (const std::string &open : includeStack_) {
            if (open == key) throw _ScriptFailure{ScriptError{from.file, from.line, column, "include loop: '" + path + "' includes itself"}};
        }
        if (includeStack_.size() >= kMaxIncludeDepth)
            throw _ScriptFailure{ScriptError{from.file, from.line, column, "includes nested deeper than 32"}};
        auto bytes = loadFile(path);
        if (!bytes) {
            const std::string why = strerror(errno);
            throw _ScriptFailure{ScriptError{from.file, from.line, column, "cannot read '" + path + "': " + why}};
        }
        if (fs::is_directory(path, ec))
            throw _ScriptFailure{ScriptError{from.file, from.line, column, "cannot read '" + path + "': it is a folder"}};
        includeStack_.push_back(key);
        const std::string directory = fs::path(path).parent_path().string();
        _Script(std::string_view((const char *)bytes->data(), bytes->size()), path, directory);
        includeStack_.pop_back();
    }

    void _Script(std::string_view text, const std::string &name, const std::string &directory) {
        const size_t outerBlocks = blocks_.size();
        const std::string outerDirectory = directory_;
        directory_ = directory;
        size_t lineNumber = 0, at = 0;
        std::vector<Token> tokens;
        while (at < text.size()) {
            size_t end = text.find('\n', at);
            if (end == std::string_view::npos) end = text.size();
            const std::string_view line = text.substr(at, end - at);
            at = end + 1;
            lineNumber++;
            try {
                LexError lexError;
                size_t stopped;
                if (!tokenizeLine(line, tokens, lexError, 0, kHeadTokens, &stopped))
                    _Fail(lexError.column, lexError.message);
                if (tokens.empty()) continue;
                line_ = lineNumber;
                rest_ = {};
                if (stopped < line.size()) {
                    if (_TakesDataRest(tokens)) {
                        rest_ = line;
                        restAt_ = stopped;
                    } else if (!tokenizeLine(line, tokens, lexError, stopped)) {
                        _Fail(lexError.column, lexError.message);
                    }
                }
                file_ = &name;
                lineEnd_ = line.size() + 1;
                _Statement(tokens, outerBlocks);
            } catch (const _LineFailure &f) {
                throw _ScriptFailure{ScriptError{name, lineNumber, f.column, f.message}};
            }
        }
        if (blocks_.size() > outerBlocks) {
            const Block &open = blocks_.back();
            throw _ScriptFailure{ScriptError{name, lineNumber + 1, 1,
                                             std::string("'}' expected for the ") +
                                                 (open.kind == BlockKind::Record ? "record" : "zlib block") +
                                                 " opened at line " + std::to_string(open.line) +
                                                 ", got end of file"}};
        }
        directory_ = outerDirectory;
    }

    std::string _Path(const std::string &name) const {
        if (name.empty() || name[0] == '/' || directory_.empty()) return name;
        return directory_ + "/" + name;
    }

    Bytes _ReadNamedFile(const Token &t) {
        const std::string path = _Path(stringValue(t));
        std::error_code ec;
        auto bytes = fs::is_directory(path, ec) ? std::nullopt : loadFile(path);
        if (!bytes) _Fail(t.column, "cannot read '" + path + "': " + (errno ? strerror(errno) : "not a file"));
        return *bytes;
    }

    // ------------------------------------------------------------ statements

    // Whether the line ends in data (bytes, raw, a command's data) that may
    // be read from the text after the first tokens.
    static bool _TakesDataRest(const std::vector<Token> &tokens) {
        if (tokens[0].kind != TokenKind::Word) return false;
        if (tokens[0].text == "bytes" || tokens[0].text == "raw") return true;
        const CommandSpec *spec = findCommand(tokens[0].text);
        const FieldSpec *tail = spec ? variableField(*spec) : nullptr;
        if (!tail || tail->type != FieldType::Data) return false;
        // The file forms have words and strings of their own after these.
        return !(tokens.size() > 2 && (tokens[2].kind == TokenKind::String || tokens[2].text == "key"));
    }

    // The bytes of a line's data from tokens[from] on, and the text after
    // the tokens read so far.
    void _Data(std::vector<Token> &tokens, size_t from, Bytes &out) {
        _HexBytes(tokens, from, out);
        if (rest_.empty()) return;
        if (_FastHexBytes(rest_.substr(restAt_), out)) return;
        LexError lexError;
        if (!tokenizeLine(rest_, tokens, lexError, restAt_)) _Fail(lexError.column, lexError.message);
        _HexBytes(tokens, from, out);   // names the first word that is not a byte
    }

    void _Statement(std::vector<Token> &tokens, size_t outerBlocks) {
        const Token &first = tokens[0];
        if (first.kind == TokenKind::Close) {
            if (blocks_.size() <= outerBlocks) _Fail(first.column, "'}' without an open block");
            _EndOfLine(tokens, 1);
            _CloseBlock();
            return;
        }
        if (first.kind != TokenKind::Word) _Fail(first.column, "command expected, got " + _Shown(first));
        const std::string_view word = first.text;
        if (word == "record") return _OpenRecord(tokens);
        if (word == "include") return _Include(tokens);
        if (word == "bytes") {
            Bytes b;
            _Data(tokens, 1, b);
            if (b.empty()) _Fail(lineEnd_, "hex byte expected, got end of line");
            return _Emit(b, false, first.column);
        }
        if (word == "raw") return _Raw(tokens);
        if (word == "video") return _Video(tokens);
        if (word == "zlib" && tokens.back().kind == TokenKind::Open) return _OpenZlib(tokens);
        const CommandSpec *spec = findCommand(word);
        if (!spec) _Fail(first.column, "command expected, got " + _Shown(first));
        if (spec->opcode == kOpLoadImage && tokens.size() > 2 && tokens[2].kind == TokenKind::String)
            return _LoadImageFile(tokens);
        if (spec->opcode == kOpLoadFont && tokens.size() > 2 && tokens[2].kind == TokenKind::String)
            return _LoadFontFile(tokens);
        if (spec->opcode == kOpHandshake && tokens.size() > 2 && tokens[2].text == "key") return _SignedHandshake(tokens);
        _Command(*spec, tokens);
    }

    void _EndOfLine(const std::vector<Token> &tokens, size_t i) {
        if (i < tokens.size()) _Fail(tokens[i].column, "end of line expected, got " + _Shown(tokens[i]));
    }

    void _Command(const CommandSpec &spec, std::vector<Token> &tokens) {
        CommandValues &values = values_;
        values.numbers.clear();
        values.data.clear();
        values.points.clear();
        size_t i = 1;
        const auto &fields = spec.fields;
        for (size_t k = 0; k < fields.size(); k++) {
            const FieldSpec &f = fields[k];
            switch (f.type) {
            case FieldType::Flag: {
                // A run of flags may be written in any order.
                size_t runEnd = k;
                while (runEnd < fields.size() &&
                       (fields[runEnd].type == FieldType::Flag || fields[runEnd].type == FieldType::Count))
                    runEnd++;
                int64_t set[8] = {};   // a byte holds at most 8 flags
                for (bool matched = true; matched && i < tokens.size();) {
                    matched = false;
                    for (size_t r = k; r < runEnd; r++) {
                        if (fields[r].type == FieldType::Flag && tokens[i].kind == TokenKind::Word &&
                            tokens[i].text == fields[r].name) {
                            if (set[r - k]) _Fail(tokens[i].column, std::string(fields[r].name) + " given twice");
                            set[r - k] = 1;
                            matched = true;
                            i++;
                            break;
                        }
                    }
                }
                for (size_t r = k; r < runEnd; r++)
                    if (fields[r].type == FieldType::Flag) values.numbers.push_back(set[r - k]);
                k = runEnd - 1;
                break;
            }
            case FieldType::Number:
            case FieldType::Colour:
            case FieldType::Pair: {
                const int count = f.type == FieldType::Pair ? 2 : 1;
                if (i >= tokens.size()) {
                    _Defaults(spec, k, values);
                    k = fields.size();
                    break;
                }
                for (int j = 0; j < count; j++) {
                    if (i >= tokens.size()) _Fail(lineEnd_, _ValueName(f, j) + " expected, got end of line");
                    const Token &t = tokens[i++];
                    if (f.type == FieldType::Colour) {
                        auto c = t.kind == TokenKind::Word ? _ParseColour(t.text) : std::nullopt;
                        if (!c) _Fail(t.column, "colour expected, got " + _Shown(t));
                        values.numbers.push_back(*c);
                    } else {
                        values.numbers.push_back(_ParseFieldNumber(f, t, j));
                    }
                }
                if (f.autoNumber) lastAuto_[&f] = values.numbers.back();
                break;
            }
            case FieldType::Text: {
                const Token &t = _Need(tokens, i, "text", lineEnd_);
                if (t.kind != TokenKind::String) _Fail(t.column, "text expected (in double quotes), got " + _Shown(t));
                const std::string text = stringValue(t);
                values.data.assign(text.begin(), text.end());
                i++;
                break;
            }
            case FieldType::Data:
                _Data(tokens, i, values.data);
                i = tokens.size();
                break;
            case FieldType::Points:
                for (; i < tokens.size(); i += 2) {
                    const int64_t x = _ParseFieldNumber(f, tokens[i], -1);
                    const Token &ty = _Need(tokens, i + 1, "y of the last point", lineEnd_);
                    values.points.push_back(Point{(int32_t)x, (int32_t)_ParseFieldNumber(f, ty, -2)});
                }
                break;
            default: break;
            }
        }
        _EndOfLine(tokens, i);
        command_.clear();
        std::string error;
        if (!encodeCommand(spec, values, command_, &error)) _Fail(tokens[0].column, error);
        _Emit(command_, spec.opcode == kOpCopy, tokens[0].column);
    }

    // The fields from k on were left out: their defaults, or an error for
    // the first that has none.
    void _Defaults(const CommandSpec &spec, size_t k, CommandValues &values) {
        for (; k < spec.fields.size(); k++) {
            const FieldSpec &f = spec.fields[k];
            if (f.type == FieldType::Text) _Fail(lineEnd_, "text expected, got end of line");
            if (f.valueCount() == 0) continue;
            if (f.autoNumber) {
                auto it = lastAuto_.find(&f);
                int64_t next = it == lastAuto_.end() ? 1 : it->second + 1;
                if (next > f.max) next = f.min;
                lastAuto_[&f] = next;
                values.numbers.push_back(next);
            } else if (f.defaultValue) {
                for (size_t j = 0; j < f.valueCount(); j++) values.numbers.push_back(*f.defaultValue);
            } else if (f.type == FieldType::Flag) {
                values.numbers.push_back(0);
            } else {
                _Fail(lineEnd_, _ValueName(f, 0) + " expected, got end of line");
            }
        }
    }

    // ------------------------------------------------------ where bytes go

    void _Emit(const Bytes &command, bool closesRecord, size_t column) {
        if (!blocks_.empty()) {
            Block &b = blocks_.back();
            if (b.kind == BlockKind::Zlib) {
                if (command.size() > kZlibBufferBytes)
                    _Fail(column, "a command of " + std::to_string(command.size()) +
                                      " bytes does not fit the device's " + std::to_string(kZlibBufferBytes) +
                                      "-byte buffer");
                b.commands.push_back(command);
                return;
            }
            if (b.payload.size() + command.size() > kMaxRecordPayload)
                _Fail(column, "the record grows to " + std::to_string(b.payload.size() + command.size()) +
                                  " bytes, at most 2048");
            b.payload.insert(b.payload.end(), command.begin(), command.end());
            return;
        }
        if (command.size() > kMaxRecordPayload)
            _Fail(column, "a command of " + std::to_string(command.size()) + " bytes does not fit a record of 2048");
        if (!pending_.empty() && pending_.size() + command.size() > kMaxRecordPayload) _FlushPending();
        pending_.insert(pending_.end(), command.begin(), command.end());
        if (closesRecord) _FlushPending();
    }

    void _FlushPending() {
        if (pending_.empty()) return;
        _AppendRecord(pending_, nullptr);
        pending_.clear();
    }

    void _AppendRecord(const Bytes &payload, const uint8_t *header) {
        const uint32_t n = (uint32_t)payload.size();
        const uint8_t head[8] = {(uint8_t)(n >> 24), (uint8_t)(n >> 16), (uint8_t)(n >> 8), (uint8_t)n,
                                 header ? header[0] : (uint8_t)0, header ? header[1] : (uint8_t)0,
                                 header ? header[2] : (uint8_t)0, header ? header[3] : (uint8_t)0};
        stream_.insert(stream_.end(), head, head + 8);
        stream_.insert(stream_.end(), payload.begin(), payload.end());
    }

    void _TopLevelOnly(const Token &t, const char *what) {
        if (!blocks_.empty())
            _Fail(t.column, std::string(what) + " is only allowed outside blocks (close the " +
                                (blocks_.back().kind == BlockKind::Record ? "record" : "zlib block") + " opened at line " +
                                std::to_string(blocks_.back().line) + " first)");
        _FlushPending();
    }

    void _Raw(std::vector<Token> &tokens) {
        _TopLevelOnly(tokens[0], "raw");
        Bytes b;
        _Data(tokens, 1, b);
        if (b.empty()) _Fail(lineEnd_, "hex byte expected, got end of line");
        stream_.insert(stream_.end(), b.begin(), b.end());
    }

    // ---------------------------------------------------------------- blocks

    void _OpenRecord(const std::vector<Token> &tokens) {
        _TopLevelOnly(tokens[0], "record");
        Block b;
        b.line = line_;
        size_t i = 1;
        if (i < tokens.size() && tokens[i].kind == TokenKind::Word) {
            Bytes header;
            std::vector<Token> four(tokens.begin() + 1, tokens.begin() + (long)std::min(tokens.size(), (size_t)5));
            while (!four.empty() && four.back().kind != TokenKind::Word) four.pop_back();
            _HexBytes(four, 0, header);
            if (header.size() != 4) _Fail(tokens[1].column, "four header bytes expected, got " + std::to_string(header.size()));
            std::copy(header.begin(), header.end(), b.header);
            i = 5;
        }
        const Token &open = _Need(tokens, i, "'{'", lineEnd_);
        if (open.kind != TokenKind::Open) _Fail(open.column, "'{' expected, got " + _Shown(open));
        if (i + 1 < tokens.size() && tokens[i + 1].kind == TokenKind::Close) {
            _EndOfLine(tokens, i + 2);
            _AppendRecord({}, b.header);   // record { }
            return;
        }
        _EndOfLine(tokens, i + 1);
        blocks_.push_back(std::move(b));
    }

    void _OpenZlib(const std::vector<Token> &tokens) {
        for (const Block &b : blocks_)
            if (b.kind == BlockKind::Zlib) _Fail(tokens[0].column, "zlib blocks cannot be nested");
        Block b;
        b.kind = BlockKind::Zlib;
        b.line = line_;
        size_t i = 1;
        if (tokens[i].kind == TokenKind::Word && tokens[i].text == "hold") {
            b.hold = true;
            i++;
        }
        if (tokens[i].kind != TokenKind::Open) _Fail(tokens[i].column, "hold or '{' expected, got " + _Shown(tokens[i]));
        _EndOfLine(tokens, i + 1);
        blocks_.push_back(std::move(b));
    }

    void _CloseBlock() {
        Block b = std::move(blocks_.back());
        blocks_.pop_back();
        if (b.kind == BlockKind::Record) {
            _AppendRecord(b.payload, b.header);
            return;
        }
        if (b.commands.empty()) _Fail(1, "the zlib block opened at line " + std::to_string(b.line) + " holds no command");
        std::vector<Bytes> blocks;
        try {
            if (b.hold) {
                Bytes all;
                for (const Bytes &c : b.commands) all.insert(all.end(), c.begin(), c.end());
                if (all.size() > kZlibMaxBlockInputBytes)
                    _Fail(1, "a held zlib block takes at most " + std::to_string(kZlibMaxBlockInputBytes) +
                                 " bytes of commands, this one " + std::to_string(all.size()));
                blocks.push_back(zlib_.block(all, false));
            } else {
                blocks = zlib_.commands(b.commands);
            }
        } catch (const std::exception &e) {
            _Fail(1, std::string("zlib: ") + e.what());
        }
        for (const Bytes &block : blocks) _Emit(block, false, 1);
    }

    // ------------------------------------------------------------ file forms

    void _Include(const std::vector<Token> &tokens) {
        const Token &t = _Need(tokens, 1, "file name", lineEnd_);
        if (t.kind != TokenKind::String) _Fail(t.column, "file name expected (in double quotes), got " + _Shown(t));
        _EndOfLine(tokens, 2);
        _IncludeFile(_Path(stringValue(t)), ScriptError{*file_, line_, 0, ""}, t.column);
    }

    uint8_t _Slot(const Token &t) {
        auto v = _ParseInteger(t.text);
        if (t.kind != TokenKind::Word || !v) _Fail(t.column, "slot expected (a number), got " + _Shown(t));
        if (*v < 0 || *v > 255) _Fail(t.column, "slot out of range (0 to 255), got " + _Shown(t));
        return (uint8_t)*v;
    }

    void _EmitAll(const std::vector<Bytes> &commands, size_t column) {
        for (const Bytes &c : commands) _Emit(c, false, column);
    }

    // load-image SLOT "FILE" [png|jpeg] [chunk N]
    void _LoadImageFile(const std::vector<Token> &tokens) {
        const uint8_t slot = _Slot(tokens[1]);
        const Token &file = tokens[2];
        const _Options o = _ParseOptions(tokens, 3, {"chunk"}, {"png", "jpeg"});
        uint8_t format = 0;
        if (o.flags.count("png")) format = kImagePng;
        if (o.flags.count("jpeg")) format = kImageJpeg;
        if (!format) {
            std::string ext = fs::path(stringValue(file)).extension().string();
            for (char &c : ext) c = (char)tolower((unsigned char)c);
            if (ext == ".png") format = kImagePng;
            if (ext == ".jpg" || ext == ".jpeg") format = kImageJpeg;
            if (!format) _Fail(file.column, "png or jpeg expected after a file name without .png, .jpg or .jpeg");
        }
        UploadOptions options;
        options.chunkBytes = (size_t)_OptionNumber(o, "chunk", kUploadMaxChunkBytes, 1, kUploadMaxChunkBytes);
        std::string error;
        auto commands = loadImageCommands(slot, _ReadNamedFile(file), format, options, &error);
        if (commands.empty()) _Fail(file.column, error);
        _EmitAll(commands, tokens[0].column);
    }

    // load-font SLOT "FILE" [2bpp|4bpp] [compressed] [chunk N]
    void _LoadFontFile(const std::vector<Token> &tokens) {
        const uint8_t slot = _Slot(tokens[1]);
        const Token &file = tokens[2];
        const _Options o = _ParseOptions(tokens, 3, {"chunk"}, {"2bpp", "4bpp", "compressed"});
        UploadOptions options;
        options.chunkBytes = (size_t)_OptionNumber(o, "chunk", kUploadMaxChunkBytes, 1, kUploadMaxChunkBytes);
        options.compress = o.flags.count("compressed") > 0;
        const uint8_t format = o.flags.count("4bpp") ? kFontFormat4Bpp : kFontFormat2Bpp;
        std::string error;
        auto commands = loadFontCommands(slot, _ReadNamedFile(file), format, options, &error);
        if (commands.empty()) _Fail(file.column, error);
        _EmitAll(commands, tokens[0].column);
    }

    // handshake COUNTER key "FILE" [peer N] [limit N] [chunk N] [part K]
    void _SignedHandshake(const std::vector<Token> &tokens) {
        auto counter = _ParseInteger(tokens[1].text);
        if (tokens[1].kind != TokenKind::Word || !counter || *counter < 0 || *counter > 0xFFFFFFFFll)
            _Fail(tokens[1].column, "counter expected (0 to 4294967295), got " + _Shown(tokens[1]));
        const Token &keyFile = _Need(tokens, 3, "key file name", lineEnd_);
        if (keyFile.kind != TokenKind::String)
            _Fail(keyFile.column, "key file name expected (in double quotes), got " + _Shown(keyFile));
        const _Options o = _ParseOptions(tokens, 4, {"peer", "limit", "chunk", "part"}, {});
        HandshakeMessage m;
        m.peerId = (uint16_t)_OptionNumber(o, "peer", 0, 0, 0xFFFF);
        m.counterLimit = (uint32_t)_OptionNumber(o, "limit", 0, 0, 0xFFFFFFFFll);
        const size_t chunk = (size_t)_OptionNumber(o, "chunk", 0, 1, kHandshakeMaxMessageBytes);
        std::string error;
        auto key = SigningKey::load(_Path(stringValue(keyFile)), error);
        if (!key) _Fail(keyFile.column, error);
        const Bytes message = buildHandshakeMessage(*key, m);
        if (message.empty()) _Fail(keyFile.column, "the key cannot sign the message");
        auto chunks = handshakeChunks(message, (uint32_t)*counter, chunk);
        if (chunks.empty()) _Fail(keyFile.column, "the signed message is longer than 1024 bytes");
        if (o.values.count("part")) {
            const size_t part = (size_t)_OptionNumber(o, "part", 0, 0, (int64_t)chunks.size() - 1);
            chunks = {chunks[part]};
        }
        _EmitAll(chunks, tokens[0].column);
    }

    // video "FILE" at X Y [chunk N] [no-copy] [no-stop]
    void _Video(const std::vector<Token> &tokens) {
        _TopLevelOnly(tokens[0], "video");
        const Token &file = _Need(tokens, 1, "file name", lineEnd_);
        if (file.kind != TokenKind::String) _Fail(file.column, "file name expected (in double quotes), got " + _Shown(file));
        const Token &at = _Need(tokens, 2, "at", lineEnd_);
        if (at.text != "at") _Fail(at.column, "at expected, got " + _Shown(at));
        const CommandSpec &copy = *findCommand("copy");
        const FieldSpec &pairSpec = findCommand("video-play")->fields[1];
        VideoClipOptions options;
        options.xHalf = (int32_t)_ParseFieldNumber(pairSpec, _Need(tokens, 3, "x", lineEnd_), 0);
        options.yHalf = (int32_t)_ParseFieldNumber(pairSpec, _Need(tokens, 4, "y", lineEnd_), 1);
        const _Options o = _ParseOptions(tokens, 5, {"chunk"}, {"no-copy", "no-stop"});
        options.chunkBytes = (size_t)_OptionNumber(o, "chunk", kVideoMaxChunkBytes, 1, kVideoMaxChunkBytes);
        options.showEachFrame = !o.flags.count("no-copy");
        options.stopAtEnd = !o.flags.count("no-stop");
        const FieldSpec *id = &copy.fields[0];
        auto it = lastAuto_.find(id);
        uint8_t frameId = (uint8_t)(it == lastAuto_.end() ? 1 : it->second + 1);
        const uint8_t firstId = frameId;
        std::string error;
        Bytes records;
        if (!videoClipRecords(_ReadNamedFile(file), options, records, frameId, error)) _Fail(file.column, error);
        if (options.showEachFrame && frameId != firstId) lastAuto_[id] = (uint8_t)(frameId - 1);
        stream_.insert(stream_.end(), records.begin(), records.end());
    }

    Bytes stream_, pending_;
    std::vector<Block> blocks_;
    std::vector<std::string> includeStack_;
    ZlibBlockWriter zlib_;
    std::map<const FieldSpec *, int64_t> lastAuto_;
    CommandValues values_;
    Bytes command_;   // the command being encoded, its room kept from line to line
    std::string directory_;
    const std::string *file_ = nullptr;
    size_t line_ = 0, lineEnd_ = 1;
    // A line ending in data is tokenized only this far; the rest is read
    // by _Data from rest_ (the line) at restAt_.
    static constexpr size_t kHeadTokens = 8;
    std::string_view rest_;
    size_t restAt_ = 0;
};

}  // namespace

std::optional<Bytes> assembleFile(const std::string &path, ScriptError &error) {
    return Assembler().runFile(path, error);
}

std::optional<Bytes> assembleText(std::string_view text, const std::string &name, const std::string &directory,
                                  ScriptError &error) {
    return Assembler().run(text, name, directory, error);
}

}  // namespace nimbra
