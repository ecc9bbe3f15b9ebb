// Reads the simulator's frame stream (standard output of nimbra-sim) and
// writes each frame as a PNG file.
//   nimbra-sim -r demo.rec | nimbra-frames [--prefix NAME] [--dir DIR] [STREAM]
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "tools/hostlib/cli.h"
#include "tools/hostlib/nimbra_host.h"

// Reads until `want` bytes arrived or the stream ended.
static size_t _ReadFully(int fd, uint8_t *dst, size_t want) {
    size_t got = 0;
    while (got < want) {
        ssize_t n = read(fd, dst + got, want - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += (size_t)n;
    }
    return got;
}

int main(int argc, char **argv) {
    nimbra::Cli cli("nimbra-frames", "Writes each frame of the simulator's frame stream as a PNG file.");
    cli.option("dir", "DIR", "folder for the PNG files, created when missing (default: the working folder)")
        .option("prefix", "NAME", "start of each file name, followed by the frame number (default frame_)")
        .positional("STREAM", "the frame stream (default: standard input)", /*optional=*/true)
        .example("nimbra-sim -r demo.rec 2>replies.bin | nimbra-frames --dir frames --prefix f_");
    if (int exitCode; !cli.parse(argc, argv, exitCode)) return exitCode;
    const std::string prefix = cli.value("prefix", "frame_"), dir = cli.value("dir", "");
    const std::string input = cli.arg(0, "-");

    int fd = 0;
    if (input != "-") {
        fd = open(input.c_str(), O_RDONLY);
        if (fd < 0) return cli.fail("cannot read " + input + ": " + strerror(errno));
    }
    if (!dir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
        if (ec) return cli.fail("cannot create " + dir + ": " + ec.message());
    }

    nimbra::Bytes buffer(nimbra::kFrameBytes);
    int count = 0;
    for (;;) {
        size_t got = _ReadFully(fd, buffer.data(), buffer.size());
        if (got == 0) break;
        if (count == 0) {
            // The simulator reports a bad command line on standard output,
            // where the frames would be: pass its words on.
            std::string text = nimbra::textInsteadOfFrames(buffer.data(), got);
            if (!text.empty()) return cli.fail("nimbra-sim said: " + text);
        }
        if (got < buffer.size()) {
            return cli.fail("the stream ends inside frame " + std::to_string(count) + " (" + std::to_string(got) +
                            " of " + std::to_string(buffer.size()) + " bytes)");
        }
        auto frames = nimbra::parseFrames(buffer);
        char name[32];
        snprintf(name, sizeof name, "%04d.png", count);
        std::string path = (dir.empty() ? "" : dir + "/") + prefix + name, why;
        if (!nimbra::writeFramePng(frames[0], path, &why)) return cli.fail("cannot write " + path + ": " + why);
        count++;
    }
    fprintf(stderr, "%d frame%s written\n", count, count == 1 ? "" : "s");
    return 0;
}
