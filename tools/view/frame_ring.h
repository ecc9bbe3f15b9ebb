// The frames a viewer holds: each output frame of the simulator kept as one
// RGB332 index per pixel (a quarter of its 1024004 bytes, and exact: the
// device writes every pixel as one of 256 known colours, or as a grey level
// in grey mode), in a ring of the newest frames shared between the thread
// that reads them and the one that shows them.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "tools/hostlib/nimbra_host.h"

namespace nimbra::view {

constexpr size_t kPixels = (size_t)kScreenWidth * kScreenHeight;
constexpr size_t kRingFrames = 300;

enum class PixelMode : uint8_t {
    Colour,        // pixels are RGB332 colours (blue, green, red from the device's levels)
    Grey,          // pixels are the index byte itself in all three colours
    Approximate,   // not a device frame: each pixel's nearest colour index
};

struct IndexedFrame {
    uint64_t number = 0;            // position in the stream, the boot frame being 0
    uint32_t processedBytes = 0;    // the frame's own header
    PixelMode mode = PixelMode::Colour;
    std::vector<uint8_t> index;     // kPixels bytes, rows top to bottom
};

// Converts one output frame (kFrameBytes) into indices; `out.index` is
// resized once and then reused. The conversion uses AVX2 where the processor
// has it; `forceSse2` takes the SSE2 path that every x86-64 has (for tests).
void indexFrame(const uint8_t *frameBytes, IndexedFrame &out, bool forceSse2 = false);
// The output frame again, as the simulator wrote it.
Frame expandFrame(const IndexedFrame &frame);
// 0x00RRGGBB of one pixel as it looks.
uint32_t pixelRgb(PixelMode mode, uint8_t index);

// Writes the frame as an RGB PNG, the same image nimbra-frames writes.
bool writeIndexedFramePng(const IndexedFrame &frame, const std::string &path);

// The ring of the newest frames, filled by one reader thread and read by the
// display. After the ring has filled once its buffers are reused: memory
// stays the same however long the stream is.
class FrameRing {
public:
    explicit FrameRing(size_t capacity = kRingFrames);

    // Adds one output frame of kFrameBytes; it becomes the newest.
    void push(const uint8_t *frameBytes);
    // Adds a frame already indexed (its number is set here); `frame` gets
    // back a buffer to reuse.
    void pushIndexed(IndexedFrame &frame);

    // Frames pushed so far (the next frame's number).
    uint64_t count() const;
    // The oldest frame still held; meaningless while count() is 0.
    uint64_t oldest() const;
    // Copies frame `number` into `out`; false when it is not (or no longer) held.
    bool copy(uint64_t number, IndexedFrame &out) const;
    size_t capacity() const { return slots_.size(); }

private:
    mutable std::mutex mutex_;
    std::vector<IndexedFrame> slots_;
    IndexedFrame spare_;   // conversion happens here, outside the lock
    uint64_t count_ = 0;
};

}  // namespace nimbra::view
