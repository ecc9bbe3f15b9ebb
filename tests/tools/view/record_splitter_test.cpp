// The link cuts a host's bytes where the device's record loop does.
#include <gtest/gtest.h>

#include "tools/view/record_splitter.h"

namespace {

using nimbra::Bytes;
using nimbra::view::RecordSplitter;

Bytes header(uint32_t length) {
    return {(uint8_t)(length >> 24), (uint8_t)(length >> 16), (uint8_t)(length >> 8), (uint8_t)length, 9, 9, 9, 9};
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST(RecordSplitter, WholeRecordsAndTheUnfinishedRest) {
    const Bytes empty = header(0);
    const Bytes two = concat({header(2), {0x02, 0x05}});
    const Bytes largest = concat({header(2048), Bytes(2048, 0x09)});
    const Bytes stream = concat({empty, two, largest, header(5), {1, 2}});
    const size_t whole = empty.size() + two.size() + largest.size();
    // However the bytes arrive, the boundary is the same.
    for (size_t piece : {(size_t)1, (size_t)3, (size_t)8, (size_t)100, stream.size()}) {
        SCOPED_TRACE(piece);
        RecordSplitter splitter;
        for (size_t at = 0; at < stream.size(); at += piece) {
            splitter.append(stream.data() + at, std::min(piece, stream.size() - at));
            EXPECT_LE(splitter.completeBytes(), whole);
        }
        EXPECT_EQ(splitter.completeBytes(), whole);
        EXPECT_EQ(splitter.heldBytes(), stream.size());
        splitter.consume(whole);
        EXPECT_EQ(splitter.completeBytes(), 0u);
        EXPECT_EQ(splitter.heldBytes(), 10u);
    }
}

TEST(RecordSplitter, AnOverlongHeaderIsReadAlone) {
    // 2049 announces too much: the device skips the 8 header bytes and reads
    // the next 8 as a header, here a record of one byte.
    RecordSplitter splitter;
    const Bytes stream = concat({header(2049), header(1), {0x33}, header(0xFFFFFFFF)});
    splitter.append(stream.data(), stream.size());
    EXPECT_EQ(splitter.completeBytes(), stream.size());
    const Bytes shortHeader = {0, 0, 0};
    splitter.append(shortHeader.data(), shortHeader.size());
    EXPECT_EQ(splitter.completeBytes(), stream.size());
}

TEST(RecordSplitter, ClearForgetsAnUnfinishedRecord) {
    RecordSplitter splitter;
    const Bytes part = concat({header(4), {1, 2}});
    splitter.append(part.data(), part.size());
    EXPECT_EQ(splitter.completeBytes(), 0u);
    splitter.clear();
    const Bytes next = concat({header(1), {0x02}});
    splitter.append(next.data(), next.size());
    EXPECT_EQ(splitter.completeBytes(), next.size());
}

}  // namespace
