// Writes the frames of a run as PNG files (8-bit palette: exact and small),
// an animated GIF, an MP4 video or a contact sheet. The frames come from the
// simulator's frame stream (its standard output), or from a recording run
// on the device in this process.
//   nimbra-sim -r demo.rec | nimbra-frames --dir frames
//   nimbra-frames --recording demo.rec --gif demo.gif --sheet sheet.png
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "tools/export/frame_export.h"
#include "tools/hostlib/cli.h"
#include "tools/hostlib/nimbra_host.h"
#include "tools/run/recording_run.h"

namespace {

// Reads until `want` bytes arrived or the stream ended.
size_t _ReadFully(int fd, uint8_t *dst, size_t want) {
    size_t got = 0;
    while (got < want) {
        ssize_t n = read(fd, dst + got, want - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += (size_t)n;
    }
    return got;
}

// Frames from a frame stream into the export. Empty on success, else why not.
std::string _ExportStream(int fd, nimbra::FrameExport &out) {
    nimbra::Bytes buffer(nimbra::kFrameBytes);
    nimbra::IndexedFrame frame;
    std::string error;
    for (uint64_t count = 0; out.wants(count); count++) {
        const size_t got = _ReadFully(fd, buffer.data(), buffer.size());
        if (got == 0) break;
        if (count == 0) {
            // The simulator reports a bad command line on standard output,
            // where the frames would be: pass its words on.
            const std::string text = nimbra::textInsteadOfFrames(buffer.data(), got);
            if (!text.empty()) return "nimbra-sim said: " + text;
        }
        if (got < buffer.size()) {
            return "the stream ends inside frame " + std::to_string(count) + " (" + std::to_string(got) + " of " +
                   std::to_string(buffer.size()) + " bytes)";
        }
        if (!nimbra::indexFrame(buffer.data(), frame, &error))
            return "frame " + std::to_string(count) + " is no frame of the device: " + error;
        frame.number = count;
        if (!out.add(frame, error)) return error;
    }
    return "";
}

// Frames of a recording run in this process into the export.
class ExportRun : public nimbra::RunObserver {
public:
    ExportRun(nimbra::FrameExport &out, nimbra::Progress &progress) : out_(out), progress_(progress) {}
    void frame(const nimbra::IndexedFrame &frame) override {
        next_ = frame.number + 1;
        if (error_.empty()) out_.add(frame, error_);
    }
    bool wantsMore() override { return error_.empty() && out_.wants(next_); }
    void progress(size_t done, size_t) override { progress_.update(done); }
    std::string error_;

private:
    nimbra::FrameExport &out_;
    nimbra::Progress &progress_;
    uint64_t next_ = 0;
};

}  // namespace

int main(int argc, char **argv) {
    nimbra::Cli cli("nimbra-frames",
                    "Writes frames as PNG files, an animated GIF, an MP4 video or a contact sheet, from the "
                    "simulator's frame stream or from a recording run here.");
    cli.option("recording", "FILE", "run this recording (or .nsc script) on the device here instead of reading "
                                    "a frame stream", 'r')
        .option("frames", "LIST", "only these frames, such as 1,4-9 or 20- (default: all)")
        .option("dir", "DIR", "folder for the PNG files, created when missing (default: the working folder)")
        .option("prefix", "NAME", "start of each PNG file's name, followed by the frame number (default frame_)")
        .option("gif", "FILE", "write an animated GIF: exact colours, each frame stored as what changed")
        .option("mp4", "FILE", "write an MP4 video through the ffmpeg program (lossless RGB H.264)")
        .flag("mp4-compatible", "make the MP4 play in browsers and phones (4:2:0, near-lossless)")
        .option("sheet", "FILE", "write a contact sheet (PNG) of the frames with their numbers")
        .option("fps", "N", "frames per second of the GIF (1 to 50) and the video (1 to 240); default 10")
        .option("scale", "N", "enlarge the GIF and the video N times (1 to 4); default 1")
        .option("columns", "N", "frames per row of the contact sheet (1 to 64); default 4")
        .option("shrink", "N", "cells of the contact sheet a half or a quarter the size (2, 4); default 1")
        .positional("STREAM", "the frame stream (default: standard input)", /*optional=*/true)
        .example("nimbra-sim -r demo.rec 2>replies.bin | nimbra-frames --dir frames --prefix f_")
        .example("nimbra-frames -r demo.rec --gif demo.gif --scale 2 --sheet sheet.png --frames 1-20");
    if (int exitCode; !cli.parse(argc, argv, exitCode)) return exitCode;

    nimbra::FrameExportOptions options;
    options.gif = cli.value("gif");
    options.video = cli.value("mp4");
    options.sheet = cli.value("sheet");
    const bool animated = !options.gif.empty() || !options.video.empty();
    if (cli.has("fps") && !animated) return cli.usageError("--fps goes with --gif or --mp4");
    if (cli.has("scale") && !animated) return cli.usageError("--scale goes with --gif or --mp4");
    if (cli.has("mp4-compatible") && options.video.empty()) return cli.usageError("--mp4-compatible goes with --mp4");
    if ((cli.has("columns") || cli.has("shrink")) && options.sheet.empty())
        return cli.usageError("--columns and --shrink go with --sheet");
    if (cli.has("recording") && !cli.arg(0).empty())
        return cli.usageError("give a frame stream or --recording, not both");
    const auto fps = cli.intValue("fps", 1, options.video.empty() ? 50 : 240, 10);
    const auto scale = cli.intValue("scale", 1, 4, 1);
    const auto columns = cli.intValue("columns", 1, 64, 4);
    const auto shrink = cli.choiceValue("shrink", {"1", "2", "4"}, "1");
    if (!fps || !scale || !columns || !shrink) return 2;
    if (!options.gif.empty() && *fps > 50) return cli.usageError("a GIF shows at most 50 frames per second");
    options.gifOptions = {(int)*fps, (int)*scale};
    options.videoOptions = {(int)*fps, (int)*scale, cli.has("mp4-compatible")};
    options.sheetOptions = {(int)*columns, std::stoi(*shrink)};
    // PNG files are written unless only the other outputs are asked for.
    options.pngs = !(animated || !options.sheet.empty()) || cli.has("dir") || cli.has("prefix");
    options.pngDir = cli.value("dir");
    options.pngPrefix = cli.value("prefix", "frame_");
    std::string error;
    if (cli.has("frames")) {
        auto parsed = nimbra::FrameSelection::parse(cli.value("frames"), error);
        if (!parsed) return cli.usageError("--frames: " + error);
        options.frames = *parsed;
    }

    nimbra::FrameExport out;
    if (cli.has("recording")) {
        const std::string path = cli.value("recording");
        const auto recording = nimbra::loadRecording(path, error);
        if (!recording) return cli.fail(error);
        if (!out.open(options, error)) return cli.fail(error);
        nimbra::Progress progress("frames", recording->size());
        ExportRun run(out, progress);
        nimbra::RunOptions runOptions;
        runOptions.log = false;
        nimbra::RunSummary summary;
        if (!nimbra::runRecording(recording->data(), recording->size(), run, runOptions, summary, error))
            return cli.fail(error);
        progress.finish();
        if (!run.error_.empty()) return cli.fail(run.error_);
    } else {
        const std::string input = cli.arg(0, "-");
        int fd = 0;
        if (input != "-") {
            fd = open(input.c_str(), O_RDONLY);
            if (fd < 0) return cli.fail("cannot read " + input + ": " + strerror(errno));
        }
        if (!out.open(options, error)) return cli.fail(error);
        error = _ExportStream(fd, out);
        if (fd != 0) close(fd);
        if (!error.empty()) return cli.fail(error);
    }
    if (!out.finish(error)) return cli.fail(error);
    const uint64_t n = out.exported();
    fprintf(stderr, "%llu frame%s written\n", (unsigned long long)n, n == 1 ? "" : "s");
    return 0;
}
