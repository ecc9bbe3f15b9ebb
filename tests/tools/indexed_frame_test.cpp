// Output frames read back into indices, frames compared, and the frame
// lists of the tools' command lines.
#include <gtest/gtest.h>

#include "tools/hostlib/frame_selection.h"
#include "tools/hostlib/indexed_frame.h"

using nimbra::IndexedFrame;
using nimbra::PixelMode;

namespace {

std::vector<uint8_t> bytesOf(const IndexedFrame &frame) {
    std::vector<uint8_t> bytes(nimbra::kFrameBytes);
    nimbra::expandFrame(frame, bytes.data());
    return bytes;
}

IndexedFrame frameOf(PixelMode mode, uint8_t (*index)(size_t)) {
    IndexedFrame f;
    f.mode = mode;
    f.processedBytes = 0x01020304;
    f.index.resize(nimbra::kScreenPixels);
    for (size_t i = 0; i < f.index.size(); i++) f.index[i] = index(i);
    return f;
}

}  // namespace

TEST(IndexedFrame, ColourAndGreyFramesReadBackExactly) {
    for (PixelMode mode : {PixelMode::Colour, PixelMode::Grey}) {
        const IndexedFrame frame = frameOf(mode, [](size_t i) { return (uint8_t)(i * 37 + i / 640); });
        IndexedFrame back;
        std::string error;
        ASSERT_TRUE(nimbra::indexFrame(bytesOf(frame).data(), back, &error)) << error;
        EXPECT_EQ(back.mode, mode);
        EXPECT_EQ(back.processedBytes, frame.processedBytes);
        EXPECT_EQ(back.index, frame.index);
    }
    // Black and white only is both; read as colour, it shows the same.
    const IndexedFrame grey = frameOf(PixelMode::Grey, [](size_t i) { return (uint8_t)(i % 3 ? 0 : 0xFF); });
    IndexedFrame back;
    ASSERT_TRUE(nimbra::indexFrame(bytesOf(grey).data(), back));
    EXPECT_EQ(back.mode, PixelMode::Colour);
    EXPECT_EQ(back.rgbAt(3, 0), grey.rgbAt(3, 0));
    EXPECT_EQ(back.rgbAt(4, 0), grey.rgbAt(4, 0));
}

TEST(IndexedFrame, BytesNoDeviceWroteAreNamed) {
    const IndexedFrame colour = frameOf(PixelMode::Colour, [](size_t i) { return (uint8_t)(i & 0xE0 ? 0x25 : 0); });
    std::vector<uint8_t> bytes = bytesOf(colour);
    IndexedFrame back;
    std::string error;
    bytes[4 + (641 * 4) + 1] = 0x26;   // pixel (1, 1): a green byte of no level
    EXPECT_FALSE(nimbra::indexFrame(bytes.data(), back, &error));
    EXPECT_NE(error.find("pixel (1, 1) has the bytes"), std::string::npos) << error;

    // Grey pixels among colour ones.
    bytes = bytesOf(frameOf(PixelMode::Colour, [](size_t i) { return (uint8_t)(i == 5 ? 0x25 : 0); }));
    const std::vector<uint8_t> greyBytes = bytesOf(frameOf(PixelMode::Grey, [](size_t) { return (uint8_t)0x40; }));
    std::copy(greyBytes.begin() + 4 + 9 * 4, greyBytes.begin() + 4 + 10 * 4, bytes.begin() + 4 + 9 * 4);
    EXPECT_FALSE(nimbra::indexFrame(bytes.data(), back, &error));
    EXPECT_NE(error.find("a frame is all colour or all grey"), std::string::npos) << error;
}

TEST(IndexedFrame, ComparedByColourAcrossModes) {
    IndexedFrame a = frameOf(PixelMode::Colour, [](size_t) { return (uint8_t)0xFF; });
    IndexedFrame b = frameOf(PixelMode::Grey, [](size_t) { return (uint8_t)0xFF; });
    EXPECT_TRUE(nimbra::compareFrames(a, b).empty()) << "white is white in either mode";
    b.index[640 * 399 + 639] = 0x80;
    b.index[640 * 7 + 20] = 0x00;
    std::vector<uint8_t> mask;
    const nimbra::FrameChange c = nimbra::compareFrames(a, b, &mask);
    EXPECT_EQ(c.count, 2u);
    EXPECT_EQ(std::vector<int>({c.x0, c.y0, c.x1, c.y1}), std::vector<int>({20, 7, 639, 399}));
    EXPECT_EQ(mask[640 * 7 + 20], 1);
    EXPECT_EQ(mask[640 * 7 + 21], 0);
}

TEST(FrameSelection, ListsRangesAndOpenEnds) {
    std::string error;
    const auto s = nimbra::FrameSelection::parse("9-4", error);
    EXPECT_FALSE(s);
    EXPECT_NE(error.find("runs backwards"), std::string::npos) << error;
    for (const char *bad : {"", "1,,2", "a", "-3", "1-2-3", "99999999999999999999999"})
        EXPECT_FALSE(nimbra::FrameSelection::parse(bad, error)) << bad;

    const auto list = nimbra::FrameSelection::parse("7,1,3-5", error);
    ASSERT_TRUE(list) << error;
    std::vector<uint64_t> chosen;
    for (uint64_t n = 0; n < 10; n++)
        if (list->contains(n)) chosen.push_back(n);
    EXPECT_EQ(chosen, (std::vector<uint64_t>{1, 3, 4, 5, 7}));
    EXPECT_FALSE(list->endsBefore(7));
    EXPECT_TRUE(list->endsBefore(8));

    const auto open = nimbra::FrameSelection::parse("20-", error);
    ASSERT_TRUE(open) << error;
    EXPECT_FALSE(open->contains(19));
    EXPECT_TRUE(open->contains(1u << 30));
    EXPECT_FALSE(open->endsBefore(UINT64_MAX));
}
