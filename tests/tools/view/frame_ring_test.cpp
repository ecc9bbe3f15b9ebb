// Frames as indices: every output frame of the device comes back byte for
// byte, a foreign frame is marked, and the ring holds the newest frames in
// buffers it reuses.
#include <gtest/gtest.h>

#include <cstring>
#include <malloc.h>

#include "gui/GUICC_M332.h"
#include "tools/view/frame_ring.h"

namespace {

using nimbra::Bytes;
using namespace nimbra::view;

// An output frame built as the device's frame output does: from the
// device's own colour tables (colour) or the index itself (grey).
Bytes deviceFrame(uint32_t processedBytes, bool grey, uint8_t (*indexAt)(size_t)) {
    Bytes f(nimbra::kFrameBytes);
    f[0] = (uint8_t)processedBytes;
    f[1] = (uint8_t)(processedBytes >> 8);
    f[2] = (uint8_t)(processedBytes >> 16);
    f[3] = (uint8_t)(processedBytes >> 24);
    for (size_t i = 0; i < kPixels; i++) {
        uint8_t idx = indexAt(i);
        uint8_t *p = &f[4 + i * 4];
        p[0] = grey ? idx : M332_2bitColor[idx & 3];
        p[1] = grey ? idx : M332_3bitColor[(idx >> 2) & 7];
        p[2] = grey ? idx : M332_3bitColor[idx >> 5];
        p[3] = 0xAA;
    }
    return f;
}

uint8_t everyIndex(size_t i) { return (uint8_t)(i * 7 + i / 640); }
uint8_t frameMarker(size_t i) { return (uint8_t)(i == 0 ? 0xE3 : 0x00); }

TEST(FrameIndices, DeviceFramesComeBackByteForByte) {
    for (bool grey : {false, true})
    for (bool sse2 : {false, true}) {
        SCOPED_TRACE(std::string(grey ? "grey" : "colour") + (sse2 ? ", SSE2" : ""));
        Bytes bytes = deviceFrame(0x01020304, grey, everyIndex);
        IndexedFrame frame;
        indexFrame(bytes.data(), frame, sse2);
        EXPECT_EQ(frame.processedBytes, 0x01020304u);
        EXPECT_EQ(frame.mode, grey ? PixelMode::Grey : PixelMode::Colour);
        EXPECT_EQ(frame.index[641], everyIndex(641));
        nimbra::Frame back = expandFrame(frame);
        EXPECT_EQ(back.processedBytes, 0x01020304u);
        ASSERT_EQ(back.bgra.size(), bytes.size() - 4);
        EXPECT_EQ(0, memcmp(back.bgra.data(), bytes.data() + 4, back.bgra.size()));
    }
}

TEST(FrameIndices, ColoursOfTheDeviceAndGreyLevels) {
    // The pixel colour the window shows is the device's Index2Color.
    for (int i = 0; i < 256; i++) {
        EXPECT_EQ(pixelRgb(PixelMode::Colour, (uint8_t)i), Index2Color_M332((uint8_t)i) & 0xFFFFFF) << i;
        EXPECT_EQ(pixelRgb(PixelMode::Grey, (uint8_t)i), (uint32_t)i * 0x010101u);
    }
}

TEST(FrameIndices, EveryBitOfEveryLaneIsChecked) {
    // The colour check runs 16 or 32 pixels at a time: a single wrong bit,
    // in any byte of any of them, makes the frame a foreign one.
    const Bytes good = deviceFrame(0, false, everyIndex);
    for (bool sse2 : {false, true}) {
        IndexedFrame frame;
        indexFrame(good.data(), frame, sse2);
        ASSERT_EQ(frame.mode, PixelMode::Colour);
        for (int bit = 0; bit < 32; bit++) {
            Bytes bytes = good;
            const size_t pixel = 640 * 399 + 608 + (size_t)bit;
            bytes[4 + pixel * 4 + (size_t)bit / 8] ^= (uint8_t)(1u << (bit % 8));
            indexFrame(bytes.data(), frame, sse2);
            EXPECT_EQ(frame.mode, PixelMode::Approximate) << "bit " << bit << (sse2 ? ", SSE2" : "");
        }
    }
}

TEST(FrameIndices, AForeignFrameIsShownApproximately) {
    Bytes bytes = deviceFrame(0, false, everyIndex);
    // One blue byte that no device colour has, and a wrong fourth byte.
    bytes[4 + 10 * 4] = 0x56;
    bytes[4 + 20 * 4 + 3] = 0x00;
    IndexedFrame frame;
    indexFrame(bytes.data(), frame);
    EXPECT_EQ(frame.mode, PixelMode::Approximate);
    EXPECT_EQ(frame.index[10], (everyIndex(10) & ~3) | 1);   // 0x56 is nearest to level 1 of blue
    EXPECT_EQ(frame.index[20], everyIndex(20));
    EXPECT_EQ(frame.index[21], everyIndex(21));
}

TEST(FrameRing, HoldsTheNewestFramesAndDropsTheOldest) {
    FrameRing ring(3);
    IndexedFrame out;
    EXPECT_EQ(ring.count(), 0u);
    EXPECT_FALSE(ring.copy(0, out));
    for (uint32_t n = 0; n < 5; n++) {
        Bytes bytes = deviceFrame(1000 + n, false, frameMarker);
        ring.push(bytes.data());
    }
    EXPECT_EQ(ring.count(), 5u);
    EXPECT_EQ(ring.oldest(), 2u);
    EXPECT_FALSE(ring.copy(1, out));
    EXPECT_FALSE(ring.copy(5, out));
    for (uint64_t n = 2; n < 5; n++) {
        ASSERT_TRUE(ring.copy(n, out));
        EXPECT_EQ(out.number, n);
        EXPECT_EQ(out.processedBytes, 1000 + n);
        EXPECT_EQ(out.index[0], 0xE3);
    }
}

TEST(FrameRing, MemoryStaysTheSameOnceFull) {
    FrameRing ring(4);
    Bytes bytes = deviceFrame(0, false, everyIndex);
    for (int n = 0; n < 8; n++) ring.push(bytes.data());
    const size_t before = mallinfo2().uordblks;
    for (int n = 0; n < 50; n++) ring.push(bytes.data());
    const size_t after = mallinfo2().uordblks;
    // Not one more frame's worth of memory for 50 more frames.
    EXPECT_LT(after > before ? after - before : 0, kPixels);
    EXPECT_EQ(ring.count(), 58u);
    IndexedFrame out;
    ASSERT_TRUE(ring.copy(57, out));
    EXPECT_EQ(out.index[641], everyIndex(641));
}

}  // namespace
