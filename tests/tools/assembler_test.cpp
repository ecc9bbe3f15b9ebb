// The assembler: one table of bad lines and the messages they give, how
// commands are packed into records, the units and forms of values, and the
// file forms, each checked against the host library call it stands for.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tools/hostlib/assembler.h"
#include "tools/hostlib/handshake.h"
#include "tools/hostlib/png_files.h"
#include "tools/hostlib/upload.h"
#include "tools/hostlib/video_stream.h"
#include "tools/hostlib/zlib_blocks.h"

namespace fs = std::filesystem;
using nimbra::Bytes;
using nimbra::CommandBuilder;

namespace {

// A folder of script and asset files for one test.
class ScriptFolder {
public:
    explicit ScriptFolder(const std::string &name) : dir_(fs::path(NIMBRA_BINARY_DIR) / "assembler_test" / name) {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    std::string write(const std::string &name, const std::string &text) const {
        fs::create_directories((dir_ / name).parent_path());
        std::ofstream(dir_ / name, std::ios::binary) << text;
        return (dir_ / name).string();
    }
    std::string write(const std::string &name, const Bytes &bytes) const {
        return write(name, std::string(bytes.begin(), bytes.end()));
    }
    std::string path(const std::string &name) const { return (dir_ / name).string(); }
    std::string dir() const { return dir_.string(); }

private:
    fs::path dir_;
};

Bytes assemble(const std::string &text, const std::string &dir = "") {
    nimbra::ScriptError error;
    auto bytes = nimbra::assembleText(text, "t.nsc", dir, error);
    EXPECT_TRUE(bytes) << error.text();
    return bytes.value_or(Bytes{});
}

std::string errorOf(const std::string &text, const std::string &dir = "") {
    nimbra::ScriptError error;
    auto bytes = nimbra::assembleText(text, "t.nsc", dir, error);
    return bytes ? "(no error)" : error.text();
}

Bytes records(std::initializer_list<Bytes> payloads) {
    Bytes stream;
    for (const Bytes &p : payloads) nimbra::appendRecord(stream, p);
    return stream;
}

Bytes join(const std::vector<Bytes> &parts) {
    Bytes all;
    for (const Bytes &p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

const std::string kKeyPath = std::string(NIMBRA_SOURCE_DIR) + "/" + nimbra::kDevelopmentKeyPath;

}  // namespace

TEST(Assembler, BadLinesAndTheirMessages) {
    ScriptFolder folder("messages");
    folder.write("picture.bmp", Bytes{1, 2, 3});
    folder.write("loop.nsc", "include \"loop.nsc\"\n");
    folder.write("inner/broken.nsc", "connect\n\ncolor blue\n");
    std::string manyPoints = "polygon fill";
    for (int i = 0; i < 64; i++) manyPoints += " 1 2";
    std::string longBytes = "bytes";
    for (int i = 0; i < 2049; i++) longBytes += " 00";
    std::string fullRecord = "record {\n" + longBytes.substr(0, 5 + 3 * 2045) + "\ncolor #000000\n}\n";

    const std::vector<std::pair<std::string, std::string>> cases = {
        {"color red", "line 1:7: colour expected, got 'red'"},
        {"\n\n  color #FF00", "line 3:9: colour expected, got '#FF00'"},
        {"color", "line 1:6: colour expected, got end of line"},
        {"blink 1 2", "line 1:1: command expected, got 'blink'"},
        {"line 1 2 3", "line 1:11: y1 expected, got end of line"},
        {"line 1 2 3 4 5", "line 1:14: end of line expected, got '5'"},
        {"line 1 2 3 4 #not a comment", "line 1:14: end of line expected, got '#not'"},
        {"line 1 2 3 1.25", "line 1:12: y1 expected (a number in steps of 0.5), got '1.25'"},
        {"line 2000 0 0 0", "line 1:6: x0 out of range (-1024 to 1023.5), got '2000'"},
        {"clear 0 0 -1 5", "line 1:11: w out of range (0 to 2047.5), got '-1'"},
        {"copy 256", "line 1:6: id out of range (0 to 255), got '256'"},
        {"disconnect 0", "line 1:12: mode out of range (1 to 255), got '0'"},
        {"text 0 10 10 middle \"x\"", "line 1:14: align expected (left, centre, right or a number), got 'middle'"},
        {"text 0 10 10 left hello", "line 1:19: text expected (in double quotes), got 'hello'"},
        {"text 0 10 10 left", "line 1:18: text expected, got end of line"},
        {"text 0 10 10 left \"abc", "line 1:19: closing quote expected"},
        {"text 0 10 10 left \"a\\q\"", "line 1:21: escape expected (\\n \\r \\t \\0 \\\\ \\\" or \\xHH), got '\\q'"},
        {"pen 1 round", "line 1:12: style expected, got end of line"},
        {"pen 1 oval solid", "line 1:7: shape expected (round, flat or a number), got 'oval'"},
        {"pen 1 round solid dotted", "line 1:19: end of line expected, got 'dotted'"},
        {"polygon fill fill 1 1", "line 1:14: fill given twice"},
        {manyPoints, "line 1:1: polygon: 64 points, at most 63"},
        {"path 1 2 3", "line 1:11: y of the last point expected, got end of line"},
        {"bytes 08 0G", "line 1:10: hex byte expected, got '0G'"},
        {"bytes 8", "line 1:7: hex byte expected, got '8'"},
        // Long lines of data are read past their first words without tokens.
        {"bytes 00 01 02 03 04 05 06 07 08 09 0A XY 0C", "line 1:40: hex byte expected, got 'XY'"},
        {"bytes 00 01 02 03 04 05 06 07 08 09 0A 0B0C", "line 1:40: hex byte expected, got '0B0C'"},
        {"bytes 00 01 02 03 04 05 06 07 08 09 0A \"0B\"", "line 1:40: hex byte expected, got '\"0B\"'"},
        {"bytes 00 01 02 03 04 05 06 07 08 09 0A #0B", "line 1:40: hex byte expected, got '#0B'"},
        {"load-image 1 0 12 png 00 01 02 03 04 05 06 07 08 09 0A 0", "line 1:56: hex byte expected, got '0'"},
        {"bytes", "line 1:6: hex byte expected, got end of line"},
        {longBytes, "line 1:1: a command of 2049 bytes does not fit a record of 2048"},
        {fullRecord, "line 3:1: the record grows to 2050 bytes, at most 2048"},
        {"}", "line 1:1: '}' without an open block"},
        {"record {\nconnect", "line 3:1: '}' expected for the record opened at line 1, got end of file"},
        {"record {\nrecord {\n}\n}", "line 2:1: record is only allowed outside blocks (close the record opened at "
                                     "line 1 first)"},
        {"zlib {\nraw 00\n}", "line 2:1: raw is only allowed outside blocks (close the zlib block opened at line 1 "
                              "first)"},
        {"zlib {\nzlib {", "line 2:1: zlib blocks cannot be nested"},
        {"zlib {\n}", "line 2:1: the zlib block opened at line 1 holds no command"},
        {"zlib later {", "line 1:6: hold or '{' expected, got 'later'"},
        {"record 01 02 {\n}", "line 1:8: four header bytes expected, got 2"},
        {"record\n", "line 1:7: '{' expected, got end of line"},
        {"video \"clip.m1v\" 1 2", "line 1:18: at expected, got '1'"},
        {"load-font 3 \"f.sif\" 3bpp", "line 1:21: chunk, 2bpp, 4bpp, compressed expected, got '3bpp'"},
        {"load-image 1 \"picture.bmp\"",
         "line 1:14: png or jpeg expected after a file name without .png, .jpg or .jpeg"},
        {"load-image 1 \"picture.bmp\" png chunk 0", "line 1:38: chunk out of range (1 to 2039), got '0'"},
        {"load-image 1 \"none.png\"", "line 1:14: cannot read '" + folder.path("none.png") +
                                          "': No such file or directory"},
        {"include \"none.nsc\"", "line 1:9: cannot read '" + folder.path("none.nsc") + "': No such file or directory"},
        // A device or a folder would never end or cannot be read.
        {"include \"/dev/zero\"", "line 1:9: cannot read '/dev/zero': not a regular file"},
        {"load-image 1 \"inner\" png", "line 1:14: cannot read '" + folder.path("inner") + "': Is a directory"},
        {"include \"loop.nsc\"", folder.path("loop.nsc") + ": line 1:9: include loop: '" + folder.path("loop.nsc") +
                                     "' includes itself"},
        {"connect\ninclude \"inner/broken.nsc\"", folder.path("inner/broken.nsc") +
                                                      ": line 3:7: colour expected, got 'blue'"},
        {"handshake 1 key \"none.pem\"", "line 1:17: "},
    };
    for (const auto &[script, expected] : cases) {
        const std::string error = errorOf(script, folder.dir());
        const std::string full = expected.rfind("line ", 0) == 0 ? "t.nsc: " + expected : expected;
        if (full.back() == ' ') {
            EXPECT_EQ(error.rfind(full, 0), 0u) << script << "\n" << error;   // the key library's own words follow
        } else {
            EXPECT_EQ(error, full) << script;
        }
    }
}

TEST(Assembler, CommandsArePackedIntoRecordsAndACopyClosesOne) {
    // Three small commands share a record; copy closes it; a command that
    // does not fit starts the next one; `record { }` stands alone.
    EXPECT_EQ(assemble("connect\nsystem-info status\ncopy 1\ncolor #FFFFFF\n"),
              records({{0x30, 0x00, 0x17, 0x01, 0x02, 0x01, 0, 0, 0, 0, 0, 0}, {0x09, 0xFF, 0xFF, 0xFF, 0xFF}}));
    std::string filler = "bytes";
    for (int i = 0; i < 2046; i++) filler += " AA";
    const Bytes aa(2046, 0xAA);
    Bytes full = aa;
    full.insert(full.end(), {0x30, 0x00});
    EXPECT_EQ(assemble(filler + "\nconnect\nconnect\n"), records({full, {0x30, 0x00}}));
    EXPECT_EQ(assemble("connect\nrecord {\n  eof\n}\nconnect"), records({{0x30, 0x00}, {0x32, 0x00}, {0x30, 0x00}}));
    EXPECT_EQ(assemble("record 01 02 03 04 { }\nrecord {\n}\n"),
              join({{0, 0, 0, 0, 1, 2, 3, 4}, {0, 0, 0, 0, 0, 0, 0, 0}}));
    EXPECT_EQ(assemble("connect\nraw 00 00 08 01 FF\nconnect"),
              join({records({{0x30, 0x00}}), {0, 0, 8, 1, 0xFF}, records({{0x30, 0x00}})}));
    EXPECT_EQ(assemble("# nothing but comments\n\n   # and blanks\n"), Bytes{});
    EXPECT_EQ(assemble("bytes 00 01 02 03 04 05 06 07 08 09 0a 0B  # data read past the first words\n"),
              records({{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}}));
}

TEST(Assembler, UnitsColoursNumbersNamesAndFrameIdentifiers) {
    EXPECT_EQ(assemble("line 10 20 300.5 -0.5"), records({CommandBuilder().drawLine(20, 40, 601, -1).payload()}));
    EXPECT_EQ(assemble("record {\n  color #102030\n  color #80102030\n}"),
              records({CommandBuilder().setColor(0xFF102030).setColor(0x80102030).payload()}));
    EXPECT_EQ(assemble("record {\n  seek 0x1388\n  seek 5000\n  tick-rate 50\n}"),
              records({CommandBuilder().seekTo(5000).seekTo(5000).setTickRate(50, 0).payload()}));
    // A name or its number; flags in any order.
    EXPECT_EQ(assemble("record {\n  text 0 0 0 centre \"a\"\n  polygon fill simple 0 0 1 0 0 1\n}"),
              assemble("record {\n  text 0 0 0 1 \"a\"\n  polygon simple fill 0 0 1 0 0 1\n}"));
    EXPECT_EQ(assemble("text 0 0 0 left \"\\x41\\t\\\"\\\\\\0\xC3\xA9\""),
              records({CommandBuilder().drawText(0, 0, 0, 0, std::string("A\t\"\\\0\xC3\xA9", 7)).payload()}));
    // Left-out frame identifiers count on from the last one, 255 wraps to 0.
    EXPECT_EQ(assemble("copy\ncopy\ncopy 254\ncopy\ncopy\n"),
              records({CommandBuilder().copyToScreen(1).payload(), CommandBuilder().copyToScreen(2).payload(),
                       CommandBuilder().copyToScreen(254).payload(), CommandBuilder().copyToScreen(255).payload(),
                       CommandBuilder().copyToScreen(0).payload()}));
    EXPECT_EQ(assemble("copy 7 -1 2.5 640 400"), records({CommandBuilder().copyToScreen(7, -2, 5, 1280, 800).payload()}));
}

TEST(Assembler, FileFormsAreTheHostLibrarysUploadsVideoAndHandshakes) {
    ScriptFolder folder("files");
    const Bytes png = nimbra::zlibCompress(Bytes(3000, 7));   // any bytes: the assembler does not look inside
    folder.write("assets/photo.JPG", png);
    folder.write("assets/font.sif", Bytes(5000, 3));
    nimbra::UploadOptions small;
    small.chunkBytes = 500;
    nimbra::UploadOptions compressed;
    compressed.compress = true;
    EXPECT_EQ(assemble("load-image 4 \"assets/photo.JPG\" chunk 500", folder.dir()),
              nimbra::packRecords(nimbra::loadImageCommands(4, png, nimbra::kImageJpeg, small)));
    EXPECT_EQ(assemble("load-image 0 \"assets/photo.JPG\" png", folder.dir()),
              nimbra::packRecords(nimbra::loadImageCommands(0, png, nimbra::kImagePng, {})));
    EXPECT_EQ(assemble("load-font 5 \"assets/font.sif\" 4bpp compressed", folder.dir()),
              nimbra::packRecords(nimbra::loadFontCommands(5, Bytes(5000, 3), nimbra::kFontFormat4Bpp, compressed)));

    // A video clip makes its own records; its frames count on from the last
    // copy, and copies after it from its last frame.
    const Bytes clip = nimbra::readFile(std::string(NIMBRA_SOURCE_DIR) + "/tests/data/mpeg/ipb_176x120_q4.m1v");
    ASSERT_FALSE(clip.empty());
    folder.write("clip.m1v", clip);
    nimbra::VideoClipOptions options;
    options.xHalf = 21;
    options.yHalf = -4;
    uint8_t frameId = 4;
    Bytes expected = records({CommandBuilder().copyToScreen(3).payload()});
    std::string error;
    ASSERT_TRUE(nimbra::videoClipRecords(clip, options, expected, frameId, error)) << error;
    nimbra::appendRecord(expected, CommandBuilder().copyToScreen(frameId).payload());
    EXPECT_EQ(assemble("copy 3\nvideo \"clip.m1v\" at 10.5 -2\ncopy", folder.dir()), expected);

    // A handshake signed with the key file, whole or one chunk of it.
    std::string keyError;
    auto key = nimbra::SigningKey::load(kKeyPath, keyError);
    ASSERT_TRUE(key) << keyError;
    nimbra::HandshakeMessage m;
    m.peerId = 7;
    m.counterLimit = 99;
    const auto chunks = nimbra::handshakeChunks(nimbra::buildHandshakeMessage(*key, m), 12, 100);
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(assemble("handshake 12 key \"" + kKeyPath + "\" peer 7 limit 99 chunk 100"),
              nimbra::packRecords(chunks));
    EXPECT_EQ(assemble("handshake 12 key \"" + kKeyPath + "\" chunk 100 part 2 limit 99 peer 7"),
              records({chunks[2]}));
}

TEST(Assembler, ZlibBlocksContinueOneStream) {
    const Bytes logo = CommandBuilder().drawLogo(4, 0, 0, "Hi").payload();
    const Bytes bars = CommandBuilder().setColor(0xFF40C0FF).clearRect(0, 0, 20, 20).copyToScreen(1).payload();
    nimbra::ZlibBlockWriter writer;
    Bytes expected = records({writer.block(logo, false)});
    for (const Bytes &block : writer.commands({bars})) nimbra::appendRecord(expected, block);
    EXPECT_EQ(assemble("record {\n  zlib hold {\n    logo pairing 0 0 \"Hi\"\n  }\n}\n"
                       "record {\n  zlib {\n    color #40C0FF\n    clear 0 0 10 10\n    copy\n  }\n}\n"),
              expected);
}

TEST(Assembler, IncludedScriptsNameFilesRelativeToThemselves) {
    ScriptFolder folder("include");
    folder.write("scenes/assets/tiny.png", Bytes{1, 2, 3, 4});
    folder.write("scenes/one.nsc", "load-image 1 \"assets/tiny.png\"\ncopy\n");
    folder.write("scenes/two.nsc", "include \"one.nsc\"\n");
    const std::string main = folder.write("main.nsc", "include \"scenes/two.nsc\"\ncopy\neof\n");
    nimbra::ScriptError error;
    auto bytes = nimbra::assembleFile(main, error);
    ASSERT_TRUE(bytes) << error.text();
    std::vector<Bytes> commands = nimbra::loadImageCommands(1, Bytes{1, 2, 3, 4}, nimbra::kImagePng, {});
    commands.push_back(CommandBuilder().copyToScreen(1).payload());
    Bytes expected = nimbra::packRecords(commands);
    nimbra::appendRecord(expected, CommandBuilder().copyToScreen(2).payload());
    nimbra::appendRecord(expected, CommandBuilder().eof().payload());
    EXPECT_EQ(*bytes, expected);

    EXPECT_FALSE(nimbra::assembleFile(folder.path("absent.nsc"), error));
    EXPECT_EQ(error.text(), folder.path("absent.nsc") + ": cannot read '" + folder.path("absent.nsc") +
                                "': No such file or directory");
}
