// nimbra-view run as users run it: replays without a window, and the TCP
// link end to end on loopback with real sockets, its replies compared byte
// for byte with nimbra-sim's and its saved recording replayed.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <random>
#include <set>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/sim_run.h"
#include "tools/hostlib/png_files.h"
#include "tools/hostlib/tcp_link.h"

namespace {

namespace fs = std::filesystem;
using nimbra::Bytes;
using nimbra::TcpLink;
using testsupport::ChildProcess;

constexpr int kWaitMs = 20000;

fs::path scratchDir() {
    fs::path dir = fs::path(NIMBRA_BINARY_DIR) / "view-e2e" /
                   ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

std::vector<std::string> view(std::initializer_list<std::string> args) {
    std::vector<std::string> argv = {NIMBRA_VIEW_PATH};
    argv.insert(argv.end(), args);
    return argv;
}

// The last frame of a frame stream as nimbra-frames writes it.
Bytes lastFramePng(const fs::path &dir, const Bytes &frames) {
    nimbra::writeFile((dir / "all.frames").string(), frames);
    fs::create_directories(dir / "png");
    const std::string cmd = "'" + std::string(NIMBRA_BINARY_DIR) + "/nimbra-frames' --dir '" + (dir / "png").string() +
                            "' < '" + (dir / "all.frames").string() + "' 2>/dev/null";
    EXPECT_EQ(system(cmd.c_str()), 0);
    char name[32];
    snprintf(name, sizeof name, "frame_%04zu.png", frames.size() / nimbra::kFrameBytes - 1);
    return nimbra::readFile((dir / "png" / name).string());
}

std::vector<Bytes> packetsOf(const Bytes &stream) {
    std::vector<nimbra::Packet> parsed;
    EXPECT_TRUE(nimbra::parsePackets(stream, parsed));
    std::vector<Bytes> out;
    for (auto &p : parsed) out.push_back(p.payload);
    return out;
}

// Reads `count` packets from the link (failing the test on anything else),
// then checks that nothing more comes (the link may close meanwhile).
std::vector<Bytes> readPackets(TcpLink &link, size_t count) {
    std::vector<Bytes> got;
    std::string error;
    while (got.size() < count) {
        nimbra::Packet p;
        auto status = link.readPacket(p, 5000, error);
        if (status != TcpLink::ReadStatus::Packet) {
            ADD_FAILURE() << "packet " << got.size() << " of " << count << " did not come: " << error;
            return got;
        }
        got.push_back(p.payload);
    }
    nimbra::Packet extra;
    auto after = link.readPacket(extra, 100, error);
    EXPECT_TRUE(after == TcpLink::ReadStatus::Timeout || after == TcpLink::ReadStatus::Closed)
        << "an unexpected packet came, or " << error;
    return got;
}

TEST(ViewReplay, SnapshotAndFramesAreTheSimulatorsFromBothSources) {
    const fs::path dir = scratchDir();
    const Bytes records = testsupport::sampleRecording(4);
    const testsupport::SimOutput sim = testsupport::runSimOn(dir.string(), "sample.rec", records);
    ASSERT_EQ(sim.frames.size(), 5 * nimbra::kFrameBytes);   // the boot screen and four frames
    const Bytes expectedPng = lastFramePng(dir, sim.frames);
    ASSERT_FALSE(expectedPng.empty());

    // A recording replayed by a nimbra-sim child, then the same frames piped
    // into standard input.
    const struct {
        const char *name;
        std::vector<std::string> argv;
        std::string stdinPath;
    } sources[] = {
        {"recording", view({"--headless", "--exit-at-end", "--snapshot", "snap.png", "--frames", "copy.frames",
                            "sample.rec"}),
         "/dev/null"},
        {"standard input",
         view({"--headless", "--exit-at-end", "--snapshot", "snap.png", "--frames", "copy.frames"}),
         (dir / "sample.rec.frames").string()},
    };
    for (const auto &source : sources) {
        SCOPED_TRACE(source.name);
        fs::remove(dir / "snap.png");
        ChildProcess viewer(source.argv, dir.string(), {}, source.stdinPath);
        ASSERT_EQ(viewer.wait(kWaitMs), 0) << viewer.errorOutput();
        EXPECT_EQ(viewer.errorOutput(), "");
        EXPECT_TRUE(nimbra::readFile((dir / "snap.png").string()) == expectedPng);
        EXPECT_TRUE(nimbra::readFile((dir / "copy.frames").string()) == sim.frames);
    }
}

TEST(ViewReplay, ClearMessagesForBadInput) {
    const fs::path dir = scratchDir();
    const testsupport::SimOutput sim = testsupport::runSimOn(dir.string(), "one.rec", testsupport::sampleRecording(1));
    Bytes cut(sim.frames.begin(), sim.frames.end() - 1000);
    nimbra::writeFile((dir / "cut.frames").string(), cut);
    nimbra::writeFile((dir / "text.frames").string(), Bytes{'E', 'r', 'r', 'o', 'r', ':', ' ', 'x', '\n'});
    const struct {
        std::vector<std::string> argv;
        std::string stdinPath;
        int status;
        std::string message;
    } cases[] = {
        {view({"--headless", "missing.rec"}), "/dev/null", 1, "nimbra-view: cannot read missing.rec: No such file"},
        {view({"--headless", "--save", "x.rec"}), "/dev/null", 2, "nimbra-view: --save needs --listen"},
        {view({"--headless", "--once", "one.rec"}), "/dev/null", 2, "nimbra-view: --once needs --listen"},
        {view({"--headless", "--listen", "one.rec"}), "/dev/null", 1, "nimbra-view: expected ADDRESS:PORT"},
        {view({"--headless", "--listen", "--fps", "5"}), "/dev/null", 2, "nimbra-view: --fps paces a replay"},
        {view({"--headless", "--listen=127.0.0.1:7470", "one.rec"}), "/dev/null", 2,
         "nimbra-view: a recording and --listen do not go together"},
        {view({"--headless", "--scale", "4", "one.rec"}), "/dev/null", 2, "nimbra-view: --scale expects"},
        {view({"--headless", "--exit-at-end"}), (dir / "cut.frames").string(), 1,
         "nimbra-view: the frame stream ends inside a frame (1023004 of 1024004 bytes)"},
        {view({"--headless", "--exit-at-end"}), (dir / "text.frames").string(), 1, "nimbra-view: Error: x"},
    };
    for (const auto &c : cases) {
        std::string line;
        for (auto &a : c.argv) line += a + " ";
        SCOPED_TRACE(line);
        ChildProcess viewer(c.argv, dir.string(), {}, c.stdinPath);
        EXPECT_EQ(viewer.wait(kWaitMs), c.status);
        const std::string err = viewer.errorOutput();
        EXPECT_EQ(err.rfind(c.message, 0), 0u) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
}

TEST(ViewReplay, PacedReplayStopsCleanlyMidway) {
    // Ten frames a second of twenty: ended after half a second, the viewer
    // ends its simulator, says nothing and keeps the frame it had.
    const fs::path dir = scratchDir();
    nimbra::writeFile((dir / "long.rec").string(), testsupport::sampleRecording(20));
    ChildProcess viewer(view({"--headless", "--fps", "10", "--snapshot", "snap.png", "long.rec"}), dir.string());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_TRUE(viewer.running());
    viewer.signal(SIGTERM);
    EXPECT_EQ(viewer.wait(kWaitMs), 0);
    EXPECT_EQ(viewer.errorOutput(), "");
    nimbra::RgbaImage snapshot;
    std::string error;
    EXPECT_TRUE(nimbra::readPngRgba((dir / "snap.png").string(), snapshot, error)) << error;
}

// A viewer waiting for hosts on a free loopback port.
struct LinkedViewer {
    explicit LinkedViewer(const fs::path &dir, std::initializer_list<std::string> extra = {})
        : process(args(extra), dir.string()) {
        const std::string line = process.readLine(kWaitMs);
        const std::string prefix = "listening on ";
        if (line.rfind(prefix, 0) == 0) address = line.substr(prefix.size());
    }
    static std::vector<std::string> args(std::initializer_list<std::string> extra) {
        std::vector<std::string> argv = view({"--headless", "--listen", "127.0.0.1:0"});
        argv.insert(argv.end(), extra);
        return argv;
    }
    TcpLink connect() {
        TcpLink link;
        std::string error;
        EXPECT_TRUE(link.connect(address, error)) << error;
        return link;
    }
    ChildProcess process;
    std::string address;
};

TEST(ViewLink, HostsTakeTurnsOnOneDeviceAndTheirRecordingReplays) {
    const fs::path dir = scratchDir();
    // The first host's records, then the second's: the second sets the same
    // tick rate again, which only a device that kept its state takes
    // without a notice.
    const Bytes first = testsupport::sampleRecording(2);
    nimbra::CommandBuilder b;
    Bytes second;
    b.setTickRate(50, 0).drawRect(100, 100, 400, 300, 20, 1).copyToScreen(9);
    nimbra::appendRecord(second, b.payload());
    Bytes garbage = {0x00, 0x00, 0x10, 0x00, 1, 2, 3, 4};   // announces 4096 bytes: skipped
    second.insert(second.end(), garbage.begin(), garbage.end());
    nimbra::appendRecord(second, nimbra::CommandBuilder().systemInfo(1).payload());
    Bytes both = first;
    both.insert(both.end(), second.begin(), second.end());
    const testsupport::SimOutput simFirst = testsupport::runSimOn(dir.string(), "first.rec", first);
    const testsupport::SimOutput simBoth = testsupport::runSimOn(dir.string(), "both.rec", both);
    const std::vector<Bytes> expectedFirst = packetsOf(simFirst.packets), expectedBoth = packetsOf(simBoth.packets);
    ASSERT_GT(expectedBoth.size(), expectedFirst.size());

    LinkedViewer viewer(dir, {"--save", "hosts.rec", "--frames", "live.frames", "--snapshot", "snap.png"});
    ASSERT_FALSE(viewer.address.empty()) << viewer.process.errorOutput();
    std::string error;
    {
        TcpLink host = viewer.connect();
        // Records sent in odd pieces arrive whole.
        for (size_t at = 0; at < first.size(); at += 777) {
            ASSERT_TRUE(host.sendBytes(first.data() + at, std::min<size_t>(777, first.size() - at), error));
        }
        EXPECT_EQ(readPackets(host, expectedFirst.size()), expectedFirst);

        // A second host is told it has to wait, while the first one stays.
        TcpLink other = viewer.connect();
        nimbra::Packet p;
        EXPECT_EQ(other.readPacket(p, 5000, error), TcpLink::ReadStatus::Failed);
        EXPECT_NE(error.find("busy: another host is connected"), std::string::npos) << error;

        // Half a record, then a stall: the link still answers others at once.
        const Bytes half = {0x00, 0x00, 0x00, 0x08, 0, 0, 0, 0, 0x02, 0x07};
        ASSERT_TRUE(host.sendBytes(half, error));
        auto started = std::chrono::steady_clock::now();
        TcpLink third = viewer.connect();
        EXPECT_EQ(third.readPacket(p, 5000, error), TcpLink::ReadStatus::Failed);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    }   // the first host leaves inside its record, which is dropped

    {
        TcpLink host;
        // The viewer may still be closing the first connection.
        for (int attempt = 0; attempt < 50; attempt++) {
            host = viewer.connect();
            ASSERT_TRUE(host.sendBytes(second, error));
            host.finishSending();   // replies still come after this
            nimbra::Packet p;
            auto status = host.readPacket(p, 5000, error);
            if (status == TcpLink::ReadStatus::Packet) {
                std::vector<Bytes> got = {p.payload};
                std::vector<Bytes> rest = readPackets(host, expectedBoth.size() - expectedFirst.size() - 1);
                got.insert(got.end(), rest.begin(), rest.end());
                EXPECT_EQ(got, std::vector<Bytes>(expectedBoth.begin() + (long)expectedFirst.size(), expectedBoth.end()));
                break;
            }
            ASSERT_NE(error.find("busy"), std::string::npos) << error;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    viewer.process.signal(SIGTERM);
    EXPECT_EQ(viewer.process.wait(kWaitMs), 0) << viewer.process.errorOutput();
    EXPECT_EQ(viewer.process.errorOutput(), "");
    // The saved recording is what the device ran, the half record left out,
    // and replays to the very frames the hosts saw.
    const Bytes saved = nimbra::readFile((dir / "hosts.rec").string());
    EXPECT_TRUE(saved == both);
    const testsupport::SimOutput replay = testsupport::runSimOn(dir.string(), "replay.rec", saved);
    const Bytes live = nimbra::readFile((dir / "live.frames").string());
    EXPECT_EQ(live.size(), simBoth.frames.size());
    EXPECT_TRUE(live == replay.frames);
    EXPECT_TRUE(nimbra::readFile((dir / "snap.png").string()) == lastFramePng(dir, replay.frames));
}

TEST(ViewLink, OnceEndsWithTheFirstHostAndEndOfStreamEndsTheDevice) {
    const fs::path dir = scratchDir();
    std::string error;
    {
        LinkedViewer viewer(dir, {"--once"});
        ASSERT_FALSE(viewer.address.empty());
        TcpLink host = viewer.connect();
        ASSERT_TRUE(host.sendRecord(nimbra::CommandBuilder().copyToScreen(3).payload(), error));
        EXPECT_EQ(readPackets(host, 1), std::vector<Bytes>{Bytes({0x00, 0x03})});
        host.close();
        EXPECT_EQ(viewer.process.wait(kWaitMs), 0);
    }
    {
        // The end-of-stream command stops the device: the host gets the
        // replies up to the end of its record, as from nimbra-sim, then the
        // link closes and the viewer ends.
        nimbra::CommandBuilder b;
        Bytes records;
        nimbra::appendRecord(records, b.copyToScreen(4).eof().copyToScreen(5).payload());
        nimbra::appendRecord(records, nimbra::CommandBuilder().copyToScreen(6).payload());
        const std::vector<Bytes> expected =
            packetsOf(testsupport::runSimOn(dir.string(), "eof.rec", records).packets);
        ASSERT_EQ(expected.back(), Bytes({0x00, 0x05}));
        LinkedViewer viewer(dir, {"--exit-at-end"});
        TcpLink host = viewer.connect();
        ASSERT_TRUE(host.sendBytes(records, error));
        EXPECT_EQ(readPackets(host, expected.size()), expected);
        nimbra::Packet p;
        EXPECT_EQ(host.readPacket(p, 5000, error), TcpLink::ReadStatus::Closed);
        EXPECT_EQ(viewer.process.wait(kWaitMs), 0);
    }
}

TEST(ViewLink, TheExampleClockDrawsOverTheLinkAndItsRecordingReplays) {
    const fs::path dir = scratchDir();
    LinkedViewer viewer(dir, {"--once", "--save", "clock.rec", "--frames", "live.frames"});
    ASSERT_FALSE(viewer.address.empty());
    ChildProcess clock({std::string(NIMBRA_BINARY_DIR) + "/examples/host-clock/host-clock", "--link", viewer.address,
                        "--seconds", "1"},
                       dir.string());
    EXPECT_EQ(clock.wait(kWaitMs), 0) << clock.errorOutput();
    EXPECT_EQ(viewer.process.wait(kWaitMs), 0) << viewer.process.errorOutput();
    const Bytes live = nimbra::readFile((dir / "live.frames").string());
    // The boot screen, at least one clock face, the disconnected screen.
    EXPECT_GE(live.size(), 3 * nimbra::kFrameBytes);
    const testsupport::SimOutput replay =
        testsupport::runSimOn(dir.string(), "replay.rec", nimbra::readFile((dir / "clock.rec").string()));
    EXPECT_TRUE(live == replay.frames);
    // Frame 1 is the first clock face: a picture, not a plain screen.
    std::vector<nimbra::Frame> frames = nimbra::parseFrames(live);
    ASSERT_GE(frames.size(), 2u);
    std::set<uint8_t> colours;
    for (int y = 0; y < 400; y += 4)
        for (int x = 0; x < 640; x += 4) colours.insert(frames[1].indexAt(x, y));
    EXPECT_GT(colours.size(), 8u);
}

TEST(ViewLink, HostileBytesGetWhatTheSimulatorGives) {
    // Records of random commands (valid opcodes with random fields, or any
    // byte), over-long headers, a stray byte between records: the link must
    // answer exactly as nimbra-sim does, frames included.
    const fs::path dir = scratchDir();
    std::mt19937 random(20250607);
    Bytes stream;
    const uint8_t opcodes[] = {0x02, 0x03, 0x05, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10,
                               0x12, 0x14, 0x16, 0x17, 0x18, 0x19, 0x1B, 0x1E, 0x30};
    for (int record = 0; record < 400; record++) {
        Bytes payload;
        const size_t length = random() % 48;
        for (size_t i = 0; i < length; i++) payload.push_back((uint8_t)random());
        if (!payload.empty() && random() % 4 != 0) payload[0] = opcodes[random() % sizeof opcodes];
        // Not the end of the stream, nor a power-off and its one-second wait.
        if (!payload.empty() && (payload[0] == 0x32 || payload[0] == 0x1F)) payload[0] = 0x33;
        // Copies of the whole screen, so that frames come out too.
        if (payload.size() >= 8 && payload[0] == 0x02) std::fill(payload.begin() + 2, payload.begin() + 8, 0);
        const uint32_t announced = random() % 16 == 0 ? 2049 + random() % 5000 : (uint32_t)payload.size();
        for (int shift = 24; shift >= 0; shift -= 8) stream.push_back((uint8_t)(announced >> shift));
        for (int i = 0; i < 4; i++) stream.push_back((uint8_t)random());
        stream.insert(stream.end(), payload.begin(), payload.end());
        // A stray byte puts every later header out of step: only near the end.
        if (record == 380) stream.push_back((uint8_t)random());
    }
    const testsupport::SimOutput sim = testsupport::runSimOn(dir.string(), "hostile.rec", stream);

    LinkedViewer viewer(dir, {"--once", "--frames", "live.frames"});
    ASSERT_FALSE(viewer.address.empty());
    TcpLink host = viewer.connect();
    std::string error;
    ASSERT_TRUE(host.sendBytes(stream, error)) << error;
    host.finishSending();
    const std::vector<Bytes> expected = packetsOf(sim.packets);
    EXPECT_EQ(readPackets(host, expected.size()), expected);
    host.close();
    EXPECT_EQ(viewer.process.wait(kWaitMs), 0) << viewer.process.errorOutput();
    EXPECT_TRUE(nimbra::readFile((dir / "live.frames").string()) == sim.frames);
}

}  // namespace
