// nimbra-upload: turns a font or image file into a recording of the load
// commands that upload it into a cache slot, optionally followed by a draw
// and a shown frame, so that a resource can be tried on the simulator.
// What the device would refuse is refused here first, in words.
//
//   nimbra-upload (--font SLOT | --image SLOT) [options] FILE OUTPUT.rec
#include <cstdio>
#include <string>

#include "tools/hostlib/cli.h"
#include "tools/hostlib/file_io.h"
#include "tools/hostlib/nimbra_host.h"
#include "tools/hostlib/resource_checks.h"
#include "tools/hostlib/upload.h"

namespace {

constexpr long kFirstFontSlot = 3, kLastFontSlot = 14, kLastImageSlot = 31;

// The upload commands of a font, or an empty list after a message.
std::vector<nimbra::Bytes> fontCommands(const nimbra::Cli &cli, const std::string &input, const nimbra::Bytes &file,
                                        long slot, int bppGiven, const nimbra::UploadOptions &options) {
    nimbra::FontFacts facts;
    std::string why;
    if (!nimbra::checkSifFile(file, bppGiven, facts, why)) {
        cli.fail(input + " " + why);
        return {};
    }
    if (!options.compress && file.size() + 4 > nimbra::kFontMaxDataBytes) {
        cli.fail(input + ": the font and its CRC take " + std::to_string(file.size() + 4) +
                 " bytes; a font slot holds at most " + std::to_string(nimbra::kFontMaxDataBytes) +
                 " (add --compress: the device inflates fonts of up to " +
                 std::to_string(nimbra::kFontMaxDataBytes - 1) + " bytes)");
        return {};
    }
    uint8_t format = facts.bitsPerPixel == 4 ? nimbra::kFontFormat4Bpp : nimbra::kFontFormat2Bpp;
    auto commands = nimbra::loadFontCommands((uint8_t)slot, file, format, options, &why);
    if (commands.empty()) cli.fail(input + ": " + why);
    return commands;
}

std::vector<nimbra::Bytes> imageCommands(const nimbra::Cli &cli, const std::string &input, const nimbra::Bytes &file,
                                         long slot, const nimbra::UploadOptions &options) {
    nimbra::ImageFacts facts;
    std::string why;
    if (!nimbra::checkImageFile(file, facts, why)) {
        cli.fail(input + " " + why);
        return {};
    }
    uint8_t format = facts.kind == nimbra::FileKind::Png ? nimbra::kImagePng : nimbra::kImageJpeg;
    auto commands = nimbra::loadImageCommands((uint8_t)slot, file, format, options, &why);
    if (commands.empty()) cli.fail(input + ": " + why);
    return commands;
}

}  // namespace

int main(int argc, char **argv) {
    nimbra::Cli cli("nimbra-upload", "Writes the load commands that upload FILE (with its CRC-32) into a cache slot.");
    cli.option("font", "SLOT", "upload a SIF font into font slot 3 to 14")
        .option("image", "SLOT", "upload a PNG or JPEG into image slot 0 to 31 (0: decoded into memory, for sprites)")
        .option("bpp", "2|4", "bits per pixel of the font (default: as its glyph table shows)")
        .flag("compress", "send the font zlib-compressed")
        .option("chunk", "N", "data bytes per load command, 1 to " + std::to_string(nimbra::kUploadMaxChunkBytes) +
                                  " (default the largest)")
        .option("draw", "X,Y", "images: then draw the image at pixel X,Y and show the frame")
        .positional("FILE", "the SIF font, PNG or JPEG file")
        .positional("OUTPUT", "the recording to write (- for standard output)")
        .example("nimbra-upload --image 1 --draw 100,50 photo.jpg - | nimbra-sim > frames.bin");
    if (int exitCode; !cli.parse(argc, argv, exitCode)) return exitCode;

    const bool isFont = cli.has("font");
    if (isFont == cli.has("image")) return cli.usageError("give either --font SLOT or --image SLOT");
    if (isFont && cli.has("draw")) return cli.usageError("--draw draws images only");
    if (!isFont && cli.has("compress")) return cli.usageError("only fonts are sent compressed");
    if (!isFont && cli.has("bpp")) return cli.usageError("--bpp is for fonts only");
    auto slot = isFont ? cli.intValue("font", kFirstFontSlot, kLastFontSlot, 0)
                       : cli.intValue("image", 0, kLastImageSlot, 0);
    auto bpp = cli.choiceValue("bpp", {"2", "4"}, "0");
    auto chunk = cli.intValue("chunk", 1, (long)nimbra::kUploadMaxChunkBytes, (long)nimbra::kUploadMaxChunkBytes);
    auto at = cli.pairValue("draw", -nimbra::kScreenWidth, nimbra::kScreenWidth, -nimbra::kScreenHeight,
                            nimbra::kScreenHeight, {0, 0});
    if (!slot || !bpp || !chunk || !at) return 2;

    nimbra::UploadOptions options;
    options.compress = cli.has("compress");
    options.chunkBytes = (size_t)*chunk;
    const std::string input = cli.arg(0), output = cli.arg(1);
    std::string why;
    std::optional<nimbra::Bytes> loaded = nimbra::loadFile(input, why);
    if (!loaded) return cli.fail("cannot read " + input + ": " + why);
    const nimbra::Bytes &file = *loaded;
    if (file.empty()) return cli.fail(input + " is empty");

    std::vector<nimbra::Bytes> commands = isFont ? fontCommands(cli, input, file, *slot, std::stoi(*bpp), options)
                                                 : imageCommands(cli, input, file, *slot, options);
    if (commands.empty()) return 1;
    const size_t loads = commands.size();
    if (cli.has("draw")) {
        commands.push_back(nimbra::drawImageCommand((uint8_t)*slot, 2 * (int32_t)at->first, 2 * (int32_t)at->second));
        nimbra::CommandBuilder show;
        show.copyToScreen(1);
        commands.push_back(show.payload());
    }
    nimbra::Bytes stream = nimbra::packRecords(commands);
    if (!nimbra::saveBinary(output, stream, why)) return cli.fail("cannot write " + output + ": " + why);
    fprintf(stderr, "nimbra-upload: %zu load command%s, %zu bytes\n", loads, loads == 1 ? "" : "s", stream.size());
    return 0;
}
