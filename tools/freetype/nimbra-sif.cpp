// nimbra-sif: renders a TrueType (or any FreeType-readable) face into a SIF
// font with 2 or 4 bits of coverage per pixel, for upload to the device or
// for building into the simulator.
//
//   nimbra-sif [options] FONT.ttf OUTPUT.sif      (OUTPUT "-" writes to stdout)
//
// Characters the face lacks are left out by splitting the requested ranges
// around them, so that every glyph in the file is a real one.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "tools/hostlib/cli.h"

namespace {

constexpr uint32_t kMagic = 0x50495547u;   // "GUIP"
constexpr int kMaxRanges = 32;
constexpr int kMinHeight = 6, kMaxHeight = 150;
constexpr size_t kMaxUploadBytes = 32752;

struct Options {
    std::string fontPath, outputPath;
    int pixelSize = 0;
    int bitsPerPixel = 2;
    std::vector<std::pair<uint32_t, uint32_t>> ranges;
    // Header values; -1 means "derive from the face".
    int height = -1, lineDistance = -1, baseline = -1, lowerHeight = -1, capitalHeight = -1;
    bool hinting = true;
    std::string cppName;   // non-empty: write a C++ array definition instead
};

struct Glyph {
    int width = 0, rows = 0, xOffset = 0, yOffset = 0, advance = 0;
    std::vector<uint8_t> levels;   // width x rows coverage levels
};

bool parseNumber(const std::string &text, long min, long max, long *out) {
    if (text.empty()) return false;
    errno = 0;
    char *end = nullptr;
    long v = strtol(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v < min || v > max) return false;
    *out = v;
    return true;
}

bool parseRange(const std::string &text, std::pair<uint32_t, uint32_t> *out) {
    size_t dash = text.find('-', 1);
    long first, last;
    if (dash == std::string::npos) {
        if (!parseNumber(text, 0, 0xFFFF, &first)) return false;
        last = first;
    } else if (!parseNumber(text.substr(0, dash), 0, 0xFFFF, &first) ||
               !parseNumber(text.substr(dash + 1), 0, 0xFFFF, &last)) {
        return false;
    }
    if (last < first) return false;
    *out = {(uint32_t)first, (uint32_t)last};
    return true;
}

// Returns nothing when the program should go on, else its exit status (after
// --help, --version or a message).
std::optional<int> parseArgs(int argc, char **argv, Options *o) {
    nimbra::Cli cli("nimbra-sif", "Renders a font face into a SIF font.");
    cli.option("size", "PX", "pixel size of the em square (required)", 's')
        .option("bpp", "2|4", "bits of coverage per pixel (default 2)", 'b')
        .option("range", "FIRST-LAST", "character codes to include, inclusive, decimal or 0x hex (default 0x20-0x7E)",
                'r', /*repeatable=*/true)
        .option("height", "N", "nominal height in the header (default PX)")
        .option("line-distance", "N", "line height (default the height)")
        .option("baseline", "N", "baseline row from the top of the line (default from the face's ascender and "
                                 "descender)")
        .option("lower-height", "N", "header's lower-case height (default measured on 'x')")
        .option("capital-height", "N", "header's capital height (default measured on 'H')")
        .flag("no-hinting", "render without hinting")
        .option("cpp", "NAME", "write a C++ definition of the arrays NAME and NAME_size instead")
        .positional("FONT", "the face to render (TrueType, OpenType, ...)")
        .positional("OUTPUT", "the SIF file to write (- for standard output)")
        .example("nimbra-sif --size 24 --bpp 4 --range 0x20-0x7E --range 0x3B1-0x3C9 Face.ttf out.sif");
    if (int exitCode; !cli.parse(argc, argv, exitCode)) return exitCode;
    if (!cli.has("size")) return cli.usageError("--size is required");
    auto size = cli.intValue("size", 1, 1000, 0);
    auto bpp = cli.choiceValue("bpp", {"2", "4"}, "2");
    auto height = cli.intValue("height", kMinHeight, kMaxHeight, -1);
    auto lineDistance = cli.intValue("line-distance", 1, 255, -1);
    auto baseline = cli.intValue("baseline", 0, 65535, -1);
    auto lowerHeight = cli.intValue("lower-height", 0, 65535, -1);
    auto capitalHeight = cli.intValue("capital-height", 0, 65535, -1);
    if (!size || !bpp || !height || !lineDistance || !baseline || !lowerHeight || !capitalHeight) return 2;
    o->pixelSize = (int)*size;
    o->bitsPerPixel = std::stoi(*bpp);
    o->height = (int)*height;
    o->lineDistance = (int)*lineDistance;
    o->baseline = (int)*baseline;
    o->lowerHeight = (int)*lowerHeight;
    o->capitalHeight = (int)*capitalHeight;
    o->hinting = !cli.has("no-hinting");
    for (const std::string &text : cli.values("range")) {
        std::pair<uint32_t, uint32_t> r;
        if (!parseRange(text, &r)) return cli.usageError("bad range '" + text + "' (FIRST-LAST, codes 0 to 0xFFFF)");
        o->ranges.push_back(r);
    }
    if (cli.has("cpp")) {
        o->cppName = cli.value("cpp");
        bool ok = !o->cppName.empty() && !isdigit((unsigned char)o->cppName[0]);
        for (char c : o->cppName) ok = ok && (isalnum((unsigned char)c) || c == '_');
        if (!ok) return cli.usageError("--cpp needs a C++ identifier, got '" + o->cppName + "'");
    }
    o->fontPath = cli.arg(0);
    o->outputPath = cli.arg(1);
    if (o->ranges.empty()) o->ranges.push_back({0x20, 0x7E});
    if (o->height < 0) {
        if (o->pixelSize < kMinHeight || o->pixelSize > kMaxHeight) {
            return cli.usageError("a size of " + std::to_string(o->pixelSize) + " px needs --height from " +
                                  std::to_string(kMinHeight) + " to " + std::to_string(kMaxHeight));
        }
        o->height = o->pixelSize;
    }
    if (o->lineDistance < 0) o->lineDistance = o->height;
    return std::nullopt;
}

class FontRenderer {
public:
    ~FontRenderer() {
        if (face_) FT_Done_Face(face_);
        if (library_) FT_Done_FreeType(library_);
    }

    bool open(const Options &o) {
        if (FT_Init_FreeType(&library_) != 0) {
            fprintf(stderr, "nimbra-sif: cannot start FreeType\n");
            return false;
        }
        if (FT_New_Face(library_, o.fontPath.c_str(), 0, &face_) != 0) {
            fprintf(stderr, "nimbra-sif: cannot open font %s\n", o.fontPath.c_str());
            return false;
        }
        if (FT_Set_Pixel_Sizes(face_, 0, (FT_UInt)o.pixelSize) != 0) {
            fprintf(stderr, "nimbra-sif: the face has no size %d px\n", o.pixelSize);
            return false;
        }
        loadFlags_ = FT_LOAD_RENDER | (o.hinting ? FT_LOAD_TARGET_LIGHT : FT_LOAD_NO_HINTING);
        maxLevel_ = (1 << o.bitsPerPixel) - 1;
        return true;
    }

    bool has(uint32_t code) const { return FT_Get_Char_Index(face_, code) != 0; }

    // The baseline that shares the line between ascender and descender in
    // the face's own proportions.
    int defaultBaseline(int lineHeight) const {
        double asc = (double)face_->size->metrics.ascender, desc = -(double)face_->size->metrics.descender;
        if (asc + desc <= 0) return lineHeight * 4 / 5;
        return (int)std::lround(lineHeight * asc / (asc + desc));
    }

    // Height above the baseline of a letter's ink, or -1 when absent.
    int inkTop(uint32_t code) {
        if (!has(code) || FT_Load_Char(face_, code, loadFlags_) != 0) return -1;
        return face_->glyph->bitmap_top;
    }

    bool render(uint32_t code, int baseline, Glyph *g) {
        if (FT_Load_Char(face_, code, loadFlags_) != 0) {
            fprintf(stderr, "nimbra-sif: cannot render character 0x%04X\n", code);
            return false;
        }
        const FT_GlyphSlot slot = face_->glyph;
        const FT_Bitmap &bm = slot->bitmap;
        if (bm.width > 0 && bm.rows > 0 && bm.pixel_mode != FT_PIXEL_MODE_GRAY) {
            fprintf(stderr, "nimbra-sif: character 0x%04X is not a grey bitmap\n", code);
            return false;
        }
        int w = (int)bm.width, h = (int)bm.rows;
        std::vector<uint8_t> levels((size_t)w * h);
        // The box is cropped to the rows and columns with any ink at all,
        // before quantising: a faint edge column that rounds to level 0 stays
        // in the box, so a glyph has the same box at 2 and 4 bits, and its
        // width is the face's own (as in the device's fonts: 'A' of the small
        // built-in font is 16 pixels wide though one edge column is level 0).
        int left = w, right = -1, top = h, bottom = -1;
        for (int y = 0; y < h; y++) {
            const uint8_t *row = bm.buffer + (ptrdiff_t)y * bm.pitch;
            for (int x = 0; x < w; x++) {
                unsigned grey = bm.num_grays > 1 ? row[x] * 255u / (bm.num_grays - 1) : row[x];
                levels[(size_t)y * w + x] = (uint8_t)((grey * (unsigned)maxLevel_ + 127) / 255);
                if (!grey) continue;
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
        g->advance = (int)((slot->advance.x + 32) >> 6);
        if (right < 0) {
            // A blank glyph (the space) is one transparent pixel at the pen
            // on the baseline, the way the device's fonts store it, so that
            // every glyph has a bitmap for readers that expect one.
            g->width = g->rows = 1;
            g->xOffset = 0;
            g->yOffset = baseline;
            g->levels.assign(1, 0);
            return true;
        }
        g->width = right - left + 1;
        g->rows = bottom - top + 1;
        g->xOffset = slot->bitmap_left + left;
        g->yOffset = baseline - slot->bitmap_top + top;
        g->levels.resize((size_t)g->width * g->rows);
        for (int y = 0; y < g->rows; y++) {
            for (int x = 0; x < g->width; x++) g->levels[(size_t)y * g->width + x] = levels[(size_t)(y + top) * w + x + left];
        }
        return true;
    }

private:
    FT_Library library_ = nullptr;
    FT_Face face_ = nullptr;
    FT_Int32 loadFlags_ = 0;
    int maxLevel_ = 3;
};

void put16(std::vector<uint8_t> &out, size_t at, uint32_t v) {
    out[at] = (uint8_t)v;
    out[at + 1] = (uint8_t)(v >> 8);
}
void put32(std::vector<uint8_t> &out, size_t at, uint32_t v) {
    put16(out, at, v & 0xFFFF);
    put16(out, at + 2, v >> 16);
}

// Packs coverage levels into rows that each start on a byte boundary, the
// leftmost pixel in the most significant bits.
void appendBitmap(std::vector<uint8_t> &out, const Glyph &g, int bitsPerPixel) {
    const int perByte = 8 / bitsPerPixel;
    const int bytesPerRow = (g.width + perByte - 1) / perByte;
    for (int y = 0; y < g.rows; y++) {
        for (int b = 0; b < bytesPerRow; b++) {
            uint8_t byte = 0;
            for (int k = 0; k < perByte; k++) {
                int x = b * perByte + k;
                uint8_t v = x < g.width ? g.levels[(size_t)y * g.width + x] : 0;
                byte |= (uint8_t)(v << (8 - bitsPerPixel * (k + 1)));
            }
            out.push_back(byte);
        }
    }
}

bool writeOutput(const Options &o, const std::vector<uint8_t> &sif) {
    FILE *f = o.outputPath == "-" ? stdout : fopen(o.outputPath.c_str(), "wb");
    if (!f) {
        fprintf(stderr, "nimbra-sif: cannot write %s\n", o.outputPath.c_str());
        return false;
    }
    bool ok = true;
    if (o.cppName.empty()) {
        ok = fwrite(sif.data(), 1, sif.size(), f) == sif.size();
    } else {
        std::string base = o.fontPath.substr(o.fontPath.find_last_of('/') + 1);
        fprintf(f, "// %s: %s at %d px, %d bits per pixel, %zu bytes (generated by nimbra-sif).\n",
                o.cppName.c_str(), base.c_str(), o.pixelSize, o.bitsPerPixel, sif.size());
        fprintf(f, "const uint8_t %s[%zu] = {", o.cppName.c_str(), sif.size());
        for (size_t i = 0; i < sif.size(); i++) fprintf(f, "%s0x%02X,", i % 16 ? " " : "\n    ", sif[i]);
        fprintf(f, "\n};\nconst uint32_t %s_size = %zu;\n", o.cppName.c_str(), sif.size());
    }
    if (f != stdout) ok = fclose(f) == 0 && ok;
    else ok = fflush(f) == 0 && ok;
    if (!ok) fprintf(stderr, "nimbra-sif: cannot write %s\n", o.outputPath.c_str());
    return ok;
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    if (auto exitCode = parseArgs(argc, argv, &o)) return *exitCode;

    FontRenderer renderer;
    if (!renderer.open(o)) return 1;
    if (o.baseline < 0) o.baseline = renderer.defaultBaseline(o.lineDistance);
    if (o.lowerHeight < 0) o.lowerHeight = std::max(0, renderer.inkTop('x'));
    if (o.capitalHeight < 0) o.capitalHeight = std::max(0, renderer.inkTop('H'));

    // The requested ranges, split around the characters the face lacks.
    std::vector<std::pair<uint32_t, uint32_t>> ranges;
    for (auto [first, last] : o.ranges) {
        uint32_t code = first;
        while (code <= last) {
            while (code <= last && !renderer.has(code)) code++;
            if (code > last) break;
            uint32_t start = code;
            while (code < last && renderer.has(code + 1)) code++;
            ranges.push_back({start, code});
            code++;
        }
    }
    if (ranges.empty()) {
        fprintf(stderr, "nimbra-sif: the face has none of the requested characters\n");
        return 1;
    }
    if (ranges.size() > (size_t)kMaxRanges) {
        fprintf(stderr, "nimbra-sif: %zu ranges after leaving out missing characters; a font holds at most %d\n",
                ranges.size(), kMaxRanges);
        return 1;
    }

    std::vector<Glyph> glyphs;
    for (auto [first, last] : ranges) {
        for (uint32_t code = first; code <= last; code++) {
            Glyph g;
            if (!renderer.render(code, o.baseline, &g)) return 1;
            if (g.rows > 2 * o.height || g.width > 0xFFFF || g.advance > 0xFFFF || g.xOffset < -32768 ||
                g.xOffset > 32767 || g.yOffset < -32768 || g.yOffset > 32767) {
                fprintf(stderr, "nimbra-sif: character 0x%04X does not fit a font of height %d\n", code, o.height);
                return 1;
            }
            glyphs.push_back(std::move(g));
        }
    }

    const size_t tableOffset = 16 + 4 * ranges.size();
    std::vector<uint8_t> sif(tableOffset + 16 * glyphs.size(), 0);
    put32(sif, 0, kMagic);
    put16(sif, 4, (uint32_t)o.height);
    put16(sif, 6, (uint32_t)o.lineDistance);
    put16(sif, 8, (uint32_t)o.baseline);
    put16(sif, 10, (uint32_t)o.lowerHeight);
    put16(sif, 12, (uint32_t)o.capitalHeight);
    put16(sif, 14, (uint32_t)ranges.size());
    for (size_t r = 0; r < ranges.size(); r++) {
        put16(sif, 16 + 4 * r, ranges[r].first);
        put16(sif, 18 + 4 * r, ranges[r].second);
    }
    for (size_t i = 0; i < glyphs.size(); i++) {
        const Glyph &g = glyphs[i];
        size_t e = tableOffset + 16 * i;
        put16(sif, e + 0, (uint32_t)g.width);
        put16(sif, e + 2, (uint32_t)g.rows);
        put16(sif, e + 4, (uint16_t)(int16_t)g.xOffset);
        put16(sif, e + 6, (uint16_t)(int16_t)g.yOffset);
        put16(sif, e + 8, (uint32_t)g.advance);
        put32(sif, e + 12, (uint32_t)sif.size());
        appendBitmap(sif, g, o.bitsPerPixel);
    }
    if (sif.size() > kMaxUploadBytes) {
        fprintf(stderr, "nimbra-sif: note: %zu bytes is more than a cache slot holds (%zu) unless compressed\n",
                sif.size(), kMaxUploadBytes);
    }
    return writeOutput(o, sif) ? 0 : 1;
}
