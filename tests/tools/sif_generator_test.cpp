// The SIF font generator, run as a program on DejaVu Sans; its output is
// read back with the device's own font code and checked field by field.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gui/GUI_Font.h"
#include "host/bytes.h"
#include "tests/support/tool_process.h"
#include "tools/hostlib/nimbra_host.h"

namespace {

// Debian's fonts-dejavu-core installs the face here.
const char *const kDejaVuSans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

bool exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

using testsupport::ProcessRun;

ProcessRun runTool(const std::string &args) {
    return testsupport::runCommand(testsupport::builtProgram("nimbra-sif") + " " + args);
}

using Ranges = std::vector<std::pair<uint16_t, uint16_t>>;

Ranges rangesOf(const std::vector<uint8_t> &sif) {
    Ranges out;
    for (uint32_t r = 0; r < rd16le(sif.data() + 14); r++)
        out.push_back({rd16le(sif.data() + 16 + 4 * r), rd16le(sif.data() + 18 + 4 * r)});
    return out;
}

}  // namespace

class SifGenerator : public ::testing::Test {
protected:
    void SetUp() override {
        if (!exists(std::string(NIMBRA_BINARY_DIR) + "/nimbra-sif")) GTEST_SKIP() << "nimbra-sif not built (no FreeType)";
        if (!exists(kDejaVuSans)) GTEST_SKIP() << "DejaVu Sans not installed (fonts-dejavu-core)";
        out_ = ::testing::TempDir() + "nimbra_sif_test_" + std::to_string(getpid()) + ".sif";
    }
    void TearDown() override {
        if (!out_.empty()) remove(out_.c_str());
    }
    std::vector<uint8_t> generate(const std::string &options) {
        ProcessRun r = runTool(options + " " + kDejaVuSans + " " + out_);
        EXPECT_EQ(r.status, 0) << r.output;
        return nimbra::readFile(out_);
    }
    std::string out_;
};

TEST_F(SifGenerator, DefaultRangeAtTwoBitsOpensWithTheGivenHeader) {
    auto sif = generate("--size 22 --line-distance 24 --baseline 17 --lower-height 12 --capital-height 16");
    ASSERT_GE(sif.size(), 1540u);
    EXPECT_EQ(rd32le(sif.data()), SIF_MAGIC);
    const uint16_t fields[] = {22, 24, 17, 12, 16};
    for (int i = 0; i < 5; i++) EXPECT_EQ(rd16le(sif.data() + 4 + 2 * i), fields[i]) << "field " << i;
    EXPECT_EQ(rangesOf(sif), (Ranges{{0x20, 0x7E}}));
    EXPECT_EQ(rd32le(sif.data() + 20 + SIF_GLYPH_DATA_OFFSET), 1540u);

    GUI_FONT f{};
    ASSERT_EQ(GUI_SIF_CreateFont(sif.data(), &f, 2, (uint32_t)sif.size()), 0);
    // The glyph data is laid end to end, each glyph's padded rows in turn,
    // and the file ends with the last one.
    uint32_t expectedOffset = 1540;
    for (uint16_t code = 0x20; code <= 0x7E; code++) {
        GUI_GlyphRef g = GUI_SIF_GetCharInfo(&f, code);
        ASSERT_NE(g, nullptr);
        EXPECT_EQ(rd32le(g + SIF_GLYPH_DATA_OFFSET), expectedOffset) << code;
        expectedOffset += rd16le(g + SIF_GLYPH_HEIGHT) * ((rd16le(g + SIF_GLYPH_WIDTH) + 3) / 4);
    }
    EXPECT_EQ(expectedOffset, sif.size());
}

TEST_F(SifGenerator, RangesAreSplitAroundMissingCharacters) {
    // U+0378 and U+0379 are unassigned; the private use area is empty in
    // DejaVu Sans.
    auto sif = generate("--size 16 --bpp 4 -r 0x41-0x43 -r 0x370-0x37E -r 0xE000-0xE010 -r 0x3B1");
    GUI_FONT f{};
    ASSERT_EQ(GUI_SIF_CreateFont(sif.data(), &f, 4, (uint32_t)sif.size()), 0);
    EXPECT_EQ(rangesOf(sif), (Ranges{{0x41, 0x43}, {0x370, 0x377}, {0x37A, 0x37E}, {0x3B1, 0x3B1}}));
    EXPECT_NE(GUI_SIF_GetCharInfo(&f, 0x3B1), nullptr);
    EXPECT_EQ(GUI_SIF_GetCharInfo(&f, 0x378), nullptr);
    EXPECT_EQ(GUI_SIF_GetCharInfo(&f, 0xE000), nullptr);
}

TEST_F(SifGenerator, BadArgumentsAreRefusedWithAMessage) {
    struct Case {
        std::string args;
        int status;
        const char *message;
    } cases[] = {
        {"--size 20 --range 0x7E-0x20 FONT OUT", 2, "bad range"},
        {"--size 20 --range 0x10000 FONT OUT", 2, "bad range"},
        {"--size 4 FONT OUT", 2, "--height"},
        {"FONT OUT", 2, "--size is required"},
        {"--size 20 /nonexistent/face.ttf OUT", 1, "cannot open font"},
        {"--size 20 --range 0xE000-0xE0FF FONT OUT", 1, "none of the requested"},
        {"--size 20 --cpp 9lives FONT OUT", 2, "identifier"},
    };
    for (auto c : cases) {
        size_t at = c.args.find("FONT");
        if (at != std::string::npos) c.args.replace(at, 4, kDejaVuSans);
        at = c.args.rfind(" OUT");
        if (at != std::string::npos) c.args.replace(at + 1, 3, out_);
        ProcessRun r = runTool(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << c.args << "\n" << r.output;
    }
    EXPECT_FALSE(exists(out_)) << "no output is written on failure";
}
