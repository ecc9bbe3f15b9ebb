// The MPEG-1 video decoder fed as playback feeds it: stream bytes appended
// in chunks, pictures decoded and drawn between them, appended data dropped
// and the decoder restarted now and then.
//
// Checks, besides the sanitizers: no pixel outside the clip rectangle
// changes, the decoder's memory stays above its mark while it runs, and
// stopping it gives the pool back.
#include <cstddef>
#include <cstdint>

#include "codecs/mpeg.h"
#include "fuzz/fuzz_device.h"
#include "fuzz/fuzz_layout.h"
#include "gui/GUI_Alloc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::runRepeatable(size, [&] {
        fuzz::Input input(data, size);
        const fuzz::Placement at = fuzz::applyPlacement(input);
        const uint32_t poolStart = ALLOC_buffer_idx;
        fuzz::require(MPEG_Start() == VIDEO_OK, "a decoder starts in an empty pool");
        while (!input.empty()) {
            const uint8_t actions = input.u8();
            size_t length = 0;
            const uint8_t *bytes = input.take(input.u16(), &length);
            if (length > 0) MPEG_PushStreamData(bytes, (uint32_t)length);
            if (actions & fuzzlayout::kVideoRestore) MPEG_RestoreStreamData();
            if (actions & fuzzlayout::kVideoDraw) {
                fuzz::DrawGuard guard;
                // A stream without a complete picture draws nothing: that is
                // the input's affair, not a fault.
                static_cast<void>(MPEG_DrawFrame(at.x, at.y));
                // The first picture takes the frame stores from the pool.
                guard.check(/*poolTopKept=*/false);
                fuzz::require(allocToken == poolStart && ALLOC_buffer_idx >= allocToken, "video memory lies above its mark");
            }
            if (actions & fuzzlayout::kVideoRestart) fuzz::require(MPEG_Start() == VIDEO_OK, "a decoder restarts");
        }
        MPEG_Stop();
        fuzz::require(ALLOC_buffer_idx == poolStart, "stopping the video gives the pool back");
    });
    return 0;
}
