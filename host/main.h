// The program's entry, the record loop, the response channel and the
// process-wide settings. Also the two seams tests use: where frames and
// packets go, and bringing the whole device back to its start-up state.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

extern FILE *logfd;                 // "sim.log" when open, else null
extern uint8_t running;
extern int32_t save_frame;
extern uint16_t mtu;
extern uint32_t processedBytes;

// Writes a log line when the log is open.
#define SIM_LOG(...) \
    do { \
        if (logfd) fprintf(logfd, __VA_ARGS__); \
    } while (0)

void sendData(const uint8_t *payload, uint16_t length);
uint16_t GetMTU();
uint32_t CRC_Calculate(const uint8_t *data, uint32_t length);
[[noreturn]] void Error_Handler();

// Output seam: frames go to SIM_frameSink, response packets to
// SIM_packetSink. Both default to writing file descriptors 1 and 2.
using SIM_Sink = void (*)(const uint8_t *bytes, size_t length);
extern SIM_Sink SIM_frameSink;
extern SIM_Sink SIM_packetSink;
void SIM_WriteFd(int fd, const uint8_t *bytes, size_t length);

// Reset seam: every module with state registers a hook that brings it back
// to its start-up values. SIM_ResetDevice runs them all; SIM_StartDevice then
// runs the start-up sequence (flash, cache, graphics, device state, logo).
using SIM_ResetHook = void (*)();
struct SIM_ResetRegistration {
    explicit SIM_ResetRegistration(SIM_ResetHook hook);
};
#define SIM_REGISTER_RESET(fn) static SIM_ResetRegistration _resetRegistration_##fn(fn)
void SIM_ResetDevice();
void SIM_StartDevice();

// Runs one record stream from a descriptor until its end or the end-of-stream
// command; the entry for tests and fuzzing.
void SIM_RunRecordStream(int inputFd);
// Runs records held in memory.
void SIM_RunRecordBytes(const uint8_t *bytes, size_t length);

int simMain(int argc, char **argv);
