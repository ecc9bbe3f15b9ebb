// nimbra-upload: turns a font or image file into a recording of the load
// commands that upload it into a cache slot, optionally followed by a draw
// and a shown frame, so that a resource can be tried on the simulator.
//
//   nimbra-upload (--font SLOT | --image SLOT) [options] FILE OUTPUT.rec
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/hostlib/nimbra_host.h"
#include "tools/hostlib/upload.h"

namespace {

void usage(FILE *to) {
    fprintf(to,
            "usage: nimbra-upload (--font SLOT | --image SLOT) [options] FILE OUTPUT.rec\n"
            "  Writes the load commands that upload FILE (with its CRC-32) into a cache slot.\n"
            "  --font SLOT     a SIF font into font slot 3 to 14\n"
            "  --image SLOT    a PNG or JPEG into image slot 0 to 31 (0: decoded into memory)\n"
            "  --bpp 2|4       bits per pixel of the font (default 2)\n"
            "  --compress      send the font zlib-compressed\n"
            "  --chunk N       data bytes per load command, 1 to %zu (default the largest)\n"
            "  --draw X,Y      images: then draw the image at pixel X,Y and show the frame\n"
            "  OUTPUT \"-\" writes the recording to standard output.\n",
            nimbra::kUploadMaxChunkBytes);
}

bool parseSlot(const char *text, int last, int &slot) {
    char *end = nullptr;
    long v = strtol(text, &end, 10);
    if (!end || *end || v < 0 || v > last) return false;
    slot = (int)v;
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    int fontSlot = -1, imageSlot = -1, bpp = 2;
    bool draw = false;
    int drawX = 0, drawY = 0;
    nimbra::UploadOptions options;
    const char *input = nullptr, *output = nullptr;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            usage(stdout);
            return 0;
        } else if (a == "--font" && i + 1 < argc) {
            if (!parseSlot(argv[++i], 14, fontSlot) || fontSlot < 3) {
                fprintf(stderr, "nimbra-upload: font slots are 3 to 14\n");
                return 2;
            }
        } else if (a == "--image" && i + 1 < argc) {
            if (!parseSlot(argv[++i], 31, imageSlot)) {
                fprintf(stderr, "nimbra-upload: image slots are 0 to 31\n");
                return 2;
            }
        } else if (a == "--bpp" && i + 1 < argc) {
            std::string v = argv[++i];
            if (v != "2" && v != "4") {
                fprintf(stderr, "nimbra-upload: --bpp must be 2 or 4\n");
                return 2;
            }
            bpp = atoi(v.c_str());
        } else if (a == "--compress") {
            options.compress = true;
        } else if (a == "--chunk" && i + 1 < argc) {
            long n = strtol(argv[++i], nullptr, 10);
            if (n < 1 || (size_t)n > nimbra::kUploadMaxChunkBytes) {
                fprintf(stderr, "nimbra-upload: --chunk must be 1 to %zu\n", nimbra::kUploadMaxChunkBytes);
                return 2;
            }
            options.chunkBytes = (size_t)n;
        } else if (a == "--draw" && i + 1 < argc) {
            if (sscanf(argv[++i], "%d,%d", &drawX, &drawY) != 2 || drawX < -640 || drawX > 640 || drawY < -400 ||
                drawY > 400) {
                fprintf(stderr, "nimbra-upload: --draw wants X,Y in pixels, within one screen\n");
                return 2;
            }
            draw = true;
        } else if (a.size() > 1 && a[0] == '-') {
            fprintf(stderr, "nimbra-upload: unknown option '%s'\n", a.c_str());
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
    if (!input || !output || (fontSlot < 0) == (imageSlot < 0)) {
        usage(stderr);
        return 2;
    }
    if (options.compress && fontSlot < 0) {
        fprintf(stderr, "nimbra-upload: only fonts are sent compressed\n");
        return 2;
    }

    nimbra::Bytes file = nimbra::readFile(input);
    if (file.empty()) {
        fprintf(stderr, "nimbra-upload: cannot read %s (or it is empty)\n", input);
        return 1;
    }
    std::string why;
    std::vector<nimbra::Bytes> commands;
    if (fontSlot >= 0) {
        uint8_t format = bpp == 4 ? nimbra::kFontFormat4Bpp : nimbra::kFontFormat2Bpp;
        commands = nimbra::loadFontCommands((uint8_t)fontSlot, file, format, options, &why);
    } else {
        uint8_t format = 0;
        if (file.size() >= 4 && file[0] == 0x89 && file[1] == 'P' && file[2] == 'N' && file[3] == 'G') {
            format = nimbra::kImagePng;
        } else if (file.size() >= 2 && file[0] == 0xFF && file[1] == 0xD8) {
            format = nimbra::kImageJpeg;
        } else {
            fprintf(stderr, "nimbra-upload: %s is neither a PNG nor a JPEG file\n", input);
            return 1;
        }
        commands = nimbra::loadImageCommands((uint8_t)imageSlot, file, format, options, &why);
        if (!commands.empty() && draw) {
            commands.push_back(nimbra::drawImageCommand((uint8_t)imageSlot, 2 * drawX, 2 * drawY));
            nimbra::CommandBuilder show;
            show.copyToScreen(1);
            commands.push_back(show.payload());
        }
    }
    if (commands.empty()) {
        fprintf(stderr, "nimbra-upload: %s: %s\n", input, why.c_str());
        return 1;
    }
    nimbra::Bytes stream = nimbra::packRecords(commands);
    bool written;
    if (std::string(output) == "-") {
        written = fwrite(stream.data(), 1, stream.size(), stdout) == stream.size() && fflush(stdout) == 0;
    } else {
        written = nimbra::writeFile(output, stream);
    }
    if (!written) {
        fprintf(stderr, "nimbra-upload: cannot write %s\n", output);
        return 1;
    }
    fprintf(stderr, "nimbra-upload: %zu load commands, %zu bytes\n", commands.size() - (draw && imageSlot >= 0 ? 2 : 0),
            stream.size());
    return 0;
}
