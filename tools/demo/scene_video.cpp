// A short video clip streamed the way a host does it: start the decoder,
// then for each picture its group of upload chunks, one draw, and a frame.
#include <cstdio>
#include <cstdlib>

#include "tools/demo/demo_scenes.h"
#include "tools/demo/video_clip_data.h"
#include "tools/hostlib/video_stream.h"

DEMO_SCENE(700, video) {
    nimbra::CommandBuilder b;
    b.clearRect(0, 0, 1280, 800);
    nimbra::appendRecord(stream, b.payload());

    nimbra::VideoClipOptions options;
    // Centred: the clip is 192 x 144 pixels; positions are in half pixels.
    options.xHalf = (640 - 192);
    options.yHalf = (400 - 144);
    nimbra::Bytes clip(kVideoClip, kVideoClip + sizeof kVideoClip);
    std::string error;
    if (!nimbra::videoClipRecords(clip, options, stream, frameId, error)) {
        fprintf(stderr, "video scene: %s\n", error.c_str());
        exit(1);
    }
}
