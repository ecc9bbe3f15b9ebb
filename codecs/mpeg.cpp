// Video playback. The host starts a decoder (play, action 1), streams the
// MPEG-1 video elementary stream in numbered chunks (upload), and asks for
// one picture at a time (play, action 3 with a position); action 2 stops the
// decoder and frees its memory. Each decoded picture's luma samples are
// copied unchanged into the frame buffer, so a sample is used directly as an
// RGB332 colour index.
//
// Sharing the pool with the slot 0 picture. Two holders keep pool memory
// past the end of their command: video playback, from start to stop, above
// the mark `allocToken`; and the slot 0 picture, from its upload until the
// next one. The pool is a stack, so the two stay valid only if neither ever
// releases below the other's memory. The rule: video is always the outermost
// holder.
//  - Start takes its mark at the current top of the pool. A slot 0 picture
//    that already exists lies below the mark and survives stop and restart.
//  - While video runs (MPEG_IsRunning), a slot 0 upload is refused (the image
//    cache reports that the pool has no room) instead of releasing the pool
//    under the decoder or allocating above it, where stop would release it.
//  - Stop releases to `allocToken` only when a decoder is running. Stop while
//    stopped releases nothing: above the last start's mark there may now be
//    a slot 0 picture uploaded after that stop, and nothing else (every
//    other user of the pool releases to its own mark before its command
//    ends).
#include "codecs/mpeg.h"

#include "codecs/mpeg1_video.h"
#include "commands/commandHandlerDraw.h"
#include "gui/GUI_Alloc.h"
#include "gui/GUI_Bitmap.h"
#include "gui/GUI_Common.h"
#include "host/bytes.h"
#include "host/config.h"
#include "host/platform.h"
#include "protocol/commandHandler.h"

constexpr uint32_t VIDEO_PLAY_BYTES = 5;
constexpr uint32_t VIDEO_UPLOAD_HEADER_BYTES = 4;
constexpr size_t VIDEO_STREAM_BUFFER_BYTES = 16384;

constexpr uint8_t VIDEO_ACTION_START = 1;
constexpr uint8_t VIDEO_ACTION_STOP = 2;
constexpr uint8_t VIDEO_ACTION_DRAW = 3;

constexpr uint8_t CHUNK_NUMBER_MASK = 0x7F;
constexpr uint8_t CHUNK_LAST_OF_GROUP = 0x80;

uint32_t allocToken = 0;
static plm_video_t *video_decoder = nullptr;
static plm_buffer_t *video_buffer = nullptr;
static uint8_t video_seq_number = 0;   // chunk number expected next
static bool bad_video_frame = false;   // skipping the rest of a damaged group

static void _ResetVideo() {
    allocToken = 0;
    video_decoder = nullptr;
    video_buffer = nullptr;
    video_seq_number = 0;
    bad_video_frame = false;
}
SIM_REGISTER_RESET(_ResetVideo);

bool MPEG_IsRunning() { return video_decoder != nullptr; }

GUI_PoolExtent MPEG_PoolExtent() {
    return video_decoder ? GUI_PoolExtent{allocToken, GUI_AllocStart()} : GUI_PoolExtent{};
}

VideoResult MPEG_Stop() {
    if (video_decoder) {
        plm_video_destroy(video_decoder);
        plm_buffer_destroy(video_buffer);
        video_decoder = nullptr;
        video_buffer = nullptr;
        GUI_AllocEnd(allocToken);
    }
    return VIDEO_OK;
}

VideoResult MPEG_Start() {
    static_cast<void>(MPEG_Stop());
    allocToken = GUI_AllocStart();
    video_buffer = plm_buffer_create_with_capacity(VIDEO_STREAM_BUFFER_BYTES);
    video_decoder = video_buffer ? plm_video_create_with_buffer(video_buffer) : nullptr;
    if (!video_decoder) {
        video_buffer = nullptr;
        GUI_AllocEnd(allocToken);
        SIM_LOG("MPEG_Start: no pool room for the decoder\n");
        return VIDEO_NO_POOL;
    }
    return VIDEO_OK;
}

void MPEG_PushStreamData(const uint8_t *bytes, uint32_t length) {
    if (!video_decoder) return;
    if (plm_buffer_write(video_buffer, bytes, length) != length) {
        SIM_LOG("MPEG_PushStreamData: stream buffer full, %u bytes dropped\n",
                (unsigned)(plm_buffer_get_size(video_buffer) + length));
        plm_buffer_reset(video_buffer);
    }
}

void MPEG_RestoreStreamData() {
    if (video_decoder) plm_buffer_restore(video_buffer);
}

VideoResult MPEG_DrawFrame(int32_t x, int32_t y) {
    if (!video_decoder) return VIDEO_NO_FRAME;
    const plm_frame_t *frame = plm_video_decode(video_decoder);
    if (!frame) return VIDEO_NO_FRAME;

    // The drawn span: the frame's columns inside the clip rectangle, and
    // inside the drawing surface whatever the clip says.
    const GUI_ContextRecord &c = GUI_Context;
    int64_t left = x, right = (int64_t)x + frame->width - 1;
    int64_t clipLeft = c.clipX0 > 0 ? c.clipX0 : 0;
    int64_t clipRight = c.clipX1 < (int64_t)pDevice->xSize - 1 ? c.clipX1 : (int64_t)pDevice->xSize - 1;
    int64_t clipTop = c.clipY0 > 0 ? c.clipY0 : 0;
    int64_t clipBottom = c.clipY1 < (int64_t)pDevice->ySize - 1 ? c.clipY1 : (int64_t)pDevice->ySize - 1;
    int64_t first = left > clipLeft ? left : clipLeft;
    int64_t last = right < clipRight ? right : clipRight;
    if (last < first) return VIDEO_OK;
    int32_t span = (int32_t)(last - first + 1);
    const uint8_t *source = frame->y.data + (first - left);
    for (int64_t row = 0; row < frame->height; row++, source += frame->y.width) {
        int64_t screenRow = (int64_t)y + row;
        if (screenRow < clipTop) continue;
        if (screenRow > clipBottom) break;
        DrawBitmapSimpleLine((int32_t)first, (int32_t)screenRow, span, source);
    }
    return VIDEO_OK;
}

int32_t CMD_videoPlay(const uint8_t *command, uint32_t remaining) {
    if (remaining < VIDEO_PLAY_BYTES) return commandMalformed(OP_VIDEO_PLAY, NO_DETAIL);
    uint8_t action = command[1];
    VideoResult result;
    switch (action) {
    case VIDEO_ACTION_START:
        bad_video_frame = false;
        video_seq_number = 0;
        result = MPEG_Start();
        break;
    case VIDEO_ACTION_STOP:
        result = MPEG_Stop();
        break;
    case VIDEO_ACTION_DRAW: {
        PackedPair at = readPackedPairSigned(command + 2);
        result = MPEG_DrawFrame(halfToPixel(at.a), halfToPixel(at.b));
        break;
    }
    default:
        return reportCommand(OP_VIDEO_PLAY, RESULT_MALFORMED, 0, VIDEO_PLAY_BYTES);
    }
    if (result != VIDEO_OK) handleCommandError(OP_VIDEO_PLAY, RESULT_SEQUENCE, action);
    return VIDEO_PLAY_BYTES;
}

int32_t CMD_videoUpload(const uint8_t *command, uint32_t remaining) {
    if (remaining < VIDEO_UPLOAD_HEADER_BYTES + 1) return commandMalformed(OP_VIDEO_UPLOAD, NO_DETAIL);
    uint8_t chunk = command[1] & CHUNK_NUMBER_MASK;
    bool lastOfGroup = (command[1] & CHUNK_LAST_OF_GROUP) != 0;
    uint32_t length = rd16le(command + 2);
    if (length == 0 || length > remaining - VIDEO_UPLOAD_HEADER_BYTES) {
        bad_video_frame = true;
        MPEG_RestoreStreamData();
        return commandMalformed(OP_VIDEO_UPLOAD);
    }
    int32_t consumed = (int32_t)(VIDEO_UPLOAD_HEADER_BYTES + length);
    if (chunk != video_seq_number) {
        // A lost or reordered chunk: drop the group so far and skip the rest
        // of it; buffering resumes with the group after the next chunk 0's.
        MPEG_RestoreStreamData();
        bad_video_frame = true;
        video_seq_number = 0;
        return reportCommand(OP_VIDEO_UPLOAD, RESULT_MALFORMED, chunk, consumed);
    }
    if (!bad_video_frame) MPEG_PushStreamData(command + VIDEO_UPLOAD_HEADER_BYTES, length);
    // After chunk 127 without the last-of-group bit no chunk can match.
    video_seq_number = lastOfGroup ? 0 : (uint8_t)(chunk + 1);
    if (lastOfGroup) bad_video_frame = false;
    return consumed;
}
