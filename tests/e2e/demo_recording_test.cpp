// The bundled demo recording is generated from the scenes in tools/demo; it
// must be regenerated whenever a scene changes, and it must replay cleanly.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tools/hostlib/nimbra_host.h"

namespace fs = std::filesystem;

TEST(DemoRecording, CommittedFileMatchesTheGenerator) {
    fs::path out = fs::path(NIMBRA_BINARY_DIR) / "demo_check.rec";
    std::string cmd = "'" + (fs::path(NIMBRA_BINARY_DIR) / "nimbra-make-demo").string() + "' '" + out.string() +
                      "' > /dev/null";
    ASSERT_EQ(system(cmd.c_str()), 0);
    nimbra::Bytes generated = nimbra::readFile(out.string());
    nimbra::Bytes committed = nimbra::readFile(std::string(NIMBRA_SOURCE_DIR) + "/examples/demo.rec");
    ASSERT_FALSE(generated.empty());
    EXPECT_TRUE(generated == committed)
        << "examples/demo.rec is out of date: run build/nimbra-make-demo examples/demo.rec";
}

TEST(DemoRecording, ReplaysWithoutErrors) {
    fs::path dir = fs::path(NIMBRA_BINARY_DIR) / "e2e" / "demo_replay";
    fs::create_directories(dir);
    std::string cmd = "cd '" + dir.string() + "' && '" + NIMBRA_SIM_PATH + "' -r '" + NIMBRA_SOURCE_DIR +
                      "/examples/demo.rec' > out.bin 2> err.bin";
    ASSERT_EQ(system(cmd.c_str()), 0);
    size_t leftover = 1;
    auto frames = nimbra::parseFrames(nimbra::readFile((dir / "out.bin").string()), &leftover);
    EXPECT_EQ(leftover, 0u);
    EXPECT_GE(frames.size(), 3u);
    std::vector<nimbra::Packet> packets;
    ASSERT_TRUE(nimbra::parsePackets(nimbra::readFile((dir / "err.bin").string()), packets));
    // The demo is written to be clean: no result report other than
    // acknowledgements (code 0) and the deliberate unknown opcode, which
    // sends none.
    for (auto &p : packets) {
        if (p.payload[0] == 0x04) {
            EXPECT_EQ(p.payload[2], 0x00) << "report for opcode " << (int)p.payload[1];
        }
    }
}
