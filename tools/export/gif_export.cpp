#include "tools/export/gif_export.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <gif_lib.h>
#include <unistd.h>

namespace nimbra {

namespace {

ColorMapObject *_ColourMap(PixelMode mode) {
    GifColorType colours[256];
    const Palette &palette = paletteOf(mode);
    for (int i = 0; i < 256; i++) colours[i] = {palette[i].r, palette[i].g, palette[i].b};
    return GifMakeMapObject(256, colours);
}

// The application extension that makes viewers loop the animation for ever.
bool _PutLoop(GifFileType *gif) {
    static const GifByteType name[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
    static const GifByteType loop[] = {1, 0, 0};   // sub-block 1, count 0: for ever
    return EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
           EGifPutExtensionBlock(gif, sizeof name, name) == GIF_OK &&
           EGifPutExtensionBlock(gif, sizeof loop, loop) == GIF_OK && EGifPutExtensionTrailer(gif) == GIF_OK;
}

}  // namespace

GifExport::~GifExport() { _Abandon(); }

void GifExport::_Abandon() {
    if (gif_) {
        int ignored;
        EGifCloseFile(gif_, &ignored);
        gif_ = nullptr;
    }
    if (!partial_.empty()) remove(partial_.c_str());
    partial_.clear();
}

bool GifExport::_Fail(const std::string &what, int gifError, std::string &error) {
    const char *reason = GifErrorString(gifError);
    error = "cannot write " + path_ + ": " + what + (reason ? std::string(" (") + reason + ")" : "");
    _Abandon();
    return false;
}

int GifExport::delayOf(uint64_t n, int fps) {
    return (int)(((n + 1) * 100 + (uint64_t)fps / 2) / (uint64_t)fps - (n * 100 + (uint64_t)fps / 2) / (uint64_t)fps);
}

bool GifExport::open(const std::string &path, const GifOptions &options, std::string &error) {
    _Abandon();
    if (options.fps < 1 || options.fps > 50 || options.scale < 1 || options.scale > 4) {
        error = "a GIF takes 1 to 50 frames per second and a scale of 1 to 4";
        return false;
    }
    options_ = options;
    path_ = path;
    partial_ = path + ".partial";
    count_ = 0;
    // Opened here rather than by giflib, which would make the file readable
    // by its owner only.
    const int fd = ::open(partial_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) {
        error = "cannot write " + path + ": " + strerror(errno);
        partial_.clear();
        return false;
    }
    int gifError = 0;
    gif_ = EGifOpenFileHandle(fd, &gifError);
    if (!gif_) {
        close(fd);
        return _Fail("cannot start the GIF", gifError, error);
    }
    EGifSetGifVersion(gif_, true);
    ColorMapObject *map = _ColourMap(PixelMode::Colour);
    const int ok = EGifPutScreenDesc(gif_, kScreenWidth * options.scale, kScreenHeight * options.scale, 8, 0, map);
    GifFreeMapObject(map);
    if (ok != GIF_OK || !_PutLoop(gif_)) return _Fail("cannot start the GIF", gif_->Error, error);
    return true;
}

bool GifExport::add(const IndexedFrame &frame, std::string &error) {
    if (!gif_) {
        error = "the GIF is not open";
        return false;
    }
    // The whole first frame; after it, the box of what changed (a frame
    // that changes nothing stores one pixel, so that it still takes its time).
    int x0 = 0, y0 = 0, x1 = kScreenWidth - 1, y1 = kScreenHeight - 1;
    if (count_ > 0) {
        const FrameChange change = compareFrames(previous_, frame);
        if (change.empty()) {
            x1 = x0;
            y1 = y0;
        } else {
            x0 = change.x0;
            y0 = change.y0;
            x1 = change.x1;
            y1 = change.y1;
        }
    }
    GraphicsControlBlock control{};
    control.DisposalMode = DISPOSE_DO_NOT;
    control.UserInputFlag = false;
    control.DelayTime = delayOf(count_, options_.fps);
    control.TransparentColor = NO_TRANSPARENT_COLOR;
    GifByteType extension[4];
    const size_t extensionBytes = EGifGCBToExtension(&control, extension);
    if (EGifPutExtension(gif_, GRAPHICS_EXT_FUNC_CODE, (int)extensionBytes, extension) != GIF_OK)
        return _Fail("cannot write frame " + std::to_string(count_), gif_->Error, error);

    const int s = options_.scale;
    const int width = (x1 - x0 + 1) * s, height = (y1 - y0 + 1) * s;
    ColorMapObject *local = frame.mode == PixelMode::Grey ? _ColourMap(PixelMode::Grey) : nullptr;
    const int described = EGifPutImageDesc(gif_, x0 * s, y0 * s, width, height, false, local);
    if (local) GifFreeMapObject(local);
    if (described != GIF_OK) return _Fail("cannot write frame " + std::to_string(count_), gif_->Error, error);
    pixels_.resize((size_t)width * height);
    uint8_t *out = pixels_.data();
    for (int y = y0; y <= y1; y++) {
        uint8_t *rowStart = out;
        const uint8_t *in = frame.index.data() + (size_t)y * kScreenWidth;
        for (int x = x0; x <= x1; x++)
            for (int k = 0; k < s; k++) *out++ = in[x];
        for (int k = 1; k < s; k++, out += width) std::copy(rowStart, rowStart + width, out);
    }
    // One call for all rows: the encoder takes the rectangle's pixels in order.
    if (EGifPutLine(gif_, pixels_.data(), (int)pixels_.size()) != GIF_OK)
        return _Fail("cannot write frame " + std::to_string(count_), gif_->Error, error);
    previous_.mode = frame.mode;
    previous_.index = frame.index;
    count_++;
    return true;
}

bool GifExport::finish(std::string &error) {
    if (!gif_) {
        error = "the GIF is not open";
        return false;
    }
    if (count_ == 0) {
        error = "no frame to write to " + path_;
        _Abandon();
        return false;
    }
    int gifError = 0;
    const int closed = EGifCloseFile(gif_, &gifError);
    gif_ = nullptr;
    if (closed != GIF_OK) return _Fail("cannot finish the file", gifError, error);
    if (rename(partial_.c_str(), path_.c_str()) != 0) {
        error = "cannot write " + path_ + ": " + strerror(errno);
        _Abandon();
        return false;
    }
    partial_.clear();
    return true;
}

}  // namespace nimbra
