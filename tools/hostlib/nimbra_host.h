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
constexpr size_t kFrameBytes = 4 + 640 * 400 * 4;
constexpr size_t kMaxRecordPayload = 2048;

// Appends commands to one payload. Values are in the wire's units (half
// pixels for packed pairs) unless a method says otherwise.
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

    // Common commands, coordinates in half pixels.
    CommandBuilder &copyToScreen(uint8_t frameId, int32_t x = 0, int32_t y = 0, int32_t w = 0, int32_t h = 0);
    CommandBuilder &clearRect(int32_t x, int32_t y, int32_t w, int32_t h);
    CommandBuilder &setColor(uint32_t argb);
    CommandBuilder &setPenStyle(uint8_t widthHalf, uint8_t shape, uint8_t style);
    CommandBuilder &connect();
    CommandBuilder &disconnect();
    CommandBuilder &eof();
    CommandBuilder &seekTo(uint32_t position);
    CommandBuilder &setTickRate(uint16_t rate, uint16_t param);
    CommandBuilder &systemInfo(uint8_t kind);
    CommandBuilder &enableDevice(uint8_t unit, uint8_t state, uint8_t value);
    CommandBuilder &setSessionParams(int32_t xHalf, int32_t yHalf);

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

// Writes a frame as an RGB PNG file. Returns false on failure, with the
// system's reason in `error` when given ("Permission denied").
bool writeFramePng(const Frame &frame, const std::string &path, std::string *error = nullptr);

Bytes readFile(const std::string &path);
bool writeFile(const std::string &path, const Bytes &bytes);
// The same, telling an empty file from one that cannot be read or written:
// false with the system's reason in `error` ("No such file or directory").
bool readFile(const std::string &path, Bytes &out, std::string &error);
bool writeFile(const std::string &path, const Bytes &bytes, std::string &error);
// Writes to the file, or to standard output when `path` is "-" (refused
// when standard output is a terminal: the bytes are binary).
bool writeOutput(const std::string &path, const Bytes &bytes, std::string &error);

}  // namespace nimbra
