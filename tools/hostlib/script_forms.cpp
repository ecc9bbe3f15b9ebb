#include "tools/hostlib/script_forms.h"

#include <filesystem>

#include "tools/hostlib/file_io.h"
#include "tools/hostlib/handshake.h"
#include "tools/hostlib/script_values.h"
#include "tools/hostlib/upload.h"
#include "tools/hostlib/video_stream.h"

namespace fs = std::filesystem;

namespace nimbra {

namespace {

uint8_t _Slot(const Token &t) {
    auto v = parseInteger(t.text);
    if (t.kind != TokenKind::Word || !v) failAt(t.column, "slot expected (a number), got " + shown(t));
    if (*v < 0 || *v > 255) failAt(t.column, "slot out of range (0 to 255), got " + shown(t));
    return (uint8_t)*v;
}

Bytes _ReadNamedFile(const Token &t, const ScriptFiles &files) {
    const std::string path = files.path(stringValue(t));
    std::string reason;
    auto bytes = loadRegularFile(path, reason);
    if (!bytes) failAt(t.column, "cannot read '" + path + "': " + reason);
    return *bytes;
}

const Token &_FileName(const std::vector<Token> &tokens, size_t i, size_t lineEnd, const char *what) {
    const Token &t = need(tokens, i, what, lineEnd);
    if (t.kind != TokenKind::String) failAt(t.column, std::string(what) + " expected (in double quotes), got " + shown(t));
    return t;
}

}  // namespace

bool isFileForm(const CommandSpec &entry, const std::vector<Token> &tokens) {
    if (tokens.size() < 3) return false;
    if (entry.opcode == kOpLoadImage || entry.opcode == kOpLoadFont) return tokens[2].kind == TokenKind::String;
    return entry.opcode == kOpHandshake && tokens[2].kind == TokenKind::Word && tokens[2].text == "key";
}

std::vector<Bytes> expandLoadImage(const std::vector<Token> &tokens, const ScriptFiles &files) {
    const uint8_t slot = _Slot(tokens[1]);
    const Token &file = tokens[2];
    const ScriptOptions o = parseOptions(tokens, 3, {"chunk"}, {"png", "jpeg"});
    uint8_t format = 0;
    if (o.flags.count("png")) format = kImagePng;
    if (o.flags.count("jpeg")) format = kImageJpeg;
    if (!format) {
        std::string ext = fs::path(stringValue(file)).extension().string();
        for (char &c : ext) c = (char)tolower((unsigned char)c);
        if (ext == ".png") format = kImagePng;
        if (ext == ".jpg" || ext == ".jpeg") format = kImageJpeg;
        if (!format) failAt(file.column, "png or jpeg expected after a file name without .png, .jpg or .jpeg");
    }
    UploadOptions options;
    options.chunkBytes = (size_t)optionNumber(o, "chunk", kUploadMaxChunkBytes, 1, kUploadMaxChunkBytes);
    std::string error;
    auto commands = loadImageCommands(slot, _ReadNamedFile(file, files), format, options, &error);
    if (commands.empty()) failAt(file.column, error);
    return commands;
}

std::vector<Bytes> expandLoadFont(const std::vector<Token> &tokens, const ScriptFiles &files) {
    const uint8_t slot = _Slot(tokens[1]);
    const Token &file = tokens[2];
    const ScriptOptions o = parseOptions(tokens, 3, {"chunk"}, {"2bpp", "4bpp", "compressed"});
    UploadOptions options;
    options.chunkBytes = (size_t)optionNumber(o, "chunk", kUploadMaxChunkBytes, 1, kUploadMaxChunkBytes);
    options.compress = o.flags.count("compressed") > 0;
    const uint8_t format = o.flags.count("4bpp") ? kFontFormat4Bpp : kFontFormat2Bpp;
    std::string error;
    auto commands = loadFontCommands(slot, _ReadNamedFile(file, files), format, options, &error);
    if (commands.empty()) failAt(file.column, error);
    return commands;
}

std::vector<Bytes> expandSignedHandshake(const std::vector<Token> &tokens, const ScriptFiles &files, size_t lineEnd) {
    auto counter = parseInteger(tokens[1].text);
    if (tokens[1].kind != TokenKind::Word || !counter || *counter < 0 || *counter > 0xFFFFFFFFll)
        failAt(tokens[1].column, "counter expected (0 to 4294967295), got " + shown(tokens[1]));
    const Token &keyFile = _FileName(tokens, 3, lineEnd, "key file name");
    const ScriptOptions o = parseOptions(tokens, 4, {"peer", "limit", "chunk", "part"}, {});
    HandshakeMessage m;
    m.peerId = (uint16_t)optionNumber(o, "peer", 0, 0, 0xFFFF);
    m.counterLimit = (uint32_t)optionNumber(o, "limit", 0, 0, 0xFFFFFFFFll);
    const size_t chunk = (size_t)optionNumber(o, "chunk", 0, 1, kHandshakeMaxMessageBytes);
    std::string error;
    auto key = SigningKey::load(files.path(stringValue(keyFile)), error);
    if (!key) failAt(keyFile.column, error);
    const Bytes message = buildHandshakeMessage(*key, m);
    if (message.empty()) failAt(keyFile.column, "the key cannot sign the message");
    auto chunks = handshakeChunks(message, (uint32_t)*counter, chunk);
    if (chunks.empty()) failAt(keyFile.column, "the signed message is longer than 1024 bytes");
    if (o.values.count("part")) {
        const size_t part = (size_t)optionNumber(o, "part", 0, 0, (int64_t)chunks.size() - 1);
        chunks = {chunks[part]};
    }
    return chunks;
}

Bytes expandVideo(const std::vector<Token> &tokens, const ScriptFiles &files, size_t lineEnd, uint8_t &frameId) {
    const Token &file = _FileName(tokens, 1, lineEnd, "file name");
    const Token &at = need(tokens, 2, "at", lineEnd);
    if (at.text != "at") failAt(at.column, "at expected, got " + shown(at));
    // The position is that of the video play command's draw.
    const FieldSpec &position = findCommand("video-play")->fields[1];
    VideoClipOptions options;
    options.xHalf = (int32_t)parseFieldNumber(position, need(tokens, 3, "x", lineEnd), 0);
    options.yHalf = (int32_t)parseFieldNumber(position, need(tokens, 4, "y", lineEnd), 1);
    const ScriptOptions o = parseOptions(tokens, 5, {"chunk"}, {"no-copy", "no-stop"});
    options.chunkBytes = (size_t)optionNumber(o, "chunk", kVideoMaxChunkBytes, 1, kVideoMaxChunkBytes);
    options.showEachFrame = !o.flags.count("no-copy");
    options.stopAtEnd = !o.flags.count("no-stop");
    std::string error;
    Bytes records;
    if (!videoClipRecords(_ReadNamedFile(file, files), options, records, frameId, error)) failAt(file.column, error);
    return records;
}

}  // namespace nimbra
