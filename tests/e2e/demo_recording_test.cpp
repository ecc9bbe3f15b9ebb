// The demo is made from the scripts in examples/demo/: the committed
// examples/demo.rec must be what they assemble to, and the demo must replay
// cleanly, each scene's frames where the scripts put them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tools/hostlib/assembler.h"
#include "tools/hostlib/nimbra_host.h"

namespace fs = std::filesystem;

namespace {

const std::string kDemoScript = std::string(NIMBRA_SOURCE_DIR) + "/examples/demo/demo.nsc";

}  // namespace

TEST(DemoRecording, ScriptsAssembleToTheCommittedRecording) {
    nimbra::ScriptError error;
    auto assembled = nimbra::assembleFile(kDemoScript, error);
    ASSERT_TRUE(assembled) << error.text();
    nimbra::Bytes committed = nimbra::readFile(std::string(NIMBRA_SOURCE_DIR) + "/examples/demo.rec");
    EXPECT_TRUE(*assembled == committed)
        << "examples/demo.rec is out of date: run build/nimbra-asm examples/demo/demo.nsc -o examples/demo.rec";
}

TEST(DemoRecording, AssembledScriptsReplayCleanly) {
    fs::path dir = fs::path(NIMBRA_BINARY_DIR) / "e2e" / "demo_replay";
    fs::create_directories(dir);
    const std::string cmd = "cd '" + dir.string() + "' && '" + NIMBRA_BINARY_DIR + "/nimbra-asm' '" + kDemoScript +
                            "' | '" + NIMBRA_SIM_PATH + "' > out.bin 2> err.bin";
    ASSERT_EQ(system(cmd.c_str()), 0);
    size_t leftover = 1;
    auto frames = nimbra::parseFrames(nimbra::readFile((dir / "out.bin").string()), &leftover);
    EXPECT_EQ(leftover, 0u);
    std::vector<nimbra::Packet> packets;
    ASSERT_TRUE(nimbra::parsePackets(nimbra::readFile((dir / "err.bin").string()), packets));

    // The demo is written to be clean: no result report but acknowledgements
    // (the deliberate unknown opcode sends none), and the frames shown are
    // numbered 1 to 20 in order.
    std::vector<int> shown;
    for (const auto &p : packets) {
        if (p.payload[0] == 0x04) {
            EXPECT_EQ(p.payload[2], 0x00) << "report for opcode " << (int)p.payload[1];
        }
        if (p.payload[0] == 0x00) shown.push_back(p.payload[1]);
    }
    ASSERT_EQ(shown.size(), 20u);
    for (int i = 0; i < 20; i++) EXPECT_EQ(shown[i], i + 1);
    // The boot logo, the 20 copies and 7 logo screens (one of them
    // compressed); the end of the stream draws a last black screen.
    ASSERT_EQ(frames.size(), 29u);
    for (size_t i = 1; i < frames.size(); i++) EXPECT_GE(frames[i].processedBytes, frames[i - 1].processedBytes);

    // Copy 2 follows a clear of the whole screen.
    const nimbra::Frame &black = frames[2];
    for (int y = 0; y < nimbra::kScreenHeight; y += 7)
        for (int x = 0; x < nimbra::kScreenWidth; x += 7) ASSERT_EQ(black.indexAt(x, y), 0) << x << "," << y;
    // The video's twelve frames (copies 9 to 20) show the 192 x 144 clip at
    // (224, 128) on black.
    for (size_t f = frames.size() - 13; f < frames.size() - 1; f++) {
        int lit = 0;
        for (int y = 0; y < nimbra::kScreenHeight; y += 3) {
            for (int x = 0; x < nimbra::kScreenWidth; x += 3) {
                const bool inside = x >= 224 && x < 224 + 192 && y >= 128 && y < 128 + 144;
                const uint8_t index = frames[f].indexAt(x, y);
                if (!inside) {
                    ASSERT_EQ(index, 0) << "frame " << f << " at " << x << "," << y;
                }
                lit += inside && index != 0;
            }
        }
        EXPECT_GT(lit, 192 * 144 / 9 / 2) << "frame " << f;
    }
}
