// Everything nimbra-frames writes from one run of frames, in one pass: a PNG
// file per frame, an animated GIF, an MP4 video and a contact sheet, each of
// the selected frames.
#pragma once
#include <cstdint>
#include <string>

#include "tools/export/contact_sheet.h"
#include "tools/export/gif_export.h"
#include "tools/export/video_export.h"
#include "tools/hostlib/frame_selection.h"

namespace nimbra {

struct FrameExportOptions {
    FrameSelection frames;
    bool pngs = false;                        // a palette PNG per frame
    std::string pngDir, pngPrefix = "frame_";  // DIR/PREFIXNNNN.png
    std::string gif;                          // empty: none
    GifOptions gifOptions;
    std::string video;
    VideoOptions videoOptions;
    std::string sheet;
    SheetOptions sheetOptions;
};

class FrameExport {
public:
    bool open(const FrameExportOptions &options, std::string &error);
    // Writes the frame where it goes, when it is selected.
    bool add(const IndexedFrame &frame, std::string &error);
    // Ends the GIF, video and sheet. False when one cannot be written, or
    // when no frame was selected.
    bool finish(std::string &error);
    // False once no later frame than `next` is selected.
    bool wants(uint64_t next) const { return !options_.frames.endsBefore(next); }
    uint64_t exported() const { return exported_; }
    // The PNG file of a frame.
    std::string pngPath(uint64_t frame) const;

private:
    FrameExportOptions options_;
    GifExport gif_;
    VideoExport video_;
    ContactSheet sheet_;
    uint64_t exported_ = 0;
};

}  // namespace nimbra
