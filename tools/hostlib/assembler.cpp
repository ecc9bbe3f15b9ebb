// The assembler reads a script line by line and writes the stream as it
// goes: commands at the top level are packed into records by default,
// `record { }` and `zlib { }` collect their own, and the file forms (uploads,
// a video clip, a signed handshake) expand into the commands a host sends.
// Errors stop it at once; nothing is returned then.
#include "tools/hostlib/assembler.h"

#include <filesystem>
#include <map>
#include <stdexcept>

#include "tools/hostlib/command_codec.h"
#include "tools/hostlib/file_io.h"
#include "tools/hostlib/script_forms.h"
#include "tools/hostlib/script_lexer.h"
#include "tools/hostlib/script_values.h"
#include "tools/hostlib/zlib_blocks.h"

namespace fs = std::filesystem;

namespace nimbra {

std::string ScriptError::text() const {
    if (line == 0) return file + ": " + message;
    return file + ": line " + std::to_string(line) + ":" + std::to_string(column) + ": " + message;
}

namespace {

// An error with its place already known (from an included file).
struct _ScriptFailure {
    ScriptError error;
};

constexpr size_t kMaxIncludeDepth = 32;
constexpr size_t kZlibBufferBytes = kZlibDeviceBufferBytes;

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

    // `from` is where the include was written (line 0 for the first file).
    void _IncludeFile(const std::string &path, const ScriptError &from, size_t column) {
        auto fail = [&](const std::string &message) {
            throw _ScriptFailure{ScriptError{from.file, from.line, column, message}};
        };
        std::error_code ec;
        const std::string key = fs::weakly_canonical(path, ec).string();
        for (const std::string &open : includeStack_)
            if (open == key) fail("include loop: '" + path + "' includes itself");
        if (includeStack_.size() >= kMaxIncludeDepth) fail("includes nested deeper than 32");
        // The script given to the tool may be "-" or a pipe; what it
        // includes must be a regular file.
        std::string reason;
        const bool given = from.line == 0;
        auto bytes = given ? loadFile(path, reason) : loadRegularFile(path, reason);
        if (!bytes) fail("cannot read '" + path + "': " + reason);
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
                    failAt(lexError.column, lexError.message);
                if (tokens.empty()) continue;
                line_ = lineNumber;
                rest_ = {};
                if (stopped < line.size()) {
                    if (_TakesDataRest(tokens)) {
                        rest_ = line;
                        restAt_ = stopped;
                    } else if (!tokenizeLine(line, tokens, lexError, stopped)) {
                        failAt(lexError.column, lexError.message);
                    }
                }
                file_ = &name;
                lineEnd_ = line.size() + 1;
                _Statement(tokens, outerBlocks);
            } catch (const ScriptLineError &f) {
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

    // ------------------------------------------------------------ statements

    // Whether the line ends in data (bytes, raw, a command's data) that may
    // be read from the text after the first tokens.
    static bool _TakesDataRest(const std::vector<Token> &tokens) {
        if (tokens[0].kind != TokenKind::Word) return false;
        if (tokens[0].text == "bytes" || tokens[0].text == "raw") return true;
        const CommandSpec *entry = findCommand(tokens[0].text);
        const FieldSpec *tail = entry ? variableField(*entry) : nullptr;
        if (!tail || tail->type != FieldType::Data) return false;
        return !isFileForm(*entry, tokens);   // those have words and strings of their own
    }

    // The bytes of a line's data from tokens[from] on, and the text after
    // the tokens read so far.
    void _Data(std::vector<Token> &tokens, size_t from, Bytes &out) {
        hexBytes(tokens, from, out);
        if (rest_.empty()) return;
        if (fastHexBytes(rest_.substr(restAt_), out)) return;
        LexError lexError;
        if (!tokenizeLine(rest_, tokens, lexError, restAt_)) failAt(lexError.column, lexError.message);
        hexBytes(tokens, from, out);   // names the first word that is not a byte
    }

    void _Statement(std::vector<Token> &tokens, size_t outerBlocks) {
        const Token &first = tokens[0];
        if (first.kind == TokenKind::Close) {
            if (blocks_.size() <= outerBlocks) failAt(first.column, "'}' without an open block");
            _EndOfLine(tokens, 1);
            _CloseBlock();
            return;
        }
        if (first.kind != TokenKind::Word) failAt(first.column, "command expected, got " + shown(first));
        const std::string_view word = first.text;
        if (word == "record") return _OpenRecord(tokens);
        if (word == "include") return _Include(tokens);
        if (word == "bytes") {
            Bytes b;
            _Data(tokens, 1, b);
            if (b.empty()) failAt(lineEnd_, "hex byte expected, got end of line");
            return _Emit(b, false, first.column);
        }
        if (word == "raw") return _Raw(tokens);
        if (word == "video") return _Video(tokens);
        if (word == "zlib" && tokens.back().kind == TokenKind::Open) return _OpenZlib(tokens);
        const CommandSpec *entry = findCommand(word);
        if (!entry) failAt(first.column, "command expected, got " + shown(first));
        if (isFileForm(*entry, tokens)) return _FileForm(*entry, tokens);
        _Command(*entry, tokens);
    }

    void _EndOfLine(const std::vector<Token> &tokens, size_t i) {
        if (i < tokens.size()) failAt(tokens[i].column, "end of line expected, got " + shown(tokens[i]));
    }

    void _Command(const CommandSpec &entry, std::vector<Token> &tokens) {
        CommandValues &values = values_;
        values.numbers.clear();
        values.data.clear();
        values.points.clear();
        size_t i = 1;
        const auto &fields = entry.fields;
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
                            if (set[r - k]) failAt(tokens[i].column, std::string(fields[r].name) + " given twice");
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
                    _Defaults(entry, k, values);
                    k = fields.size();
                    break;
                }
                for (int j = 0; j < count; j++) {
                    if (i >= tokens.size()) failAt(lineEnd_, valueName(f, j) + " expected, got end of line");
                    const Token &t = tokens[i++];
                    if (f.type == FieldType::Colour) {
                        auto c = t.kind == TokenKind::Word ? parseColour(t.text) : std::nullopt;
                        if (!c) failAt(t.column, "colour expected, got " + shown(t));
                        values.numbers.push_back(*c);
                    } else {
                        values.numbers.push_back(parseFieldNumber(f, t, j));
                    }
                }
                if (f.autoNumber) lastAuto_[&f] = values.numbers.back();
                break;
            }
            case FieldType::Text: {
                const Token &t = need(tokens, i, "text", lineEnd_);
                if (t.kind != TokenKind::String) failAt(t.column, "text expected (in double quotes), got " + shown(t));
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
                    const int64_t x = parseFieldNumber(f, tokens[i], -1);
                    const Token &ty = need(tokens, i + 1, "y of the last point", lineEnd_);
                    values.points.push_back(Point{(int32_t)x, (int32_t)parseFieldNumber(f, ty, -2)});
                }
                break;
            default: break;
            }
        }
        _EndOfLine(tokens, i);
        command_.clear();
        std::string error;
        if (!encodeCommand(entry, values, command_, &error)) failAt(tokens[0].column, error);
        _Emit(command_, entry.opcode == kOpCopy, tokens[0].column);
    }

    // The fields from k on were left out: their defaults, or an error for
    // the first that has none.
    void _Defaults(const CommandSpec &entry, size_t k, CommandValues &values) {
        for (; k < entry.fields.size(); k++) {
            const FieldSpec &f = entry.fields[k];
            if (f.type == FieldType::Text) failAt(lineEnd_, "text expected, got end of line");
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
                failAt(lineEnd_, valueName(f, 0) + " expected, got end of line");
            }
        }
    }

    // ------------------------------------------------------ where bytes go

    void _Emit(const Bytes &command, bool closesRecord, size_t column) {
        if (!blocks_.empty()) {
            Block &b = blocks_.back();
            if (b.kind == BlockKind::Zlib) {
                if (command.size() > kZlibBufferBytes)
                    failAt(column, "a command of " + std::to_string(command.size()) +
                                      " bytes does not fit the device's " + std::to_string(kZlibBufferBytes) +
                                      "-byte buffer");
                b.commands.push_back(command);
                return;
            }
            if (b.payload.size() + command.size() > kMaxRecordPayload)
                failAt(column, "the record grows to " + std::to_string(b.payload.size() + command.size()) +
                                  " bytes, at most 2048");
            b.payload.insert(b.payload.end(), command.begin(), command.end());
            return;
        }
        if (command.size() > kMaxRecordPayload)
            failAt(column, "a command of " + std::to_string(command.size()) + " bytes does not fit a record of 2048");
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
            failAt(t.column, std::string(what) + " is only allowed outside blocks (close the " +
                                (blocks_.back().kind == BlockKind::Record ? "record" : "zlib block") + " opened at line " +
                                std::to_string(blocks_.back().line) + " first)");
        _FlushPending();
    }

    void _Raw(std::vector<Token> &tokens) {
        _TopLevelOnly(tokens[0], "raw");
        Bytes b;
        _Data(tokens, 1, b);
        if (b.empty()) failAt(lineEnd_, "hex byte expected, got end of line");
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
            hexBytes(four, 0, header);
            if (header.size() != 4) failAt(tokens[1].column, "four header bytes expected, got " + std::to_string(header.size()));
            std::copy(header.begin(), header.end(), b.header);
            i = 5;
        }
        const Token &open = need(tokens, i, "'{'", lineEnd_);
        if (open.kind != TokenKind::Open) failAt(open.column, "'{' expected, got " + shown(open));
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
            if (b.kind == BlockKind::Zlib) failAt(tokens[0].column, "zlib blocks cannot be nested");
        Block b;
        b.kind = BlockKind::Zlib;
        b.line = line_;
        size_t i = 1;
        if (tokens[i].kind == TokenKind::Word && tokens[i].text == "hold") {
            b.hold = true;
            i++;
        }
        if (tokens[i].kind != TokenKind::Open) failAt(tokens[i].column, "hold or '{' expected, got " + shown(tokens[i]));
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
        if (b.commands.empty()) failAt(1, "the zlib block opened at line " + std::to_string(b.line) + " holds no command");
        std::vector<Bytes> blocks;
        try {
            if (b.hold) {
                Bytes all;
                for (const Bytes &c : b.commands) all.insert(all.end(), c.begin(), c.end());
                if (all.size() > kZlibMaxBlockInputBytes)
                    failAt(1, "a held zlib block takes at most " + std::to_string(kZlibMaxBlockInputBytes) +
                                 " bytes of commands, this one " + std::to_string(all.size()));
                blocks.push_back(zlib_.block(all, false));
            } else {
                blocks = zlib_.commands(b.commands);
            }
        } catch (const std::exception &e) {
            failAt(1, std::string("zlib: ") + e.what());
        }
        for (const Bytes &block : blocks) _Emit(block, false, 1);
    }

    // ------------------------------------------------------------ file forms

    void _Include(const std::vector<Token> &tokens) {
        const Token &t = need(tokens, 1, "file name", lineEnd_);
        if (t.kind != TokenKind::String) failAt(t.column, "file name expected (in double quotes), got " + shown(t));
        _EndOfLine(tokens, 2);
        _IncludeFile(_Path(stringValue(t)), ScriptError{*file_, line_, 0, ""}, t.column);
    }

    void _EmitAll(const std::vector<Bytes> &commands, size_t column) {
        for (const Bytes &c : commands) _Emit(c, false, column);
    }

    // A statement that names a file: what it expands to, where it goes.
    void _FileForm(const CommandSpec &entry, const std::vector<Token> &tokens) {
        const ScriptFiles files{[this](const std::string &name) { return _Path(name); }};
        if (entry.opcode == kOpLoadImage) return _EmitAll(expandLoadImage(tokens, files), tokens[0].column);
        if (entry.opcode == kOpLoadFont) return _EmitAll(expandLoadFont(tokens, files), tokens[0].column);
        _EmitAll(expandSignedHandshake(tokens, files, lineEnd_), tokens[0].column);
    }

    // A video clip makes its own records; its frames take the next copy
    // identifiers.
    void _Video(const std::vector<Token> &tokens) {
        _TopLevelOnly(tokens[0], "video");
        const FieldSpec *id = &findCommand("copy")->fields[0];
        auto it = lastAuto_.find(id);
        uint8_t frameId = (uint8_t)(it == lastAuto_.end() ? 1 : it->second + 1);
        const uint8_t firstId = frameId;
        const ScriptFiles files{[this](const std::string &name) { return _Path(name); }};
        const Bytes records = expandVideo(tokens, files, lineEnd_, frameId);
        if (frameId != firstId) lastAuto_[id] = (uint8_t)(frameId - 1);
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
