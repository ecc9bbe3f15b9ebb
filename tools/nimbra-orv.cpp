// nimbra-orv: converts an ordinary PNG into the device's ORV variant, whose
// pixels are RGB332 colour indices (palette, grey, or grey with alpha).
//
//   nimbra-orv [--layout auto|palette|grey|grey-alpha] [--depth 1|2|4|8] INPUT.png OUTPUT.png
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/hostlib/nimbra_host.h"
#include "tools/hostlib/orv_encoder.h"

namespace {

void usage(FILE *to) {
    fprintf(to,
            "usage: nimbra-orv [--layout auto|palette|grey|grey-alpha] [--depth 1|2|4|8] INPUT.png OUTPUT.png\n"
            "  Converts any PNG into an ORV image for the device: colours are quantised to\n"
            "  RGB332 (nearest level, no dithering).\n"
            "  --layout auto        palette when every pixel is opaque, else grey-alpha (default)\n"
            "  --layout palette     indexed, the palette holding colour indices\n"
            "  --layout grey        8-bit grey, each sample a colour index\n"
            "  --layout grey-alpha  8-bit grey with alpha, each sample a colour index\n"
            "  --depth N            palette depth; by default the smallest that holds the colours\n");
}

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
    nimbra::OrvOptions options;
    const char *input = nullptr, *output = nullptr;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            usage(stdout);
            return 0;
        } else if (a == "--layout" && i + 1 < argc) {
            std::string v = argv[++i];
            if (v == "auto") options.layout = nimbra::OrvLayout::Auto;
            else if (v == "palette") options.layout = nimbra::OrvLayout::Palette;
            else if (v == "grey") options.layout = nimbra::OrvLayout::Grey;
            else if (v == "grey-alpha") options.layout = nimbra::OrvLayout::GreyAlpha;
            else {
                fprintf(stderr, "nimbra-orv: unknown layout '%s'\n", v.c_str());
                return 2;
            }
        } else if (a == "--depth" && i + 1 < argc) {
            std::string v = argv[++i];
            if (v != "1" && v != "2" && v != "4" && v != "8") {
                fprintf(stderr, "nimbra-orv: depth must be 1, 2, 4 or 8\n");
                return 2;
            }
            options.paletteDepth = atoi(v.c_str());
        } else if (!a.empty() && a[0] == '-') {
            fprintf(stderr, "nimbra-orv: unknown option '%s'\n", a.c_str());
            usage(stderr);
            return 2;
        } else if (!input) {
            input = argv[i];
        } else if (!output) {
            output = argv[i];
        } else {
            usage(stderr);
            return 2;
        }
    }
    if (!input || !output) {
        usage(stderr);
        return 2;
    }

    nimbra::RgbaImage image;
    std::string error;
    if (!nimbra::readPngRgba(input, image, error)) {
        fprintf(stderr, "nimbra-orv: %s: %s\n", input, error.c_str());
        return 1;
    }
    nimbra::Bytes orv;
    nimbra::OrvSummary summary;
    if (!nimbra::encodeOrv(image, options, orv, error, &summary)) {
        fprintf(stderr, "nimbra-orv: %s: %s\n", input, error.c_str());
        return 1;
    }
    if (!nimbra::writeFile(output, orv)) {
        fprintf(stderr, "nimbra-orv: cannot write %s\n", output);
        return 1;
    }
    fprintf(stderr, "%s: %u x %u, %s, depth %d", output, image.width, image.height, layoutName(summary.layout),
            summary.bitDepth);
    if (summary.paletteEntries) fprintf(stderr, ", %d palette entries", summary.paletteEntries);
    fprintf(stderr, ", %zu bytes\n", orv.size());
    return 0;
}
