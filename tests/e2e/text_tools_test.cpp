// End-to-end: nimbra-asm, nimbra-disasm and nimbra-packets run as processes,
// as host developers use them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tools/hostlib/nimbra_host.h"

namespace fs = std::filesystem;
using nimbra::Bytes;

namespace {

struct ToolRun {
    int status = -1;
    std::string out, err;
};

class TextTools : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(NIMBRA_BINARY_DIR) / "e2e" /
               ("text_tools_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }

    std::string write(const std::string &name, const std::string &text) {
        std::ofstream(dir_ / name, std::ios::binary) << text;
        return name;
    }
    std::string read(const std::string &name) {
        Bytes b = nimbra::readFile((dir_ / name).string());
        return std::string(b.begin(), b.end());
    }
    bool exists(const std::string &name) { return fs::exists(dir_ / name); }

    // Runs a shell command in the test's folder; tools are named by their
    // plain names.
    ToolRun run(const std::string &command) {
        const std::string cmd = "cd '" + dir_.string() + "' && export PATH='" + NIMBRA_BINARY_DIR + "':\"$PATH\" && (" +
                                command + ") > stdout.txt 2> stderr.txt";
        const int status = system(cmd.c_str());
        return ToolRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1, read("stdout.txt"), read("stderr.txt")};
    }

    fs::path dir_;
};

}  // namespace

TEST_F(TextTools, AScriptAssemblesReplaysAndReadsBack) {
    write("scene.nsc", "connect\ncolor #FF8000\nrect 10 10 100 50 8 fill\ncopy\neof\n");
    ToolRun r = run("nimbra-asm scene.nsc -o scene.rec && nimbra-sim -r scene.rec 2> replies.bin > frames.bin && "
                "nimbra-packets replies.bin && nimbra-disasm --no-offsets scene.rec");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "mtu 490\n"
              "tick-rate 90\n"
              "frame-shown id 1\n"
              "tick-rate 65535\n"
              "record {\n"
              "  connect\n"
              "  color #FF8000\n"
              "  rect 10 10 100 50 8 fill\n"
              "  copy 1\n"
              "}\n"
              "record {\n"
              "  eof                                   # the device stops reading after this record\n"
              "}\n");
    EXPECT_EQ(nimbra::readFile((dir_ / "frames.bin").string()).size(), 3 * nimbra::kFrameBytes);
}

TEST_F(TextTools, AnErrorNamesItsPlaceAndWritesNothing) {
    write("bad.nsc", "connect\n# a comment\ncolor red\n");
    ToolRun r = run("nimbra-asm bad.nsc -o bad.rec");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "nimbra-asm: bad.nsc: line 3:7: colour expected, got 'red'\n");
    EXPECT_FALSE(exists("bad.rec"));
    r = run("nimbra-asm bad.nsc");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    r = run("nimbra-asm missing.nsc");
    EXPECT_EQ(r.err, "nimbra-asm: missing.nsc: cannot read 'missing.nsc': No such file or directory\n");
    EXPECT_EQ(run("nimbra-asm").status, 1);
    EXPECT_EQ(run("nimbra-asm a.nsc b.nsc").status, 2);
}

TEST_F(TextTools, DisassembledRecordingsAssembleToTheSameBytesThroughPipes) {
    const std::string demo = std::string(NIMBRA_SOURCE_DIR) + "/examples/demo.rec";
    ToolRun r = run("nimbra-disasm '" + demo + "' | nimbra-asm - > again.rec && cmp again.rec '" + demo + "'");
    EXPECT_EQ(r.status, 0) << r.err << r.out;
    // A damaged file: a record cut short at the end.
    Bytes damaged = nimbra::readFile(demo);
    damaged.resize(damaged.size() - 1);
    nimbra::writeFile((dir_ / "damaged.rec").string(), damaged);
    r = run("nimbra-disasm damaged.rec -o damaged.nsc && nimbra-asm damaged.nsc -o again.rec && cmp again.rec damaged.rec"
            " && tail -n 1 damaged.nsc");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("cut by the end of the stream"), std::string::npos) << r.out;
}

TEST_F(TextTools, PacketsFromAFileOrStandardInputAsTextOrJson) {
    Bytes packets = {0x02, 0x00, 0xAA, 0xFF, 0x00, 0x05, 0x04, 0x00, 0xAA, 0xFF, 0x04, 0x03, 0x01, 0x00};
    nimbra::writeFile((dir_ / "replies.bin").string(), packets);
    const std::string text = "frame-shown id 5\nresult opcode 0x03 (clear) code 0x01 (malformed) detail 0x00\n";
    ToolRun r = run("nimbra-packets replies.bin");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, text);
    EXPECT_EQ(run("nimbra-packets < replies.bin").out, text);
    EXPECT_EQ(run("nimbra-packets --json replies.bin").out,
              "{\"type\":\"frame-shown\",\"id\":5}\n"
              "{\"type\":\"result\",\"opcode\":3,\"command\":\"clear\",\"code\":1,\"meaning\":\"malformed\",\"detail\":0}\n");
    // A stream cut inside its second packet: the first is still shown.
    packets.resize(9);
    nimbra::writeFile((dir_ / "cut.bin").string(), packets);
    r = run("nimbra-packets cut.bin");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "frame-shown id 5\n");
    EXPECT_EQ(r.err, "nimbra-packets: the packet stream is malformed at byte 6, after 1 packets\n");
    EXPECT_EQ(run("nimbra-packets --help").status, 0);
    EXPECT_EQ(run("nimbra-packets a.bin b.bin").status, 2);
    EXPECT_EQ(run("nimbra-packets none.bin").err, "nimbra-packets: cannot read none.bin: No such file or directory\n");
}

TEST_F(TextTools, ReferenceIsTheCommittedPage) {
    ToolRun r = run("nimbra-asm --reference");
    EXPECT_EQ(r.status, 0);
    Bytes page = nimbra::readFile(std::string(NIMBRA_SOURCE_DIR) + "/docs/text-form.md");
    EXPECT_TRUE(r.out == std::string(page.begin(), page.end()));
}
