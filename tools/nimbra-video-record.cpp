// Makes a recording that plays an MPEG-1 video elementary stream on the
// device, the way a host streams it: start, then for each picture its group
// of upload chunks, one draw and (unless --no-frames) a copy to screen; then
// stop and end of stream.
//   nimbra-video-record [--at X,Y] [--chunk N] [--no-frames] CLIP.m1v OUT.rec
// X, Y: where the clip's top-left corner goes, in pixels (default 0,0).
// N: bytes of stream per upload chunk, 1 to 2044 (default 2044).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/hostlib/nimbra_host.h"
#include "tools/hostlib/video_stream.h"

static int usage(const char *program) {
    fprintf(stderr, "usage: %s [--at X,Y] [--chunk N] [--no-frames] CLIP.m1v OUT.rec\n", program);
    return 2;
}

int main(int argc, char **argv) {
    nimbra::VideoClipOptions options;
    const char *input = nullptr, *output = nullptr;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--at" && i + 1 < argc) {
            int x, y;
            char tail;
            if (sscanf(argv[++i], "%d,%d%c", &x, &y, &tail) != 2 || x < -1024 || x > 1023 || y < -1024 || y > 1023) {
                fprintf(stderr, "%s: --at wants X,Y in pixels, each from -1024 to 1023\n", argv[0]);
                return 2;
            }
            options.xHalf = 2 * x;
            options.yHalf = 2 * y;
        } else if (arg == "--chunk" && i + 1 < argc) {
            char *end;
            long n = strtol(argv[++i], &end, 10);
            if (*end || n < 1 || n > (long)nimbra::kVideoMaxChunkBytes) {
                fprintf(stderr, "%s: --chunk wants 1 to %zu\n", argv[0], nimbra::kVideoMaxChunkBytes);
                return 2;
            }
            options.chunkBytes = (size_t)n;
        } else if (arg == "--no-frames") {
            options.showEachFrame = false;
        } else if (!arg.empty() && arg[0] == '-') {
            return usage(argv[0]);
        } else if (!input) {
            input = argv[i];
        } else if (!output) {
            output = argv[i];
        } else {
            return usage(argv[0]);
        }
    }
    if (!input || !output) return usage(argv[0]);
    nimbra::Bytes clip = nimbra::readFile(input);
    if (clip.empty()) {
        fprintf(stderr, "%s: cannot read %s or it is empty\n", argv[0], input);
        return 1;
    }
    nimbra::Bytes records;
    uint8_t frameId = 1;
    std::string error;
    if (!nimbra::videoClipRecords(clip, options, records, frameId, error)) {
        fprintf(stderr, "%s: %s: %s\n", argv[0], input, error.c_str());
        return 1;
    }
    nimbra::CommandBuilder end;
    end.eof();
    nimbra::appendRecord(records, end.payload());
    if (!nimbra::writeFile(output, records)) {
        fprintf(stderr, "%s: cannot write %s\n", argv[0], output);
        return 1;
    }
    printf("%s: %zu pictures, %zu bytes\n", output, nimbra::splitVideoGroups(clip).size(), records.size());
    return 0;
}
