// Frame exports read back: the GIF with giflib, the contact sheet with
// libpng, the video with ffmpeg. Every pixel must come back as the colour
// the device showed (the video made for browsers within a few levels).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <gif_lib.h>

#include "host/main.h"
#include "host/platform.h"
#include "tools/export/contact_sheet.h"
#include "tools/export/gif_export.h"
#include "tools/export/video_export.h"
#include "tools/hostlib/file_io.h"
#include "tools/hostlib/png_files.h"
#include "tools/run/recording_run.h"
#include "tests/support/tool_process.h"

namespace fs = std::filesystem;
using nimbra::IndexedFrame;
using nimbra::PixelMode;
using nimbra::Rgb;

namespace {

struct Collect : nimbra::RunObserver {
    std::vector<IndexedFrame> frames;
    void frame(const IndexedFrame &f) override { frames.push_back(f); }
};

// The demo's frames, run once in this process.
const std::vector<IndexedFrame> &demoFrames() {
    static const std::vector<IndexedFrame> frames = [] {
        std::string error;
        const auto recording = nimbra::loadRecording(std::string(NIMBRA_SOURCE_DIR) + "/examples/demo.rec", error);
        Collect collect;
        nimbra::RunSummary summary;
        nimbra::RunOptions options;
        options.log = false;
        if (!recording || !nimbra::runRecording(recording->data(), recording->size(), collect, options, summary, error))
            ADD_FAILURE() << error;
        SIM_ResetDevice();
        return collect.frames;
    }();
    return frames;
}

// A grey frame after a colour one, differing in a small box: the GIF stores
// it with a palette of its own.
std::vector<IndexedFrame> colourThenGrey() {
    IndexedFrame colour, grey;
    colour.index.resize(nimbra::kScreenPixels);
    for (size_t i = 0; i < colour.index.size(); i++) colour.index[i] = (uint8_t)(i * 7 + i / 640);
    grey = colour;
    grey.number = 1;
    grey.mode = PixelMode::Grey;
    // Where the grey byte's colour equals the RGB332 colour (black and
    // white), the frames agree; elsewhere the grey frame is new.
    for (size_t i = 0; i < grey.index.size(); i++) grey.index[i] = (colour.index[i] == 0xFF) ? 0xFF : 0;
    for (int y = 300; y < 310; y++)
        for (int x = 600; x < 640; x++) grey.index[(size_t)y * 640 + x] = (uint8_t)(x + y);
    return {colour, grey};
}

fs::path scratch(const std::string &name) {
    const fs::path dir = fs::path(NIMBRA_BINARY_DIR) / "frame_export_test" / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// Plays the GIF's images over each other as a viewer does (every image is
// drawn over the last, nothing disposed) and checks each screen against
// the frame it was made from, pixel by pixel.
void expectGifShows(const std::string &path, const std::vector<IndexedFrame> &frames, int scale) {
    int error = 0;
    GifFileType *gif = DGifOpenFileName(path.c_str(), &error);
    ASSERT_NE(gif, nullptr) << GifErrorString(error);
    ASSERT_EQ(DGifSlurp(gif), GIF_OK) << GifErrorString(gif->Error);
    ASSERT_EQ(gif->SWidth, 640 * scale);
    ASSERT_EQ(gif->SHeight, 400 * scale);
    ASSERT_EQ(gif->ImageCount, (int)frames.size());
    std::vector<Rgb> screen((size_t)gif->SWidth * gif->SHeight);
    for (int n = 0; n < gif->ImageCount; n++) {
        const SavedImage &image = gif->SavedImages[n];
        const GifImageDesc &d = image.ImageDesc;
        const ColorMapObject *map = d.ColorMap ? d.ColorMap : gif->SColorMap;
        ASSERT_NE(map, nullptr);
        ASSERT_LE(d.Left + d.Width, gif->SWidth);
        ASSERT_LE(d.Top + d.Height, gif->SHeight);
        for (int y = 0; y < d.Height; y++) {
            for (int x = 0; x < d.Width; x++) {
                const GifColorType c = map->Colors[image.RasterBits[(size_t)y * d.Width + x]];
                screen[(size_t)(d.Top + y) * gif->SWidth + d.Left + x] = {c.Red, c.Green, c.Blue};
            }
        }
        size_t wrong = 0;
        for (int y = 0; y < gif->SHeight; y++)
            for (int x = 0; x < gif->SWidth; x++)
                wrong += !(screen[(size_t)y * gif->SWidth + x] == frames[n].rgbAt(x / scale, y / scale));
        EXPECT_EQ(wrong, 0u) << "frame " << n;
        if (n > 0 && frames[n].index == frames[n - 1].index) {
            EXPECT_EQ(d.Width * d.Height, scale * scale) << n;
        }
    }
    DGifCloseFile(gif, &error);
}

void writeGif(const std::string &path, const std::vector<IndexedFrame> &frames, int scale) {
    nimbra::GifExport gif;
    std::string error;
    ASSERT_TRUE(gif.open(path, {25, scale}, error)) << error;
    for (const auto &f : frames) ASSERT_TRUE(gif.add(f, error)) << error;
    ASSERT_TRUE(gif.finish(error)) << error;
    EXPECT_FALSE(fs::exists(path + ".partial"));
}

}  // namespace

TEST(GifExport, TheDemoReadsBackInItsExactColours) {
    const auto &frames = demoFrames();
    ASSERT_GT(frames.size(), 20u);
    const std::string path = (scratch("gif") / "demo.gif").string();
    writeGif(path, frames, 1);
    expectGifShows(path, frames, 1);
}

TEST(GifExport, GreyFramesAndScaledPixelsReadBack) {
    const auto frames = colourThenGrey();
    const std::string path = (scratch("gif-grey") / "grey.gif").string();
    writeGif(path, {frames[0], frames[1], frames[1]}, 2);
    expectGifShows(path, {frames[0], frames[1], frames[1]}, 2);
}

TEST(GifExport, FrameDelaysAddUpToTheRate) {
    // At 30 frames per second the delays run 3, 4, 3, ...: frame n starts
    // at n / 30 s rounded to the hundredth, so no drift builds up.
    int total = 0;
    for (uint64_t n = 0; n < 30; n++) total += nimbra::GifExport::delayOf(n, 30);
    EXPECT_EQ(total, 100);
    EXPECT_EQ(nimbra::GifExport::delayOf(0, 50), 2);
    EXPECT_EQ(nimbra::GifExport::delayOf(7, 1), 100);
}

TEST(GifExport, AnUnfinishedOrEmptyExportLeavesNoFile) {
    const fs::path dir = scratch("gif-empty");
    std::string error;
    {
        nimbra::GifExport gif;
        ASSERT_TRUE(gif.open((dir / "a.gif").string(), {}, error));
        ASSERT_TRUE(gif.add(demoFrames()[0], error));
    }
    nimbra::GifExport gif;
    ASSERT_TRUE(gif.open((dir / "b.gif").string(), {}, error));
    EXPECT_FALSE(gif.finish(error));
    EXPECT_NE(error.find("no frame"), std::string::npos) << error;
    EXPECT_TRUE(fs::is_empty(dir));
    EXPECT_FALSE(gif.open((dir / "c.gif").string(), {51, 1}, error));
}

// Each cell of the sheet is its frame, pixel for pixel (or, shrunk, the
// mean of each block); the cells are laid out row by row.
TEST(ContactSheet, CellsAreTheFrames) {
    const auto &demo = demoFrames();
    const std::vector<IndexedFrame> frames = {demo[1], demo[4], demo[5], colourThenGrey()[1], demo[9]};
    for (int shrink : {1, 2}) {
        SCOPED_TRACE("shrink " + std::to_string(shrink));
        const std::string path = (scratch("sheet") / "sheet.png").string();
        nimbra::ContactSheet sheet;
        std::string error;
        ASSERT_TRUE(sheet.open(path, {3, shrink}, error)) << error;
        for (const auto &f : frames) ASSERT_TRUE(sheet.add(f, error)) << error;
        ASSERT_TRUE(sheet.finish(error)) << error;
        const nimbra::SheetLayout &layout = sheet.layout();
        nimbra::RgbaImage image;
        ASSERT_TRUE(nimbra::readPngRgba(path, image, error)) << error;
        ASSERT_EQ(image.width, layout.width());
        ASSERT_EQ(image.height, layout.height(frames.size()));
        ASSERT_EQ(layout.cellWidth, 640u / shrink);
        for (size_t i = 0; i < frames.size(); i++) {
            const nimbra::RgbPicture cell = nimbra::shrinkFrame(frames[i], shrink);
            size_t wrong = 0;
            for (uint32_t y = 0; y < cell.height; y++) {
                for (uint32_t x = 0; x < cell.width; x++) {
                    const uint8_t *want = cell.rgb.data() + ((size_t)y * cell.width + x) * 3;
                    const uint8_t *got = image.pixel(layout.cellX(i) + x, (uint32_t)layout.cellY(i) + y);
                    wrong += got[0] != want[0] || got[1] != want[1] || got[2] != want[2];
                }
            }
            EXPECT_EQ(wrong, 0u) << "cell " << i;
        }
        // The gap left of the first cell is background.
        const uint8_t *gap = image.pixel(1, (uint32_t)layout.cellY(0) + 10);
        EXPECT_EQ((Rgb{gap[0], gap[1], gap[2]}), nimbra::SheetLayout::kBackground);
    }
}

TEST(ContactSheet, FewerFramesThanColumnsMakeANarrowerSheet) {
    const std::string path = (scratch("sheet-narrow") / "sheet.png").string();
    nimbra::ContactSheet sheet;
    std::string error;
    ASSERT_TRUE(sheet.open(path, {8, 4}, error)) << error;
    ASSERT_TRUE(sheet.add(demoFrames()[2], error));
    ASSERT_TRUE(sheet.finish(error)) << error;
    nimbra::RgbaImage image;
    ASSERT_TRUE(nimbra::readPngRgba(path, image, error)) << error;
    EXPECT_EQ(image.width, nimbra::SheetLayout::kGap * 2 + 160);
}

// Shrunk cells and thumbnails: each pixel the rounded mean of its block,
// for the factors done by shifting and for one that is not a power of two.
TEST(ContactSheet, ShrunkPixelsAreRoundedBlockMeans) {
    const IndexedFrame frame = colourThenGrey()[0];
    for (int factor : {2, 4, 5}) {
        const nimbra::RgbPicture picture = nimbra::shrinkFrame(frame, factor);
        ASSERT_EQ(picture.width, 640u / factor);
        size_t wrong = 0;
        for (uint32_t y = 0; y < picture.height; y++) {
            for (uint32_t x = 0; x < picture.width; x++) {
                int sum[3] = {0, 0, 0};
                for (int k = 0; k < factor * factor; k++) {
                    const Rgb c = frame.rgbAt((int)x * factor + k % factor, (int)y * factor + k / factor);
                    sum[0] += c.r, sum[1] += c.g, sum[2] += c.b;
                }
                const int n = factor * factor;
                const uint8_t *got = picture.rgb.data() + ((size_t)y * picture.width + x) * 3;
                for (int ch = 0; ch < 3; ch++) wrong += got[ch] != (sum[ch] + n / 2) / n;
            }
        }
        EXPECT_EQ(wrong, 0u) << "factor " << factor;
    }
}

// Each setting encoded and decoded again by ffmpeg, enlarged twice: the
// lossless video gives back every pixel, grey frames included; the one for
// browsers the same frames within a few levels on average.
TEST(VideoExport, FramesDecodeBackToTheirColours) {
    if (!nimbra::ffmpegAvailable()) GTEST_SKIP() << "no ffmpeg installed (scripts/install-deps.sh installs it)";
    const auto &demo = demoFrames();
    const std::vector<IndexedFrame> frames = {demo[3], colourThenGrey()[1], demo[9]};
    const int scale = 2, width = 640 * scale, height = 400 * scale;
    for (bool compatible : {false, true}) {
        SCOPED_TRACE(compatible ? "compatible" : "lossless");
        const fs::path dir = scratch(compatible ? "mp4-compatible" : "mp4");
        const std::string path = (dir / "frames.mp4").string(), raw = (dir / "frames.rgb").string();
        nimbra::VideoExport video;
        std::string error;
        ASSERT_TRUE(video.open(path, {25, scale, compatible}, error)) << error;
        for (const auto &f : frames) ASSERT_TRUE(video.add(f, error)) << error;
        ASSERT_TRUE(video.finish(error)) << error;
        const auto run = testsupport::runCommand("ffmpeg -nostdin -v error -i " + testsupport::shellQuote(path) +
                                                 " -f rawvideo -pix_fmt rgb24 -y " + testsupport::shellQuote(raw));
        ASSERT_EQ(run.status, 0) << run.output;
        const nimbra::Bytes rgb = nimbra::readFile(raw);
        ASSERT_EQ(rgb.size(), frames.size() * width * height * 3);
        for (size_t n = 0; n < frames.size(); n++) {
            size_t wrong = 0;
            uint64_t distance = 0;
            for (int y = 0; y < height; y++) {
                for (int x = 0; x < width; x++) {
                    const uint8_t *got = rgb.data() + ((n * height + y) * width + x) * 3;
                    const Rgb want = frames[n].rgbAt(x / scale, y / scale);
                    wrong += !(Rgb{got[0], got[1], got[2]} == want);
                    distance += (uint64_t)(abs(got[0] - want.r) + abs(got[1] - want.g) + abs(got[2] - want.b));
                }
            }
            const double meanLevels = (double)distance / (3.0 * width * height);
            if (compatible) {
                EXPECT_LT(meanLevels, 2.0) << "frame " << n;
            } else {
                EXPECT_EQ(wrong, 0u) << "frame " << n;
            }
        }
    }
}
