// The viewer's share of each frame: taking a device frame into the ring (one
// 32-bit look-up and compare per pixel) and composing the window's picture,
// against reading the same bytes as the pipe delivers them (a plain copy of
// the frame). The viewer must keep up with the simulator, which writes about
// 1,200 frames a second through a pipe.
#include <cstring>

#include "bench/bench_support.h"
#include "gui/GUICC_M332.h"
#include "tools/view/viewer.h"

namespace {

using bench::Bytes;

// A frame of the device with some of every colour.
Bytes deviceFrame() {
    Bytes f(nimbra::kFrameBytes);
    for (size_t i = 0; i < nimbra::view::kPixels; i++) {
        uint8_t idx = (uint8_t)(i * 37 + (i >> 9));
        uint8_t *p = &f[4 + i * 4];
        p[0] = M332_2bitColor[idx & 3];
        p[1] = M332_3bitColor[(idx >> 2) & 7];
        p[2] = M332_3bitColor[idx >> 5];
        p[3] = 0xAA;
    }
    return f;
}

void BM_RingPush(benchmark::State &state) {
    const Bytes frame = deviceFrame();
    nimbra::view::FrameRing ring;
    for (auto _ : state) ring.push(frame.data());
    state.SetItemsProcessed((int64_t)state.iterations());
}
BENCHMARK(BM_RingPush)->Name("view/ring_push");

void BM_FrameCopy(benchmark::State &state) {
    const Bytes frame = deviceFrame();
    Bytes copy(frame.size());
    for (auto _ : state) {
        memcpy(copy.data(), frame.data(), frame.size());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed((int64_t)state.iterations());
}
BENCHMARK(BM_FrameCopy)->Name("view/anchor/frame_copy");
NIMBRA_ANCHOR("view/ring_push", "view/anchor/frame_copy");

void BM_Compose(benchmark::State &state) {
    const Bytes frame = deviceFrame();
    nimbra::view::Feed feed(2);
    feed.pushFrame(frame.data());
    nimbra::view::Viewer viewer(feed);
    viewer.refresh(0);
    viewer.press(nimbra::view::Key::Grid);
    std::vector<uint32_t> picture((size_t)nimbra::view::kViewWidth * nimbra::view::kViewHeight);
    for (auto _ : state) {
        composeView(viewer, picture.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed((int64_t)state.iterations());
}
BENCHMARK(BM_Compose)->Name("view/compose");

}  // namespace
