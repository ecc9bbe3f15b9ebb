// End-to-end: nimbra-sim run as a process on record streams, with its
// frames, packets, "sim.log" and "frame.bin" checked byte for byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/tool_process.h"
#include "tools/hostlib/nimbra_host.h"

namespace fs = std::filesystem;
using nimbra::Bytes;
using nimbra::CommandBuilder;

namespace {

struct RunResult {
    int status = -1;
    Bytes out, err;
    std::string log;
    fs::path dir;
};

using testsupport::shellQuote;

// Runs the simulator in a fresh directory. `input` goes to standard input
// unless `shellInput` gives a shell command whose output is piped in.
RunResult runSim(const std::string &args, const Bytes &input, const std::string &shellInput = "") {
    static int counter = 0;
    RunResult r;
    r.dir = fs::path(NIMBRA_BINARY_DIR) / "e2e" /
            (std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
             std::to_string(counter++));
    fs::remove_all(r.dir);
    fs::create_directories(r.dir);
    nimbra::writeFile((r.dir / "in.rec").string(), input);
    std::string feed = shellInput.empty() ? "cat in.rec" : shellInput;
    std::string cmd = "cd " + shellQuote(r.dir.string()) + " && " + feed + " | " + shellQuote(NIMBRA_SIM_PATH) + " " +
                      args + " > out.bin 2> err.bin";
    int status = system(cmd.c_str());
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = nimbra::readFile((r.dir / "out.bin").string());
    r.err = nimbra::readFile((r.dir / "err.bin").string());
    std::ifstream log(r.dir / "sim.log");
    std::stringstream ss;
    ss << log.rdbuf();
    r.log = ss.str();
    return r;
}

std::vector<Bytes> packetsOf(const RunResult &r) {
    std::vector<nimbra::Packet> parsed;
    EXPECT_TRUE(nimbra::parsePackets(r.err, parsed));
    std::vector<Bytes> out;
    for (auto &p : parsed) out.push_back(p.payload);
    return out;
}

std::string text(const Bytes &b) { return std::string(b.begin(), b.end()); }

}  // namespace

TEST(CommandLine, MessagesOnStandardOutput) {
    const std::string sim = NIMBRA_SIM_PATH;
    const struct {
        const char *args, *out;
    } cases[] = {
        {"-v", " - Orvale Nimbra Simulator\nVersion:119\n"},
        {"-x", "Error: invalid params\n"},
        {"--mtu", "Error: invalid params\n"},
        // An argument that is no option is refused, not ignored while the
        // program waits on standard input; "--log" never takes the next one.
        {"-r in.rec extra", "Error: invalid params\n"},
        {"--log sim.log", "Error: invalid params\n"},
        {"-f 0", "Error: Can only save frame when playing back a recording, see usage.\n"},
        {"-r does-not-exist.rec", "Error: cannot open recording file does-not-exist.rec: No such file or directory\n"},
        // Met before the help option, the unopenable recording ends the run.
        {"-r does-not-exist.rec -h",
         "Error: cannot open recording file does-not-exist.rec: No such file or directory\n"},
    };
    for (const auto &c : cases) {
        auto r = runSim(c.args, {});
        EXPECT_EQ(r.status, 0) << c.args;
        EXPECT_EQ(text(r.out), (c.args[1] == 'v' ? sim : "") + c.out) << c.args;
        EXPECT_TRUE(r.err.empty()) << c.args;
        EXPECT_FALSE(fs::exists(r.dir / "frame.bin")) << c.args;
    }

    auto h = runSim("--help", {});
    std::string usage = text(h.out);
    EXPECT_NE(usage.find("Usage: " + sim + " [options]\n\n"), std::string::npos);
    EXPECT_NE(usage.find("-m, --mtu MTU                                   Set MTU to use, default 490\n"),
              std::string::npos);
    EXPECT_NE(usage.find("-h, --help:                                     Print this help screen\n"), std::string::npos);
    EXPECT_TRUE(h.err.empty());
    // Options act in order: help after a recording still prints the usage.
    EXPECT_EQ(text(runSim("-r in.rec -h", {}).out), usage);
}

TEST(CommandLine, ValuesAttachedOrAsTheNextArgument) {
    // Records come from the recording only: standard input is empty.
    const Bytes connect = nimbra::makeRecord(CommandBuilder().connect().payload());
    const struct {
        const char *args;
        uint16_t mtu;
        bool log, savedFrame;
    } cases[] = {
        {"--recording=in.rec --mtu=100", 100, false, false},
        {"-rin.rec -m100 -lx", 100, true, false},
        {"--log --recording in.rec --save-frame 0", 490, true, true},
        {"--log=x --save-frame=0 -r in.rec --mtu -1", 65535, true, true},
        {"-r in.rec --mtu=70000", 4464, false, false},   // truncated to 16 bits
    };
    for (const auto &c : cases) {
        auto r = runSim(c.args, connect, "true");
        auto p = packetsOf(r);
        ASSERT_GE(p.size(), 1u) << c.args;
        EXPECT_EQ(p[0], (Bytes{0x41, (uint8_t)c.mtu, (uint8_t)(c.mtu >> 8)})) << c.args;
        EXPECT_EQ(fs::exists(r.dir / "sim.log"), c.log) << c.args;
        EXPECT_EQ(fs::exists(r.dir / "frame.bin"), c.savedFrame) << c.args;
    }
}

TEST(RecordStream, RoadOfOneCommand) {
    Bytes stream = nimbra::makeRecord(Bytes{0x02, 0x05, 0, 0, 0, 0, 0, 0});
    auto r = runSim("-l x", stream);
    auto frames = nimbra::parseFrames(r.out);
    ASSERT_EQ(frames.size(), 2u);   // the boot logo, then the copy
    EXPECT_EQ(frames[0].processedBytes, 0u);
    EXPECT_EQ(frames[1].processedBytes, 16u);
    EXPECT_EQ(frames[1].bgra, frames[0].bgra);
    EXPECT_EQ(r.err, (Bytes{0x02, 0x00, 0xAA, 0xFF, 0x00, 0x05}));
    EXPECT_NE(r.log.find("Simulation started, version:119\nsave_frame:-1\n"), std::string::npos);
    EXPECT_NE(r.log.find("---------------- 0 -------------------\n\n\n\nSTARTED MAIN LOOP\n\n\n"
                         "---------------- 1 -------------------\n"
                         "handleCommand: opcode: 0x02 rem_size: 8\n"
                         "copyBuffer 1, -1 (16)\n"
                         "Sending back 2 bytes\n"
                         "---------------- 2 -------------------\n"),
              std::string::npos)
        << r.log;
}

TEST(RecordStream, LengthLimitsAndShortPayloads) {
    Bytes stream;
    stream.insert(stream.end(), {0, 0, 0, 0, 0xDE, 0xAD, 0xBE, 0xEF});   // empty record, junk in bytes 4-7
    Bytes big(2048, 0);
    big[0] = 0x02;   // copy, then 2040 empty-slot bytes
    Bytes rec = nimbra::makeRecord(big);
    stream.insert(stream.end(), rec.begin(), rec.end());
    // 2049 is too long: its header is dropped, uncounted, and the next 8
    // bytes are read as a header: here the one of a copy record, which runs.
    stream.insert(stream.end(), {0, 0, 0x08, 0x01, 0, 0, 0, 0});
    Bytes copy = nimbra::makeRecord(CommandBuilder().copyToScreen(3).payload());
    stream.insert(stream.end(), copy.begin(), copy.end());
    // A record cut short by the end of input is not run.
    stream.insert(stream.end(), {0, 0, 0, 8, 0, 0, 0, 0, 0x02, 0x09, 0, 0});
    auto r = runSim("", stream);
    auto frames = nimbra::parseFrames(r.out);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[1].processedBytes, 8u + 8u + 2048u);
    EXPECT_EQ(frames[2].processedBytes, 8u + 8u + 2048u + 16u);
    auto p = packetsOf(r);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0], (Bytes{0x00, 0x00}));
    EXPECT_EQ(p[1], (Bytes{0x00, 0x03}));
}

TEST(RecordStream, RecordsDeliveredInPiecesAreNotLost) {
    Bytes stream;
    for (uint8_t id = 1; id <= 3; id++) {
        Bytes rec = nimbra::makeRecord(CommandBuilder().copyToScreen(id).payload());
        stream.insert(stream.end(), rec.begin(), rec.end());
    }
    // Split inside the first header and inside the second payload, with a
    // pause so that each piece arrives as its own read.
    Bytes a(stream.begin(), stream.begin() + 5), b(stream.begin() + 5, stream.begin() + 20),
        c(stream.begin() + 20, stream.end());
    auto r0 = runSim("", {});   // to get a directory for the pieces
    fs::path dir = r0.dir;
    nimbra::writeFile((dir / "a").string(), a);
    nimbra::writeFile((dir / "b").string(), b);
    nimbra::writeFile((dir / "c").string(), c);
    std::string feed = "{ cat " + (dir / "a").string() + "; sleep 0.2; cat " + (dir / "b").string() +
                       "; sleep 0.2; cat " + (dir / "c").string() + "; }";
    auto r = runSim("", {}, feed);
    auto p = packetsOf(r);
    ASSERT_EQ(p.size(), 3u);
    for (uint8_t i = 0; i < 3; i++) EXPECT_EQ(p[i], (Bytes{0x00, (uint8_t)(i + 1)}));
    EXPECT_EQ(nimbra::parseFrames(r.out).size(), 4u);
}

TEST(RecordStream, EndOfStreamStopsBeforeTheNextRecord) {
    Bytes stream = nimbra::makeRecord(CommandBuilder().eof().copyToScreen(7).payload());
    Bytes more = nimbra::makeRecord(CommandBuilder().copyToScreen(8).payload());
    stream.insert(stream.end(), more.begin(), more.end());
    auto r = runSim("", stream);
    auto p = packetsOf(r);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0], (Bytes{0x40, 0xFF, 0xFF}));
    EXPECT_EQ(p[1], (Bytes{0x00, 7}));
    EXPECT_EQ(nimbra::parseFrames(r.out).size(), 3u);   // boot, link-lost screen, copy
}

TEST(FrameOutput, SaveFrameWritesOneFrameOnly) {
    Bytes stream = nimbra::makeRecord(CommandBuilder().copyToScreen(1).copyToScreen(2).payload());
    auto r = runSim("-r in.rec -f 1 -l x", stream);
    auto frames = nimbra::parseFrames(r.out);
    ASSERT_EQ(frames.size(), 3u);
    Bytes saved = nimbra::readFile((r.dir / "frame.bin").string());
    ASSERT_EQ(saved.size(), nimbra::kFrameBytes);
    EXPECT_EQ(Bytes(r.out.begin() + (long)nimbra::kFrameBytes, r.out.begin() + 2 * (long)nimbra::kFrameBytes), saved);
    EXPECT_NE(r.log.find("copyBuffer 1, 1 (24)\n"), std::string::npos);
    EXPECT_NE(r.log.find(", 1024004, 1024004\n"), std::string::npos);
    EXPECT_NE(r.log.find("copyBuffer 2, -1 (24)\n"), std::string::npos);
    // Frame 0 is the boot logo.
    r = runSim("-r in.rec -f 0", {});
    EXPECT_EQ(nimbra::readFile((r.dir / "frame.bin").string()), r.out);
    EXPECT_EQ(r.out.size(), nimbra::kFrameBytes);
}

TEST(FrameOutput, GreyModeWritesIndexBytes) {
    CommandBuilder b;
    b.enableDevice(19, 0, 1).copyToScreen(1);
    auto r = runSim("", nimbra::makeRecord(b.payload()));
    auto frames = nimbra::parseFrames(r.out);
    ASSERT_EQ(frames.size(), 2u);
    for (size_t i = 0; i < frames[1].bgra.size(); i += 4) {
        const uint8_t *px = &frames[1].bgra[i];
        ASSERT_TRUE(px[0] == px[1] && px[1] == px[2] && px[3] == 0xAA) << i;
    }
}
