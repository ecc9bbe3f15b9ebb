#include "tools/hostlib/video_stream.h"

#include <algorithm>

namespace nimbra {

// MPEG-1 start codes (00 00 01 xx).
constexpr uint8_t kPictureStart = 0x00, kUserData = 0xB2, kSequenceHeader = 0xB3, kExtension = 0xB5,
                  kGroupOfPictures = 0xB8, kPackHeader = 0xBA;
constexpr uint8_t kSequenceExtensionId = 1;   // MPEG-2's extension right after the sequence header

struct _StartCode {
    size_t at;
    uint8_t code;
};

static std::vector<_StartCode> _StartCodes(const Bytes &s) {
    std::vector<_StartCode> codes;
    for (size_t i = 0; i + 3 < s.size(); i++) {
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
            codes.push_back({i, s[i + 3]});
            i += 3;
        }
    }
    return codes;
}

// The headers that belong to the picture after them.
static bool _LeadsAPicture(uint8_t code) {
    return code == kSequenceHeader || code == kGroupOfPictures || code == kExtension || code == kUserData;
}

std::vector<Bytes> splitVideoGroups(const Bytes &stream) {
    std::vector<_StartCode> codes = _StartCodes(stream);
    std::vector<size_t> cuts{0};
    bool firstPicture = true;
    for (size_t k = 0; k < codes.size(); k++) {
        if (codes[k].code != kPictureStart) continue;
        if (firstPicture) {
            firstPicture = false;
            continue;
        }
        size_t cut = codes[k].at;
        for (size_t j = k; j > 0 && _LeadsAPicture(codes[j - 1].code) && codes[j - 1].at > cuts.back(); j--) {
            cut = codes[j - 1].at;
        }
        cuts.push_back(cut);
    }
    cuts.push_back(stream.size());
    std::vector<Bytes> groups;
    for (size_t k = 0; k + 1 < cuts.size(); k++) {
        if (cuts[k + 1] > cuts[k]) groups.emplace_back(stream.begin() + (long)cuts[k], stream.begin() + (long)cuts[k + 1]);
    }
    return groups;
}

bool videoSizeFits(uint32_t width, uint32_t height, std::string &error) {
    if (width == 0 || height == 0) {
        error = std::to_string(width) + " x " + std::to_string(height) + " has no pixels to show";
        return false;
    }
    if ((uint64_t)width * height * 3 > kVideoMaxPictureBytes) {
        error = std::to_string(width) + " x " + std::to_string(height) + " is larger than the device plays: at most " +
                std::to_string(kVideoMaxPictureBytes) + " bytes for width x height x 3, e.g. 320 x 240";
        return false;
    }
    return true;
}

bool checkVideoStream(const Bytes &stream, VideoStreamFacts &facts, std::string &error) {
    facts = VideoStreamFacts{};
    const std::string make = "make one with: ffmpeg -i IN -c:v mpeg1video -f mpeg1video OUT.m1v";
    if (stream.empty()) {
        error = "empty";
        return false;
    }
    std::vector<_StartCode> codes = _StartCodes(stream);
    if (!codes.empty() && codes[0].at == 0 && codes[0].code == kPackHeader) {
        error = "an MPEG program stream (video with sound), not a video elementary stream; take the video out "
                "with: ffmpeg -i IN -map 0:v -c:v mpeg1video -f mpeg1video OUT.m1v";
        return false;
    }
    // Zero bytes may stuff the stream before its first start code.
    size_t lead = 0;
    while (lead < stream.size() && stream[lead] == 0) lead++;
    if (codes.empty() || codes[0].code != kSequenceHeader || codes[0].at + 2 != lead) {
        error = "not an MPEG-1 video elementary stream (it does not begin with a sequence header); " + make;
        return false;
    }
    const size_t at = codes[0].at + 4;
    if (stream.size() < at + 8) {
        error = "the stream ends inside its sequence header";
        return false;
    }
    facts.width = (uint32_t)stream[at] << 4 | stream[at + 1] >> 4;
    facts.height = (uint32_t)(stream[at + 1] & 0x0F) << 8 | stream[at + 2];
    for (const _StartCode &c : codes) {
        if (c.code == kExtension && c.at + 4 < stream.size() && stream[c.at + 4] >> 4 == kSequenceExtensionId) {
            error = "an MPEG-2 stream; the device plays MPEG-1 video only (encode with -c:v mpeg1video)";
            return false;
        }
        if (c.code == kPictureStart) facts.pictures++;
    }
    if (!videoSizeFits(facts.width, facts.height, error)) return false;
    if (facts.pictures == 0) {
        error = "the stream holds no picture";
        return false;
    }
    return true;
}

Bytes videoPlayCommand(uint8_t action, int32_t xHalf, int32_t yHalf) {
    return CommandBuilder().videoPlay(action, xHalf, yHalf).payload();
}

std::vector<Bytes> videoUploadCommands(const Bytes &group, size_t chunkBytes) {
    std::vector<Bytes> commands;
    if (chunkBytes == 0 || chunkBytes > kVideoMaxChunkBytes || group.empty()) return commands;
    size_t chunks = (group.size() + chunkBytes - 1) / chunkBytes;
    if (chunks > kVideoMaxChunksPerGroup) return commands;
    for (size_t k = 0; k < chunks; k++) {
        size_t offset = k * chunkBytes;
        size_t n = std::min(chunkBytes, group.size() - offset);
        const Bytes chunk(group.begin() + (long)offset, group.begin() + (long)(offset + n));
        commands.push_back(CommandBuilder().videoUpload((uint8_t)k, k + 1 == chunks, chunk).payload());
    }
    return commands;
}

bool videoClipRecords(const Bytes &stream, const VideoClipOptions &options, Bytes &records, uint8_t &frameId,
                      std::string &error) {
    std::vector<Bytes> groups = splitVideoGroups(stream);
    if (groups.empty()) {
        error = "the stream is empty";
        return false;
    }
    std::vector<Bytes> commands{videoPlayCommand(kVideoStart)};
    for (size_t g = 0; g < groups.size(); g++) {
        const size_t room = g == 0 ? kVideoMaxFirstGroupBytes : kVideoMaxGroupBytes;
        if (groups[g].size() > room) {
            error = "picture " + std::to_string(g) + " takes " + std::to_string(groups[g].size()) +
                    " bytes with its headers; the device's stream buffer of " +
                    std::to_string(kVideoStreamBufferBytes) + " bytes takes at most " + std::to_string(room) +
                    " for it (encode with a coarser quantiser or at a smaller size)";
            return false;
        }
        std::vector<Bytes> uploads = videoUploadCommands(groups[g], options.chunkBytes);
        if (uploads.empty()) {
            error = "picture " + std::to_string(g) + " takes " + std::to_string(groups[g].size()) +
                    " bytes, more than " + std::to_string(kVideoMaxChunksPerGroup) + " chunks of " +
                    std::to_string(options.chunkBytes) + " (give larger chunks)";
            return false;
        }
        commands.insert(commands.end(), uploads.begin(), uploads.end());
        commands.push_back(videoPlayCommand(kVideoDraw, options.xHalf, options.yHalf));
        if (options.showEachFrame) {
            CommandBuilder b;
            b.copyToScreen(frameId++);
            commands.push_back(b.payload());
        }
    }
    if (options.stopAtEnd) commands.push_back(videoPlayCommand(kVideoStop));
    Bytes packed = packRecords(commands);
    records.insert(records.end(), packed.begin(), packed.end());
    return true;
}

}  // namespace nimbra
