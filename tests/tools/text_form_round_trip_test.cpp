// Bytes to text to bytes: whatever a stream holds, assembling its
// disassembly gives it back. Random streams of valid, mutated and garbage
// commands, damaged records, and every recording in the repository.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/random_commands.h"
#include "tools/hostlib/assembler.h"
#include "tools/hostlib/disassembler.h"

namespace fs = std::filesystem;
using nimbra::Bytes;

namespace {

// The first differing byte, for failure messages.
std::string firstDifference(const Bytes &a, const Bytes &b) {
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) i++;
    return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size()) + ", first difference at byte " +
           std::to_string(i);
}

void expectRoundTrip(const Bytes &stream, const std::string &what, bool offsets = true) {
    nimbra::DisassemblyOptions options;
    options.offsets = offsets;
    const std::string text = nimbra::disassembleStream(stream, options);
    nimbra::ScriptError error;
    auto again = nimbra::assembleText(text, what, "", error);
    ASSERT_TRUE(again) << what << ": " << error.text() << "\n" << text.substr(0, 4000);
    ASSERT_TRUE(*again == stream) << what << ": " << firstDifference(*again, stream) << "\n" << text.substr(0, 4000);
}

}  // namespace

TEST(TextFormRoundTrip, ValuesOfEveryCommandSurviveEncodingAndDecoding) {
    testsupport::RandomCommands random(7);
    for (const nimbra::CommandSpec &entry : nimbra::commandTable()) {
        for (int i = 0; i < 60; i++) {
            const nimbra::CommandValues v = random.values(entry);
            Bytes bytes;
            ASSERT_TRUE(nimbra::encodeCommand(entry, v, bytes)) << entry.name;
            ASSERT_GE(bytes.size(), nimbra::fixedBytes(entry));
            nimbra::CommandValues back;
            const size_t length = bytes.size() >= entry.minBytes ? nimbra::commandLength(entry, bytes.data()) : 0;
            if (length) {
                EXPECT_EQ(length, bytes.size()) << entry.name;
            }
            ASSERT_TRUE(nimbra::decodeCommand(entry, bytes.data(), bytes.size(), back)) << entry.name;
            EXPECT_EQ(back.numbers, v.numbers) << entry.name;
            EXPECT_EQ(back.data, v.data) << entry.name;
            EXPECT_EQ(back.points, v.points) << entry.name;
        }
    }
}

TEST(TextFormRoundTrip, EveryCommandKindInOneRecordEach) {
    testsupport::RandomCommands random(11);
    for (const nimbra::CommandSpec &entry : nimbra::commandTable()) {
        Bytes stream;
        for (int i = 0; i < 20; i++) {
            Bytes c = random.command(entry);
            if (c.size() <= nimbra::kMaxRecordPayload) nimbra::appendRecord(stream, c);
        }
        expectRoundTrip(stream, entry.name);
    }
}

TEST(TextFormRoundTrip, RandomStreamsOfCommandsDamageAndGarbage) {
    testsupport::RandomCommands random(2024);
    for (int i = 0; i < 400; i++) expectRoundTrip(random.stream(), "stream " + std::to_string(i), i % 2 == 0);
}

TEST(TextFormRoundTrip, PureGarbageAndEdgesOfTheStream) {
    testsupport::RandomCommands random(99);
    for (int i = 0; i < 200; i++) expectRoundTrip(random.garbage(3000), "garbage " + std::to_string(i));
    const std::vector<Bytes> edges = {
        {},                                                     // nothing
        {0x00},                                                 // less than a header
        {0, 0, 0, 0, 0, 0, 0, 0},                               // one empty record
        {0, 0, 8, 1, 1, 2, 3, 4},                               // 2049: dropped
        {0, 0, 8, 0, 0, 0, 0, 0},                               // 2048 announced, nothing follows
        {0, 0, 0, 2, 0xFF, 0xFF, 0xFF, 0xFF, 0x30, 0x00},       // header bytes set
        {0, 0, 0, 1, 0, 0, 0, 0, 0x32},                         // eof cut short
    };
    for (size_t i = 0; i < edges.size(); i++) expectRoundTrip(edges[i], "edge " + std::to_string(i));
}

TEST(TextFormRoundTrip, EveryRecordingInTheRepository) {
    int seen = 0;
    const fs::path root(NIMBRA_SOURCE_DIR);
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string name = it->path().filename().string();
        if (it->is_directory() && (name.rfind("build", 0) == 0 || name[0] == '.' || name == "out")) {
            it.disable_recursion_pending();
            continue;
        }
        if (it->path().extension() != ".rec") continue;
        expectRoundTrip(nimbra::readFile(it->path().string()), it->path().string());
        seen++;
    }
    EXPECT_GE(seen, 1);
}
