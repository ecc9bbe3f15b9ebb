// The response channel, the fatal-error exit, the output and reset seams and
// the process-wide run state. Nothing here knows about commands or drawing.
#include "host/platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "host/bytes.h"
#include "host/config.h"

FILE *logfd = nullptr;
uint8_t running = 1;
int32_t save_frame = -1;
uint16_t mtu = DEFAULT_MTU;
uint32_t processedBytes = 0;

static uint8_t outBuffer[4 + RESPONSE_MAX_PAYLOAD_BYTES];

void SIM_WriteFd(int fd, const uint8_t *bytes, size_t length) {
    // Unchecked by design (a closed viewer must not stop the device), but a
    // write cut short by a signal or a full pipe is completed.
    while (length > 0) {
        ssize_t n = write(fd, bytes, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        bytes += n;
        length -= (size_t)n;
    }
}

static void _WriteStdout(const uint8_t *bytes, size_t length) { SIM_WriteFd(1, bytes, length); }
static void _WriteStderr(const uint8_t *bytes, size_t length) { SIM_WriteFd(2, bytes, length); }

void SIM_DiscardOutput(const uint8_t *, size_t) {}

SIM_Sink SIM_frameSink = _WriteStdout;
SIM_Sink SIM_packetSink = _WriteStderr;

// ---------------------------------------------------------------- reset seam

static SIM_ResetHook _resetHooks[64];
static int _resetHookCount = 0;

SIM_ResetRegistration::SIM_ResetRegistration(SIM_ResetHook hook) {
    if (_resetHookCount < (int)(sizeof _resetHooks / sizeof _resetHooks[0])) {
        _resetHooks[_resetHookCount++] = hook;
    } else {
        abort();   // a build-time mistake: raise the table size
    }
}

static void _ResetPlatform() {
    running = 1;
    save_frame = -1;
    mtu = DEFAULT_MTU;
    processedBytes = 0;
}
SIM_REGISTER_RESET(_ResetPlatform);

void SIM_ResetDevice() {
    for (int i = 0; i < _resetHookCount; i++) _resetHooks[i]();
}

// ---------------------------------------------------------- response channel

void sendData(const uint8_t *payload, uint16_t length) {
    SIM_LOG("Sending back %d bytes\n", length);
    if (length > RESPONSE_MAX_PAYLOAD_BYTES) return;
    wr16le(outBuffer, length);
    outBuffer[2] = 0xAA;
    outBuffer[3] = 0xFF;
    if (length) memcpy(outBuffer + 4, payload, length);
    SIM_packetSink(outBuffer, (size_t)length + 4);
}

uint16_t GetMTU() { return mtu; }

void SIM_AssertFailed(const char *what, const char *file, int line) {
    SIM_LOG("invariant broken: %s (%s:%d)\n", what, file, line);
    fprintf(stderr, "invariant broken: %s (%s:%d)\n", what, file, line);
    Error_Handler();
}

void Error_Handler() {
    if (logfd) {
        fputs("Errror Handler!\n", logfd);
        fclose(logfd);
        logfd = nullptr;
    }
    abort();
}
