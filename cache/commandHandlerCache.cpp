// The font and image cache kept in the emulated flash.
#include "cache/commandHandlerCache.h"

alignas(8) uint8_t packet_cache[PACKET_CACHE_SIZE_BYTES];

void initCache() {}
