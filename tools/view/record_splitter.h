// Cuts a byte stream from a host into what the device reads at a time, the
// way its record loop does: a record is the 8-byte header and the payload
// its big-endian length announces; a header announcing more than 2048 bytes
// is read alone (the device skips it and takes the next 8 bytes as a
// header). Whatever is left at the end is an unfinished record.
#pragma once
#include <cstddef>
#include <cstdint>

#include "tools/hostlib/nimbra_host.h"

namespace nimbra::view {

class RecordSplitter {
public:
    void append(const uint8_t *bytes, size_t length);
    // The leading bytes that form whole records (and skipped headers).
    size_t completeBytes() const;
    const uint8_t *data() const { return buffer_.data(); }
    // Forgets the first `length` bytes (at most completeBytes()).
    void consume(size_t length);
    // Bytes held: whole records not yet consumed and an unfinished one.
    size_t heldBytes() const { return buffer_.size(); }
    void clear() { buffer_.clear(); }

private:
    Bytes buffer_;
};

}  // namespace nimbra::view
