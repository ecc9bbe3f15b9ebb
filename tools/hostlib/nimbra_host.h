// Host-side helpers: build commands and records as a host application would
// send them, and parse what the simulator writes back (frames on standard
// output, response packets on standard error).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace nimbra {

using Bytes = std::vector<uint8_t>;

constexpr int kScreenWidth = 640;
constexpr int kScreenHeight = 400;
// A frame: the stream position, then four bytes (blue, green, red, marker)
// for each pixel.
constexpr size_t kFramePixelBytes = 4;
constexpr size_t kFrameBytes = 4 + (size_t)kScreenWidth * kScreenHeight * kFramePixelBytes;
constexpr size_t kMaxRecordPayload = 2048;

// A point of a polygon or path, in half pixels.
struct Point {
    int32_t x, y;
    bool operator==(const Point &) const = default;
};

// Appends commands to one payload. Values are in the wire's units: half
// pixels for positions, sizes, radii and pen widths, half degrees for
// angles. Every command method encodes through the command table
// (command_table.h) and throws std::invalid_argument for a value its field
// cannot hold; the raw methods (u8, pair, bytes, ...) write anything, for
// building malformed commands.
class CommandBuilder {
public:
    CommandBuilder &u8(uint8_t v);
    CommandBuilder &u16le(uint16_t v);
    CommandBuilder &u32le(uint32_t v);
    CommandBuilder &bytes(const Bytes &b);
    CommandBuilder &bytes(const uint8_t *p, size_t n);
    CommandBuilder &text(const std::string &s);
    // Packed pair of two 12-bit values (signed values are stored as 12-bit
    // two's complement).
    CommandBuilder &pair(int32_t a, int32_t b);

    // Any command of the table by name, with its numbers in text order (a
    // pair gives two) and its variable part.
    CommandBuilder &command(const char *name, const std::vector<int64_t> &numbers, const Bytes &data = {},
                            const std::vector<Point> &points = {});

    // One method per command, in opcode order.
    CommandBuilder &copyToScreen(uint8_t frameId, int32_t x = 0, int32_t y = 0, int32_t w = 0, int32_t h = 0);
    CommandBuilder &clearRect(int32_t x, int32_t y, int32_t w, int32_t h);
    CommandBuilder &loadImageChunk(uint8_t slot, uint16_t offset, uint16_t total, uint8_t format, const Bytes &chunk);
    CommandBuilder &drawImage(uint8_t slot, int32_t x, int32_t y);
    CommandBuilder &loadFontChunk(uint8_t slot, uint16_t offset, uint16_t total, uint8_t format, const Bytes &chunk);
    CommandBuilder &drawLogo(uint8_t kind, int16_t dxPixels, int16_t dyPixels, const std::string &caption);
    CommandBuilder &drawText(uint8_t fontSlot, int32_t x, int32_t y, uint8_t alignment, const std::string &text);
    CommandBuilder &setColor(uint32_t argb);
    CommandBuilder &zlibBlock(bool execute, bool start, uint8_t sequence, const Bytes &compressed);
    CommandBuilder &setPenStyle(uint8_t widthHalf, uint8_t shape, uint8_t style);
    CommandBuilder &drawRect(int32_t x, int32_t y, int32_t w, int32_t h, uint8_t radiusHalf, uint8_t fill);
    CommandBuilder &drawPath(const std::vector<Point> &points, bool smooth);
    CommandBuilder &drawEllipse(int32_t x, int32_t y, int32_t rx, int32_t ry, uint16_t angleHalfDegrees, bool fill);
    CommandBuilder &drawLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1);
    CommandBuilder &drawArc(int32_t x, int32_t y, int32_t rx, int32_t ry, int32_t a0HalfDegrees,
                            int32_t a1HalfDegrees);
    CommandBuilder &videoPlay(uint8_t action, int32_t x = 0, int32_t y = 0);
    CommandBuilder &drawPolygon(const std::vector<Point> &points, bool fill, bool simple = false);
    CommandBuilder &videoUpload(uint8_t chunk, bool last, const Bytes &data);
    CommandBuilder &setTickRate(uint16_t rate, uint16_t param);
    CommandBuilder &cacheRequest(uint8_t request, uint8_t slot);
    CommandBuilder &systemInfo(uint8_t kind);
    CommandBuilder &clipRect(int32_t x, int32_t y, int32_t w, int32_t h);
    CommandBuilder &drawSprite(uint8_t slot, int32_t x, int32_t y, int32_t sx, int32_t sy, int32_t w, int32_t h);
    CommandBuilder &setSessionParams(int32_t xHalf, int32_t yHalf);
    CommandBuilder &otaUpload(uint8_t type, uint8_t block, uint16_t offset, uint16_t blockBytes, const Bytes &chunk);
    CommandBuilder &otaStart(uint8_t type, uint32_t size);
    CommandBuilder &handshakeChunk(uint32_t counter, uint16_t offset, uint16_t total, const Bytes &chunk);
    CommandBuilder &enableDevice(uint8_t unit, uint8_t state, uint8_t value);
    CommandBuilder &connect();
    CommandBuilder &disconnect();
    CommandBuilder &seekTo(uint32_t position);
    CommandBuilder &eof();

    const Bytes &payload() const { return payload_; }
    size_t size() const { return payload_.size(); }
    void clear() { payload_.clear(); }

private:
    Bytes payload_;
};

// One record: 4-byte big-endian length, 4 uninterpreted bytes, payload.
Bytes makeRecord(const Bytes &payload, uint32_t extra = 0);
// Appends the record to a stream.
void appendRecord(Bytes &stream, const Bytes &payload);

// Packs commands into records of at most 2048 bytes, never splitting a
// command (each entry of `commands` is one command).
Bytes packRecords(const std::vector<Bytes> &commands);

struct Frame {
    uint32_t processedBytes = 0;
    std::vector<uint8_t> bgra;   // 640 x 400 x 4 bytes as written
    // The frame's pixel as an RGB332 colour index, found from the output
    // bytes (colour mode).
    uint8_t indexAt(int x, int y) const;
};

struct Packet {
    Bytes payload;
};

// Splits a frame stream; trailing bytes that do not make a whole frame are
// reported through `leftover`.
std::vector<Frame> parseFrames(const Bytes &stream, size_t *leftover = nullptr);
// Splits a packet stream; returns false when it is malformed.
bool parsePackets(const Bytes &stream, std::vector<Packet> &out);

// Every output frame has this byte after each pixel's blue, green and red.
constexpr uint8_t kFramePixelMarker = 0xAA;

// The text at the start of what should be a frame stream, when it is text
// rather than a frame: the simulator writes its command-line errors ("Error:
// invalid params") to standard output, where frames are expected. Empty when
// the bytes could be the start of a frame.
std::string textInsteadOfFrames(const uint8_t *bytes, size_t length);

// Writes a frame as a PNG file: a palette PNG (indexed_frame.h) when it is
// a device frame, an RGB one otherwise. Returns false on failure, with the
// system's reason in `error` when given ("Permission denied").
bool writeFramePng(const Frame &frame, const std::string &path, std::string *error = nullptr);

// The bytes of a file that must be there: a missing or unreadable file
// throws std::runtime_error naming it and the reason, so that it is never
// taken for an empty one. Tools that report a missing file to their user
// read through loadFile (file_io.h), which returns nullopt instead.
Bytes readFile(const std::string &path);
bool writeFile(const std::string &path, const Bytes &bytes);

}  // namespace nimbra
