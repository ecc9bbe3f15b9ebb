// The viewer's real window, once, on a virtual X display: a screenshot of it
// taken by the X server's own dump tool shows the frame nimbra-sim wrote.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>
#include <unistd.h>

#include "tests/support/child_process.h"
#include "tests/support/sim_run.h"
#include "tools/hostlib/png_files.h"

namespace {

namespace fs = std::filesystem;
using nimbra::Bytes;
using testsupport::ChildProcess;

uint32_t rd32(const Bytes &b, size_t at, bool bigEndian) {
    if (at + 4 > b.size()) return 0;
    return bigEndian ? (uint32_t)b[at] << 24 | (uint32_t)b[at + 1] << 16 | (uint32_t)b[at + 2] << 8 | b[at + 3]
                     : (uint32_t)b[at + 3] << 24 | (uint32_t)b[at + 2] << 16 | (uint32_t)b[at + 1] << 8 | b[at];
}

// The window in an X window dump (32-bit TrueColor, as a 24-bit display
// gives), as RGB; empty when the dump is not of that kind.
nimbra::RgbaImage readXwd(const Bytes &dump) {
    nimbra::RgbaImage image;
    auto field = [&](int i) { return rd32(dump, (size_t)i * 4, true); };
    const uint32_t headerBytes = field(0), format = field(2), width = field(4), height = field(5);
    const uint32_t byteOrder = field(7), bitsPerPixel = field(11), bytesPerLine = field(12);
    const uint32_t redMask = field(14), greenMask = field(15), blueMask = field(16), colours = field(19);
    const size_t data = (size_t)headerBytes + (size_t)colours * 12;
    if (format != 2 || bitsPerPixel != 32 || width == 0 || data + (size_t)bytesPerLine * height > dump.size()) {
        return image;
    }
    auto channel = [](uint32_t pixel, uint32_t mask) {
        int shift = 0;
        while (mask && !(mask & 1)) {
            mask >>= 1;
            shift++;
        }
        return (uint8_t)((pixel >> shift) & mask);
    };
    image.width = width;
    image.height = height;
    image.rgba.resize((size_t)width * height * 4);
    for (uint32_t y = 0; y < height; y++) {
        for (uint32_t x = 0; x < width; x++) {
            uint32_t pixel = rd32(dump, data + (size_t)y * bytesPerLine + (size_t)x * 4, byteOrder == 1);
            uint8_t *p = image.pixel(x, y);
            p[0] = channel(pixel, redMask);
            p[1] = channel(pixel, greenMask);
            p[2] = channel(pixel, blueMask);
            p[3] = 0xFF;
        }
    }
    return image;
}

// The first pixel where the window's top-left 640 x 400 differs from the
// frame, or "" when none does.
std::string firstDifference(const nimbra::RgbaImage &window, const Bytes &frame) {
    if (window.width < 640 || window.height < 400) return "the window is too small";
    for (uint32_t y = 0; y < 400; y++) {
        for (uint32_t x = 0; x < 640; x++) {
            const uint8_t *w = window.pixel(x, y);
            const uint8_t *f = &frame[4 + ((size_t)y * 640 + x) * 4];
            if (w[0] != f[2] || w[1] != f[1] || w[2] != f[0]) {
                char text[96];
                snprintf(text, sizeof text, "pixel %u,%u is %02X%02X%02X, the frame has %02X%02X%02X", x, y, w[0],
                         w[1], w[2], f[2], f[1], f[0]);
                return text;
            }
        }
    }
    return "";
}

bool onPath(const char *program) {
    return system(("command -v " + std::string(program) + " > /dev/null 2>&1").c_str()) == 0;
}

TEST(ViewWindow, TheWindowShowsTheLastFrame) {
    if (!onPath("Xvfb") || !onPath("xwd")) GTEST_SKIP() << "Xvfb and xwd are needed (scripts/install-deps.sh)";
    const fs::path dir = fs::path(NIMBRA_BINARY_DIR) / "view-e2e" / "window";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const testsupport::SimOutput sim = testsupport::runSimOn(dir.string(), "sample.rec", testsupport::sampleRecording(3));
    ASSERT_EQ(sim.frames.size(), 4 * nimbra::kFrameBytes);
    const Bytes last(sim.frames.end() - (long)nimbra::kFrameBytes, sim.frames.end());

    // The server writes its display number once it is ready.
    ChildProcess xvfb({"Xvfb", "-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp"}, dir.string());
    const std::string number = xvfb.readLine(10000);
    ASSERT_FALSE(number.empty()) << xvfb.errorOutput();
    const std::string display = ":" + number;

    // X and SDL keep memory until exit on purpose; only the window's
    // pixels are checked here (the viewer's logic has its own tests).
    ChildProcess viewer({NIMBRA_VIEW_PATH, "--scale", "1", "--snapshot", "window.png", "sample.rec"}, dir.string(),
                        {"DISPLAY=" + display, "ASAN_OPTIONS=detect_leaks=0"});
    std::string difference = "no screenshot taken";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!difference.empty() && std::chrono::steady_clock::now() < deadline && viewer.running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const std::string cmd = "xwd -silent -display " + display +
                                " -name 'nimbra-view: sample.rec' -out '" + (dir / "shot.xwd").string() +
                                "' 2>/dev/null";
        if (system(cmd.c_str()) != 0) continue;
        nimbra::RgbaImage shot = readXwd(nimbra::readFile((dir / "shot.xwd").string()));
        difference = firstDifference(shot, last);
        if (difference.empty()) {
            std::string error;
            nimbra::writePngRgba((dir / "shot.png").string(), shot, error);
            EXPECT_EQ(shot.width, 640u);
            EXPECT_EQ(shot.height, 434u);   // the screen and the status lines
            // The status lines hold text: light pixels on the dark band.
            int light = 0;
            for (uint32_t y = 400; y < shot.height; y++)
                for (uint32_t x = 0; x < 640; x++) light += shot.pixel(x, y)[0] > 0xC0;
            EXPECT_GT(light, 100);
        }
    }
    EXPECT_EQ(difference, "") << "the last screenshot is " << (dir / "shot.xwd");
    viewer.signal(SIGTERM);
    EXPECT_EQ(viewer.wait(10000), 0) << viewer.errorOutput();
    // The snapshot is the frame the window showed.
    nimbra::RgbaImage snapshot;
    std::string error;
    ASSERT_TRUE(nimbra::readPngRgba((dir / "window.png").string(), snapshot, error)) << error;
    EXPECT_EQ(firstDifference(snapshot, last), "");
    xvfb.signal(SIGTERM);
    xvfb.wait(10000);
}

}  // namespace
