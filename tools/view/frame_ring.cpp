// Frames as indices, and the ring that holds the newest of them.
#include "tools/view/frame_ring.h"

#include <cstring>

#include "tools/hostlib/colour_indexing.h"

namespace nimbra::view {

namespace {

constexpr uint8_t kFrameAlpha = 0xAA;

inline uint32_t _Rd32le(const uint8_t *p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

// Every level's top bits are its position among the levels, so the top bits
// of a pixel name the only index that can have produced it.
inline uint8_t _NearestIndex(uint32_t word) {
    uint32_t b = word & 0xFF, g = (word >> 8) & 0xFF, r = (word >> 16) & 0xFF;
    return (uint8_t)((r & 0xE0) | ((g >> 3) & 0x1C) | (b >> 6));
}

bool _IndexGrey(const uint8_t *pixels, uint8_t *index) {
    for (size_t i = 0; i < kPixels; i++) {
        const uint8_t *p = pixels + i * 4;
        if (p[1] != p[0] || p[2] != p[0] || p[3] != kFrameAlpha) return false;
        index[i] = p[0];
    }
    return true;
}

}  // namespace

void indexFrame(const uint8_t *frameBytes, IndexedFrame &out, bool forceSse2) {
    out.processedBytes = _Rd32le(frameBytes);
    out.index.resize(kPixels);
    const uint8_t *pixels = frameBytes + 4;
    uint8_t *index = out.index.data();
    if (indexColourPixels(pixels, index, forceSse2)) {
        out.mode = PixelMode::Colour;
    } else if (_IndexGrey(pixels, index)) {
        out.mode = PixelMode::Grey;
    } else {
        // A stream that did not come from the device: show it as closely
        // as one byte a pixel allows, and say so.
        for (size_t i = 0; i < kPixels; i++) index[i] = _NearestIndex(_Rd32le(pixels + i * 4));
        out.mode = PixelMode::Approximate;
    }
}

Frame expandFrame(const IndexedFrame &frame) {
    Frame f;
    f.processedBytes = frame.processedBytes;
    f.bgra.resize(kPixels * 4);
    for (size_t i = 0; i < kPixels && i < frame.index.size(); i++) {
        uint8_t idx = frame.index[i];
        uint32_t w = frame.mode == PixelMode::Grey
                         ? (uint32_t)idx * 0x010101u | ((uint32_t)kFrameAlpha << 24)
                         : colourFrameWords()[idx];
        uint8_t *p = &f.bgra[i * 4];
        p[0] = (uint8_t)w;
        p[1] = (uint8_t)(w >> 8);
        p[2] = (uint8_t)(w >> 16);
        p[3] = (uint8_t)(w >> 24);
    }
    return f;
}

uint32_t pixelRgb(PixelMode mode, uint8_t index) {
    if (mode == PixelMode::Grey) return (uint32_t)index * 0x010101u;
    return colourFrameWords()[index] & 0xFFFFFFu;
}

bool writeIndexedFramePng(const IndexedFrame &frame, const std::string &path) {
    return writeFramePng(expandFrame(frame), path);
}

FrameRing::FrameRing(size_t capacity) : slots_(capacity ? capacity : 1) {}

void FrameRing::push(const uint8_t *frameBytes) {
    indexFrame(frameBytes, spare_);
    pushIndexed(spare_);
}

void FrameRing::pushIndexed(IndexedFrame &frame) {
    std::lock_guard<std::mutex> lock(mutex_);
    frame.number = count_;
    // The slot's old buffer goes back to the caller: no allocation once the
    // ring has gone round.
    std::swap(slots_[count_ % slots_.size()], frame);
    count_++;
}

uint64_t FrameRing::count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
}

uint64_t FrameRing::oldest() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_ > slots_.size() ? count_ - slots_.size() : 0;
}

bool FrameRing::copy(uint64_t number, IndexedFrame &out) const {
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t first = count_ > slots_.size() ? count_ - slots_.size() : 0;
    if (number >= count_ || number < first) return false;
    const IndexedFrame &slot = slots_[number % slots_.size()];
    out.number = slot.number;
    out.processedBytes = slot.processedBytes;
    out.mode = slot.mode;
    out.index.resize(slot.index.size());
    if (!slot.index.empty()) memcpy(out.index.data(), slot.index.data(), slot.index.size());
    return true;
}

}  // namespace nimbra::view
