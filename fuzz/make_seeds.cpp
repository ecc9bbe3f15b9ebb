// Writes first corpora for the fuzz targets, one folder per target, from the
// test data, the example recording and its assets, and small files made
// here to reach what those lack (every PNG colour type and filter, SIF fonts
// with wide characters, signed handshakes, compressed blocks). The committed
// corpora are these seeds minimised by the fuzzer, plus what fuzzing found.
//
//   nimbra-fuzz-seeds [--source DIR] OUT_DIR
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "fuzz/fuzz_layout.h"
#include "tests/support/sif_builder.h"
#include "tools/hostlib/cli.h"
#include "tools/hostlib/handshake.h"
#include "tools/hostlib/nimbra_host.h"
#include "tools/hostlib/orv_encoder.h"
#include "tools/hostlib/png_files.h"
#include "tools/hostlib/upload.h"
#include "tools/hostlib/video_stream.h"
#include "tools/hostlib/zlib_blocks.h"

namespace fs = std::filesystem;
using nimbra::Bytes;
using nimbra::CommandBuilder;

namespace {

std::string g_source;
fs::path g_out;
size_t g_written = 0;

Bytes readSource(const std::string &relative) {
    // readFile names the file and the reason when it cannot read it.
    Bytes b = nimbra::readFile(g_source + "/" + relative);
    if (b.empty()) throw std::runtime_error(g_source + "/" + relative + " is empty");
    return b;
}

void seed(const std::string &target, const std::string &name, const Bytes &bytes) {
    fs::create_directories(g_out / target);
    if (!nimbra::writeFile((g_out / target / name).string(), bytes)) {
        throw std::runtime_error("cannot write " + (g_out / target / name).string());
    }
    g_written++;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A placement: flags, position and clip rectangle in half pixels.
Bytes placement(uint8_t flags, int xHalf, int yHalf, int clipX = 0, int clipY = 0, int clipW = 1280, int clipH = 800) {
    CommandBuilder b;
    b.u8(flags).pair(xHalf, yHalf).pair(clipX, clipY).pair(clipW, clipH);
    return b.payload();
}

// Placements every image seed is written with: whole on the screen, cut by
// the left and top edges under a small clip rectangle, and into a picture.
std::vector<std::pair<std::string, Bytes>> imagePlacements() {
    return {{"screen", placement(0, 20, 20)},
            {"clipped", placement(0, -9, -5, 6, 4, 30, 22)},
            {"picture", placement(fuzzlayout::kImageIntoPicture, 0, 0)}};
}

// ---------------------------------------------------------------- images

// A PNG of every colour type and depth PNG defines, each row with the next
// filter type; the samples are a pattern, not a picture.
Bytes patternPng(uint32_t width, uint32_t height, uint8_t depth, uint8_t colorType, bool twoDataChunks) {
    const uint32_t samples = colorType == 2 ? 3 : colorType == 4 ? 2 : colorType == 6 ? 4 : 1;
    const size_t rowBytes = (width * samples * depth + 7) / 8;
    Bytes raw;
    for (uint32_t y = 0; y < height; y++) {
        raw.push_back((uint8_t)(y % 5));
        for (size_t i = 0; i < rowBytes; i++) raw.push_back((uint8_t)(i * 37 + y * 11));
    }
    Bytes file(nimbra::kPngSignature, nimbra::kPngSignature + 8);
    nimbra::appendPngChunk(file, "IHDR", nimbra::pngHeaderData(width, height, depth, colorType));
    if (colorType == 3) {
        Bytes palette;
        for (int i = 0; i < (1 << depth); i++) palette.insert(palette.end(), {(uint8_t)(i * 40), (uint8_t)(255 - i), (uint8_t)(i * 7)});
        nimbra::appendPngChunk(file, "PLTE", palette);
        nimbra::appendPngChunk(file, "tRNS", Bytes{0, 128});
    }
    const Bytes data = nimbra::zlibCompress(raw);
    const size_t half = twoDataChunks ? data.size() / 2 : data.size();
    nimbra::appendPngChunk(file, "IDAT", data.data(), half);
    if (twoDataChunks) nimbra::appendPngChunk(file, "IDAT", data.data() + half, data.size() - half);
    nimbra::appendPngChunk(file, "IEND", nullptr, 0);
    return file;
}

std::vector<std::pair<std::string, Bytes>> pngFiles() {
    std::vector<std::pair<std::string, Bytes>> files;
    struct Kind {
        uint8_t colorType;
        std::vector<uint8_t> depths;
    };
    for (const Kind &k : {Kind{0, {1, 2, 4, 8}}, Kind{2, {8}}, Kind{3, {1, 2, 4, 8}}, Kind{4, {8}}, Kind{6, {8}}}) {
        for (uint8_t depth : k.depths) {
            files.push_back({"type" + std::to_string(k.colorType) + "_depth" + std::to_string(depth),
                             patternPng(13, 7, depth, k.colorType, k.colorType == 2)});
        }
    }
    // The device's own variant in each of its layouts.
    nimbra::RgbaImage image;
    image.width = 11;
    image.height = 6;
    image.rgba.resize(11 * 6 * 4);
    for (size_t i = 0; i < image.rgba.size(); i++) image.rgba[i] = (uint8_t)(i * 29);
    for (auto [name, layout, alpha] : {std::tuple{"orv_palette", nimbra::OrvLayout::Palette, false},
                                       std::tuple{"orv_grey", nimbra::OrvLayout::Grey, false},
                                       std::tuple{"orv_grey_alpha", nimbra::OrvLayout::GreyAlpha, true}}) {
        nimbra::RgbaImage copy = image;
        for (size_t i = 3; i < copy.rgba.size(); i += 4) copy.rgba[i] = alpha ? copy.rgba[i] : 255;
        nimbra::OrvOptions options;
        options.layout = layout;
        Bytes out;
        std::string error;
        if (!nimbra::encodeOrv(copy, options, out, error)) throw std::runtime_error(error);
        files.push_back({name, out});
    }
    return files;
}

std::vector<std::pair<std::string, Bytes>> jpegFiles() {
    std::vector<std::pair<std::string, Bytes>> files;
    for (const char *name : {"gray_q75", "gray_q3_16bit", "h1v1_q90", "h1v1_restart1", "h1v2_q75", "h2v1_q75",
                             "h2v2_17x20", "h2v2_optimized", "h2v2_restart2", "progressive"}) {
        files.push_back({name, readSource(std::string("tests/data/jpeg/") + name + ".jpg")});
    }
    files.push_back({"landscape_420", readSource("examples/assets/landscape_420.jpg")});
    return files;
}

void imageSeeds(const std::string &target, const std::vector<std::pair<std::string, Bytes>> &files) {
    for (const auto &[name, file] : files) {
        for (const auto &[where, head] : imagePlacements()) seed(target, name + "_" + where, cat({head, file}));
    }
}

// ------------------------------------------------------------------ fonts

// Small fonts with three ranges, one of them past the ASCII range, glyphs
// with offsets either way and an empty one.
Bytes smallFont(int bitsPerPixel) {
    testsupport::SifBuilder font(14, 17, bitsPerPixel);
    const int top = bitsPerPixel == 4 ? 15 : 3;
    font.solid(' ', 1, 1, 0, 11, 4, 0);
    for (uint16_t c = 'A'; c <= 'E'; c++) {
        testsupport::SifGlyph g{c, 6 + c % 3, 10, c % 2 ? -1 : 1, 1, 8, {}};
        for (int i = 0; i < g.width * g.rows; i++) g.levels.push_back((uint8_t)((i * 7 + c) % (top + 1)));
        font.glyph(g);
    }
    font.solid(0xE4, 5, 9, 0, 2, 7, (uint8_t)top);        // a with diaeresis
    font.solid(0x20AC, 9, 11, -2, 0, 9, (uint8_t)(top / 2));  // euro sign
    return font.build();
}

void fontSeeds() {
    const std::string text = "ABC E\xC3\xA4 \xE2\x82\xAC?";
    const std::vector<std::pair<std::string, Bytes>> fonts = {
        {"small_2bpp", smallFont(2)}, {"small_4bpp", smallFont(4)},
        {"sans_bold_30_4bpp", readSource("examples/assets/sans_bold_30_4bpp.sif")}};
    for (const auto &[name, file] : fonts) {
        const uint8_t fourBits = name.find("4bpp") != std::string::npos ? fuzzlayout::kTextFourBits : 0;
        // The large font once: its size slows every run that starts from it.
        const uint8_t alignments = file.size() > 4096 ? 1 : 3;
        for (uint8_t align = 0; align < alignments; align++) {
            Bytes head = placement((uint8_t)(fourBits | align << fuzzlayout::kTextAlignShift), 60 + 40 * align, 30,
                                   align == 1 ? 50 : 0, 0, align == 1 ? 120 : 1280, 800);
            head.insert(head.end(), {0xE3, 200, (uint8_t)text.size()});
            seed("sif", name + "_align" + std::to_string(align), cat({head, Bytes(text.begin(), text.end()), file}));
        }
    }
}

// ------------------------------------------------------------------ video

// The first `groups` pictures of a clip as steps that append a picture and
// draw it; with `faults`, the second picture is dropped again before its
// draw and the decoder restarts half-way.
Bytes videoSteps(const Bytes &clip, size_t groups, bool faults) {
    Bytes out = placement(0, 10, 10, 0, 0, 500, 400);
    const std::vector<Bytes> all = nimbra::splitVideoGroups(clip);
    for (size_t i = 0; i < all.size() && i < groups; i++) {
        uint8_t actions = fuzzlayout::kVideoDraw;
        if (faults && i == 1) actions |= fuzzlayout::kVideoRestore;
        if (faults && i == groups / 2) actions |= fuzzlayout::kVideoRestart;
        out.push_back(actions);
        out.insert(out.end(), {(uint8_t)all[i].size(), (uint8_t)(all[i].size() >> 8)});
        out.insert(out.end(), all[i].begin(), all[i].end());
    }
    return out;
}

// The clip with the full-pel flag set in every P picture's header, which
// encoders seldom write: the vectors then count whole pixels.
Bytes withFullPelVectors(Bytes clip) {
    for (size_t i = 0; i + 8 < clip.size(); i++) {
        if (clip[i] != 0 || clip[i + 1] != 0 || clip[i + 2] != 1 || clip[i + 3] != 0) continue;
        // Temporal reference (10 bits), coding type (3), VBV delay (16), then the flag.
        uint8_t *header = &clip[i + 4];
        if (((header[1] >> 3) & 7) == 2) header[3] |= 0x04;
    }
    return clip;
}

void videoSeeds() {
    const Bytes clip = readSource("examples/clip.m1v");
    seed("mpeg", "clip", videoSteps(clip, 99, false));
    seed("mpeg", "clip_faults", videoSteps(clip, 6, true));
    for (const char *name : {"ip_100x76_matrices_q5", "ipb_176x120_q4"}) {
        seed("mpeg", name, videoSteps(readSource(std::string("tests/data/mpeg/") + name + ".m1v"), 3, false));
    }
    seed("mpeg", "full_pel_vectors", videoSteps(withFullPelVectors(clip), 3, false));
}

// ----------------------------------------------------- commands for streams

// A screen's worth of commands of every drawing kind, each command its own
// entry, in half pixels.
std::vector<Bytes> drawingCommands() {
    std::vector<Bytes> c;
    auto add = [&](const CommandBuilder &b) { c.push_back(b.payload()); };
    add(CommandBuilder().clearRect(0, 0, 1280, 800));
    add(CommandBuilder().setColor(0xFFFF8040));
    add(CommandBuilder().setPenStyle(7, 1, 2));
    add(CommandBuilder().u8(0x0F).pair(20, 20).pair(600, 300));                               // line
    add(CommandBuilder().u8(0x0C).pair(40, 300).pair(200, 120).u8(20).u8(1));                  // rounded fill
    add(CommandBuilder().u8(0x0C).pair(300, 300).pair(160, 100).u8(0).u8(0));                  // outline
    add(CommandBuilder().u8(0x0E).pair(700, 200).pair(90, 50).u16le(60 | 0x8000));             // rotated fill
    add(CommandBuilder().u8(0x0E).pair(900, 200).pair(60, 60).u16le(0));                       // circle
    add(CommandBuilder().u8(0x10).pair(1000, 500).pair(80, 80).pair(30, 500));                 // arc
    add(CommandBuilder().u8(0x12).u8(0x85).pair(100, 600).pair(200, 450).pair(300, 650).pair(50, 500).pair(350, 520));
    add(CommandBuilder().u8(0x0D).u8(0x84).pair(500, 700).pair(600, 500).pair(700, 650).pair(800, 520));
    add(CommandBuilder().setPenStyle(3, 0, 1));
    add(CommandBuilder().u8(0x0D).u8(0x03).pair(900, 700).pair(1000, 600).pair(1200, 750));
    add(CommandBuilder().u8(0x08).u8(1).pair(640, 100).u8(1).u8(5).text("Nimbr"));
    add(CommandBuilder().u8(0x18).pair(100, 100).pair(400, 300));                              // clip
    add(CommandBuilder().u8(0x08).u8(2).pair(1200, 150).u8(2).u8(5).text("\xC3\xA4-ok"));
    add(CommandBuilder().copyToScreen(1));
    return c;
}

Bytes records(const std::vector<Bytes> &commands) { return nimbra::packRecords(commands); }

// The shape and state commands among them, laid end to end behind a
// placement: the whole screen, then a small clip that cuts every shape.
void shapeSeeds() {
    Bytes shapes;
    for (const Bytes &c : drawingCommands()) {
        if (c[0] == 0x09 || c[0] == 0x0B || (c[0] >= 0x0C && c[0] <= 0x10) || c[0] == 0x12) {
            shapes.insert(shapes.end(), c.begin(), c.end());
        }
    }
    seed("shapes", "screen", cat({placement(0, 0, 0), shapes}));
    seed("shapes", "clipped", cat({placement(0, 0, 0, 150, 90, 500, 420), shapes}));
    // Thick pens of both shapes and every line style on short segments.
    CommandBuilder pens;
    for (uint8_t style = 0; style < 4; style++) {
        pens.setPenStyle((uint8_t)(1 + 40 * style), style & 1, style);
        pens.u8(0x0F).pair(-40, 100 + 60 * style).pair(700, 80 + 60 * style);
        pens.u8(0x0D).u8(0x83).pair(600, 100).pair(1300, 300 + 50 * style).pair(620, 810);
    }
    seed("shapes", "pens", cat({placement(0, 0, 0, 20, 20, 1200, 700), pens.payload()}));
}

// ------------------------------------------------------- compressed blocks

// The blocks as the target reads them: flag byte, length, bytes.
Bytes asBlockSteps(const std::vector<Bytes> &blockCommands) {
    Bytes out;
    for (const Bytes &command : blockCommands) {
        // A block command is 0x0A, flags, length, bytes: the target takes it
        // without its opcode.
        out.insert(out.end(), command.begin() + 1, command.end());
    }
    return out;
}

void zlibSeeds() {
    const std::vector<Bytes> drawing = drawingCommands();
    {
        nimbra::ZlibBlockWriter writer(5);
        seed("zlib_blocks", "drawing", asBlockSteps(writer.commands(drawing)));
    }
    {
        // Three blocks run by the third, then a gap in the sequence.
        nimbra::ZlibBlockWriter writer(62);
        Bytes all;
        for (const Bytes &c : drawing) all.insert(all.end(), c.begin(), c.end());
        std::vector<Bytes> blocks = {writer.block(Bytes(all.begin(), all.begin() + 20), false),
                                     writer.block(Bytes(all.begin() + 20, all.begin() + 40), false),
                                     writer.block(Bytes(all.begin() + 40, all.end()), true)};
        Bytes late = writer.block(Bytes{0x09, 0xFF, 0, 0, 0xFF}, true);
        blocks.push_back(writer.block(Bytes{0x09, 0xFF, 0xFF, 0, 0xFF}, true));
        blocks.push_back(late);   // out of order
        seed("zlib_blocks", "accumulate_then_gap", asBlockSteps(blocks));
    }
    {
        // The stream ended by its last block, and a block nested in a block.
        nimbra::ZlibBlockWriter writer(0);
        Bytes inner = nimbra::zlibBlockCommand(0xC0, nimbra::zlibCompress(Bytes{0x09, 1, 2, 3, 4}));
        std::vector<Bytes> blocks = {writer.block(inner, true), writer.finishBlock(Bytes{0x09, 0, 0, 0, 0}, true)};
        seed("zlib_blocks", "nested_and_end", asBlockSteps(blocks));
    }
    nimbra::ZlibBlockWriter writer(3);
    seed("records", "zlib_blocks", records(writer.commands(drawing)));
}

// ---------------------------------------------------------------- handshake

void handshakeSeeds() {
    std::string error;
    auto key = nimbra::SigningKey::load(g_source + "/" + nimbra::kDevelopmentKeyPath, error);
    if (!key) throw std::runtime_error(error);
    nimbra::HandshakeMessage m;
    m.peerId = 7;
    m.counterLimit = 100;
    const Bytes message = nimbra::buildHandshakeMessage(*key, m);
    // The target's chunks are the commands without their opcode.
    auto steps = [](const std::vector<Bytes> &chunks) {
        Bytes out;
        for (const Bytes &c : chunks) out.insert(out.end(), c.begin() + 1, c.end());
        return out;
    };
    const uint8_t connect = fuzzlayout::kHandshakeConnect;
    seed("handshake", "one_chunk", cat({Bytes{connect}, steps(nimbra::handshakeChunks(message, 3))}));
    seed("handshake", "three_chunks", cat({Bytes{0}, steps(nimbra::handshakeChunks(message, 9, 100))}));
    Bytes forged = message;
    forged[100] ^= 1;
    seed("handshake", "bad_signature", cat({Bytes{connect}, steps(nimbra::handshakeChunks(forged, 5))}));
    const Bytes shortMessage(message.begin(), message.begin() + 200);
    seed("handshake", "short_then_gap",
         cat({Bytes{connect}, steps(nimbra::handshakeChunks(shortMessage, 1)),
              steps({nimbra::handshakeChunk(2, 150, 300, message.data(), 40)})}));
    Bytes stream;
    CommandBuilder b;
    b.connect();
    nimbra::appendRecord(stream, b.payload());
    for (const Bytes &c : nimbra::handshakeChunks(message, 4, 120)) nimbra::appendRecord(stream, c);
    nimbra::appendRecord(stream, CommandBuilder().systemInfo(2).systemInfo(3).systemInfo(4).payload());
    seed("records", "handshake", stream);
}

// ------------------------------------------------------------------ uploads

// One resource as the upload target reads it.
Bytes resource(uint8_t kind, uint8_t slot, uint8_t format, uint16_t chunk, uint8_t faults, int xHalf, int yHalf,
               const Bytes &file) {
    CommandBuilder b;
    b.u8(kind).u8(slot).u8(format).u16le(chunk).u8(faults).pair(xHalf, yHalf).u16le((uint16_t)file.size());
    return cat({b.payload(), file});
}

void uploadSeeds() {
    using namespace fuzzlayout;
    const Bytes png = patternPng(40, 30, 8, 6, false);
    const Bytes jpeg = readSource("tests/data/jpeg/h2v2_17x20.jpg");
    const Bytes font = smallFont(2);
    const uint8_t draw = kUploadDraw, fontDraw = kUploadFont | kUploadDraw;
    seed("uploads", "png_slot0", resource(draw, 0, 1, 700, 0, 100, 60, png));
    seed("uploads", "jpeg_slot2", resource(draw, 2, 2, 300, 0, -10, 700, jpeg));
    seed("uploads", "jpeg_slot0", resource(draw, 0, 2, 2000, 0, 30, 30, jpeg));
    seed("uploads", "font_slot3", resource(fontDraw, 3, 2, 150, 0, 40, 40, font));
    seed("uploads", "font_4bpp_slot14", resource(fontDraw, 14, 1, 2000, 0, 40, 40, smallFont(4)));
    seed("uploads", "compressed_font", resource(fontDraw, 5, 0x22, 90, 0, 40, 40, nimbra::zlibCompress(font)));
    seed("uploads", "faults",
         cat({resource(draw, 1, 1, 100, kUploadSkipChunk, 0, 0, png),
              resource(fontDraw, 4, 2, 64, kUploadRepeatChunk, 0, 0, font),
              resource(draw, 3, 2, 500, kUploadBadCrc, 0, 0, jpeg)}));

    // The same uploads as a recording, with the commands that use them.
    Bytes stream;
    nimbra::UploadOptions options;
    options.chunkBytes = 512;
    std::vector<Bytes> commands = nimbra::loadImageCommands(0, png, nimbra::kImagePng, options);
    for (const Bytes &c : nimbra::loadImageCommands(6, jpeg, nimbra::kImageJpeg, options)) commands.push_back(c);
    for (const Bytes &c : nimbra::loadFontCommands(7, font, 2, options)) commands.push_back(c);
    commands.push_back(nimbra::drawImageCommand(0, 40, 40));
    commands.push_back(nimbra::drawSpriteCommand(300, 40, 4, 4, 30, 20));
    commands.push_back(nimbra::drawImageCommand(6, 500, 300));
    commands.push_back(CommandBuilder().u8(0x08).u8(7).pair(40, 600).u8(0).u8(3).text("ABE").payload());
    commands.push_back(CommandBuilder().u8(0x16).u8(1).u8(255).payload());    // cache map
    commands.push_back(CommandBuilder().u8(0x16).u8(0x12).u8(7).payload());   // erase font 7
    commands.push_back(CommandBuilder().copyToScreen(9).payload());
    seed("records", "uploads", records(commands));
}

// ---------------------------------------------------------------- recordings

// Cuts a recording at record boundaries into pieces of about `bytes` bytes,
// so that a fuzzer limited to short inputs still starts from every part.
std::vector<Bytes> piecesOf(const Bytes &recording, size_t bytes) {
    std::vector<Bytes> pieces(1);
    for (size_t at = 0; at + 8 <= recording.size();) {
        const size_t length = 8 + ((size_t)recording[at] << 24 | (size_t)recording[at + 1] << 16 |
                                   (size_t)recording[at + 2] << 8 | recording[at + 3]);
        const size_t end = std::min(recording.size(), at + length);
        if (!pieces.back().empty() && pieces.back().size() + (end - at) > bytes) pieces.emplace_back();
        pieces.back().insert(pieces.back().end(), recording.begin() + (long)at, recording.begin() + (long)end);
        at = end;
    }
    return pieces;
}

void recordingSeeds() {
    const Bytes demo = readSource("examples/demo.rec");
    const std::vector<Bytes> pieces = piecesOf(demo, 4000);
    for (size_t i = 0; i < pieces.size(); i++) seed("records", "demo_part" + std::to_string(i), pieces[i]);
    seed("records", "drawing", records(drawingCommands()));

    Bytes video;
    uint8_t frameId = 1;
    std::string error;
    nimbra::VideoClipOptions options;
    options.chunkBytes = 700;
    if (!nimbra::videoClipRecords(readSource("examples/clip.m1v"), options, video, frameId, error)) {
        throw std::runtime_error(error);
    }
    seed("records", "video", video);

    // Link, session and system commands, logo screens and a seek.
    std::vector<Bytes> system;
    auto add = [&](const CommandBuilder &b) { system.push_back(b.payload()); };
    add(CommandBuilder().connect());
    add(CommandBuilder().setTickRate(50, 3));
    add(CommandBuilder().setSessionParams(-100, 40));
    add(CommandBuilder().systemInfo(1).systemInfo(5));
    add(CommandBuilder().enableDevice(10, 0, 0).enableDevice(10, 1, 90));
    add(CommandBuilder().enableDevice(19, 0, 1).copyToScreen(2).enableDevice(19, 0, 0));
    add(CommandBuilder().u8(0x07).u8(4).u16le(0).u16le(0).u8(4).text("Pair"));
    add(CommandBuilder().u8(0x07).u8(5).u16le(10).u16le((uint16_t)-20).u8(0));
    add(CommandBuilder().u8(0x1D).u8(1).u8(0).u32le(40000));
    add(CommandBuilder().u8(0x1C).u8(1).u8(0).u16le(0).u16le(100).u16le(1).u8(0xAB));
    add(CommandBuilder().seekTo(400).copyToScreen(3));
    add(CommandBuilder().enableDevice(11, 0, 0));
    add(CommandBuilder().disconnect());
    add(CommandBuilder().eof());
    seed("records", "system", records(system));
}

// The text form: the demo's scripts, and pieces of its recording as streams.
void textFormSeeds() {
    for (const char *script : {"basics", "shapes", "text"}) {
        seed("text_form", std::string(script) + "_script",
             cat({{fuzzlayout::kTextFormScript}, readSource("examples/demo/" + std::string(script) + ".nsc")}));
    }
    const std::vector<Bytes> pieces = piecesOf(readSource("examples/demo.rec"), 2000);
    for (size_t i = 0; i < pieces.size(); i++) seed("text_form", "demo_part" + std::to_string(i), cat({{0}, pieces[i]}));
}

}  // namespace

int main(int argc, char **argv) {
    nimbra::Cli cli("nimbra-fuzz-seeds", "Writes first corpora for the fuzz targets, one folder per target.");
    cli.option("source", "DIR", "the source tree to read test data and examples from")
        .positional("OUT_DIR", "folder to write the seed folders into")
        .example("nimbra-fuzz-seeds out/seeds");
    if (int exitCode; !cli.parse(argc, argv, exitCode)) return exitCode;
    g_source = cli.value("source", NIMBRA_SOURCE_DIR);
    g_out = cli.arg(0);
    try {
        imageSeeds("png", pngFiles());
        imageSeeds("jpeg", jpegFiles());
        fontSeeds();
        videoSeeds();
        shapeSeeds();
        zlibSeeds();
        handshakeSeeds();
        uploadSeeds();
        recordingSeeds();
        textFormSeeds();
    } catch (const std::exception &e) {
        return cli.fail(e.what());
    }
    printf("%zu seeds written to %s\n", g_written, g_out.string().c_str());
    return 0;
}
