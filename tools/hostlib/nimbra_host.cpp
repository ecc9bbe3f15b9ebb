// Host-side command building and stream parsing.
#include "tools/hostlib/nimbra_host.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "tools/hostlib/command_codec.h"
#include "tools/hostlib/file_io.h"

namespace nimbra {

CommandBuilder &CommandBuilder::u8(uint8_t v) {
    payload_.push_back(v);
    return *this;
}
CommandBuilder &CommandBuilder::u16le(uint16_t v) { return u8((uint8_t)v).u8((uint8_t)(v >> 8)); }
CommandBuilder &CommandBuilder::u32le(uint32_t v) { return u16le((uint16_t)v).u16le((uint16_t)(v >> 16)); }
CommandBuilder &CommandBuilder::bytes(const Bytes &b) { return bytes(b.data(), b.size()); }
CommandBuilder &CommandBuilder::bytes(const uint8_t *p, size_t n) {
    payload_.insert(payload_.end(), p, p + n);
    return *this;
}
CommandBuilder &CommandBuilder::text(const std::string &s) {
    return bytes(reinterpret_cast<const uint8_t *>(s.data()), s.size());
}
CommandBuilder &CommandBuilder::pair(int32_t a, int32_t b) {
    uint32_t ua = (uint32_t)a & 0xFFF, ub = (uint32_t)b & 0xFFF;
    u8((uint8_t)((ua >> 8) | ((ub >> 8) << 4)));
    u8((uint8_t)ua);
    return u8((uint8_t)ub);
}

CommandBuilder &CommandBuilder::command(const char *name, const std::vector<int64_t> &numbers, const Bytes &data,
                                        const std::vector<Point> &points) {
    const CommandSpec *entry = findCommand(name);
    if (!entry) throw std::invalid_argument(std::string("no command named ") + name);
    std::string error;
    if (!encodeCommand(*entry, CommandValues{numbers, data, points}, payload_, &error))
        throw std::invalid_argument(error);
    return *this;
}

static Bytes _TextBytes(const std::string &s) { return Bytes(s.begin(), s.end()); }

CommandBuilder &CommandBuilder::copyToScreen(uint8_t frameId, int32_t x, int32_t y, int32_t w, int32_t h) {
    return command("copy", {frameId, x, y, w, h});
}
CommandBuilder &CommandBuilder::clearRect(int32_t x, int32_t y, int32_t w, int32_t h) {
    return command("clear", {x, y, w, h});
}
CommandBuilder &CommandBuilder::loadImageChunk(uint8_t slot, uint16_t offset, uint16_t total, uint8_t format,
                                               const Bytes &chunk) {
    return command("load-image", {slot, offset, total, format}, chunk);
}
CommandBuilder &CommandBuilder::drawImage(uint8_t slot, int32_t x, int32_t y) { return command("image", {slot, x, y}); }
CommandBuilder &CommandBuilder::loadFontChunk(uint8_t slot, uint16_t offset, uint16_t total, uint8_t format,
                                              const Bytes &chunk) {
    return command("load-font", {slot, offset, total, format}, chunk);
}
CommandBuilder &CommandBuilder::drawLogo(uint8_t kind, int16_t dxPixels, int16_t dyPixels, const std::string &caption) {
    return command("logo", {kind, dxPixels, dyPixels}, _TextBytes(caption));
}
CommandBuilder &CommandBuilder::drawText(uint8_t fontSlot, int32_t x, int32_t y, uint8_t alignment,
                                         const std::string &text) {
    return command("text", {fontSlot, x, y, alignment}, _TextBytes(text));
}
CommandBuilder &CommandBuilder::setColor(uint32_t argb) { return command("color", {argb}); }
CommandBuilder &CommandBuilder::zlibBlock(bool execute, bool start, uint8_t sequence, const Bytes &compressed) {
    return command("zlib", {execute, start, sequence}, compressed);
}
CommandBuilder &CommandBuilder::setPenStyle(uint8_t widthHalf, uint8_t shape, uint8_t style) {
    return command("pen", {widthHalf, shape, style});
}
CommandBuilder &CommandBuilder::drawRect(int32_t x, int32_t y, int32_t w, int32_t h, uint8_t radiusHalf, uint8_t fill) {
    return command("rect", {x, y, w, h, radiusHalf, fill});
}
CommandBuilder &CommandBuilder::drawPath(const std::vector<Point> &points, bool smooth) {
    return command("path", {smooth}, {}, points);
}
CommandBuilder &CommandBuilder::drawEllipse(int32_t x, int32_t y, int32_t rx, int32_t ry, uint16_t angleHalfDegrees,
                                            bool fill) {
    return command("ellipse", {x, y, rx, ry, angleHalfDegrees, fill});
}
CommandBuilder &CommandBuilder::drawLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    return command("line", {x0, y0, x1, y1});
}
CommandBuilder &CommandBuilder::drawArc(int32_t x, int32_t y, int32_t rx, int32_t ry, int32_t a0HalfDegrees,
                                        int32_t a1HalfDegrees) {
    return command("arc", {x, y, rx, ry, a0HalfDegrees, a1HalfDegrees});
}
CommandBuilder &CommandBuilder::videoPlay(uint8_t action, int32_t x, int32_t y) {
    return command("video-play", {action, x, y});
}
CommandBuilder &CommandBuilder::drawPolygon(const std::vector<Point> &points, bool fill, bool simple) {
    return command("polygon", {simple, fill}, {}, points);
}
CommandBuilder &CommandBuilder::videoUpload(uint8_t chunk, bool last, const Bytes &data) {
    return command("video-upload", {last, chunk}, data);
}
CommandBuilder &CommandBuilder::setTickRate(uint16_t rate, uint16_t param) { return command("tick-rate", {rate, param}); }
CommandBuilder &CommandBuilder::cacheRequest(uint8_t request, uint8_t slot) { return command("cache", {request, slot}); }
CommandBuilder &CommandBuilder::systemInfo(uint8_t kind) { return command("system-info", {kind}); }
CommandBuilder &CommandBuilder::clipRect(int32_t x, int32_t y, int32_t w, int32_t h) {
    return command("clip", {x, y, w, h});
}
CommandBuilder &CommandBuilder::drawSprite(uint8_t slot, int32_t x, int32_t y, int32_t sx, int32_t sy, int32_t w,
                                           int32_t h) {
    return command("sprite", {slot, x, y, sx, sy, w, h});
}
CommandBuilder &CommandBuilder::setSessionParams(int32_t xHalf, int32_t yHalf) {
    return command("session", {xHalf, yHalf});
}
CommandBuilder &CommandBuilder::otaUpload(uint8_t type, uint8_t block, uint16_t offset, uint16_t blockBytes,
                                          const Bytes &chunk) {
    return command("ota-upload", {type, block, offset, blockBytes}, chunk);
}
CommandBuilder &CommandBuilder::otaStart(uint8_t type, uint32_t size) { return command("ota-start", {type, 0, size}); }
CommandBuilder &CommandBuilder::handshakeChunk(uint32_t counter, uint16_t offset, uint16_t total, const Bytes &chunk) {
    return command("handshake", {counter, offset, total}, chunk);
}
CommandBuilder &CommandBuilder::enableDevice(uint8_t unit, uint8_t state, uint8_t value) {
    return command("enable", {unit, state, value});
}
CommandBuilder &CommandBuilder::connect() { return command("connect", {}); }
CommandBuilder &CommandBuilder::disconnect() { return command("disconnect", {1}); }
CommandBuilder &CommandBuilder::seekTo(uint32_t position) { return command("seek", {position}); }
CommandBuilder &CommandBuilder::eof() { return command("eof", {0}); }

Bytes makeRecord(const Bytes &payload, uint32_t extra) {
    Bytes r;
    uint32_t n = (uint32_t)payload.size();
    r.push_back((uint8_t)(n >> 24));
    r.push_back((uint8_t)(n >> 16));
    r.push_back((uint8_t)(n >> 8));
    r.push_back((uint8_t)n);
    r.push_back((uint8_t)(extra >> 24));
    r.push_back((uint8_t)(extra >> 16));
    r.push_back((uint8_t)(extra >> 8));
    r.push_back((uint8_t)extra);
    r.insert(r.end(), payload.begin(), payload.end());
    return r;
}

void appendRecord(Bytes &stream, const Bytes &payload) {
    Bytes r = makeRecord(payload);
    stream.insert(stream.end(), r.begin(), r.end());
}

Bytes packRecords(const std::vector<Bytes> &commands) {
    Bytes stream, current;
    for (const Bytes &c : commands) {
        if (!current.empty() && current.size() + c.size() > kMaxRecordPayload) {
            appendRecord(stream, current);
            current.clear();
        }
        current.insert(current.end(), c.begin(), c.end());
    }
    if (!current.empty()) appendRecord(stream, current);
    return stream;
}

static int _Level3(uint8_t v) {
    static const uint8_t levels[8] = {0x00, 0x25, 0x49, 0x6D, 0x92, 0xB6, 0xDB, 0xFF};
    for (int i = 0; i < 8; i++)
        if (levels[i] == v) return i;
    return -1;
}

uint8_t Frame::indexAt(int x, int y) const {
    const uint8_t *p = &bgra[((size_t)y * kScreenWidth + x) * 4];
    int b = p[0] / 0x55, g = _Level3(p[1]), r = _Level3(p[2]);
    return (uint8_t)((r << 5) | (g << 2) | b);
}

std::vector<Frame> parseFrames(const Bytes &stream, size_t *leftover) {
    std::vector<Frame> frames;
    size_t pos = 0;
    while (stream.size() - pos >= kFrameBytes) {
        Frame f;
        f.processedBytes = (uint32_t)stream[pos] | ((uint32_t)stream[pos + 1] << 8) |
                           ((uint32_t)stream[pos + 2] << 16) | ((uint32_t)stream[pos + 3] << 24);
        f.bgra.assign(stream.begin() + (long)pos + 4, stream.begin() + (long)(pos + kFrameBytes));
        frames.push_back(std::move(f));
        pos += kFrameBytes;
    }
    if (leftover) *leftover = stream.size() - pos;
    return frames;
}

bool parsePackets(const Bytes &stream, std::vector<Packet> &out) {
    size_t pos = 0;
    while (pos < stream.size()) {
        if (stream.size() - pos < 4) return false;
        size_t n = stream[pos] | (stream[pos + 1] << 8);
        if (stream[pos + 2] != 0xAA || stream[pos + 3] != 0xFF) return false;
        if (stream.size() - pos - 4 < n) return false;
        out.push_back(Packet{Bytes(stream.begin() + (long)pos + 4, stream.begin() + (long)(pos + 4 + n))});
        pos += 4 + n;
    }
    return true;
}

std::string textInsteadOfFrames(const uint8_t *bytes, size_t length) {
    // A frame's eighth byte is the first pixel's marker; no message has it.
    if (length == 0 || (length >= 8 && bytes[7] == kFramePixelMarker)) return "";
    std::string text;
    for (size_t i = 0; i < length; i++) {
        uint8_t c = bytes[i];
        if (c == '\n' || c == '\t' || c == '\r' || (c >= 0x20 && c < 0x7F)) {
            text += (char)c;
        } else if (c < 0x80) {
            return "";   // a control byte: not a message
        } else {
            text += (char)c;   // UTF-8 in a file name
        }
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

Bytes readFile(const std::string &path) {
    std::string reason;
    std::optional<Bytes> bytes = loadFile(path, reason);
    if (!bytes) throw std::runtime_error("cannot read " + path + ": " + reason);
    return *bytes;
}

bool writeFile(const std::string &path, const Bytes &bytes) {
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

}  // namespace nimbra
