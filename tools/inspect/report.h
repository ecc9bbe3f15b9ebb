// The inspector's report: a recording run on the device core, written as a
// static page with its images, usable offline in any browser.
//
//   DIR/index.html             the page: a strip of thumbnails, the selected
//                              frame, its commands, replies and log lines
//   DIR/report.css, report.js  its style and script
//   DIR/thumbs/frame_N.png     each frame's thumbnail, a quarter of its size
//   DIR/data/frame_N.js        frame N's commands, replies, log lines and
//                              picture (a palette PNG), loaded when the
//                              frame is shown
//   DIR/data/after.js          what ran after the last frame, if anything
//
// The page loads only what it shows, so a report of ten thousand frames
// opens at once.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "tools/hostlib/nimbra_host.h"

namespace nimbra {

struct ReportOptions {
    std::string title;   // shown on the page: the recording's name
    // Told the recording bytes run so far.
    std::function<void(size_t done, size_t total)> progress;
};

struct ReportSummary {
    uint64_t frames = 0;
    uint64_t commands = 0;
    bool stoppedReading = false;   // the end-of-stream command ended the run
    std::string page;              // DIR/index.html
};

// Runs the recording and writes its report into `dir`: created when missing;
// an earlier report there is replaced; a folder that holds anything else is
// refused, so that nothing of the user's is overwritten.
bool writeReport(const Bytes &recording, const std::string &dir, const ReportOptions &options,
                 ReportSummary &summary, std::string &error);

// "frame_0007": the name of frame 7's files in the report.
std::string reportFrameName(uint64_t frame);

}  // namespace nimbra
