// Record boundaries of a host's byte stream.
#include "tools/view/record_splitter.h"

namespace nimbra::view {

namespace {
constexpr size_t kHeaderBytes = 8;
}

void RecordSplitter::append(const uint8_t *bytes, size_t length) { buffer_.insert(buffer_.end(), bytes, bytes + length); }

size_t RecordSplitter::completeBytes() const {
    size_t pos = 0;
    while (buffer_.size() - pos >= kHeaderBytes) {
        const uint8_t *h = buffer_.data() + pos;
        uint32_t length = ((uint32_t)h[0] << 24) | ((uint32_t)h[1] << 16) | ((uint32_t)h[2] << 8) | h[3];
        size_t unit = kHeaderBytes + (length > kMaxRecordPayload ? 0 : length);
        if (buffer_.size() - pos < unit) break;
        pos += unit;
    }
    return pos;
}

void RecordSplitter::consume(size_t length) {
    if (length > buffer_.size()) length = buffer_.size();
    buffer_.erase(buffer_.begin(), buffer_.begin() + (long)length);
}

}  // namespace nimbra::view
