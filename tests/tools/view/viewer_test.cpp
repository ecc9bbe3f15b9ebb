// The viewer without a window: which frame its keys show, what it saves,
// what its status lines and picture hold.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "tools/hostlib/png_files.h"
#include "tools/hostlib/bitmap_font.h"
#include "tools/view/viewer.h"

namespace {

namespace fs = std::filesystem;
using nimbra::Bytes;
using namespace nimbra::view;
using nimbra::glyphRows;

// A device frame whose pixels are all index `fill` (0xFF: white, 0x00:
// black in colour mode), with `processedBytes` telling frames apart.
Bytes solidFrame(uint32_t processedBytes, uint8_t fill) {
    Bytes f(nimbra::kFrameBytes);
    f[0] = (uint8_t)processedBytes;
    f[1] = (uint8_t)(processedBytes >> 8);
    const uint8_t level = fill ? 0xFF : 0x00;
    for (size_t i = 0; i < kPixels; i++) {
        uint8_t *p = &f[4 + i * 4];
        p[0] = p[1] = p[2] = level;
        p[3] = 0xAA;
    }
    return f;
}

void pushFrames(Feed &feed, uint32_t first, uint32_t count) {
    for (uint32_t n = first; n < first + count; n++) feed.pushFrame(solidFrame(1000 + n, 0xFF).data());
}

uint64_t shownNumber(const Viewer &viewer) { return viewer.shown() ? viewer.shown()->number : ~0ull; }

fs::path scratchDir() {
    fs::path dir = fs::path(NIMBRA_BINARY_DIR) / "view-tests" /
                   ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

TEST(ViewerKeys, PauseHoldsTheFrameAndArrowsStepThroughTheRing) {
    Feed feed(5);
    Viewer viewer(feed);
    EXPECT_FALSE(viewer.refresh(0));
    EXPECT_EQ(viewer.shown(), nullptr);
    EXPECT_EQ(viewer.statusLines()[0], "waiting for the first frame");

    pushFrames(feed, 0, 3);
    EXPECT_TRUE(viewer.refresh(0.1));
    EXPECT_EQ(shownNumber(viewer), 2u);
    viewer.press(Key::Previous);   // not paused: the arrows do nothing
    EXPECT_EQ(shownNumber(viewer), 2u);
    EXPECT_NE(viewer.message().find("pause"), std::string::npos);

    viewer.press(Key::Pause);
    pushFrames(feed, 3, 4);   // the ring now holds 2 to 6
    EXPECT_FALSE(viewer.refresh(0.2));
    EXPECT_EQ(shownNumber(viewer), 2u);
    viewer.press(Key::Previous);   // 1 has left the ring
    EXPECT_EQ(shownNumber(viewer), 2u);
    EXPECT_EQ(viewer.message(), "this is the oldest frame held");
    const uint64_t forward[] = {3, 4, 5, 6, 6};
    for (uint64_t expected : forward) {
        viewer.press(Key::Next);
        EXPECT_EQ(shownNumber(viewer), expected);
        EXPECT_EQ(viewer.shown()->processedBytes, 1000 + expected);
    }
    EXPECT_EQ(viewer.message(), "this is the newest frame");
    viewer.press(Key::Previous);
    EXPECT_EQ(shownNumber(viewer), 5u);

    viewer.press(Key::Pause);   // resume: the newest again
    EXPECT_TRUE(viewer.refresh(0.3));
    EXPECT_EQ(shownNumber(viewer), 6u);
}

TEST(ViewerKeys, APausedFrameOutlivesTheRing) {
    Feed feed(3);
    Viewer viewer(feed);
    pushFrames(feed, 0, 2);
    viewer.refresh(0);
    viewer.press(Key::Pause);
    pushFrames(feed, 2, 10);   // the ring holds 9 to 11; frame 1 is gone
    viewer.refresh(0.1);
    ASSERT_EQ(shownNumber(viewer), 1u);
    EXPECT_EQ(viewer.shown()->processedBytes, 1001u);
    EXPECT_EQ(viewer.shown()->index[0], 0xFF);
    viewer.press(Key::Previous);
    EXPECT_EQ(shownNumber(viewer), 1u);
    viewer.press(Key::Next);   // skips to the oldest frame still held
    EXPECT_EQ(shownNumber(viewer), 9u);
}

TEST(ViewerKeys, SaveWritesTheShownFrameWithoutOverwriting) {
    const fs::path dir = scratchDir();
    Feed feed(4);
    Viewer viewer(feed, dir.string());
    viewer.press(Key::Save);
    EXPECT_EQ(viewer.message(), "no frame to save yet");

    feed.pushFrame(solidFrame(1, 0x00).data());
    feed.pushFrame(solidFrame(2, 0xFF).data());
    viewer.refresh(0);
    viewer.press(Key::Pause);
    viewer.press(Key::Previous);   // the black frame
    viewer.press(Key::Save);
    const fs::path first = dir / "nimbra-view-0000.png";
    EXPECT_EQ(viewer.message(), "saved " + first.string());
    viewer.press(Key::Next);
    viewer.press(Key::Save);
    viewer.press(Key::Save);
    EXPECT_EQ(viewer.message(), "saved " + (dir / "nimbra-view-0001-2.png").string());

    const struct {
        fs::path path;
        uint8_t level;
    } expected[] = {{first, 0x00}, {dir / "nimbra-view-0001.png", 0xFF}, {dir / "nimbra-view-0001-2.png", 0xFF}};
    for (const auto &e : expected) {
        nimbra::RgbaImage image;
        std::string error;
        ASSERT_TRUE(nimbra::readPngRgba(e.path.string(), image, error)) << e.path << ": " << error;
        EXPECT_EQ(image.width, 640u);
        EXPECT_EQ(image.height, 400u);
        EXPECT_EQ(image.pixel(639, 399)[0], e.level) << e.path;
    }
}

TEST(ViewerStatus, FrameRateReplyAndPointer) {
    Feed feed(8);
    Viewer viewer(feed);
    viewer.refresh(10.0);
    pushFrames(feed, 0, 30);
    viewer.refresh(10.5);
    EXPECT_DOUBLE_EQ(viewer.framesPerSecond(), 60.0);
    EXPECT_EQ(viewer.statusLines()[1], "no reply yet");
    const uint8_t shown[] = {0x00, 0x05};
    feed.addReply(shown, sizeof shown);
    EXPECT_EQ(viewer.statusLines()[1], "reply 1: frame-shown id 5");

    // At scale 2 the window position gives the half pixel itself.
    viewer.pointAt(403, 201, 2);
    EXPECT_NE(viewer.statusLines()[0].find("x 201 y 100  xh 403 yh 201  index 0xFF"), std::string::npos)
        << viewer.statusLines()[0];
    viewer.pointAt(403, 201, 1);
    EXPECT_NE(viewer.statusLines()[0].find("x 403 y 201  xh 806 yh 402"), std::string::npos);
    viewer.pointAt(100, 400, 1);   // over the status lines
    EXPECT_EQ(viewer.statusLines()[0].find("xh"), std::string::npos);

    feed.setNote("host 127.0.0.1:5000 connected");
    EXPECT_EQ(viewer.statusLines()[2], "host 127.0.0.1:5000 connected");
    feed.finish("end of input after 30 frames", false);
    EXPECT_EQ(viewer.statusLines()[2], "end of input after 30 frames");
}

TEST(ViewerPicture, FrameGridAndStatusText) {
    Feed feed(2);
    Viewer viewer(feed);
    feed.pushFrame(solidFrame(7, 0xFF).data());
    viewer.refresh(0);
    std::vector<uint32_t> picture((size_t)kViewWidth * kViewHeight);
    composeView(viewer, picture.data());
    EXPECT_EQ(picture[0], 0xFFFFFFFFu);
    EXPECT_EQ(picture[(size_t)399 * kViewWidth + 639], 0xFFFFFFFFu);

    viewer.press(Key::Grid);
    composeView(viewer, picture.data());
    auto at = [&](int x, int y) { return picture[(size_t)y * kViewWidth + x]; };
    // Lines every 10 pixels, darker than the white they cross.
    for (auto [x, y] : {std::pair{0, 0}, {10, 5}, {5, 390}, {630, 399}}) EXPECT_NE(at(x, y), 0xFFFFFFFFu) << x << "," << y;
    for (auto [x, y] : {std::pair{5, 5}, {11, 11}, {639, 399}}) EXPECT_EQ(at(x, y), 0xFFFFFFFFu) << x << "," << y;

    // The first status line starts with "frame 0": the top row of the 'f'
    // ("..##.") is drawn at columns 2 and 3 of its cell.
    const int textTop = nimbra::kScreenHeight + 3, textLeft = 3;
    const uint32_t text = at(textLeft + 2, textTop);
    EXPECT_EQ(at(textLeft + 3, textTop), text);
    EXPECT_NE(at(textLeft + 1, textTop), text);
    EXPECT_EQ(glyphRows('f')[0], 0x06);
}

TEST(ViewerSnapshot, NeedsAFrame) {
    Feed feed(2);
    Viewer viewer(feed);
    std::string error;
    EXPECT_FALSE(viewer.snapshot((scratchDir() / "none.png").string(), error));
    EXPECT_NE(error.find("no frame"), std::string::npos);
}

}  // namespace
