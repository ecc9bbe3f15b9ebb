// Bump allocator over ALLOC_buffer. Exhaustion is an internal fault: callers
// whose request sizes come from the host check GUI_GetNumFreeBytes first.
//
// Under AddressSanitizer the free part of the pool (above the top) is
// poisoned, so that a job touching memory it has given back, or never took,
// is reported where it happens instead of quietly corrupting the next job's
// memory. The layout of the pool is the same either way.
#include "gui/GUI_Alloc.h"
#include <sanitizer/asan_interface.h>   // the poisoning calls are empty without AddressSanitizer
#include <cstring>
#include "host/platform.h"

alignas(16) uint8_t ALLOC_buffer[POOL_SIZE_BYTES];
uint32_t ALLOC_buffer_idx = 0;

static void _Poison(uint32_t from, uint32_t to) {
    if (from < to) ASAN_POISON_MEMORY_REGION(ALLOC_buffer + from, to - from);
}

static void _Unpoison(uint32_t from, uint32_t to) {
    if (from < to) ASAN_UNPOISON_MEMORY_REGION(ALLOC_buffer + from, to - from);
}

static void _ResetPool() {
    ALLOC_buffer_idx = 0;
    _Poison(0, POOL_SIZE_BYTES);
}
SIM_REGISTER_RESET(_ResetPool);
// The whole pool is free when the program starts.
[[maybe_unused]] static const bool _poolPoisoned = (_Poison(0, POOL_SIZE_BYTES), true);

uint32_t GUI_AllocStart() { return ALLOC_buffer_idx; }

void GUI_AllocEnd(uint32_t mark) {
    // A mark can only come from GUI_AllocStart, so it is never past the pool;
    // the bound keeps a stale or corrupted mark from breaking the invariant.
    if (mark > POOL_SIZE_BYTES) mark = POOL_SIZE_BYTES;
    // Everything above the top is poisoned already. A mark above the top (a
    // holder releasing after an inner job went lower) leaves the memory in
    // between poisoned: it was given back already.
    _Poison(mark, ALLOC_buffer_idx);
    ALLOC_buffer_idx = mark;
}

void *GUI_AllocNoInit(uint32_t size) {
    uint64_t rounded = ((uint64_t)size + 3u) & ~(uint64_t)3u;
    if ((uint64_t)ALLOC_buffer_idx + rounded > POOL_SIZE_BYTES) {
        Error_Handler();
    }
    void *block = ALLOC_buffer + ALLOC_buffer_idx;
    _Unpoison(ALLOC_buffer_idx, ALLOC_buffer_idx + (uint32_t)rounded);
    ALLOC_buffer_idx += (uint32_t)rounded;
    return block;
}

void *GUI_AllocZero(uint32_t size) {
    void *block = GUI_AllocNoInit(size);
    memset(block, 0, size);
    return block;
}

void *GUI_AllocZeroElements(uint32_t count, uint32_t size) {
    // The product is taken in 64 bits, so that a request whose count times
    // size passes 32 bits is refused as exhaustion instead of wrapping round
    // to a small block that the caller would then overrun.
    uint64_t total = (uint64_t)count * size;
    if (total > POOL_SIZE_BYTES) {
        Error_Handler();
    }
    return GUI_AllocZero((uint32_t)total);
}

void GUI_Free(void *) {}

uint32_t GUI_GetNumFreeBytes() { return POOL_SIZE_BYTES - ALLOC_buffer_idx; }
