// The memory pool: one static area handed out by a bump allocator with
// mark and release. Nothing in the device allocates from the heap.
//
// Ownership rule: jobs nest like a stack. A job takes a mark, allocates, and
// returns to its own mark on every way out. Two holders keep memory past the
// end of their command: video playback (from start to stop, above the mark
// allocToken) and the slot 0 picture (until the next slot 0 upload). Video
// is always the outermost of the two:
//  - video start takes its mark at the current top, above any slot 0
//    picture, which therefore survives video stop and restart;
//  - while MPEG_IsRunning() (codecs/mpeg.h), the slot 0 picture is neither
//    released nor allocated: a slot 0 upload is refused as finding no pool
//    room, so nothing long-lived ever lies above the video's mark;
//  - video stop releases to allocToken only when a decoder runs; stop while
//    stopped releases nothing, so it cannot discard a picture uploaded after
//    the last stop.
// See the notes at the top of codecs/mpeg.cpp.
#pragma once
#include <cstdint>
#include "host/config.h"

extern uint8_t ALLOC_buffer[POOL_SIZE_BYTES];
extern uint32_t ALLOC_buffer_idx;

uint32_t GUI_AllocStart();
void GUI_AllocEnd(uint32_t mark);
void *GUI_AllocNoInit(uint32_t size);
void *GUI_AllocZero(uint32_t size);
void *GUI_AllocZeroElements(uint32_t count, uint32_t size);
void GUI_Free(void *block);
uint32_t GUI_GetNumFreeBytes();

// A stretch of the pool held past the end of a command (pool offsets, end
// exclusive); empty when its holder holds nothing.
struct GUI_PoolExtent {
    uint32_t begin = 0;
    uint32_t end = 0;
    uint32_t bytes() const { return end - begin; }
};

// A pool job as a scope: takes the pool's mark where it is declared and
// returns the pool to it on every way out of the scope, so that no early
// return can leave the job's memory taken.
class PoolMark {
public:
    PoolMark() : mark_(GUI_AllocStart()) {}
    ~PoolMark() { GUI_AllocEnd(mark_); }
    PoolMark(const PoolMark &) = delete;
    PoolMark &operator=(const PoolMark &) = delete;

private:
    const uint32_t mark_;
};
