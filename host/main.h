// The program's entry: the command line, the start-up sequence and the one
// loop that reads records and hands their payloads to the dispatcher. It sits
// on top of every device module; none of them includes this header.
#pragma once
#include <cstddef>
#include <cstdint>

#include "host/platform.h"

// Runs the start-up sequence (flash, cache, graphics, device state, logo).
void SIM_StartDevice();

// Runs one record stream from a descriptor until its end or the end-of-stream
// command; the entry for tests and fuzzing.
void SIM_RunRecordStream(int inputFd);
// Runs records held in memory.
void SIM_RunRecordBytes(const uint8_t *bytes, size_t length);

int simMain(int argc, char **argv);
