// Colour clips through two ffmpeg processes: one decodes the source into a
// stream of PPM pictures, the other encodes the index planes written to it.
#include "tools/hostlib/colour_video.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

#include "tools/hostlib/child_program.h"
#include "tools/hostlib/file_io.h"
#include "tools/hostlib/orv_encoder.h"
#include "tools/hostlib/video_stream.h"

namespace nimbra {

// The encoder needs a frame rate; the device shows a picture per draw
// command whatever the stream says.
constexpr int kEncodedFrameRate = 25;

Bytes indexPictureYuv420(const uint8_t *rgb, uint32_t width, uint32_t height) {
    const size_t lumaBytes = (size_t)width * height;
    const size_t chromaBytes = (size_t)((width + 1) / 2) * ((height + 1) / 2);
    Bytes yuv(lumaBytes + 2 * chromaBytes, 128);
    for (size_t i = 0; i < lumaBytes; i++) yuv[i] = rgb332(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
    return yuv;
}

// Reads the header of the next PPM picture ("P6", width, height, 255 and
// one blank). False at the end of the stream or on anything else.
static bool _ReadPpmHeader(FILE *in, uint32_t &width, uint32_t &height) {
    char magic[3] = {};
    unsigned w = 0, h = 0, maxValue = 0;
    if (fscanf(in, "%2s %u %u %u", magic, &w, &h, &maxValue) != 4) return false;
    if (fgetc(in) == EOF || strcmp(magic, "P6") != 0 || maxValue != 255) return false;
    width = w;
    height = h;
    return true;
}

// The first line of ffmpeg's messages, to follow ours.
static std::string _FirstLine(const std::string &logPath) {
    const std::string line = firstLineOf(logPath);
    return line.empty() ? "" : " (" + line + ")";
}

// Runs both processes; `tmpPath` receives the encoded stream, `logPath` the
// decoder's messages (a decoder stopped early complains of a broken pipe:
// only a real failure shows them).
static bool _Encode(const std::string &input, const ColourClipOptions &options, const std::string &tmpPath,
                    const std::string &logPath, std::string &error) {
    const std::string decode = "ffmpeg -nostdin -hide_banner -loglevel error -i " + shellQuote(input) +
                               " -fps_mode passthrough -f image2pipe -vcodec ppm - 2>" + shellQuote(logPath);
    FILE *decoder = popen(decode.c_str(), "r");
    if (!decoder) {
        error = std::string("cannot start ffmpeg: ") + strerror(errno);
        return false;
    }
    uint32_t width = 0, height = 0;
    if (!_ReadPpmHeader(decoder, width, height)) {
        int status = exitStatusOf(pclose(decoder));
        error = status == kShellCommandNotFound ? "colour video needs the ffmpeg program (Debian package ffmpeg)"
                                           : "ffmpeg cannot decode it" + _FirstLine(logPath);
        return false;
    }
    if (!videoSizeFits(width, height, error)) {
        pclose(decoder);
        return false;
    }
    const std::string encode = "ffmpeg -hide_banner -loglevel error -y -f rawvideo -pix_fmt yuv420p -s " +
                               std::to_string(width) + "x" + std::to_string(height) + " -r " +
                               std::to_string(kEncodedFrameRate) + " -i - -c:v mpeg1video -q:v " +
                               std::to_string(options.quantiser) + " -bf 0 -f mpeg1video " + shellQuote(tmpPath);
    FILE *encoder = popen(encode.c_str(), "w");
    if (!encoder) {
        pclose(decoder);
        error = std::string("cannot start ffmpeg: ") + strerror(errno);
        return false;
    }
    Bytes rgb((size_t)width * height * 3);
    bool ok = true;
    do {
        if (fread(rgb.data(), 1, rgb.size(), decoder) != rgb.size()) {
            error = "ffmpeg's pictures end early" + _FirstLine(logPath);
            ok = false;
            break;
        }
        Bytes yuv = indexPictureYuv420(rgb.data(), width, height);
        if (fwrite(yuv.data(), 1, yuv.size(), encoder) != yuv.size()) {
            error = "the MPEG-1 encoder stopped";
            ok = false;
            break;
        }
        uint32_t w = 0, h = 0;
        if (!_ReadPpmHeader(decoder, w, h)) break;
        if (w != width || h != height) {
            error = "the picture size changes within the clip";
            ok = false;
            break;
        }
    } while (true);
    int decoded = exitStatusOf(pclose(decoder)), encoded = exitStatusOf(pclose(encoder));
    if (ok && decoded != 0) {
        error = "ffmpeg cannot decode all of it" + _FirstLine(logPath);
        ok = false;
    }
    if (ok && encoded != 0) {
        error = "ffmpeg cannot encode the colour indices as MPEG-1 video";
        ok = false;
    }
    return ok;
}

bool encodeColourClip(const std::string &input, const ColourClipOptions &options, Bytes &m1v, std::string &error) {
    if (options.quantiser < 1 || options.quantiser > 31) {
        error = "the quantiser must be 1 to 31";
        return false;
    }
    std::string tmpPath, logPath;
    if (!makeScratchFile("nimbra-colour", tmpPath, error) || !makeScratchFile("nimbra-colour", logPath, error)) {
        if (!tmpPath.empty()) unlink(tmpPath.c_str());
        return false;
    }
    // A process that goes away must end in a message, not in SIGPIPE.
    void (*previous)(int) = signal(SIGPIPE, SIG_IGN);
    bool ok = _Encode(input, options, tmpPath, logPath, error);
    signal(SIGPIPE, previous);
    if (ok) {
        std::optional<Bytes> encoded = loadFile(tmpPath, error);
        if (encoded) m1v = std::move(*encoded);
        ok = encoded.has_value();
    }
    unlink(tmpPath.c_str());
    unlink(logPath.c_str());
    return ok;
}

}  // namespace nimbra
