#include "tools/hostlib/video_stream.h"

#include <algorithm>

namespace nimbra {

static bool _IsPictureStart(const Bytes &s, size_t i) {
    return i + 3 < s.size() && s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1 && s[i + 3] == 0;
}

std::vector<Bytes> splitVideoGroups(const Bytes &stream) {
    std::vector<size_t> pictures;
    for (size_t i = 0; i + 3 < stream.size(); i++) {
        if (_IsPictureStart(stream, i)) {
            pictures.push_back(i);
            i += 3;
        }
    }
    std::vector<size_t> cuts{0};
    for (size_t k = 1; k < pictures.size(); k++) cuts.push_back(pictures[k]);
    cuts.push_back(stream.size());
    std::vector<Bytes> groups;
    for (size_t k = 0; k + 1 < cuts.size(); k++) {
        if (cuts[k + 1] > cuts[k]) groups.emplace_back(stream.begin() + (long)cuts[k], stream.begin() + (long)cuts[k + 1]);
    }
    return groups;
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
        if (groups[g].size() > kVideoStreamBufferBytes) {
            error = "picture group " + std::to_string(g) + " has " + std::to_string(groups[g].size()) +
                    " bytes, more than the device's stream buffer of " + std::to_string(kVideoStreamBufferBytes);
            return false;
        }
        std::vector<Bytes> uploads = videoUploadCommands(groups[g], options.chunkBytes);
        if (uploads.empty()) {
            error = "picture group " + std::to_string(g) + " cannot be cut into chunks";
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
