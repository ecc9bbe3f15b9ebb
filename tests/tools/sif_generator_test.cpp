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

TEST_F(SifGenerator, GlyphsAreCroppedToTheirInkAndSitOnTheBaseline) {
    auto sif = generate("--size 40 --bpp 4 --range 0x48-0x49 --baseline 32");
    GUI_FONT f{};
    ASSERT_EQ(GUI_SIF_CreateFont(sif.data(), &f, 4, (uint32_t)sif.size()), 0);
    GUI_GlyphRef H = GUI_SIF_GetCharInfo(&f, 'H');
    ASSERT_NE(H, nullptr);
    const int w = rd16le(H + SIF_GLYPH_WIDTH), h = rd16le(H + SIF_GLYPH_HEIGHT);
    const int bytesPerRow = (w + 1) / 2;
    const uint8_t *bitmap = sif.data() + rd32le(H + SIF_GLYPH_DATA_OFFSET);
    auto level = [&](int x, int y) { return (bitmap[y * bytesPerRow + x / 2] >> (x % 2 ? 0 : 4)) & 15; };
    // The bottom row rests on the baseline; the capital height is measured
    // on 'H' when not given, so the top row is that far above it.
    EXPECT_EQ((int16_t)rd16le(H + SIF_GLYPH_YOFFSET) + h, 32);
    EXPECT_EQ(rd16le(sif.data() + 12), h);
    // First and last columns and rows carry ink; the stems are solid.
    int leftInk = 0, rightInk = 0, topInk = 0, bottomInk = 0;
    for (int y = 0; y < h; y++) leftInk += level(0, y) > 0, rightInk += level(w - 1, y) > 0;
    for (int x = 0; x < w; x++) topInk += level(x, 0) > 0, bottomInk += level(x, h - 1) > 0;
    EXPECT_TRUE(leftInk && rightInk && topInk && bottomInk) << leftInk << rightInk << topInk << bottomInk;
    EXPECT_EQ(level(w / 2, h / 2), 15) << "the crossbar";
    EXPECT_EQ(level(w / 2, 1), 0) << "between the stems";
    EXPECT_GT(rd16le(H + SIF_GLYPH_ADVANCE), w);
}

TEST_F(SifGenerator, GlyphBoxesAreTheSameAtBothDepthsAndBlanksAreOnePixel) {
    // Faint edge columns that round to level 0 at 2 bits stay in the box, so
    // the boxes do not depend on the depth.
    const std::string options = "--size 23 --baseline 17 --range 0x20-0x7E --bpp ";
    auto two = generate(options + "2"), four = generate(options + "4");
    ASSERT_GE(std::min(two.size(), four.size()), 1540u);
    int boxesWithAnEmptyEdgeAtTwoBits = 0;
    for (uint32_t g = 0; g < 95; g++) {
        const uint8_t *a = two.data() + 20 + 16 * g, *b = four.data() + 20 + 16 * g;
        EXPECT_EQ(memcmp(a, b, SIF_GLYPH_DATA_OFFSET), 0) << "glyph 0x" << std::hex << 0x20 + g;
        // Columns 0 and width - 1 at 2 bits, read from the packed rows.
        const int w = rd16le(a + SIF_GLYPH_WIDTH), h = rd16le(a + SIF_GLYPH_HEIGHT), bytesPerRow = (w + 3) / 4;
        const uint8_t *bitmap = two.data() + rd32le(a + SIF_GLYPH_DATA_OFFSET);
        auto level = [&](int x, int y) { return (bitmap[y * bytesPerRow + x / 4] >> (6 - 2 * (x % 4))) & 3; };
        int left = 0, right = 0;
        for (int y = 0; y < h; y++) left += level(0, y), right += level(w - 1, y);
        boxesWithAnEmptyEdgeAtTwoBits += w > 1 && (!left || !right);
    }
    EXPECT_GT(boxesWithAnEmptyEdgeAtTwoBits, 0) << "no glyph has a faint edge: the case is not exercised";
    // The space: one transparent pixel at the pen, on the baseline.
    const uint8_t *space = two.data() + 20;
    const uint16_t expected[] = {1, 1, 0, 17};
    for (int i = 0; i < 4; i++) EXPECT_EQ(rd16le(space + 2 * i), expected[i]) << "field " << i;
    EXPECT_EQ(two[rd32le(space + SIF_GLYPH_DATA_OFFSET)], 0);
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

TEST_F(SifGenerator, CppOutputHoldsTheSameBytes) {
    auto binary = generate("--size 12 --range 0x30-0x39");
    ProcessRun r = runTool(std::string("--size 12 --range 0x30-0x39 --cpp DIGITS ") + kDejaVuSans + " -");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_NE(r.output.find("const uint8_t DIGITS[" + std::to_string(binary.size()) + "] = {"), std::string::npos);
    ASSERT_NE(r.output.find("const uint32_t DIGITS_size = " + std::to_string(binary.size()) + ";"), std::string::npos);
    std::vector<uint8_t> parsed;
    size_t pos = r.output.find('{');
    while ((pos = r.output.find("0x", pos)) != std::string::npos) {
        parsed.push_back((uint8_t)std::stoul(r.output.substr(pos, 4), nullptr, 16));
        pos += 4;
    }
    EXPECT_EQ(parsed, binary);
}

TEST_F(SifGenerator, BadArgumentsAreRefusedWithAMessage) {
    struct Case {
        std::string args;
        int status;
        const char *message;
    } cases[] = {
        {"--size 20 --bpp 3 FONT OUT", 2, "--bpp"},
        {"--size 20 --range 0x7E-0x20 FONT OUT", 2, "bad range"},
        {"--size 20 --range 0x10000 FONT OUT", 2, "bad range"},
        {"--size 4 FONT OUT", 2, "--height"},
        {"--size 20 --frobnicate FONT OUT", 2, "unknown option"},
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
