// Streaming an MPEG-1 video elementary stream to the device, as a host does:
// the stream is split at picture start codes into groups (the first group
// holds everything before the second picture: sequence header, group of
// pictures header and first picture; each later group one picture, the last
// one also what follows it, such as the sequence end code). Each group is
// sent as numbered video upload chunks (opcode 0x13, bit 7 on the group's
// last chunk) and followed by one video play draw (opcode 0x11, action 3):
// the device decodes a picture as soon as all of its slices are buffered.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/hostlib/nimbra_host.h"

namespace nimbra {

constexpr size_t kVideoStreamBufferBytes = 16384;   // the device's stream buffer
constexpr size_t kVideoMaxChunkBytes = kMaxRecordPayload - 4;
constexpr size_t kVideoMaxChunksPerGroup = 128;

constexpr uint8_t kVideoStart = 1;
constexpr uint8_t kVideoStop = 2;
constexpr uint8_t kVideoDraw = 3;

// The groups of a stream, in order. Bytes before the first picture go into
// the first group; a stream without pictures is one group.
std::vector<Bytes> splitVideoGroups(const Bytes &stream);

// The video play command: action, then the position in half pixels.
Bytes videoPlayCommand(uint8_t action, int32_t xHalf = 0, int32_t yHalf = 0);

// The upload commands of one group, chunks of at most `chunkBytes` (1 to
// kVideoMaxChunkBytes) numbered from 0. Empty when the group needs more than
// 128 chunks.
std::vector<Bytes> videoUploadCommands(const Bytes &group, size_t chunkBytes = kVideoMaxChunkBytes);

struct VideoClipOptions {
    int32_t xHalf = 0;            // where the frames are drawn, in half pixels
    int32_t yHalf = 0;
    size_t chunkBytes = kVideoMaxChunkBytes;
    bool showEachFrame = true;    // a copy-to-screen after each draw
    bool stopAtEnd = true;        // video play action 2 after the last group
};

// Records that play a whole clip: start, then each group's uploads and one
// draw (and, if asked, a copy to screen numbered from `frameId`, which is
// advanced). On failure returns false with a message: a group larger than
// the device's stream buffer can never be decoded.
bool videoClipRecords(const Bytes &stream, const VideoClipOptions &options, Bytes &records, uint8_t &frameId,
                      std::string &error);

}  // namespace nimbra
