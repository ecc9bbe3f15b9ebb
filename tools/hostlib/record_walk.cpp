#include "tools/hostlib/record_walk.h"

#include "tools/hostlib/nimbra_host.h"

namespace nimbra {

RecordPiece recordPieceAt(const uint8_t *stream, size_t size, size_t offset) {
    RecordPiece piece;
    piece.offset = offset;
    const size_t left = size - offset;
    if (left < kRecordHeaderBytes) {
        piece.kind = RecordPieceKind::ShortTail;
        piece.bytes = left;
        return piece;
    }
    const uint8_t *h = stream + offset;
    piece.announced = ((uint32_t)h[0] << 24) | ((uint32_t)h[1] << 16) | ((uint32_t)h[2] << 8) | h[3];
    if (piece.announced > kMaxRecordPayload) {
        piece.kind = RecordPieceKind::OverlongHeader;
        piece.bytes = kRecordHeaderBytes;
    } else if (piece.announced > left - kRecordHeaderBytes) {
        piece.kind = RecordPieceKind::CutRecord;
        piece.bytes = left;
    } else {
        piece.kind = RecordPieceKind::Record;
        piece.bytes = kRecordHeaderBytes + piece.announced;
        piece.payload = h + kRecordHeaderBytes;
        piece.payloadBytes = piece.announced;
    }
    return piece;
}

std::string recordPieceNote(const RecordPiece &piece) {
    switch (piece.kind) {
    case RecordPieceKind::Record: return "";
    case RecordPieceKind::OverlongHeader:
        return "a header of " + std::to_string(piece.announced) +
               " bytes, over 2048: the device drops these 8 bytes and reads the next 8 as a header";
    case RecordPieceKind::CutRecord:
        return "a record of " + std::to_string(piece.announced) + " bytes cut by the end of the stream after " +
               std::to_string(piece.bytes - kRecordHeaderBytes) + ": the device does not run it";
    case RecordPieceKind::ShortTail:
        return std::to_string(piece.bytes) + " bytes, less than a header: the device stops here";
    }
    return "";
}

}  // namespace nimbra
