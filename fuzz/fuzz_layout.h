// How the fuzz targets read their inputs, shared by the targets and by the
// seed maker that writes their first corpora. All fields are little-endian.
//
// Image and text targets begin with a placement:
//   byte 0      flags of the target
//   bytes 1-3   position: packed signed pair in half pixels, as the draw commands send it
//   bytes 4-6   clip origin: packed unsigned pair in half pixels, as the clip command sends it
//   bytes 7-9   clip size: packed unsigned pair; a size the clip command refuses leaves the whole screen
#pragma once
#include <cstddef>
#include <cstdint>

namespace fuzzlayout {

constexpr size_t kPlacementBytes = 10;

// Image targets (PNG, JPEG): the placement, then the file.
constexpr uint8_t kImageIntoPicture = 0x01;   // decode into a picture of the image's size, as slot 0 does

// Text target: the placement, then
//   byte 10     colour (RGB332 index), byte 11 alpha
//   byte 12     text length n, then n bytes of UTF-8 text, then the SIF file.
constexpr uint8_t kTextFourBits = 0x01;         // the font has 4 bits per pixel, else 2
constexpr uint8_t kTextAlignShift = 1;          // bits 1-2: alignment as the draw text command takes it
constexpr size_t kTextHeaderBytes = kPlacementBytes + 3;

// Video target: the placement (flags unused), then steps, each
//   byte 0      what to do (below), bytes 1-2 n, then n bytes of stream
// The step's bytes are appended to the stream buffer first, then the actions
// run in the order of their bits.
constexpr uint8_t kVideoRestore = 0x01;   // drop what was appended since the last picture
constexpr uint8_t kVideoDraw = 0x02;      // decode the next picture and draw it
constexpr uint8_t kVideoRestart = 0x04;   // stop and start the decoder again
constexpr size_t kVideoStepHeaderBytes = 3;

// Compressed-block target: blocks, each byte 0 the flag byte of the block
// command, bytes 1-2 n, then n bytes of the compressed stream.
constexpr size_t kBlockHeaderBytes = 3;

// Handshake target: byte 0 link actions before the first chunk (bit 0
// connect), then chunks, each bytes 0-3 counter, 4-5 offset, 6-7 n, 8-9
// total, then n bytes of message (fewer when the input ends first).
constexpr uint8_t kHandshakeConnect = 0x01;
constexpr size_t kHandshakeChunkHeaderBytes = 10;

// Upload target: resources, each
//   byte 0      kind: bit 0 set a font, else an image; bit 1 set: draw it afterwards
//   byte 1      slot, byte 2 the format byte of the load command
//   bytes 3-4   chunk size (0 counts as 1), byte 5 faults (below)
//   bytes 6-8   packed signed pair: where it is drawn, in half pixels
//   bytes 9-10  file length n, then n bytes of file
// The target appends the file's CRC-32 and sends it in chunks.
constexpr uint8_t kUploadFont = 0x01;
constexpr uint8_t kUploadDraw = 0x02;
constexpr uint8_t kUploadBadCrc = 0x01;      // the CRC does not match
constexpr uint8_t kUploadSkipChunk = 0x02;   // the second chunk is lost
constexpr uint8_t kUploadRepeatChunk = 0x04; // the first chunk is sent twice
constexpr size_t kUploadHeaderBytes = 11;

// Text-form target: byte 0 bit 0 set, the rest is a script; else it is a
// recording stream.
constexpr uint8_t kTextFormScript = 0x01;

}  // namespace fuzzlayout
