// Video playback: the demo clip (192 x 144, 12 pictures of I, P and B)
// started, streamed and drawn picture by picture.
#include "bench/bench.h"
#include "codecs/mpeg.h"
#include "tools/demo/video_clip_data.h"
#include "tools/hostlib/video_stream.h"

BENCH_CASE(video_clip_12_pictures, 50) {
    static const std::vector<nimbra::Bytes> groups =
        nimbra::splitVideoGroups(nimbra::Bytes(kVideoClip, kVideoClip + sizeof kVideoClip));
    MPEG_Start();
    for (const nimbra::Bytes &g : groups) {
        MPEG_PushStreamData(g.data(), (uint32_t)g.size());
        MPEG_DrawFrame(224, 128);
    }
    MPEG_Stop();
}
