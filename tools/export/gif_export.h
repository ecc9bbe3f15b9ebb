// Frames as an animated GIF (giflib): one global palette of the 256 RGB332
// colours, so that every colour is exact; a grey-mode frame carries a
// palette of 256 greys of its own. Each frame after the first stores only
// the rectangle that changed, drawn over the one before; the animation loops.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/hostlib/indexed_frame.h"

struct GifFileType;

namespace nimbra {

struct GifOptions {
    // Frames per second, 1 to 50: GIF delays are in hundredths of a second,
    // and browsers show delays under 2 hundredths as 10.
    int fps = 10;
    int scale = 1;   // each pixel as scale x scale, 1 to 4
};

class GifExport {
public:
    GifExport() = default;
    ~GifExport();   // an export not finished leaves no file
    GifExport(const GifExport &) = delete;
    GifExport &operator=(const GifExport &) = delete;

    bool open(const std::string &path, const GifOptions &options, std::string &error);
    bool add(const IndexedFrame &frame, std::string &error);
    // Ends the file and puts it under its name; false when it could not be
    // written (or holds no frame), and then there is no file.
    bool finish(std::string &error);

    // Hundredths of a second that frame `n` stays, so that frame n starts
    // at n / fps seconds rounded to the hundredth.
    static int delayOf(uint64_t n, int fps);

private:
    bool _Fail(const std::string &what, int gifError, std::string &error);
    void _Abandon();

    GifFileType *gif_ = nullptr;
    GifOptions options_;
    std::string path_, partial_;
    IndexedFrame previous_;
    uint64_t count_ = 0;
    std::vector<uint8_t> pixels_;   // the rectangle being written
};

}  // namespace nimbra
