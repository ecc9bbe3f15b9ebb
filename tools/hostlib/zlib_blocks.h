// Host side of the compressed command blocks: one deflate stream, cut into
// numbered blocks at sync-flush points, each wrapped in a block command.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "tools/hostlib/nimbra_host.h"

namespace nimbra {

constexpr uint8_t kZlibBlockOpcode = 0x0A;
constexpr uint8_t kZlibBlockExecute = 0x80;
constexpr uint8_t kZlibBlockStart = 0x40;
constexpr size_t kZlibBlockHeaderBytes = 4;
// The device inflates into a buffer of this size and runs it in pieces of at
// most this size; commands kept within one piece are never cut.
constexpr size_t kZlibDeviceBufferBytes = 3072;
// The most command bytes one group (the blocks up to and including the one
// that runs them) may inflate to. A group that fills the buffer exactly
// breaks the stream on the device: it looks for room to inflate into, finds
// none and takes that for an error.
constexpr size_t kZlibMaxGroupBytes = kZlibDeviceBufferBytes - 1;
// The compressed bytes of one block: the command then fills a record.
constexpr size_t kZlibMaxBlockBytes = kMaxRecordPayload - kZlibBlockHeaderBytes;
// Command bytes that always fit one block: even stored uncompressed, with the
// stream header and the flush marker, they stay under kZlibMaxBlockBytes.
constexpr size_t kZlibMaxBlockInputBytes = 1900;

// A compressed-block command with the given flag byte around `compressed`.
Bytes zlibBlockCommand(uint8_t flags, const Bytes &compressed);

class ZlibBlockWriter {
public:
    // The stream's first block carries the start flag and `firstSequence`.
    explicit ZlibBlockWriter(uint8_t firstSequence = 0, int level = 9);
    ~ZlibBlockWriter();
    ZlibBlockWriter(const ZlibBlockWriter &) = delete;
    ZlibBlockWriter &operator=(const ZlibBlockWriter &) = delete;

    // One block carrying `bytes` (at least one), sync-flushed so that the
    // device can inflate all of it at once. Throws std::invalid_argument for
    // no bytes, and std::length_error when the compressed block would not fit
    // a record (never for up to kZlibMaxBlockInputBytes); the stream must
    // then be restarted. The caller keeps each group within
    // kZlibMaxGroupBytes (commands() does): this function also serves to
    // send what the device must refuse.
    Bytes block(const uint8_t *bytes, size_t n, bool execute);
    Bytes block(const Bytes &bytes, bool execute) { return block(bytes.data(), bytes.size(), execute); }

    // Blocks that run `commands` (each entry one whole command) in order:
    // commands are grouped so that no group inflates to more than
    // kZlibMaxGroupBytes, each group is sent as one or more blocks and run by
    // its last one. Throws std::invalid_argument for a longer command.
    std::vector<Bytes> commands(const std::vector<Bytes> &commands);

    // Ends the stream with `bytes` as its last data; the device refuses a
    // stream end, so this exists to exercise that refusal.
    Bytes finishBlock(const Bytes &bytes, bool execute);

    // Drops the current stream; the next block starts a new one.
    void restart(uint8_t firstSequence = 0);
    uint8_t nextSequence() const { return sequence_; }

private:
    Bytes _Compress(const uint8_t *bytes, size_t n, int flush);
    Bytes _Wrap(const Bytes &compressed, bool execute);

    struct Impl;
    std::unique_ptr<Impl> impl_;
    int level_;
    uint8_t sequence_;
    bool started_ = false;
};

}  // namespace nimbra
