// nimbra-orv: converts an ordinary PNG into the device's ORV variant, whose
// pixels are RGB332 colour indices (palette, grey, or grey with alpha).
//
//   nimbra-orv [--layout auto|palette|grey|grey-alpha] [--depth 1|2|4|8] INPUT.png OUTPUT.png
#include <cstdio>
#include <string>

#include "tools/hostlib/cli.h"
#include "tools/hostlib/file_io.h"
#include "tools/hostlib/nimbra_host.h"
#include "tools/hostlib/orv_encoder.h"

namespace {

const char *layoutName(nimbra::OrvLayout l) {
    switch (l) {
    case nimbra::OrvLayout::Palette: return "palette";
    case nimbra::OrvLayout::Grey: return "grey";
    case nimbra::OrvLayout::GreyAlpha: return "grey-alpha";
    default: return "auto";
    }
}

}  // namespace

int main(int argc, char **argv) {
    nimbra::Cli cli("nimbra-orv", "Converts any PNG into an ORV image for the device: colours are quantised to RGB332 "
                                  "(nearest level, no dithering).");
    cli.option("layout", "LAYOUT",
               "auto: palette when every pixel is opaque, else grey-alpha (default); palette: indexed, the palette "
               "holding colour indices; grey: 8-bit grey, each sample a colour index; grey-alpha: the same with alpha")
        .option("depth", "1|2|4|8", "palette depth (default: the smallest that holds the colours)")
        .positional("INPUT", "the PNG file to convert")
        .positional("OUTPUT", "the ORV file to write (- for standard output)")
        .example("nimbra-orv --layout palette --depth 4 logo.png logo.orv.png");
    if (int exitCode; !cli.parse(argc, argv, exitCode)) return exitCode;
    auto layout = cli.choiceValue("layout", {"auto", "palette", "grey", "grey-alpha"}, "auto");
    auto depth = cli.choiceValue("depth", {"1", "2", "4", "8"}, "0");
    if (!layout || !depth) return 2;
    nimbra::OrvOptions options;
    options.layout = *layout == "palette"      ? nimbra::OrvLayout::Palette
                     : *layout == "grey"       ? nimbra::OrvLayout::Grey
                     : *layout == "grey-alpha" ? nimbra::OrvLayout::GreyAlpha
                                               : nimbra::OrvLayout::Auto;
    options.paletteDepth = std::stoi(*depth);
    const std::string input = cli.arg(0), output = cli.arg(1);

    nimbra::RgbaImage image;
    std::string error;
    if (!nimbra::readPngRgba(input, image, error)) return cli.fail(input + ": " + error);
    nimbra::Bytes orv;
    nimbra::OrvSummary summary;
    if (!nimbra::encodeOrv(image, options, orv, error, &summary)) return cli.fail(input + ": " + error);
    if (!nimbra::saveBinary(output, orv, error)) return cli.fail("cannot write " + output + ": " + error);
    fprintf(stderr, "%s: %u x %u, %s, depth %d", output.c_str(), image.width, image.height,
            layoutName(summary.layout), summary.bitDepth);
    if (summary.paletteEntries) fprintf(stderr, ", %d palette entries", summary.paletteEntries);
    fprintf(stderr, ", %zu bytes\n", orv.size());
    return 0;
}
