// Host-side command building and stream parsing.
#include "tools/hostlib/nimbra_host.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <png.h>
#include <unistd.h>

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

CommandBuilder &CommandBuilder::copyToScreen(uint8_t frameId, int32_t x, int32_t y, int32_t w, int32_t h) {
    return u8(0x02).u8(frameId).pair(x, y).pair(w, h);
}
CommandBuilder &CommandBuilder::clearRect(int32_t x, int32_t y, int32_t w, int32_t h) {
    return u8(0x03).pair(x, y).pair(w, h);
}
CommandBuilder &CommandBuilder::setColor(uint32_t argb) { return u8(0x09).u32le(argb); }
CommandBuilder &CommandBuilder::setPenStyle(uint8_t widthHalf, uint8_t shape, uint8_t style) {
    return u8(0x0B).u8(widthHalf).u8((uint8_t)((shape << 4) | (style & 0x0F)));
}
CommandBuilder &CommandBuilder::connect() { return u8(0x30).u8(0); }
CommandBuilder &CommandBuilder::disconnect() { return u8(0x30).u8(1); }
CommandBuilder &CommandBuilder::eof() { return u8(0x32).u8(0); }
CommandBuilder &CommandBuilder::seekTo(uint32_t position) { return u8(0x31).u32le(position); }
CommandBuilder &CommandBuilder::setTickRate(uint16_t rate, uint16_t param) {
    return u8(0x14).u16le(rate).u16le(param);
}
CommandBuilder &CommandBuilder::systemInfo(uint8_t kind) { return u8(0x17).u8(kind); }
CommandBuilder &CommandBuilder::enableDevice(uint8_t unit, uint8_t state, uint8_t value) {
    return u8(0x1F).u8(unit).u8(state).u8(value);
}
CommandBuilder &CommandBuilder::setSessionParams(int32_t xHalf, int32_t yHalf) { return u8(0x1B).pair(xHalf, yHalf); }

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

bool writeFramePng(const Frame &frame, const std::string &path, std::string *error) {
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) {
        if (error) *error = strerror(errno);
        return false;
    }
    // Declared before the setjmp, so that a jump back does not skip its
    // destructor.
    std::vector<uint8_t> row(kScreenWidth * 3);
    errno = 0;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        // libpng stops on a failed write; errno still holds the reason.
        if (error) *error = errno ? strerror(errno) : "cannot encode the PNG file";
        png_destroy_write_struct(&png, &info);
        fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, kScreenWidth, kScreenHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < kScreenHeight; y++) {
        for (int x = 0; x < kScreenWidth; x++) {
            const uint8_t *p = &frame.bgra[((size_t)y * kScreenWidth + x) * 4];
            row[x * 3 + 0] = p[2];
            row[x * 3 + 1] = p[1];
            row[x * 3 + 2] = p[0];
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (fclose(f) != 0) {
        if (error) *error = strerror(errno);
        return false;
    }
    return true;
}

Bytes readFile(const std::string &path) {
    Bytes b;
    std::string error;
    readFile(path, b, error);
    return b;
}

bool writeFile(const std::string &path, const Bytes &bytes) {
    std::string error;
    return writeFile(path, bytes, error);
}

bool readFile(const std::string &path, Bytes &out, std::string &error) {
    out.clear();
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) {
        error = strerror(errno);
        return false;
    }
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    bool failed = ferror(f) != 0;
    if (failed) error = strerror(errno);
    fclose(f);
    return !failed;
}

bool writeFile(const std::string &path, const Bytes &bytes, std::string &error) {
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) {
        error = strerror(errno);
        return false;
    }
    bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (!ok) error = strerror(errno);
    if (fclose(f) != 0 && ok) {
        error = strerror(errno);
        ok = false;
    }
    return ok;
}

bool writeOutput(const std::string &path, const Bytes &bytes, std::string &error) {
    if (path != "-") return writeFile(path, bytes, error);
    if (isatty(1)) {
        error = "standard output is a terminal; the output is binary (redirect it or give a file name)";
        return false;
    }
    if (fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() || fflush(stdout) != 0) {
        error = strerror(errno);
        return false;
    }
    return true;
}

}  // namespace nimbra
