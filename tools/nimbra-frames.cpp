// Reads the simulator's frame stream (standard output of nimbra-sim) and
// writes each frame as a PNG file.
//   nimbra-sim -r demo.rec | nimbra-frames [--prefix NAME] [--dir DIR]
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "tools/hostlib/nimbra_host.h"

int main(int argc, char **argv) {
    std::string prefix = "frame_", dir = ".";
    for (int i = 1; i < argc; i++) {
        if (!strcmp(argv[i], "--prefix") && i + 1 < argc) {
            prefix = argv[++i];
        } else if (!strcmp(argv[i], "--dir") && i + 1 < argc) {
            dir = argv[++i];
        } else {
            fprintf(stderr, "usage: %s [--prefix NAME] [--dir DIR] < frames\n", argv[0]);
            return 2;
        }
    }
    nimbra::Bytes buffer(nimbra::kFrameBytes);
    int count = 0;
    for (;;) {
        size_t got = 0;
        while (got < buffer.size()) {
            ssize_t n = read(0, buffer.data() + got, buffer.size() - got);
            if (n <= 0) break;
            got += (size_t)n;
        }
        if (got == 0) break;
        if (got < buffer.size()) {
            fprintf(stderr, "%s: the stream ends inside a frame (%zu of %zu bytes)\n", argv[0], got, buffer.size());
            return 1;
        }
        auto frames = nimbra::parseFrames(buffer);
        char name[32];
        snprintf(name, sizeof name, "%04d.png", count);
        std::string path = dir + "/" + prefix + name;
        if (!nimbra::writeFramePng(frames[0], path)) {
            fprintf(stderr, "%s: cannot write %s\n", argv[0], path.c_str());
            return 1;
        }
        count++;
    }
    fprintf(stderr, "%d frame%s written\n", count, count == 1 ? "" : "s");
    return 0;
}
