// The resource cache: font and image slots in flash, the cache command, and
// the chunked uploads staged in packet_cache.
#pragma once
#include <cstdint>
#include "host/config.h"

// Upload staging, shared with the authentication handshake's reassembly.
extern uint8_t packet_cache[PACKET_CACHE_SIZE_BYTES];

void initCache();

// Compressed command blocks: inflates the host's zlib stream block by block
// and runs the inflated commands through the dispatcher.
int32_t CMD_Zlib(const uint8_t *command, uint32_t remaining);
