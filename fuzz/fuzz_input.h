// A bounded cursor over a fuzz input. Reads past the end give zeros and
// shorter spans instead of failing, so that any input means something.
#pragma once
#include <cstddef>
#include <cstdint>

namespace fuzz {

class Input {
public:
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    size_t left() const { return size_ - pos_; }
    bool empty() const { return pos_ == size_; }

    uint8_t u8() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t u16() {
        uint16_t lo = u8();
        return (uint16_t)(lo | (u8() << 8));
    }
    uint32_t u32() {
        uint32_t lo = u16();
        return lo | ((uint32_t)u16() << 16);
    }
    // Up to n bytes; *taken says how many there were.
    const uint8_t *take(size_t n, size_t *taken) {
        *taken = n < left() ? n : left();
        const uint8_t *p = data_ + pos_;
        pos_ += *taken;
        return p;
    }
    // Exactly n bytes, or null (and nothing taken) when fewer are left.
    const uint8_t *takeExactly(size_t n) {
        if (n > left()) return nullptr;
        const uint8_t *p = data_ + pos_;
        pos_ += n;
        return p;
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

}  // namespace fuzz
