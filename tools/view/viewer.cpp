// The viewer's logic: which frame is shown, what the keys do, the status
// lines, and the picture the window shows.
#include "tools/view/viewer.h"

#include <cstdio>
#include <unistd.h>

#include "tools/hostlib/reply_decoder.h"
#include "tools/hostlib/bitmap_font.h"

namespace nimbra::view {

namespace {

constexpr uint32_t kStatusBackground = 0xFF202428;
constexpr uint32_t kStatusText = 0xFFE8E8E8;
constexpr uint32_t kStatusRule = 0xFF505860;
constexpr int kStatusChars = kViewWidth / kCellWidth - 1;

std::string _Format(const char *format, double value) {
    char text[64];
    snprintf(text, sizeof text, format, value);
    return text;
}

// Long texts keep their start, except messages whose end matters more
// (a saved file's name).
std::string _Fit(const std::string &text, bool keepEnd) {
    if ((int)text.size() <= kStatusChars) return text;
    if (keepEnd) return "..." + text.substr(text.size() - (size_t)(kStatusChars - 3));
    return text.substr(0, (size_t)(kStatusChars - 3)) + "...";
}

// Grid lines darken light pixels and lighten dark ones, so that they show
// on any picture.
inline uint32_t _GridPixel(uint32_t argb) {
    uint32_t r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
    uint32_t light = r * 3 + g * 6 + b;
    uint32_t half = (argb >> 1) & 0x7F7F7F;
    return 0xFF000000u | (light >= 1280 ? half : half + 0x606060);
}

}  // namespace

Viewer::Viewer(Feed &feed, std::string saveDir) : feed_(feed), saveDir_(std::move(saveDir)) {}

bool Viewer::refresh(double nowSeconds) {
    const uint64_t count = feed_.frames.count();
    samples_.emplace_back(nowSeconds, count);
    while (samples_.size() > 2 && samples_[1].first <= nowSeconds - 1.0) samples_.pop_front();
    const double span = nowSeconds - samples_.front().first;
    fps_ = span > 0 ? (double)(count - samples_.front().second) / span : 0;
    if (paused_ || count == 0) return false;
    if (hasFrame_ && shown_.number == count - 1) return false;
    if (!feed_.frames.copy(count - 1, shown_)) return false;
    hasFrame_ = true;
    return true;
}

void Viewer::press(Key key) {
    switch (key) {
    case Key::Pause:
        paused_ = !paused_;
        message_ = paused_ ? "paused: left and right step through the last " +
                                 std::to_string(feed_.frames.capacity()) + " frames, space resumes"
                           : "";
        break;
    case Key::Previous:
    case Key::Next:
        if (!paused_) {
            message_ = "pause (space) to step through the frames";
        } else {
            _Step(key == Key::Next ? 1 : -1);
        }
        break;
    case Key::Save: {
        if (!hasFrame_) {
            message_ = "no frame to save yet";
            break;
        }
        std::string path = freeFramePath(saveDir_, shown_.number);
        std::string error;
        message_ = snapshot(path, error) ? "saved " + path : error;
        break;
    }
    case Key::Grid:
        grid_ = !grid_;
        break;
    case Key::Quit:
        quit_ = true;
        break;
    }
}

void Viewer::_Step(int direction) {
    if (!hasFrame_) return;
    const uint64_t count = feed_.frames.count();
    const uint64_t oldest = feed_.frames.oldest();
    if (direction < 0) {
        if (shown_.number == 0 || shown_.number - 1 < oldest || !feed_.frames.copy(shown_.number - 1, shown_)) {
            message_ = "this is the oldest frame held";
            return;
        }
    } else {
        if (shown_.number + 1 >= count) {
            message_ = "this is the newest frame";
            return;
        }
        // Frames the ring has dropped since are skipped.
        uint64_t target = shown_.number + 1 < oldest ? oldest : shown_.number + 1;
        if (!feed_.frames.copy(target, shown_)) feed_.frames.copy(feed_.frames.oldest(), shown_);
    }
    message_.clear();
}

void Viewer::pointAt(int windowX, int windowY, int scale) {
    if (scale < 1 || windowX < 0 || windowY < 0) {
        leave();
        return;
    }
    // At scale 2 and more a window pixel can be finer than a pixel: the half
    // pixel comes from the window position, not from the pixel.
    const int xh = windowX * 2 / scale, yh = windowY * 2 / scale;
    pointerInside_ = xh < kScreenWidth * 2 && yh < kScreenHeight * 2;
    pointerXh_ = xh;
    pointerYh_ = yh;
}

void Viewer::leave() { pointerInside_ = false; }

std::vector<std::string> Viewer::statusLines() const {
    const FeedStatus status = feed_.status();
    std::string first;
    if (hasFrame_) {
        first = "frame " + std::to_string(shown_.number) + "   bytes " + std::to_string(shown_.processedBytes) +
                "   " + _Format("%.1f fps", fps_);
        if (shown_.mode == PixelMode::Grey) first += "   grey";
        if (shown_.mode == PixelMode::Approximate) first += "   not a device frame";
    } else {
        first = "waiting for the first frame";
    }
    if (paused_) first += "   PAUSED";
    if (grid_) first += "   grid";
    if (pointerInside_ && hasFrame_) {
        const int x = pointerXh_ / 2, y = pointerYh_ / 2;
        char text[96];
        snprintf(text, sizeof text, "   x %d y %d  xh %d yh %d  index 0x%02X", x, y, pointerXh_, pointerYh_,
                 shown_.index[(size_t)y * kScreenWidth + x]);
        first += text;
    }
    std::string second = status.replies == 0
                             ? "no reply yet"
                             : "reply " + std::to_string(status.replies) + ": " +
                                   describeReply(status.lastReply.data(), status.lastReply.size());
    std::string third = !message_.empty() ? message_ : status.ended ? status.endMessage : status.note;
    return {_Fit(first, false), _Fit(second, false), _Fit(third, true)};
}

bool Viewer::snapshot(const std::string &path, std::string &error) const {
    if (!hasFrame_) {
        error = "no frame to write to " + path;
        return false;
    }
    if (!writeIndexedFramePng(shown_, path)) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

void composeView(const Viewer &viewer, uint32_t *image) {
    const IndexedFrame *frame = viewer.shown();
    if (frame && frame->index.size() == kPixels) {
        uint32_t palette[256];
        for (int i = 0; i < 256; i++) palette[i] = 0xFF000000u | pixelRgb(frame->mode, (uint8_t)i);
        const uint8_t *index = frame->index.data();
        for (size_t i = 0; i < kPixels; i++) image[i] = palette[index[i]];
    } else {
        for (size_t i = 0; i < kPixels; i++) image[i] = 0xFF000000u;
    }
    if (viewer.grid()) {
        for (int y = 0; y < kScreenHeight; y++) {
            uint32_t *row = image + (size_t)y * kViewWidth;
            if (y % kGridStep == 0) {
                for (int x = 0; x < kScreenWidth; x++) row[x] = _GridPixel(row[x]);
            } else {
                for (int x = 0; x < kScreenWidth; x += kGridStep) row[x] = _GridPixel(row[x]);
            }
        }
    }
    uint32_t *status = image + kPixels;
    for (size_t i = 0; i < (size_t)kViewWidth * kStatusHeight; i++) status[i] = kStatusBackground;
    for (int x = 0; x < kViewWidth; x++) status[x] = kStatusRule;
    int y = kScreenHeight + 3;
    for (const std::string &line : viewer.statusLines()) {
        drawText(image, kViewWidth, kViewHeight, 3, y, line, kStatusText);
        y += kCellHeight;
    }
}

std::string freeFramePath(const std::string &dir, uint64_t number) {
    char name[64];
    snprintf(name, sizeof name, "nimbra-view-%04llu", (unsigned long long)number);
    std::string base = (dir.empty() ? std::string(".") : dir) + "/" + name;
    std::string path = base + ".png";
    for (int n = 2; access(path.c_str(), F_OK) == 0; n++) path = base + "-" + std::to_string(n) + ".png";
    return path;
}

}  // namespace nimbra::view
