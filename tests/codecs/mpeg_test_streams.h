// The committed MPEG-1 test streams (tests/data/mpeg, made by
// tests/data/make_mpeg_streams.sh) and their reference luma, decoded by an
// independent decoder, in display order.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/hostlib/nimbra_host.h"

namespace mpegtest {

struct Picture {
    int type;              // 1 I, 2 P, 3 B, 4 D
    int displayIndex;      // position in display order
};

struct Stream {
    std::string name;
    nimbra::Bytes bytes;
    int width = 0, height = 0;
    std::vector<uint8_t> referenceLuma;   // width x height bytes per picture, display order
    std::vector<Picture> pictures;        // decode order

    int referenceCount() const { return (int)(referenceLuma.size() / ((size_t)width * height)); }
    const uint8_t *reference(int displayIndex) const {
        return referenceLuma.data() + (size_t)displayIndex * width * height;
    }
};

// Loads NAME.m1v and NAME.gray.gz; fails the calling test when missing.
Stream load(const std::string &name);

// Every committed stream's name.
std::vector<std::string> allNames();

// Where the last slice start code in `bytes` begins (0 when there is none):
// a cut there leaves whole slices before it.
size_t lastSliceStart(const nimbra::Bytes &bytes);

// Peak signal-to-noise ratio of a luma plane (row length `stride`) against
// a reference of width x height bytes; 99 when identical.
double psnr(const uint8_t *luma, int stride, const uint8_t *reference, int width, int height);

}  // namespace mpegtest
