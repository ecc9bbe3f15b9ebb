// Makes a recording that plays an MPEG-1 video elementary stream on the
// device, the way a host streams it: start, then for each picture its group
// of upload chunks, one draw and (unless --no-frames) a copy to screen; then
// stop and end of stream. With --colour, any video ffmpeg reads is first
// turned into a stream whose luma holds RGB332 colour indices.
//   nimbra-video-record [--at X,Y] [--chunk N] [--no-frames] [--colour] CLIP OUT.rec
#include <cstdio>
#include <string>

#include "tools/hostlib/cli.h"
#include "tools/hostlib/file_io.h"
#include "tools/hostlib/colour_video.h"
#include "tools/hostlib/nimbra_host.h"
#include "tools/hostlib/video_stream.h"

int main(int argc, char **argv) {
    nimbra::Cli cli("nimbra-video-record", "Writes a recording that plays an MPEG-1 video clip on the device.");
    cli.option("at", "X,Y", "where the clip's top-left corner goes, in pixels, each -1024 to 1023 (default 0,0)")
        .option("chunk", "N", "stream bytes per upload chunk, 1 to " + std::to_string(nimbra::kVideoMaxChunkBytes) +
                                  " (default the largest)")
        .flag("no-frames", "draw each picture without showing a frame")
        .flag("colour", "CLIP is any video ffmpeg reads: show it in colour by encoding each pixel's nearest RGB332 "
                        "index as luma (needs the ffmpeg program)")
        .option("quality", "Q", "with --colour: the encoder's quantiser, 1 (finest, largest pictures) to 31 "
                                "(default 2)")
        .positional("CLIP", "an MPEG-1 video elementary stream (.m1v), or with --colour any video")
        .positional("OUTPUT", "the recording to write (- for standard output)")
        .example("nimbra-video-record --at 160,80 clip.m1v clip.rec && nimbra-sim -r clip.rec | nimbra-frames");
    if (int exitCode; !cli.parse(argc, argv, exitCode)) return exitCode;
    if (cli.has("quality") && !cli.has("colour")) return cli.usageError("--quality goes with --colour");
    auto at = cli.pairValue("at", -1024, 1023, -1024, 1023, {0, 0});
    auto chunk = cli.intValue("chunk", 1, (long)nimbra::kVideoMaxChunkBytes, (long)nimbra::kVideoMaxChunkBytes);
    auto quality = cli.intValue("quality", 1, 31, 2);
    if (!at || !chunk || !quality) return 2;
    nimbra::VideoClipOptions options;
    options.xHalf = 2 * (int32_t)at->first;
    options.yHalf = 2 * (int32_t)at->second;
    options.chunkBytes = (size_t)*chunk;
    options.showEachFrame = !cli.has("no-frames");
    const std::string input = cli.arg(0), output = cli.arg(1);

    nimbra::Bytes clip;
    std::string error;
    if (cli.has("colour")) {
        nimbra::ColourClipOptions colour;
        colour.quantiser = (int)*quality;
        if (!nimbra::encodeColourClip(input, colour, clip, error)) return cli.fail(input + ": " + error);
    } else if (auto file = nimbra::loadFile(input, error)) {
        clip = std::move(*file);
    } else {
        return cli.fail("cannot read " + input + ": " + error);
    }
    nimbra::VideoStreamFacts facts;
    if (!nimbra::checkVideoStream(clip, facts, error)) return cli.fail(input + ": " + error);
    nimbra::Bytes records;
    uint8_t frameId = 1;
    if (!nimbra::videoClipRecords(clip, options, records, frameId, error)) return cli.fail(input + ": " + error);
    nimbra::CommandBuilder end;
    end.eof();
    nimbra::appendRecord(records, end.payload());
    if (!nimbra::saveBinary(output, records, error)) return cli.fail("cannot write " + output + ": " + error);
    fprintf(stderr, "%s: %u x %u, %zu pictures, %zu bytes\n", output.c_str(), facts.width, facts.height,
            facts.pictures, records.size());
    return 0;
}
