// The memory pool: one static area handed out by a bump allocator with
// mark and release. Nothing in the device allocates from the heap.
//
// Ownership rule: jobs nest like a stack. A job takes a mark, allocates, and
// returns to its own mark on every way out. A holder that keeps memory past
// the end of its command (video playback, the slot 0 picture) must be the
// outermost user of what it holds; see the notes in cache/ and codecs/mpeg.
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
