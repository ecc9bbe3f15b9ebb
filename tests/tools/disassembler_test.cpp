// The disassembler: commands as the text form writes them, and what it says
// the device does with what it cannot run.
#include <gtest/gtest.h>

#include "tools/hostlib/disassembler.h"

using nimbra::Bytes;

namespace {

struct Case {
    Bytes payload;
    std::string text;    // the first command's line
    std::string note;
    size_t length;
};

}  // namespace

TEST(Disassembler, CommandsInTheirTextForm) {
    const std::vector<std::pair<Bytes, std::string>> cases = {
        {{0x02, 0x05, 0, 0, 0, 0, 0, 0}, "copy 5"},
        {{0x02, 0x05, 0x00, 0x03, 0x00, 0, 0, 0}, "copy 5 1.5 0"},
        {{0x02, 0x05, 0, 0, 0, 0x00, 0x00, 0x01}, "copy 5 0 0 0 0.5"},
        {{0x0F, 0x78, 0x00, 0xFF, 0x0F, 0xFF, 0x01}, "line -1024 1023.5 -0.5 0.5"},
        {{0x09, 0x20, 0x40, 0xFF, 0x80}, "color #80FF4020"},
        {{0x09, 0x20, 0x40, 0xFF, 0xFF}, "color #FF4020"},
        {{0x0B, 0x03, 0x12}, "pen 1.5 flat dot"},
        {{0x0B, 0x00, 0x74}, "pen 0 7 4"},
        {{0x0E, 0, 0, 0, 0x00, 0x50, 0x50, 0x3D, 0x80}, "ellipse 0 0 40 40 30.5 fill"},
        {{0x10, 0, 0, 0, 0, 0x10, 0x10, 0x20, 0x3C, 0x58}, "arc 0 0 8 8 30 300"},
        {{0x12, 0xC3, 0, 0, 0, 0, 2, 0, 0, 0, 2}, "polygon simple fill 0 0 1 0 0 1"},
        {{0x12, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "polygon"},
        {{0x0D, 0x82, 0x00, 0x01, 0x02, 0xF0, 0x03, 0xFC}, "path smooth 0.5 1 1.5 -2"},
        {{0x08, 0x02, 0x02, 0x80, 0x0A, 0x01, 0x04, 'a', '"', 0xC3, 0xA9}, "text 2 320 5 centre \"a\\\"é\""},
        {{0x08, 0x00, 0, 0, 0, 0x07, 0x03, 0xFF, '\n', 0x01}, "text 0 0 0 7 \"\\xFF\\n\\x01\""},
        {{0x07, 0x05, 0x6A, 0xFF, 0x3C, 0x00, 0x00}, "logo battery-low -150 60 \"\""},
        {{0x0A, 0xC5, 0x02, 0x00, 0xAB, 0xCD}, "zlib execute start 5 AB CD"},
        {{0x13, 0x05, 0x00, 0x00}, "bytes 13 05 00 00"},   // too short: 5 bytes needed
        {{0x13, 0x85, 0x01, 0x00, 0x00}, "video-upload last 5 00"},
        {{0x16, 0x12, 0xFF}, "cache clear-fonts all"},
        {{0x16, 0x20, 0x05}, "cache 32 5"},
        {{0x1F, 0x0A, 0x02, 0x00}, "enable display keep 0"},
        {{0x30, 0x00}, "connect"},
        {{0x30, 0x01}, "disconnect"},
        {{0x30, 0x07}, "disconnect 7"},
        {{0x32, 0x00}, "eof"},
        {{0x11, 0x01, 0, 0, 0}, "video-play start"},
        {{0x14, 0xE8, 0x03, 0x00, 0x00}, "tick-rate 1000"},
        {{0x1D, 0x01, 0x09, 0x00, 0x00, 0x01, 0x00}, "ota-start 1 9 65536"},
    };
    for (const auto &[payload, text] : cases) EXPECT_EQ(nimbra::disassembleCommand(payload, 0).text, text);
}

TEST(Disassembler, WhatTheDeviceCannotRunIsBytesWithWhatItDoes) {
    const std::vector<Case> cases = {
        {{0x03, 0x00, 0x10}, "bytes 03 00 10",
         "too short: the device reports 04 03 01 00 and skips the rest of the record", 3},
        {{0x05, 0x01}, "bytes 05 01", "too short: the device reports 04 05 01 FF and skips the rest of the record", 2},
        {{0x33, 0x02, 0x30, 0x00}, "bytes 33 02 30 00",
         "unknown opcode 0x33: the device sets status bit 5 and skips the rest of the record", 4},
        {{0x00}, "bytes 00", "unknown opcode 0x00: the device sets status bit 5 and skips the rest of the record", 1},
        // A point list, a text and a chunk that pass the end of the record.
        {{0x12, 0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "bytes 12 04 00 00 00 00 00 00 00 00 00 00",
         "its fields pass the end of the record: the device reports 04 12 01 00 and skips the rest of the record", 12},
        {{0x08, 0x00, 0, 0, 0, 0x00, 0x05, 'a', 'b'}, "bytes 08 00 00 00 00 00 05 61 62",
         "its text passes the end of the record: the device reports 04 08 01 00 and skips the rest of the record", 9},
        {{0x07, 0x01, 0, 0, 0, 0, 0x05, 'a'}, "bytes 07 01 00 00 00 00 05 61",
         "its fields pass the end of the record: the device skips the rest of the record without a report", 8},
        {{0x04, 0x07, 0, 0, 10, 0, 5, 0, 1, 1, 2}, "bytes 04 07 00 00 0A 00 05 00 01 01 02",
         "its data passes the end of the record: the device reports 04 04 01 07 and skips the rest of the record", 11},
        {{0x13, 0x00, 0x09, 0x00, 0x01}, "bytes 13 00 09 00 01",
         "its data passes the end of the record: the device reports 04 13 01 00 and skips the rest of the record", 5},
        {{0x1C, 1, 0, 0, 0, 0, 0x40, 9, 0, 1}, "bytes 1C 01 00 00 00 00 40 09 00 01",
         "its fields pass the end of the record: the device reports 04 1C 01 00 and skips the rest of the record", 10},
        // Complete commands the device refuses so that the rest is dropped.
        {{0x08, 0x00, 0, 0, 0, 0x00, 0x00, 0x30, 0x00}, "text 0 0 0 left \"\"",
         "refused, text length 0 is not 1 to 128: the device reports 04 08 01 00 and skips the rest of the record", 7},
        {{0x1F, 0x0A, 0x03, 0x00, 0x30, 0x00}, "enable display 3 0",
         "refused, state 3 is not 0 to 2: the device reports 04 1F 01 00 and skips the rest of the record", 4},
        {{0x04, 0x20, 0, 0, 5, 0, 1, 0, 1, 0xAA}, "load-image 32 0 5 png AA",
         "refused, slot 32 is not 0 to 31: the device reports 04 04 01 20 and skips the rest of the record", 10},
        {{0x06, 0x03, 0, 0, 5, 0, 1, 0, 0x07, 0xAA}, "load-font 3 0 5 7 AA", "", 10},
        {{0x1E, 0, 0, 0, 0, 0, 0, 1, 0, 10, 0, 0xAA}, "handshake 0 0 10 AA",
         "refused, counter 0: the device reports 04 1E E1 00 and skips the rest of the record", 12},
        {{0x0A, 0x40, 0x00, 0x00, 0x00}, "zlib start 0",
         "refused, a block of 0 bytes: the device reports 04 0A 01 FF and skips the rest of the record", 4},
        {{0x32, 0x07}, "eof 7", "the device stops reading after this record", 2},
        {{0x32}, "bytes 32", "too short: the device ends the stream all the same", 1},
    };
    for (const Case &c : cases) {
        nimbra::DisassembledCommand d = nimbra::disassembleCommand(c.payload, 0);
        EXPECT_EQ(d.text, c.text);
        EXPECT_EQ(d.note, c.note) << c.text;
        EXPECT_EQ(d.length, c.length) << c.text;
        EXPECT_EQ(d.stopsRecord, !c.note.empty() && c.text.rfind("eof", 0) != 0) << c.text;
        EXPECT_EQ(d.endsStream, c.payload[0] == 0x32) << c.text;
    }
}

TEST(Disassembler, AStreamShowsRecordsCommandsOffsetsAndWhatIsNotRead) {
    Bytes stream = nimbra::makeRecord({0x30, 0x00, 0x17, 0x01});
    Bytes refused = nimbra::makeRecord({0x1F, 0x0A, 0x03, 0x00, 0x30, 0x00}, 0x01020304);
    Bytes longHeader = {0x00, 0x00, 0x10, 0x00, 0, 0, 0, 0};
    Bytes end = nimbra::makeRecord({0x32, 0x00});
    Bytes cut = nimbra::makeRecord({0x30, 0x00, 0x30, 0x01});
    cut.resize(10);
    for (const Bytes *part : {&refused, &longHeader, &end, &cut}) stream.insert(stream.end(), part->begin(), part->end());
    EXPECT_EQ(nimbra::disassembleStream(stream),
              "record {                                # @0: 4 bytes\n"
              "  connect                               # @8\n"
              "  system-info status                    # @10\n"
              "}\n"
              "record 01 02 03 04 {                    # @12: 6 bytes\n"
              "  enable display 3 0                    # @20: refused, state 3 is not 0 to 2: the device reports "
              "04 1F 01 00 and skips the rest of the record\n"
              "  bytes 30 00                           # @24: not run\n"
              "}\n"
              "raw 00 00 10 00 00 00 00 00             # @26: a header of 4096 bytes, over 2048: the device drops "
              "these 8 bytes and reads the next 8 as a header\n"
              "record {                                # @34: 2 bytes\n"
              "  eof                                   # @42: the device stops reading after this record\n"
              "}\n"
              "# the device has stopped reading: what follows is not run\n"
              "raw 00 00 00 04 00 00 00 00 30 00       # @44: a record of 4 bytes cut by the end of the stream "
              "after 2: the device does not run it\n");
    EXPECT_EQ(nimbra::disassembleStream(Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00}, {.offsets = false}),
              "record { }\n"
              "raw 00 00                               # 2 bytes, less than a header: the device stops here\n");
}
