// Working memory for one zlib inflater, handed to zlib through its allocation
// hooks so that inflating never touches the heap.
//
// The areas are sized from what zlib 1.2.13 asks its hook for on a 64-bit
// host: a 7160-byte state (once, from inflateInit2) and the 32 KiB window of
// a 15-bit window (once, on the first output). The first request is the
// state's and is served only from the state area: a zlib whose state is
// larger fails to initialise, instead of taking the window area and failing
// later, mid-stream, for want of a window. Any later request is served from
// the window area once. A request that does not fit is refused, and zlib
// reports that as a memory error instead of writing past the area.
#pragma once
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <new>

#include "gui/GUI_Alloc.h"

constexpr uint32_t INFLATE_STATE_BYTES = 7160;
constexpr uint32_t INFLATE_WINDOW_BYTES = 32768;

struct InflateArea {
    uint8_t stateTaken;
    uint8_t windowTaken;
    alignas(8) uint8_t state[INFLATE_STATE_BYTES];
    alignas(8) uint8_t window[INFLATE_WINDOW_BYTES];
};

// Pool bytes an InflateArea takes with room to align it.
constexpr uint32_t INFLATE_AREA_POOL_BYTES = (uint32_t)(sizeof(InflateArea) + alignof(InflateArea));

static inline voidpf InflateArea_Alloc(voidpf opaque, uInt items, uInt size) {
    InflateArea *area = static_cast<InflateArea *>(opaque);
    const uint64_t bytes = (uint64_t)items * size;
    if (!area->stateTaken) {
        if (bytes > sizeof area->state) return Z_NULL;
        area->stateTaken = 1;
        return area->state;
    }
    if (!area->windowTaken && bytes <= sizeof area->window) {
        area->windowTaken = 1;
        return area->window;
    }
    return Z_NULL;
}

// The areas belong to whoever holds the InflateArea; zlib's frees are no-ops.
static inline void InflateArea_Free(voidpf, voidpf) {}

// Clears the state area and starts a zlib-wrapped inflation with a 32 KiB
// window whose memory comes from `area`. Returns zlib's result.
static inline int InflateArea_Init(z_stream *zs, InflateArea *area) {
    memset(zs, 0, sizeof *zs);
    memset(area->state, 0, sizeof area->state);
    area->stateTaken = 0;
    area->windowTaken = 0;
    zs->zalloc = InflateArea_Alloc;
    zs->zfree = InflateArea_Free;
    zs->opaque = area;
    return inflateInit2(zs, 15);
}

// Takes an InflateArea from the pool, aligned for zlib's pointers. The
// caller holds a pool mark and has checked GUI_GetNumFreeBytes against
// INFLATE_AREA_POOL_BYTES.
static inline InflateArea *InflateArea_FromPool() {
    uintptr_t block = (uintptr_t)GUI_AllocNoInit(INFLATE_AREA_POOL_BYTES);
    uintptr_t aligned = (block + alignof(InflateArea) - 1) & ~(uintptr_t)(alignof(InflateArea) - 1);
    return new (reinterpret_cast<void *>(aligned)) InflateArea;
}
