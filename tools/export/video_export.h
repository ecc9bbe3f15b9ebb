// Frames as an MP4 video through the ffmpeg program (H.264, libx264).
//
// Two settings. Lossless (the default): libx264's RGB mode at quantiser 0,
// every colour kept exactly; ffmpeg-based players (ffplay, mpv, VLC) show it,
// most browsers and phones do not. Compatible: the common 4:2:0 form at a
// high quality (constant rate factor 12), which plays everywhere; colours
// stay within a few levels, but the halved colour resolution blurs the
// colour of one-pixel details, so that enlarging by 2 helps.
#pragma once
#include <cstdio>
#include <string>

#include "tools/hostlib/indexed_frame.h"

namespace nimbra {

struct VideoOptions {
    int fps = 10;                // 1 to 240
    int scale = 1;               // each pixel as scale x scale, 1 to 4
    bool compatible = false;     // 4:2:0 for browsers and phones instead of lossless RGB
};

class VideoExport {
public:
    VideoExport() = default;
    ~VideoExport();   // an export not finished leaves no file
    VideoExport(const VideoExport &) = delete;
    VideoExport &operator=(const VideoExport &) = delete;

    // Starts ffmpeg. False with the reason when it is not installed or
    // cannot start.
    bool open(const std::string &path, const VideoOptions &options, std::string &error);
    bool add(const IndexedFrame &frame, std::string &error);
    bool finish(std::string &error);

    // The ffmpeg command line for the settings (without where it reads and writes).
    static std::string encoderArguments(const VideoOptions &options);

private:
    void _Abandon();

    FILE *encoder_ = nullptr;
    void (*previousPipeHandler_)(int) = nullptr;
    std::string path_, partial_, logPath_;
    VideoOptions options_;
    uint64_t count_ = 0;
};

// True when the ffmpeg program is on PATH.
bool ffmpegAvailable();

}  // namespace nimbra
