// JPEG decoding speed: a full-screen 4:2:0 picture with some detail in every
// block, a 4:4:4 one, and a small image where the per-call set-up (record,
// Huffman tables) dominates.
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "bench/bench.h"
#include "codecs/GUI_JPEG.h"
#include "tests/codecs/jpeg_stream.h"

namespace {

using namespace jpegtest;

// Flat tables, unit quantisation; each block a DC step and a few AC terms
// from a fixed pseudo-random sequence.
Bytes makeScreenImage(uint8_t lumaSampling, int blocksPerMcu, int mcus) {
    Stream s = colorHeader(640, 400, lumaSampling);
    EntropyWriter e(dcFlat(), acFlat());
    uint32_t state = 1;
    auto next = [&state](int range) {
        state = state * 1103515245u + 12345u;
        return (int)((state >> 16) % (uint32_t)range) - range / 2;
    };
    for (int i = 0; i < mcus * blocksPerMcu; i++) {
        std::vector<std::pair<int, int>> ac;
        for (int k = 0; k < 6; k++) {
            int v = next(120);
            ac.push_back({k % 3, v == 0 ? 1 : v});
        }
        e.block(next(40), ac);
    }
    s.raw(e.flush()).eoi();
    return s.bytes;
}

const Bytes &screen420() {
    static const Bytes image = makeScreenImage(0x22, 6, 40 * 25);
    return image;
}

const Bytes &screen444() {
    static const Bytes image = makeScreenImage(0x11, 3, 80 * 50);
    return image;
}

const Bytes &smallImage() {
    static const Bytes image = [] {
        std::string path = std::string(__FILE__);
        path = path.substr(0, path.find_last_of('/')) + "/../tests/data/jpeg/h2v2_q75.jpg";
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }();
    return image;
}

}  // namespace

// A bench image that fails to decode would time nothing: stop instead.
static void _Draw(const Bytes &image) {
    if (GUI_JPEG_Draw(image.data(), (uint32_t)image.size(), 0, 0) != 0) abort();
}

BENCH_CASE(jpeg_draw_640x400_h2v2, 100) { _Draw(screen420()); }

BENCH_CASE(jpeg_draw_640x400_h1v1, 100) { _Draw(screen444()); }

BENCH_CASE(jpeg_draw_48x33_h2v2, 5000) { _Draw(smallImage()); }

BENCH_CASE(jpeg_get_size, 100000) {
    uint32_t w, h;
    uint8_t progressive;
    GUI_JPEG_GetSize(smallImage().data(), (uint32_t)smallImage().size(), &w, &h, &progressive);
}
