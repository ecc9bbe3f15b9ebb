// The services every device module stands on: the log, the response channel
// (sendData), the CRC-32 of uploads, the fatal-error exit, the process-wide
// run state, and the two seams tests use (where frames and packets go, and
// bringing the whole device back to its start-up state).
//
// This header includes nothing of the device above it; the program's entry
// (host/main) sits on top of every module instead.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

extern FILE *logfd;                 // "sim.log" when open, else null
extern uint8_t running;             // cleared by the end-of-stream command
extern int32_t save_frame;          // frame number to save to "frame.bin"; -1 = none
extern uint16_t mtu;                // the MTU reported to the host
extern uint32_t processedBytes;     // record bytes read so far, headers included

// Writes a log line when the log is open.
#define SIM_LOG(...) \
    do { \
        if (logfd) fprintf(logfd, __VA_ARGS__); \
    } while (0)

void sendData(const uint8_t *payload, uint16_t length);
uint16_t GetMTU();
uint32_t CRC_Calculate(const uint8_t *data, uint32_t length);
[[noreturn]] void Error_Handler();

// Invariants of the device's shared state (the pool's holders, the shared
// opacity line). In debug builds, the sanitizer build among them, a broken
// invariant names itself on standard error and in the log, and aborts: it is
// a fault of the device, never of the host's data. Release builds compile
// the check out without evaluating it.
#ifndef NDEBUG
#define SIM_ASSERT(condition, what) ((condition) ? (void)0 : SIM_AssertFailed(what, __FILE__, __LINE__))
#else
#define SIM_ASSERT(condition, what) ((void)sizeof(condition))
#endif
[[noreturn]] void SIM_AssertFailed(const char *what, const char *file, int line);

// Output seam: frames go to SIM_frameSink, response packets to
// SIM_packetSink. Both default to writing file descriptors 1 and 2.
using SIM_Sink = void (*)(const uint8_t *bytes, size_t length);
extern SIM_Sink SIM_frameSink;
extern SIM_Sink SIM_packetSink;
void SIM_WriteFd(int fd, const uint8_t *bytes, size_t length);
// A sink that keeps nothing. A frame for it is not even built (only counted,
// and saved when asked): runs of millions of streams read none of them.
void SIM_DiscardOutput(const uint8_t *bytes, size_t length);

// Reset seam: every module with state registers a hook that brings it back
// to its start-up values; SIM_ResetDevice runs them all.
using SIM_ResetHook = void (*)();
struct SIM_ResetRegistration {
    explicit SIM_ResetRegistration(SIM_ResetHook hook);
};
#define SIM_REGISTER_RESET(fn) static SIM_ResetRegistration _resetRegistration_##fn(fn)
void SIM_ResetDevice();
