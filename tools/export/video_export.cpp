#include "tools/export/video_export.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "tools/export/frame_pictures.h"
#include "tools/hostlib/child_program.h"

namespace nimbra {

bool ffmpegAvailable() {
    const char *path = getenv("PATH");
    std::string dirs = path ? path : "";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        if (access((dir + "/ffmpeg").c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

std::string VideoExport::encoderArguments(const VideoOptions &options) {
    const std::string size =
        std::to_string(kScreenWidth * options.scale) + "x" + std::to_string(kScreenHeight * options.scale);
    std::string args = "-f rawvideo -pix_fmt rgb24 -s " + size + " -r " + std::to_string(options.fps) + " -i - ";
    if (options.compatible) {
        args += "-c:v libx264 -pix_fmt yuv420p -crf 12 -preset medium -movflags +faststart";
    } else {
        args += "-c:v libx264rgb -qp 0 -preset medium";
    }
    return args + " -f mp4";
}

VideoExport::~VideoExport() { _Abandon(); }

void VideoExport::_Abandon() {
    if (encoder_) {
        pclose(encoder_);
        encoder_ = nullptr;
        signal(SIGPIPE, previousPipeHandler_);
    }
    if (!partial_.empty()) remove(partial_.c_str());
    if (!logPath_.empty()) remove(logPath_.c_str());
    partial_.clear();
    logPath_.clear();
}

bool VideoExport::open(const std::string &path, const VideoOptions &options, std::string &error) {
    _Abandon();
    if (options.fps < 1 || options.fps > 240 || options.scale < 1 || options.scale > 4) {
        error = "a video takes 1 to 240 frames per second and a scale of 1 to 4";
        return false;
    }
    if (!ffmpegAvailable()) {
        error = "video export needs the ffmpeg program, which is not installed (Debian package ffmpeg)";
        return false;
    }
    if (!makeScratchFile("nimbra-video-log", logPath_, error)) return false;
    options_ = options;
    path_ = path;
    partial_ = path + ".partial";
    count_ = 0;
    const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y " + encoderArguments(options) +
                                " " + shellQuote(partial_) + " 2>" + shellQuote(logPath_);
    // An encoder that goes away must end in a message, not in SIGPIPE.
    previousPipeHandler_ = signal(SIGPIPE, SIG_IGN);
    encoder_ = popen(command.c_str(), "w");
    if (!encoder_) {
        signal(SIGPIPE, previousPipeHandler_);
        error = std::string("cannot start ffmpeg: ") + strerror(errno);
        _Abandon();
        return false;
    }
    return true;
}

bool VideoExport::add(const IndexedFrame &frame, std::string &error) {
    if (!encoder_) {
        error = "the video is not open";
        return false;
    }
    const RgbPicture picture = enlargeFrame(frame, options_.scale);
    if (fwrite(picture.rgb.data(), 1, picture.rgb.size(), encoder_) != picture.rgb.size()) {
        const std::string said = firstLineOf(logPath_);
        error = "ffmpeg stopped at frame " + std::to_string(count_) + (said.empty() ? "" : " (" + said + ")");
        _Abandon();
        return false;
    }
    count_++;
    return true;
}

bool VideoExport::finish(std::string &error) {
    if (!encoder_) {
        error = "the video is not open";
        return false;
    }
    if (count_ == 0) {
        error = "no frame to write to " + path_;
        _Abandon();
        return false;
    }
    const int status = exitStatusOf(pclose(encoder_));
    encoder_ = nullptr;
    signal(SIGPIPE, previousPipeHandler_);
    if (status != 0) {
        const std::string said = firstLineOf(logPath_);
        error = "ffmpeg could not write " + path_ + (said.empty() ? "" : " (" + said + ")");
        _Abandon();
        return false;
    }
    if (rename(partial_.c_str(), path_.c_str()) != 0) {
        error = "cannot write " + path_ + ": " + strerror(errno);
        _Abandon();
        return false;
    }
    partial_.clear();
    _Abandon();   // the log
    return true;
}

}  // namespace nimbra
