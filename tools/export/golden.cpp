#include "tools/export/golden.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "tools/hostlib/file_io.h"
#include "tools/hostlib/palette_png.h"
#include "tools/hostlib/png_files.h"

namespace fs = std::filesystem;

namespace nimbra {

namespace {

constexpr const char *kPrefix = "frame_";
constexpr const char *kSuffix = ".png";

// The frame number of a golden file's name, or nullopt for another name.
std::optional<uint64_t> _FrameOfName(const std::string &name) {
    const size_t prefix = strlen(kPrefix), suffix = strlen(kSuffix);
    if (name.size() <= prefix + suffix || name.compare(0, prefix, kPrefix) != 0 ||
        name.compare(name.size() - suffix, suffix, kSuffix) != 0)
        return std::nullopt;
    const std::string digits = name.substr(prefix, name.size() - prefix - suffix);
    if (digits.size() > 18) return std::nullopt;
    uint64_t n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (uint64_t)(c - '0');
    }
    // Only the name the tools write counts, so that frame_7.png and
    // frame_0007.png are not the same frame twice.
    if (goldenFileName(n) != name) return std::nullopt;
    return n;
}

std::string _Join(const std::string &dir, const std::string &name) { return (fs::path(dir) / name).string(); }

// The frame dimmed, the differing pixels marked and the box outlined.
RgbaImage _DiffImage(const IndexedFrame &frame, const std::vector<bool> &differs, const FrameChange &change) {
    RgbaImage image;
    image.width = kScreenWidth;
    image.height = kScreenHeight;
    image.rgba.resize(kScreenPixels * 4);
    const Palette &palette = paletteOf(frame.mode);
    for (size_t i = 0; i < kScreenPixels; i++) {
        const Rgb c = differs[i] ? kDiffMark : palette[frame.index[i]];
        const int weight = differs[i] ? 10 : 4;   // tenths
        uint8_t *p = &image.rgba[i * 4];
        p[0] = (uint8_t)(c.r * weight / 10);
        p[1] = (uint8_t)(c.g * weight / 10);
        p[2] = (uint8_t)(c.b * weight / 10);
        p[3] = 0xFF;
    }
    auto outline = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= kScreenWidth || y >= kScreenHeight) return;
        uint8_t *p = image.pixel((uint32_t)x, (uint32_t)y);
        p[0] = kDiffBox.r;
        p[1] = kDiffBox.g;
        p[2] = kDiffBox.b;
    };
    for (int x = change.x0 - 1; x <= change.x1 + 1; x++) {
        outline(x, change.y0 - 1);
        outline(x, change.y1 + 1);
    }
    for (int y = change.y0; y <= change.y1; y++) {
        outline(change.x0 - 1, y);
        outline(change.x1 + 1, y);
    }
    return image;
}

}  // namespace

std::string goldenFileName(uint64_t frame) {
    char name[40];
    snprintf(name, sizeof name, "%s%04llu%s", kPrefix, (unsigned long long)frame, kSuffix);
    return name;
}

std::set<uint64_t> goldenFramesIn(const std::string &dir) {
    std::set<uint64_t> frames;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        if (auto n = _FrameOfName(it->path().filename().string())) frames.insert(*n);
    }
    return frames;
}

// ------------------------------------------------------------------ update

bool GoldenUpdate::begin(const std::string &dir, const FrameSelection &frames, std::string &error) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        error = "cannot create " + dir + ": " + ec.message();
        return false;
    }
    dir_ = dir;
    frames_ = frames;
    written_ = 0;
    return true;
}

bool GoldenUpdate::add(const IndexedFrame &frame, std::string &error) {
    if (!frames_.contains(frame.number)) return true;
    const std::string path = _Join(dir_, goldenFileName(frame.number));
    std::string why;
    if (!writeFramePalettePng(frame, path, why)) {
        error = "cannot write " + path + ": " + why;
        return false;
    }
    written_++;
    return true;
}

bool GoldenUpdate::finish(uint64_t framesShown, std::vector<std::string> &removed, std::string &error) {
    for (uint64_t n : goldenFramesIn(dir_)) {
        if (n < framesShown || !frames_.contains(n)) continue;
        const std::string path = _Join(dir_, goldenFileName(n));
        std::error_code ec;
        if (!fs::remove(path, ec) || ec) {
            error = "cannot remove " + path + ": " + ec.message();
            return false;
        }
        removed.push_back(path);
    }
    std::error_code ec;
    fs::remove_all(_Join(dir_, "diff"), ec);
    return true;
}

// ------------------------------------------------------------------- check

bool GoldenCheck::begin(const std::string &dir, const FrameSelection &frames, std::string &error) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        error = dir + " is no folder of golden frames (nimbra-golden update writes one)";
        return false;
    }
    dir_ = dir;
    diffDir_ = _Join(dir, "diff");
    frames_ = frames;
    golden_.clear();
    for (uint64_t n : goldenFramesIn(dir))
        if (frames.contains(n)) golden_.insert(n);
    compared_ = 0;
    // Old diff images would speak of another run.
    fs::remove_all(diffDir_, ec);
    if (ec) {
        error = "cannot remove " + diffDir_ + ": " + ec.message();
        return false;
    }
    return true;
}

std::optional<GoldenDifference> GoldenCheck::add(const IndexedFrame &frame) {
    if (!frames_.contains(frame.number)) return std::nullopt;
    compared_++;
    GoldenDifference d;
    d.frame = frame.number;
    if (!golden_.erase(frame.number)) {
        d.outcome = GoldenOutcome::Extra;
        return d;
    }
    RgbaImage golden;
    std::string why;
    if (!readPngRgba(_Join(dir_, goldenFileName(frame.number)), golden, why)) {
        d.outcome = GoldenOutcome::Unreadable;
        d.detail = why;
        return d;
    }
    if (golden.width != (uint32_t)kScreenWidth || golden.height != (uint32_t)kScreenHeight) {
        d.outcome = GoldenOutcome::Unreadable;
        d.detail = "it is " + std::to_string(golden.width) + " x " + std::to_string(golden.height) + ", not " +
                   std::to_string(kScreenWidth) + " x " + std::to_string(kScreenHeight);
        return d;
    }
    const Palette &palette = paletteOf(frame.mode);
    std::vector<bool> differs(kScreenPixels);
    for (size_t i = 0; i < kScreenPixels; i++) {
        const Rgb c = palette[frame.index[i]];
        const uint8_t *g = &golden.rgba[i * 4];
        if (g[0] == c.r && g[1] == c.g && g[2] == c.b && g[3] == 0xFF) continue;
        differs[i] = true;
        const int x = (int)(i % kScreenWidth), y = (int)(i / kScreenWidth);
        if (d.change.count++ == 0) {
            d.change.x0 = d.change.x1 = x;
            d.change.y0 = y;
        }
        d.change.x0 = std::min(d.change.x0, x);
        d.change.x1 = std::max(d.change.x1, x);
        d.change.y1 = y;
    }
    if (d.change.empty()) return std::nullopt;
    d.outcome = GoldenOutcome::Differs;
    std::error_code ec;
    fs::create_directories(diffDir_, ec);
    d.diffImage = _Join(diffDir_, goldenFileName(frame.number));
    if (ec || !writePngRgba(d.diffImage, _DiffImage(frame, differs, d.change), why)) {
        d.detail = "the diff image cannot be written: " + (ec ? ec.message() : why);
        d.diffImage.clear();
    }
    return d;
}

std::vector<GoldenDifference> GoldenCheck::finish() {
    std::vector<GoldenDifference> missing;
    for (uint64_t n : golden_) {
        GoldenDifference d;
        d.frame = n;
        d.outcome = GoldenOutcome::Missing;
        missing.push_back(d);
    }
    golden_.clear();
    return missing;
}

std::string describeGoldenDifference(const GoldenDifference &d, const std::string &dir, uint64_t framesShown) {
    const std::string frame = "frame " + std::to_string(d.frame) + ": ";
    switch (d.outcome) {
    case GoldenOutcome::Differs: {
        const FrameChange &c = d.change;
        std::string line = frame + std::to_string(c.count) + (c.count == 1 ? " pixel differs" : " pixels differ") +
                           ", in the box (" + std::to_string(c.x0) + ", " + std::to_string(c.y0) + ") to (" +
                           std::to_string(c.x1) + ", " + std::to_string(c.y1) + "), " +
                           std::to_string(c.x1 - c.x0 + 1) + " x " + std::to_string(c.y1 - c.y0 + 1);
        if (!d.diffImage.empty()) line += "; marked in " + d.diffImage;
        if (!d.detail.empty()) line += "; " + d.detail;
        return line;
    }
    case GoldenOutcome::Missing:
        return frame + "missing: " + _Join(dir, goldenFileName(d.frame)) + " is there, but the recording shows " +
               (framesShown == 1 ? "only frame 0" : "only frames 0 to " + std::to_string(framesShown - 1));
    case GoldenOutcome::Extra:
        return frame + "extra: the recording shows it, but " + dir + " has no " + goldenFileName(d.frame);
    case GoldenOutcome::Unreadable:
        return frame + _Join(dir, goldenFileName(d.frame)) + " cannot be compared: " + d.detail;
    }
    return frame;
}

}  // namespace nimbra
