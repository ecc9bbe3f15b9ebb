// nimbra-view: the simulator's screen in a window. Frames come from
// standard input, from nimbra-sim run on a recording, or from the device
// run here for a host application connected over TCP (--listen).
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>

#include "tools/hostlib/cli.h"
#include "tools/hostlib/tcp_link.h"
#include "tools/view/app/device_link.h"
#include "tools/view/app/window.h"
#include "tools/view/link_server.h"
#include "tools/view/stream_source.h"
#include "tools/view/viewer.h"

using namespace nimbra;
using namespace nimbra::view;

namespace {

volatile sig_atomic_t gSignalled = 0;
void _OnSignal(int) { gSignalled = 1; }

double _Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int _UsageError(const Cli &cli, const std::string &message) {
    fprintf(stderr, "%s: %s (see %s --help)\n", cli.program().c_str(), message.c_str(), cli.program().c_str());
    return 2;
}

std::string _CurrentDir() {
    char dir[4096];
    return getcwd(dir, sizeof dir) ? dir : ".";
}

}  // namespace

int main(int argc, char **argv) {
    Cli cli("nimbra-view", "Shows the simulator's screen in a window, with a status line: frames on standard "
                           "input, a recording replayed by nimbra-sim, or a host application connected over TCP.");
    cli.positional("REC", "recording to replay with nimbra-sim (default: frames on standard input)", true)
        .optionalValue("listen", "ADDR:PORT", "run the device here and wait for a host application on this address",
                       kDefaultLinkAddress)
        .option("save", "FILE.rec", "with --listen: write every record the hosts send, for nimbra-sim -r")
        .flag("once", "with --listen: end when the first host leaves")
        .option("scale", "N", "window scale, 1 to 3 (default: the largest that fits the display)")
        .option("fps", "N", "replay at most N frames per second (default: as fast as they come)")
        .flag("headless", "run without a window")
        .option("frames", "FILE", "also write every frame to FILE as nimbra-sim writes them (for nimbra-frames)")
        .option("snapshot", "FILE.png", "write the frame shown last as a PNG when the program ends")
        .flag("exit-at-end", "end when the input ends (default: stay on the last frame)")
        .example("nimbra-view examples/demo.rec")
        .example("nimbra-sim -r examples/demo.rec | nimbra-view --fps 30")
        .example("nimbra-view --listen 127.0.0.1:7470 --save hosts.rec")
        .example("nimbra-view --headless --exit-at-end --snapshot last.png examples/demo.rec");
    if (int exitCode; !cli.parse(argc, argv, exitCode)) return exitCode;

    const bool listen = cli.has("listen");
    const std::string recording = cli.arg(0);
    const auto scale = cli.intValue("scale", 1, 3, 0);
    const auto fps = cli.intValue("fps", 1, 100000, 0);
    if (!scale || !fps) return 2;
    if (listen && !recording.empty()) return _UsageError(cli, "a recording and --listen do not go together");
    if (listen && cli.has("fps")) return _UsageError(cli, "--fps paces a replay, not the link");
    if (!listen && cli.has("save")) return _UsageError(cli, "--save needs --listen");
    if (!listen && cli.has("once")) return _UsageError(cli, "--once needs --listen");
    if (!listen && recording.empty() && isatty(0)) {
        return _UsageError(cli, "give a recording, or pipe frames in (nimbra-sim -r x.rec | nimbra-view)");
    }
    if (!recording.empty()) {
        int fd = open(recording.c_str(), O_RDONLY);
        if (fd < 0) return cli.fail("cannot read " + recording + ": " + strerror(errno));
        close(fd);
    }
    // The viewer goes on when a reader or a host goes away.
    signal(SIGPIPE, SIG_IGN);

    Feed feed;
    std::unique_ptr<StreamSource> stream;
    std::unique_ptr<LinkServer> link;
    std::string error, title;
    if (cli.has("frames") && !feed.copyFramesTo(cli.value("frames"), error)) return cli.fail(error);
    if (listen) {
        link = std::make_unique<LinkServer>(feed, inProcessDevice());
        if (!link->listen(cli.value("listen"), error)) return cli.fail(error);
        if (cli.has("save") && !link->saveTo(cli.value("save"), error)) return cli.fail(error);
        startInProcessDevice(feed, *link);
        link->start(cli.has("once"));
        // Scripts that asked for port 0 learn the port here.
        printf("listening on %s\n", link->address().c_str());
        fflush(stdout);
        title = "nimbra-view: link " + link->address();
    } else if (!recording.empty()) {
        stream = std::make_unique<StreamSource>(feed);
        if (!stream->startRecording(findSimulator(), recording, (double)*fps, error)) return cli.fail(error);
        title = "nimbra-view: " + recording;
    } else {
        stream = std::make_unique<StreamSource>(feed);
        stream->startFrames(0, (double)*fps);
        title = "nimbra-view: standard input";
    }

    Viewer viewer(feed, _CurrentDir());
    const bool quitAtEnd = cli.has("exit-at-end") || cli.has("once");
    bool windowFailed = false;
    if (cli.has("headless")) {
        signal(SIGINT, _OnSignal);
        signal(SIGTERM, _OnSignal);
        while (!gSignalled) {
            if (feed.waitEnded(100) && quitAtEnd) break;
        }
    } else {
        WindowOptions options;
        options.scale = (int)*scale;
        options.title = title;
        options.exitAtEnd = quitAtEnd;
        windowFailed = !runWindow(viewer, feed, options, error);
    }
    if (stream) stream->stop();
    if (link) link->stop();
    if (windowFailed) return cli.fail(error);

    // Without a window the frame shown is always the newest.
    if (cli.has("headless")) viewer.refresh(_Now());
    int status = 0;
    if (cli.has("snapshot") && !viewer.snapshot(cli.value("snapshot"), error)) status = cli.fail(error);
    const FeedStatus end = feed.status();
    if (end.ended && end.failed) status = cli.fail(end.endMessage);
    return status;
}
