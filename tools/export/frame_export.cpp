#include "tools/export/frame_export.h"

#include <cstdio>
#include <filesystem>

#include "tools/hostlib/palette_png.h"

namespace nimbra {

bool FrameExport::open(const FrameExportOptions &options, std::string &error) {
    options_ = options;
    exported_ = 0;
    if (options.pngs && !options.pngDir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(options.pngDir, ec);
        if (ec) {
            error = "cannot create " + options.pngDir + ": " + ec.message();
            return false;
        }
    }
    return (options.gif.empty() || gif_.open(options.gif, options.gifOptions, error)) &&
           (options.video.empty() || video_.open(options.video, options.videoOptions, error)) &&
           (options.sheet.empty() || sheet_.open(options.sheet, options.sheetOptions, error));
}

std::string FrameExport::pngPath(uint64_t frame) const {
    char number[24];
    snprintf(number, sizeof number, "%04llu.png", (unsigned long long)frame);
    const std::string name = options_.pngPrefix + number;
    return options_.pngDir.empty() ? name : (std::filesystem::path(options_.pngDir) / name).string();
}

bool FrameExport::add(const IndexedFrame &frame, std::string &error) {
    if (!options_.frames.contains(frame.number)) return true;
    if (options_.pngs) {
        const std::string path = pngPath(frame.number);
        std::string why;
        if (!writeFramePalettePng(frame, path, why)) {
            error = "cannot write " + path + ": " + why;
            return false;
        }
    }
    if ((!options_.gif.empty() && !gif_.add(frame, error)) ||
        (!options_.video.empty() && !video_.add(frame, error)) ||
        (!options_.sheet.empty() && !sheet_.add(frame, error)))
        return false;
    exported_++;
    return true;
}

bool FrameExport::finish(std::string &error) {
    // An empty stream gives no PNG files, which is no mistake; the other
    // outputs cannot be made of nothing, and a selection that matches
    // nothing is a mistake.
    const bool needsFrames = !options_.frames.all() || !options_.gif.empty() || !options_.video.empty() ||
                             !options_.sheet.empty();
    if (exported_ == 0 && needsFrames) {
        error = options_.frames.all() ? "there is no frame" : "none of the frames asked for is there";
        return false;
    }
    if (exported_ == 0) return true;
    return (options_.gif.empty() || gif_.finish(error)) && (options_.video.empty() || video_.finish(error)) &&
           (options_.sheet.empty() || sheet_.finish(error));
}

}  // namespace nimbra
