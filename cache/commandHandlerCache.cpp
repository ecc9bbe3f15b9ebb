// The font and image cache kept in the emulated flash, the chunked uploads
// staged in packet_cache, the image, sprite and clip commands, and the
// compressed command blocks.
#include "cache/commandHandlerCache.h"

alignas(8) uint8_t packet_cache[PACKET_CACHE_SIZE_BYTES];

// ------------------------------------------------- cache slots and the cache command

void initCache() {}

// ------------------------------------------------------ uploads of fonts and images


// ------------------------------------------------- image, sprite and clip commands


// ------------------------------------------------------- compressed command blocks

