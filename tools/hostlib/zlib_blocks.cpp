#include "tools/hostlib/zlib_blocks.h"

#include <stdexcept>
#include <zlib.h>

namespace nimbra {

struct ZlibBlockWriter::Impl {
    z_stream zs{};
    bool open = false;
    void close() {
        if (open) deflateEnd(&zs);
        open = false;
    }
    ~Impl() { close(); }
};

Bytes zlibBlockCommand(uint8_t flags, const Bytes &compressed) {
    return CommandBuilder()
        .zlibBlock(flags & kZlibBlockExecute, flags & kZlibBlockStart, flags & 0x3F, compressed)
        .payload();
}

ZlibBlockWriter::ZlibBlockWriter(uint8_t firstSequence, int level)
    : impl_(std::make_unique<Impl>()), level_(level), sequence_(firstSequence & 0x3F) {}

ZlibBlockWriter::~ZlibBlockWriter() = default;

void ZlibBlockWriter::restart(uint8_t firstSequence) {
    impl_->close();
    started_ = false;
    sequence_ = firstSequence & 0x3F;
}

Bytes ZlibBlockWriter::_Compress(const uint8_t *bytes, size_t n, int flush) {
    if (!impl_->open) {
        impl_->zs = z_stream{};
        if (deflateInit(&impl_->zs, level_) != Z_OK) throw std::runtime_error("deflateInit failed");
        impl_->open = true;
    }
    z_stream &zs = impl_->zs;
    zs.next_in = const_cast<Bytef *>(bytes);
    zs.avail_in = (uInt)n;
    Bytes out;
    uint8_t buffer[4096];
    int ret;
    do {
        zs.next_out = buffer;
        zs.avail_out = sizeof buffer;
        ret = deflate(&zs, flush);
        if (ret == Z_STREAM_ERROR) throw std::runtime_error("deflate failed");
        out.insert(out.end(), buffer, buffer + (sizeof buffer - zs.avail_out));
    } while (zs.avail_out == 0 || (flush == Z_FINISH && ret != Z_STREAM_END));
    return out;
}

Bytes ZlibBlockWriter::_Wrap(const Bytes &compressed, bool execute) {
    uint8_t flags = sequence_;
    if (!started_) flags |= kZlibBlockStart;
    if (execute) flags |= kZlibBlockExecute;
    started_ = true;
    sequence_ = (uint8_t)((sequence_ + 1) & 0x3F);
    return zlibBlockCommand(flags, compressed);
}

Bytes ZlibBlockWriter::block(const uint8_t *bytes, size_t n, bool execute) {
    if (n == 0) throw std::invalid_argument("a block must carry at least one byte");
    Bytes compressed = _Compress(bytes, n, Z_SYNC_FLUSH);
    if (compressed.size() > kZlibMaxBlockBytes) throw std::length_error("compressed block does not fit a record");
    return _Wrap(compressed, execute);
}

Bytes ZlibBlockWriter::finishBlock(const Bytes &bytes, bool execute) {
    Bytes compressed = _Compress(bytes.data(), bytes.size(), Z_FINISH);
    impl_->close();
    return _Wrap(compressed, execute);
}

std::vector<Bytes> ZlibBlockWriter::commands(const std::vector<Bytes> &commands) {
    std::vector<Bytes> blocks;
    Bytes group;
    auto flushGroup = [&]() {
        for (size_t at = 0; at < group.size(); at += kZlibMaxBlockInputBytes) {
            size_t n = std::min(kZlibMaxBlockInputBytes, group.size() - at);
            blocks.push_back(block(group.data() + at, n, at + n == group.size()));
        }
        group.clear();
    };
    for (const Bytes &c : commands) {
        if (c.size() > kZlibMaxGroupBytes) throw std::invalid_argument("command longer than a group may be");
        if (group.size() + c.size() > kZlibMaxGroupBytes) flushGroup();
        group.insert(group.end(), c.begin(), c.end());
    }
    flushGroup();
    return blocks;
}

}  // namespace nimbra
