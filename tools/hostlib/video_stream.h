// Streaming an MPEG-1 video elementary stream to the device, as a host does:
// the stream is split into groups, one picture each. A group begins with the
// headers in front of its picture (sequence header, group of pictures
// header, extension and user data), so that the device reads them with the
// picture instead of keeping them in its stream buffer until the next group
// arrives; the first group also holds whatever precedes the first picture,
// the last one what follows the last picture, such as the sequence end code.
// Each group is sent as numbered video upload chunks (opcode 0x13, bit 7 on
// the group's last chunk) and followed by one video play draw (opcode 0x11,
// action 3): the device decodes a picture as soon as all of its slices are
// buffered.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/hostlib/nimbra_host.h"

namespace nimbra {

constexpr size_t kVideoStreamBufferBytes = 16384;   // the device's stream buffer
// After decoding a picture the device keeps the last bytes it has not read:
// up to three, where the start code of the next picture might begin. Every
// group after the first must fit beside them.
constexpr size_t kVideoCarriedBytes = 3;
constexpr size_t kVideoMaxFirstGroupBytes = kVideoStreamBufferBytes;
constexpr size_t kVideoMaxGroupBytes = kVideoStreamBufferBytes - kVideoCarriedBytes;
// The device refuses a sequence whose width x height x 3 is larger.
constexpr uint32_t kVideoMaxPictureBytes = 307200;
constexpr size_t kVideoUploadHeaderBytes = 4;   // opcode, chunk number and flag, length
constexpr size_t kVideoMaxChunkBytes = kMaxRecordPayload - kVideoUploadHeaderBytes;
constexpr size_t kVideoMaxChunksPerGroup = 128;

constexpr uint8_t kVideoStart = 1;
constexpr uint8_t kVideoStop = 2;
constexpr uint8_t kVideoDraw = 3;

// The groups of a stream, in order. Bytes before the first picture go into
// the first group; a stream without pictures is one group.
std::vector<Bytes> splitVideoGroups(const Bytes &stream);

struct VideoStreamFacts {
    uint32_t width = 0, height = 0;   // from the first sequence header
    size_t pictures = 0;
};

// Whether the device's decoder takes pictures of this size; if not, false
// with the reason in `error`.
bool videoSizeFits(uint32_t width, uint32_t height, std::string &error);

// Checks that `stream` is an MPEG-1 video elementary stream that the device
// plays: it begins with a sequence header, is not MPEG-2, has pictures, and
// its size fits the decoder (width x height x 3 at most 307200). False with
// the reason in `error`, a phrase to follow the file's name ("400 x 300 is
// larger than the device plays: ...", "not an MPEG-1 video ...").
bool checkVideoStream(const Bytes &stream, VideoStreamFacts &facts, std::string &error);

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
// advanced). On failure returns false with a message: a picture whose group
// does not fit the device's stream buffer can never be decoded.
bool videoClipRecords(const Bytes &stream, const VideoClipOptions &options, Bytes &records, uint8_t &frameId,
                      std::string &error);

}  // namespace nimbra
