// Frame output: the copy-to-screen conversion (256000 table look-ups and one
// 1024004-byte write per frame, here to /dev/null), against the plainest loop
// that does the same work.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "bench/bench_support.h"
#include "gui/GUICC_M332.h"
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_Common.h"
#include "gui/GUI_Rect.h"
#include "host/GUI_Driver.h"
#include "host/config.h"
#include "host/platform.h"

namespace {

int devNull() {
    static int fd = open("/dev/null", O_WRONLY);
    if (fd < 0) bench::fail("cannot open /dev/null");
    return fd;
}

// Some of every colour, so that no look-up is predictable.
void fillFrameBuffer() {
    for (uint32_t i = 0; i < FB_SIZE_BYTES; i++) fb[i] = (uint8_t)(i * 37 + (i >> 9));
}

void BM_CopyBuffer(benchmark::State &state) {
    fillFrameBuffer();
    SIM_Sink saved = SIM_frameSink;
    SIM_frameSink = bench::writeToDevNull;
    for (auto _ : state) copyBuffer();
    SIM_frameSink = saved;
    state.SetBytesProcessed((int64_t)state.iterations() * FRAME_SIZE_BYTES);
}
BENCHMARK(BM_CopyBuffer)->Name("frame/copyBuffer");

// The anchor: one table of four output bytes per index, a loop over the
// frame buffer, one write.
void BM_PlainConversionLoop(benchmark::State &state) {
    fillFrameBuffer();
    static uint32_t table[256];
    for (uint32_t i = 0; i < 256; i++) {
        uint8_t px[4] = {M332_2bitColor[i & 3], M332_3bitColor[(i >> 2) & 7], M332_3bitColor[i >> 5], 0xAA};
        memcpy(&table[i], px, 4);
    }
    static uint8_t out[FRAME_SIZE_BYTES];
    for (auto _ : state) {
        memset(out, 0, 4);
        for (uint32_t i = 0; i < FB_SIZE_BYTES; i++) memcpy(out + 4 + 4 * i, &table[fb[i]], 4);
        if (write(devNull(), out, sizeof out) != (ssize_t)sizeof out) bench::fail("short write to /dev/null");
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * FRAME_SIZE_BYTES);
}
BENCHMARK(BM_PlainConversionLoop)->Name("anchor/frame/plain_loop");
NIMBRA_ANCHOR("frame/copyBuffer", "anchor/frame/plain_loop");

void BM_FillRectFullScreen(benchmark::State &state) {
    for (auto _ : state) {
        GUI_SetColor(0xFF336699);
        GUI_FillRect(0, 0, 639, 399);
    }
}
BENCHMARK(BM_FillRectFullScreen)->Name("frame/fillRect_full_screen");

}  // namespace
