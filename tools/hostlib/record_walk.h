// A record stream cut into the pieces the device reads from it, exactly as
// its record loop does: whole records, the lone header of an over-long
// record (dropped, and the next 8 bytes taken as a header), a record cut by
// the end of the stream (not run), and a tail shorter than a header (where
// the device stops). Running each piece on its own gives the device the same
// bytes in the same reads as running the whole stream.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace nimbra {

constexpr size_t kRecordHeaderBytes = 8;

enum class RecordPieceKind {
    Record,           // header and payload: the device runs the payload
    OverlongHeader,   // a header announcing more than 2048 bytes: dropped alone
    CutRecord,        // a header whose payload the stream cuts short: not run
    ShortTail,        // fewer than 8 bytes at the end: no header at all
};

struct RecordPiece {
    RecordPieceKind kind = RecordPieceKind::Record;
    size_t offset = 0;          // of the piece in the stream
    size_t bytes = 0;           // the piece's bytes, header included
    uint32_t announced = 0;     // the header's payload length (not for a short tail)
    const uint8_t *payload = nullptr;   // Record: the payload
    size_t payloadBytes = 0;            // Record: its length (= announced)
};

// The piece at `offset` (< size) of a stream of `size` bytes.
RecordPiece recordPieceAt(const uint8_t *stream, size_t size, size_t offset);

// What the device does with a piece that is not a record it runs ("a header
// of 4096 bytes, over 2048: the device drops these 8 bytes and reads the
// next 8 as a header"); empty for a record.
std::string recordPieceNote(const RecordPiece &piece);

}  // namespace nimbra
