// The host tools run as processes, the way users meet them: every tool's
// help, version and refusal of stray arguments, then each tool's refusals
// and messages as one table.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/codecs/png_builder.h"
#include "tests/support/sif_builder.h"
#include "tests/support/test_bytes.h"
#include "tests/support/tool_process.h"
#include "tools/hostlib/cli.h"
#include "tools/hostlib/nimbra_host.h"
#include "tools/hostlib/png_files.h"

namespace fs = std::filesystem;
using nimbra::Bytes;
using testsupport::shellQuote;

namespace {

struct Case {
    std::string args;      // after the tool's name; run in the scratch folder
    int status;
    std::string message;   // a part of what the tool prints
};

// A scratch folder per test, holding the files the cases name.
class ToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(NIMBRA_BINARY_DIR) / "tool_test" /
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void put(const std::string &name, const Bytes &bytes) { ASSERT_TRUE(nimbra::writeFile(path(name), bytes)); }
    void put(const std::string &name, const std::string &text) { put(name, Bytes(text.begin(), text.end())); }
    std::string path(const std::string &name) const { return (dir_ / name).string(); }

    testsupport::ProcessRun run(const std::string &tool, const std::string &args) const {
        return testsupport::runCommand("cd " + shellQuote(dir_.string()) + " && " + testsupport::builtProgram(tool) +
                                       " " + args);
    }
    void check(const std::string &tool, const std::vector<Case> &cases) const {
        for (const Case &c : cases) {
            auto r = run(tool, c.args);
            EXPECT_EQ(r.status, c.status) << tool << " " << c.args << "\n" << r.output;
            EXPECT_NE(r.output.find(c.message), std::string::npos) << tool << " " << c.args << "\n" << r.output;
        }
    }

    fs::path dir_;
};

Bytes pngFile(uint32_t width, uint32_t height, uint8_t depth = 8, uint8_t interlace = 0) {
    pngtest::PngSpec png;
    png.width = width;
    png.height = height;
    png.depth = depth;
    png.rows.assign(height, Bytes((width * depth + 7) / 8, 0x40));
    png.interlace = interlace;
    return png.build();
}

// A font whose glyphs are 3 pixels wide: their rows take one byte at 2 bits
// per pixel and two at 4, so the glyph table tells the depth.
Bytes sifFont(int bitsPerPixel, int width = 3) {
    testsupport::SifBuilder b(12, 14, bitsPerPixel);
    for (uint16_t code = 'A'; code <= 'Z'; code++) b.solid(code, width, 10, 0, 1, width + 1, 1);
    return b.build();
}

// An MPEG-1 sequence header of the given size, then one picture start code.
Bytes sequenceHead(uint16_t width, uint16_t height) {
    return {0, 0, 1, 0xB3, (uint8_t)(width >> 4), (uint8_t)((width & 15) << 4 | height >> 8), (uint8_t)height,
            0x13, 0xFF, 0xFF, 0xE0, 0x18, 0, 0, 1, 0x00, 0x00, 0x0F, 0xFF, 0xF8};
}

const char *const kTools[] = {"nimbra-frames", "nimbra-packets", "nimbra-upload", "nimbra-video-record", "nimbra-handshake",
                              "nimbra-orv",    "nimbra-bin2cpp", "nimbra-draw-logos",  "nimbra-sif"};

}  // namespace

TEST_F(ToolTest, EveryToolHasHelpVersionAndRefusesStrayArguments) {
    for (const char *tool : kTools) {
        if (!fs::exists(fs::path(NIMBRA_BINARY_DIR) / tool)) continue;   // nimbra-sif needs FreeType
        auto help = run(tool, "--help");
        EXPECT_EQ(help.status, 0) << tool;
        EXPECT_EQ(help.output.rfind(std::string("usage: ") + tool, 0), 0u) << help.output;
        EXPECT_NE(help.output.find("\nexample:\n  "), std::string::npos) << help.output;
        auto version = run(tool, "--version");
        EXPECT_EQ(version.status, 0) << tool;
        EXPECT_EQ(version.output, std::string(tool) + " " + nimbra::kToolsVersion + "\n");
        // Too many arguments: none of them is taken for a file to write.
        auto stray = run(tool, "a b c d e f g");
        EXPECT_EQ(stray.status, 2) << tool << "\n" << stray.output;
        EXPECT_NE(stray.output.find("--help"), std::string::npos) << stray.output;
        EXPECT_TRUE(fs::is_empty(dir_)) << tool << " wrote a file";
    }
}

TEST_F(ToolTest, FramesNamesWhatItGets) {
    Bytes frame(nimbra::kFrameBytes, 0);
    for (size_t i = 7; i < frame.size(); i += 4) frame[i] = nimbra::kFramePixelMarker;
    put("one.frames", frame);
    put("said.txt", std::string("Error: cannot open recording file my.rec: No such file or directory\n"));
    put("short.frames", Bytes(frame.begin(), frame.begin() + 100));
    put("file", std::string("x"));
    check("nimbra-frames", {
        {"< said.txt", 1, "nimbra-sim said: Error: cannot open recording file my.rec: No such file or directory\n"},
        {"short.frames", 1, "the stream ends inside frame 0 (100 of 1024004 bytes)"},
        {"--dir file/sub one.frames", 1, "cannot create file/sub: "},
        {"--dir frames --prefix none/ < one.frames", 1,
         "cannot write frames/none/0000.png: No such file or directory"},
        {"missing.frames", 1, "cannot read missing.frames: No such file or directory"},
        {"--dir made/here --prefix f_ one.frames", 0, "1 frame written"},
    });
    EXPECT_TRUE(fs::exists(dir_ / "made/here/f_0000.png"));
}

TEST_F(ToolTest, UploadRefusesWhatTheDeviceWould) {
    put("interlaced.png", pngFile(8, 8, 8, 1));
    put("deep.png", pngFile(8, 8, 16));
    put("wide.png", pngFile(641, 2));
    put("fits.png", pngFile(640, 400));
    std::string error;
    nimbra::RgbaImage noise;
    noise.width = noise.height = 70;
    uint32_t x = 1;
    for (size_t i = 0; i < 70 * 70 * 4; i++) noise.rgba.push_back((uint8_t)((x = x * 1103515245u + 12345u) >> 16));
    ASSERT_TRUE(nimbra::writePngRgba(path("noise.png"), noise, error)) << error;
    fs::copy_file(fs::path(NIMBRA_SOURCE_DIR) / "tests/data/jpeg/progressive.jpg", dir_ / "progressive.jpg");
    fs::copy_file(fs::path(NIMBRA_SOURCE_DIR) / "tests/data/jpeg/h2v2_q75.jpg", dir_ / "photo.jpg");
    put("two.sif", sifFont(2));
    put("four.sif", sifFont(4));
    put("narrow.sif", sifFont(4, 1));
    put("big.sif", sifFont(2, 3) + Bytes(32748, 0));
    put("notes.txt", std::string("a font, honestly\n"));
    check("nimbra-upload", {
        {"--image 1 interlaced.png out.rec", 1, "interlaced.png is interlaced"},
        {"--image 1 deep.png out.rec", 1, "deep.png has 16-bit samples"},
        {"--image 1 wide.png out.rec", 1, "wide.png is 641 x 2 pixels; the device takes pictures of at most 640 x 400"},
        {"--image 1 noise.png out.rec", 1, "bytes; a slot holds at most 16368"},
        {"--image 1 progressive.jpg out.rec", 1, "progressive.jpg is a progressive JPEG"},
        {"--image 1 two.sif out.rec", 1, "two.sif is a SIF font, not an image: upload it with --font SLOT"},
        {"--font 3 photo.jpg out.rec", 1, "photo.jpg is a JPEG image, not a SIF font: upload it with --image SLOT"},
        {"--font 3 notes.txt out.rec", 1, "notes.txt is not a SIF font"},
        {"--font 3 --bpp 2 four.sif out.rec", 1,
         "four.sif has 4 bits per pixel (its glyph table says so), not 2: leave out --bpp or give --bpp 4"},
        {"--font 3 big.sif out.rec", 1, "a font slot holds at most 32752 (add --compress"},
        {"--font 3 --image 1 two.sif out.rec", 2, "give either --font SLOT or --image SLOT"},
        {"--font 2 two.sif out.rec", 2, "--font expects a whole number from 3 to 14, got '2'"},
        {"--image 1 --compress photo.jpg out.rec", 2, "only fonts are sent compressed"},
        {"--font 3 --draw 1,1 two.sif out.rec", 2, "--draw draws images only"},
        {"--image 1 fits.png out.rec", 0, "1 load command, "},
        {"--font=3 --bpp 4 narrow.sif out.rec", 0, "1 load command, "},
    });
    // Without --bpp the font goes with the depth its glyph table shows.
    for (const auto &[file, format] : {std::pair{"four.sif", 1}, {"two.sif", 2}, {"narrow.sif", 2}}) {
        ASSERT_EQ(run("nimbra-upload", std::string("--font 5 ") + file + " font.rec").status, 0) << file;
        Bytes rec = nimbra::readFile(path("font.rec"));
        ASSERT_GT(rec.size(), 17u);
        EXPECT_EQ(rec[8 + 8], format) << file << ": the format byte of the first load command";
    }
}

TEST_F(ToolTest, VideoRecordChecksTheStream) {
    // A picture padded to one byte more than the device's buffer takes
    // after the first one.
    Bytes clip = nimbra::readFile(std::string(NIMBRA_SOURCE_DIR) + "/tests/data/mpeg/intra_176x120_q3.m1v");
    ASSERT_EQ(clip.size(), 19242u);
    Bytes padded = clip;
    padded.insert(padded.begin() + 12829, 16382 - (12829 - 6412), 0);
    put("clip.m1v", clip);
    put("padded.m1v", padded);
    put("big.m1v", sequenceHead(400, 300));
    put("mpeg2.m2v", sequenceHead(160, 120) + Bytes{0, 0, 1, 0xB5, 0x14, 0x8A});
    put("program.mpg", Bytes{0, 0, 1, 0xBA, 0x44} + sequenceHead(160, 120));
    put("demo.rec", nimbra::readFile(std::string(NIMBRA_SOURCE_DIR) + "/examples/demo.rec"));
    check("nimbra-video-record", {
        {"big.m1v out.rec", 1,
         "big.m1v: 400 x 300 is larger than the device plays: at most 307200 bytes for width x height x 3, "
         "e.g. 320 x 240"},
        {"demo.rec out.rec", 1, "demo.rec: not an MPEG-1 video elementary stream"},
        {"mpeg2.m2v out.rec", 1, "an MPEG-2 stream; the device plays MPEG-1 video only"},
        {"program.mpg out.rec", 1, "an MPEG program stream"},
        {"padded.m1v out.rec", 1, "picture 1 takes 16382 bytes with its headers"},
        {"--quality 4 clip.m1v out.rec", 2, "--quality goes with --colour"},
        {"--at 2000,0 clip.m1v out.rec", 2, "--at expects X,Y with X from -1024 to 1023"},
        {"--chunk 50 clip.m1v out.rec", 1, "picture 0 takes 6412 bytes, more than 128 chunks of 50 (give larger"},
        {"--at -10,20 --chunk 500 clip.m1v out.rec", 0, "out.rec: 176 x 120, 3 pictures"},
    });
}

TEST_F(ToolTest, HandshakeFindsItsKeyFromAnyFolder) {
    check("nimbra-handshake", {
        {"--counter 1", 2, "--id and --counter are required"},
        {"--id 70000 --counter 1", 2, "--id expects a whole number from 0 to 65535, got '70000'"},
        {"-i 1 -c 0", 2, "--counter expects a whole number from 1 to 4294967295"},
        {"--id 1 --counter 1 --key nokey.pem -o hs.rec", 1,
         "cannot read key file nokey.pem: No such file or directory"},
        {"--id 0 --counter 1 --chunk 100 -o hs.rec", 0, ""},
    });
    // Three chunks of the 285-byte message, one record each, which
    // authenticate the simulator.
    EXPECT_EQ(fs::file_size(dir_ / "hs.rec"), 3 * 8 + 3 * 11 + 285u);
    ASSERT_EQ(testsupport::runCommand("cd " + shellQuote(dir_.string()) + " && " + shellQuote(NIMBRA_SIM_PATH) +
                                      " -r hs.rec >/dev/null 2>replies.bin")
                  .status,
              0);
    std::vector<nimbra::Packet> replies;
    ASSERT_TRUE(nimbra::parsePackets(nimbra::readFile(path("replies.bin")), replies));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].payload, (Bytes{0x04, 0x1E, 0x00, 0x00}));
}

TEST_F(ToolTest, SmallToolsSayWhatIsWrong) {
    check("nimbra-bin2cpp", {
        {"out.cpp h.h 9lives=data.bin", 2, "expected NAME=FILE with NAME a C++ identifier, got '9lives=data.bin'"},
        {"out.cpp h.h", 2, "missing NAME=FILE"},
    });
    check("nimbra-orv", {
        {"--layout nope file out.png", 2, "--layout expects one of auto, palette, grey, grey-alpha, got 'nope'"},
        {"--depth 3 file out.png", 2, "--depth expects one of 1, 2, 4, 8, got '3'"},
    });
}
