// The report's files, written while the recording runs: a frame's images
// the moment it is shown, its data file once its commands are complete, and
// the page itself at the end, when the number of frames is known.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <atomic>
#include <map>

#include "tools/export/frame_pictures.h"
#include "tools/hostlib/file_io.h"
#include "tools/hostlib/palette_png.h"
#include "tools/inspect/command_timeline.h"
#include "tools/inspect/job_queue.h"
#include "tools/inspect/report.h"
#include "tools/inspect/report_json.h"
#include "tools/inspect/report_page.h"

namespace fs = std::filesystem;

namespace nimbra {

namespace {

// Marks a folder as a report, so that writing one again may replace it.
constexpr const char *kGeneratorMark = "<meta name=\"generator\" content=\"nimbra-inspect\">";
constexpr const char *kSubfolders[] = {"thumbs", "data"};
constexpr int kThumbnailShrink = 4;
// Thumbnails the page names directly, as many as a wide window shows.
constexpr size_t kThumbnailsInPage = 16;

struct FrameSummary {
    uint32_t processedBytes = 0;
    PixelMode mode = PixelMode::Colour;
    FrameChange change;
    size_t commands = 0;
};

std::string _HtmlText(const std::string &text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string _Replace(std::string text, const std::string &placeholder, const std::string &value) {
    for (size_t at = 0; (at = text.find(placeholder, at)) != std::string::npos; at += value.size())
        text.replace(at, placeholder.size(), value);
    return text;
}

const char *_StateName(CommandState state) {
    switch (state) {
    case CommandState::StartUp: return "start-up";
    case CommandState::Ran: return "ran";
    case CommandState::Stopped: return "stopped";
    case CommandState::NotRun: return "not-run";
    }
    return "ran";
}

void _AppendCommands(std::string &out, const FrameCommands &list) {
    out += "\"commands\":[";
    for (size_t i = 0; i < list.commands.size(); i++) {
        const CommandEntry &c = list.commands[i];
        if (i) out += ',';
        out += "{\"state\":\"";
        out += _StateName(c.state);
        out += '"';
        if (c.state != CommandState::StartUp) out += ",\"offset\":" + std::to_string(c.offset);
        out += ",\"text\":";
        appendJsonText(out, c.text);
        if (!c.note.empty()) {
            out += ",\"note\":";
            appendJsonText(out, c.note);
        }
        out += ",\"replies\":[";
        for (size_t r = 0; r < c.replies.size(); r++) {
            out += r ? ",[" : "[";
            appendJsonText(out, c.replies[r].text);
            out += ',';
            appendJsonText(out, c.replies[r].hex);
            out += ']';
        }
        out += "],\"repliesLeftOut\":" + std::to_string(c.repliesLeftOut) + ",\"log\":";
        appendJsonText(out, c.log);
        out += ",\"logLeftOut\":" + std::to_string(c.logBytesLeftOut) + ",\"frames\":[";
        for (size_t f = 0; f < c.frames.size(); f++) out += (f ? "," : "") + std::to_string(c.frames[f]);
        out += "]}";
    }
    out += "],\"leftOut\":" + std::to_string(list.leftOut) + ",\"leftOutAt\":" + std::to_string(list.leftOutAt);
}

// Brings `dir` to an empty state for a new report.
bool _PrepareFolder(const std::string &dir, std::string &error) {
    std::error_code ec;
    if (fs::exists(dir, ec) && !fs::is_directory(dir, ec)) {
        error = dir + " is a file, not a folder";
        return false;
    }
    if (fs::is_directory(dir, ec) && !fs::is_empty(dir, ec)) {
        // A folder without a page (or with an unreadable one) is no earlier report.
        const Bytes page = loadFile((fs::path(dir) / "index.html").string()).value_or(Bytes());
        if (std::string(page.begin(), page.end()).find(kGeneratorMark) == std::string::npos) {
            error = dir + " holds other files and no earlier report: give a new or empty folder";
            return false;
        }
        for (const char *sub : kSubfolders) fs::remove_all(fs::path(dir) / sub, ec);
        for (size_t i = 0; i < kReportPageFileCount; i++) fs::remove(fs::path(dir) / kReportPageFiles[i].name, ec);
    }
    for (const char *sub : kSubfolders) {
        fs::create_directories(fs::path(dir) / sub, ec);
        if (ec) {
            error = "cannot create " + (fs::path(dir) / sub).string() + ": " + ec.message();
            return false;
        }
    }
    return true;
}

// The files, written on the job queue's thread: everything here but the
// failure flag belongs to that thread until the queue is drained.
class ReportFiles {
public:
    explicit ReportFiles(const std::string &dir) : dir_(dir) {}

    // A frame's thumbnail; its picture is kept for its data file. The
    // picture is not a file of its own as well: the page needs its pixels,
    // which a page opened from disk may read from its data but not from
    // an image file, and a second copy would double the report's size.
    void frameImages(const IndexedFrame &frame) {
        if (failed()) return;
        const std::string name = reportFrameName(frame.number);
        FrameSummary summary;
        summary.processedBytes = frame.processedBytes;
        summary.mode = frame.mode;

        Bytes &png = pendingPng_[frame.number];
        std::string why;
        if (!encodeFramePng(frame, png, why)) {
            _Failed("data/" + name + ".js", why);
            return;
        }

        const std::vector<uint8_t> thumb = shrinkFrameIndices(frame, kThumbnailShrink);
        PaletteImage thumbImage;
        thumbImage.width = kScreenWidth / kThumbnailShrink;
        thumbImage.height = kScreenHeight / kThumbnailShrink;
        thumbImage.index = thumb.data();
        thumbImage.colours = paletteOf(frame.mode).data();
        Bytes encoded;
        if (!encodePalettePng(thumbImage, encoded, why)) {
            _Failed("thumbs/" + name + ".png", why);
            return;
        }
        if (!_Save("thumbs/" + name + ".png", encoded)) return;

        // The page marks the changed pixels itself, from this frame's
        // pixels and the previous one's; the count and the box are told.
        if (frame.number > 0) summary.change = compareFrames(previous_, frame);
        previous_.mode = frame.mode;
        previous_.index = frame.index;
        frames_.push_back(summary);
    }

    // A frame's data file: its commands (JSON members, without the braces)
    // and its pixels.
    void frameData(uint64_t frame, std::string js, size_t commands) {
        if (failed()) return;
        const Bytes &png = pendingPng_[frame];
        js += ",\"png\":\"";
        appendBase64(js, png.data(), png.size());
        js += "\"});\n";
        pendingPng_.erase(frame);
        if (frame < frames_.size()) frames_[frame].commands = commands;
        _Save("data/" + reportFrameName(frame) + ".js", js);
    }

    void afterData(const std::string &js, size_t commands) {
        if (failed()) return;
        afterCommands_ = commands;
        _Save("data/after.js", js);
    }

    // The page, once every frame is known.
    bool page(const ReportOptions &options, size_t recordingBytes, bool stoppedReading, std::string &page) {
        if (failed()) return false;
        std::string summary = "{\"title\":";
        appendJsonText(summary, options.title);
        summary += ",\"bytes\":" + std::to_string(recordingBytes) +
                   ",\"stoppedReading\":" + (stoppedReading ? "true" : "false") +
                   ",\"after\":" + std::to_string(afterCommands_) + ",\"frames\":[";
        std::string strip;
        strip.reserve(frames_.size() * 160);
        for (size_t n = 0; n < frames_.size(); n++) {
            const FrameSummary &f = frames_[n];
            const FrameChange &c = f.change;
            summary += (n ? ",[" : "[") + std::to_string(f.processedBytes) + "," +
                       (f.mode == PixelMode::Grey ? "1" : "0") + "," + std::to_string(c.count) + "," +
                       std::to_string(c.x0) + "," + std::to_string(c.y0) + "," + std::to_string(c.x1) + "," +
                       std::to_string(c.y1) + "," + std::to_string(f.commands) + "]";
            const std::string number = std::to_string(n), name = reportFrameName(n);
            // The first thumbnails are there without scripts; the page's
            // script loads the others as they scroll into the strip (a
            // browser's own lazy loading does not look at where they are
            // inside a strip, and would load every one of them at once).
            const char *source = n < kThumbnailsInPage ? "\" src=\"thumbs/" : "\" data-src=\"thumbs/";
            strip += "<a class=\"thumb\" data-frame=\"" + number + "\" href=\"#" + number + "\" title=\"frame " +
                     number + "\"><img width=\"160\" height=\"100\" alt=\"\"" + source + name + ".png\"><span>" +
                     number + "</span></a>\n";
        }
        summary += "]}";
        // The summary sits in a script element, which "</" would end.
        for (size_t at = 0; (at = summary.find("</", at)) != std::string::npos; at += 3) summary.replace(at, 2, "<\\/");
        for (size_t i = 0; i < kReportPageFileCount; i++) {
            std::string text = kReportPageFiles[i].text;
            if (std::string(kReportPageFiles[i].name) == "index.html") {
                text = _Replace(text, "@GENERATOR@", kGeneratorMark);
                text = _Replace(text, "@TITLE@", _HtmlText(options.title));
                text = _Replace(text, "@SUMMARY@", summary);
                text = _Replace(text, "@STRIP@", strip);
            }
            if (!_Save(kReportPageFiles[i].name, text)) return false;
        }
        page = (fs::path(dir_) / "index.html").string();
        return true;
    }

    bool failed() const { return failed_.load(std::memory_order_acquire); }
    // What failed; read once the queue is drained.
    const std::string &error() const { return error_; }

private:
    // Files are written in place: the folder is the report's own, and a
    // report cut short is no report anyway (tens of thousands of files are
    // written, and a rename each would double the work of the file system).
    bool _Save(const std::string &name, const void *data, size_t n) {
        const std::string path = _Path(name);
        FILE *f = fopen(path.c_str(), "wb");
        if (!f) return _Failed(name, strerror(errno));
        const bool written = n == 0 || fwrite(data, 1, n, f) == n;
        const int savedErrno = errno;
        if (fclose(f) != 0 || !written) return _Failed(name, strerror(written ? errno : savedErrno));
        return true;
    }
    bool _Save(const std::string &name, const Bytes &data) { return _Save(name, data.data(), data.size()); }
    bool _Save(const std::string &name, const std::string &text) { return _Save(name, text.data(), text.size()); }
    std::string _Path(const std::string &name) const { return (fs::path(dir_) / name).string(); }
    bool _Failed(const std::string &name, const std::string &why) {
        if (!failed()) {
            error_ = "cannot write " + _Path(name) + ": " + why;
            failed_.store(true, std::memory_order_release);
        }
        return false;
    }

    std::string dir_;
    std::string error_;
    std::atomic<bool> failed_{false};
    std::vector<FrameSummary> frames_;
    std::map<uint64_t, Bytes> pendingPng_;   // frames shown whose data file is not written yet
    IndexedFrame previous_;
    size_t afterCommands_ = 0;
};

// Hands the frames and command lists of the run to the files' thread.
class ReportWriter : public TimelineSink {
public:
    explicit ReportWriter(const std::string &dir) : files_(dir), queue_(kQueuedJobs) {}

    void frameShown(const IndexedFrame &frame) override {
        queue_.post([this, copy = frame] { files_.frameImages(copy); });
    }

    void frameCommands(uint64_t frame, const FrameCommands &list) override {
        std::string js = "nimbraReport.frameData(" + std::to_string(frame) + ",{";
        _AppendCommands(js, list);
        const size_t count = list.commands.size() + list.leftOut;
        queue_.post([this, frame, js = std::move(js), count]() mutable { files_.frameData(frame, std::move(js), count); });
    }

    void afterLastFrame(const FrameCommands &list) override {
        std::string js = "nimbraReport.afterData({";
        _AppendCommands(js, list);
        js += "});\n";
        const size_t count = list.commands.size() + list.leftOut;
        queue_.post([this, js = std::move(js), count] { files_.afterData(js, count); });
    }

    bool failed() const { return files_.failed(); }

    bool finish(const ReportOptions &options, size_t recordingBytes, bool stoppedReading, std::string &page,
                std::string &error) {
        queue_.drain();
        if (files_.page(options, recordingBytes, stoppedReading, page)) return true;
        error = files_.error();
        return false;
    }

private:
    // Frames waiting to be written (a quarter of a megabyte each).
    static constexpr size_t kQueuedJobs = 16;

    ReportFiles files_;
    JobQueue queue_;
};

// The timeline, stopping the run once a file cannot be written.
class ReportRun : public CommandTimeline {
public:
    ReportRun(const uint8_t *recording, ReportWriter &writer, const ReportOptions &options)
        : CommandTimeline(recording, writer), writer_(writer), options_(options) {}
    bool wantsMore() override { return !writer_.failed(); }
    void progress(size_t done, size_t total) override {
        if (options_.progress) options_.progress(done, total);
    }

private:
    ReportWriter &writer_;
    const ReportOptions &options_;
};

}  // namespace

std::string reportFrameName(uint64_t frame) {
    char name[32];
    snprintf(name, sizeof name, "frame_%04llu", (unsigned long long)frame);
    return name;
}

bool writeReport(const Bytes &recording, const std::string &dir, const ReportOptions &options,
                 ReportSummary &summary, std::string &error) {
    summary = ReportSummary{};
    if (!_PrepareFolder(dir, error)) return false;
    ReportWriter writer(dir);
    ReportRun run(recording.data(), writer, options);
    RunSummary ran;
    if (!runRecording(recording.data(), recording.size(), run, RunOptions{}, ran, error)) return false;
    run.finish();
    if (!writer.finish(options, recording.size(), ran.stoppedReading, summary.page, error)) return false;
    summary.frames = ran.frames;
    summary.commands = run.commands();
    summary.stoppedReading = ran.stoppedReading;
    return true;
}

}  // namespace nimbra
