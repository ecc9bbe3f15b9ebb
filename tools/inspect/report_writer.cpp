// The report's files, written while the recording runs: a frame's images
// the moment it is shown, its data file once its commands are complete, and
// the page itself at the end, when the number of frames is known.
#include <cstdio>
#include <filesystem>
#include <map>

#include "tools/export/frame_pictures.h"
#include "tools/hostlib/file_io.h"
#include "tools/hostlib/palette_png.h"
#include "tools/inspect/command_timeline.h"
#include "tools/inspect/report.h"
#include "tools/inspect/report_json.h"
#include "tools/inspect/report_page.h"

namespace fs = std::filesystem;

namespace nimbra {

namespace {

// Marks a folder as a report, so that writing one again may replace it.
constexpr const char *kGeneratorMark = "<meta name=\"generator\" content=\"nimbra-inspect\">";
constexpr const char *kSubfolders[] = {"frames", "thumbs", "changes", "data"};
constexpr int kThumbnailShrink = 4;
// The overlay of changed pixels darkens the pixels that stayed (index 0)
// and tints the changed ones (index 1) magenta, lightly enough that they
// keep their colours, so that a change to black shows as well.
constexpr Rgb kOverlayColours[2] = {{0, 0, 0}, {0xFF, 0x00, 0xFF}};
constexpr uint8_t kOverlayAlpha[2] = {0xA0, 0x60};

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
        const Bytes page = readFile((fs::path(dir) / "index.html").string());
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

class ReportWriter : public TimelineSink {
public:
    ReportWriter(const std::string &dir, const ReportOptions &options) : dir_(dir), options_(options) {}

    void frameShown(const IndexedFrame &frame) override {
        if (!error_.empty()) return;
        const std::string name = reportFrameName(frame.number);
        FrameSummary summary;
        summary.processedBytes = frame.processedBytes;
        summary.mode = frame.mode;

        Bytes &png = pendingPng_[frame.number];
        std::string why;
        if (!encodeFramePng(frame, png, why) || !_Save("frames/" + name + ".png", png)) return;

        const std::vector<uint8_t> thumb = shrinkFrameIndices(frame, kThumbnailShrink);
        PaletteImage thumbImage;
        thumbImage.width = kScreenWidth / kThumbnailShrink;
        thumbImage.height = kScreenHeight / kThumbnailShrink;
        thumbImage.index = thumb.data();
        thumbImage.colours = paletteOf(frame.mode).data();
        Bytes encoded;
        if (!encodePalettePng(thumbImage, encoded, why) || !_Save("thumbs/" + name + ".png", encoded)) return;

        if (frame.number > 0) {
            summary.change = compareFrames(previous_, frame, &mask_);
            if (!summary.change.empty()) {
                PaletteImage overlay;
                overlay.width = kScreenWidth;
                overlay.height = kScreenHeight;
                overlay.index = mask_.data();
                overlay.colours = kOverlayColours;
                overlay.colourCount = 2;
                overlay.alpha = kOverlayAlpha;
                overlay.alphaCount = 2;
                if (!encodePalettePng(overlay, encoded, why) || !_Save("changes/" + name + ".png", encoded))
                    return;
            }
        }
        previous_.mode = frame.mode;
        previous_.index = frame.index;
        frames_.push_back(summary);
    }

    void frameCommands(uint64_t frame, const FrameCommands &list) override {
        if (!error_.empty()) return;
        std::string js = "nimbraReport.frameData(" + std::to_string(frame) + ",{";
        _AppendCommands(js, list);
        const Bytes &png = pendingPng_[frame];
        js += ",\"png\":\"";
        appendBase64(js, png.data(), png.size());
        js += "\"});\n";
        pendingPng_.erase(frame);
        if (frame < frames_.size()) frames_[frame].commands = list.commands.size() + list.leftOut;
        _Save("data/" + reportFrameName(frame) + ".js", js);
    }

    void afterLastFrame(const FrameCommands &list) override {
        if (!error_.empty()) return;
        afterCommands_ = list.commands.size() + list.leftOut;
        std::string js = "nimbraReport.afterData({";
        _AppendCommands(js, list);
        js += "});\n";
        _Save("data/after.js", js);
    }

    // The page, once every frame is known.
    bool finish(size_t recordingBytes, bool stoppedReading, std::string &page) {
        if (!error_.empty()) return false;
        std::string summary = "{\"title\":";
        appendJsonText(summary, options_.title);
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
            strip += "<a class=\"thumb\" data-frame=\"" + number + "\" href=\"#" + number + "\" title=\"frame " +
                     number + "\"><img loading=\"lazy\" width=\"160\" height=\"100\" src=\"thumbs/" + name +
                     ".png\" alt=\"\"><span>" + number + "</span></a>\n";
        }
        summary += "]}";
        // The summary sits in a script element, which "</" would end.
        for (size_t at = 0; (at = summary.find("</", at)) != std::string::npos; at += 3) summary.replace(at, 2, "<\\/");
        for (size_t i = 0; i < kReportPageFileCount; i++) {
            std::string text = kReportPageFiles[i].text;
            if (std::string(kReportPageFiles[i].name) == "index.html") {
                text = _Replace(text, "@GENERATOR@", kGeneratorMark);
                text = _Replace(text, "@TITLE@", _HtmlText(options_.title));
                text = _Replace(text, "@SUMMARY@", summary);
                text = _Replace(text, "@STRIP@", strip);
            }
            if (!_Save(kReportPageFiles[i].name, text)) return false;
        }
        page = (fs::path(dir_) / "index.html").string();
        return true;
    }

    const std::string &error() const { return error_; }

private:
    bool _Save(const std::string &name, const Bytes &data) {
        std::string why;
        return saveBinary(_Path(name), data, why) || _Failed(name, why);
    }
    bool _Save(const std::string &name, const std::string &text) {
        std::string why;
        return saveFile(_Path(name), text, why) || _Failed(name, why);
    }
    std::string _Path(const std::string &name) const { return (fs::path(dir_) / name).string(); }
    bool _Failed(const std::string &name, const std::string &why) {
        if (error_.empty()) error_ = "cannot write " + _Path(name) + ": " + why;
        return false;
    }

    std::string dir_;
    ReportOptions options_;
    std::string error_;
    std::vector<FrameSummary> frames_;
    std::map<uint64_t, Bytes> pendingPng_;   // frames shown whose commands are not complete
    IndexedFrame previous_;
    std::vector<uint8_t> mask_;
    size_t afterCommands_ = 0;
};

// The timeline, stopping the run once a file cannot be written.
class ReportRun : public CommandTimeline {
public:
    ReportRun(const uint8_t *recording, ReportWriter &writer, const ReportOptions &options)
        : CommandTimeline(recording, writer), writer_(writer), options_(options) {}
    bool wantsMore() override { return writer_.error().empty(); }
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
    ReportWriter writer(dir, options);
    ReportRun run(recording.data(), writer, options);
    RunSummary ran;
    if (!runRecording(recording.data(), recording.size(), run, RunOptions{}, ran, error)) return false;
    run.finish();
    if (!writer.finish(recording.size(), ran.stoppedReading, summary.page)) {
        error = writer.error();
        return false;
    }
    summary.frames = ran.frames;
    summary.commands = run.commands();
    summary.stoppedReading = ran.stoppedReading;
    return true;
}

}  // namespace nimbra
