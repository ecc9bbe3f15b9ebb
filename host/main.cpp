// The simulator's entry: the command line, start-up, and the one loop that
// reads records and hands their payloads to the dispatcher.
#include "host/main.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <getopt.h>
#include <unistd.h>

#include "cache/commandHandlerCache.h"
#include "cache/flash.h"
#include "commands/commandHandlerDraw.h"
#include "host/GUI_Driver.h"
#include "host/bytes.h"
#include "host/config.h"
#include "protocol/commandHandler.h"
#include "protocol/eventHandler.h"

static uint8_t _recordBuffer[RECORD_MAX_PAYLOAD_BYTES];
static int32_t _lastLoggedFrame = 0;   // frame number of the last separator line

static void _ResetHost() {
    _lastLoggedFrame = 0;
    memset(_recordBuffer, 0, sizeof _recordBuffer);
}
SIM_REGISTER_RESET(_ResetHost);

void SIM_StartDevice() {
    loadFlashData();
    initCache();
    initDraw();
    onInit();
}

// --------------------------------------------------------------- record loop

// Reads until `want` bytes arrived or the input ended; a pipe may deliver a
// record in pieces and none of it may be lost. Returns the bytes read, or -1
// when the first read failed.
static ssize_t _ReadFully(int fd, uint8_t *dst, size_t want) {
    size_t got = 0;
    while (got < want) {
        ssize_t n = read(fd, dst + got, want - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return got ? (ssize_t)got : -1;
        if (n == 0) break;
        got += (size_t)n;
    }
    return (ssize_t)got;
}

// The record loop reads through this source so that tests can feed memory.
struct _RecordSource {
    int fd;
    const uint8_t *bytes;
    size_t length;
    size_t pos;
};

static ssize_t _ReadSource(_RecordSource &src, uint8_t *dst, size_t want) {
    if (src.bytes == nullptr) return _ReadFully(src.fd, dst, want);
    size_t n = src.length - src.pos < want ? src.length - src.pos : want;
    memcpy(dst, src.bytes + src.pos, n);
    src.pos += n;
    return (ssize_t)n;
}

static void _RunLoop(_RecordSource &src) {
    while (running) {
        if (frame_counter != _lastLoggedFrame) {
            _lastLoggedFrame = frame_counter;
            SIM_LOG("---------------- %d -------------------\n", frame_counter);
        }
        uint8_t header[RECORD_HEADER_BYTES];
        ssize_t got = _ReadSource(src, header, sizeof header);
        // A header cut short by the end of input ends the stream: there is no
        // record behind it to run.
        if (got < (ssize_t)sizeof header) break;
        uint32_t length = rd32be(header);
        if (length > RECORD_MAX_PAYLOAD_BYTES) continue;
        ssize_t payload = length ? _ReadSource(src, _recordBuffer, length) : 0;
        if (payload < 0) payload = 0;
        processedBytes += (uint32_t)payload + RECORD_HEADER_BYTES;
        if ((uint32_t)payload < length) continue;
        // A payload that stops early has set its status bit, which the host
        // reads with the system information; the stream goes on regardless.
        static_cast<void>(handleCommand(_recordBuffer, length));
    }
}

void SIM_RunRecordStream(int inputFd) {
    _RecordSource src{inputFd, nullptr, 0, 0};
    _RunLoop(src);
}

void SIM_RunRecordBytes(const uint8_t *bytes, size_t length) {
    static const uint8_t empty[1] = {0};
    _RecordSource src{-1, bytes ? bytes : empty, bytes ? length : 0, 0};
    _RunLoop(src);
}

// ------------------------------------------------------------- command line

static void printUsage(const char *name) {
    printf("%s - Orvale Nimbra Simulator\nVersion:%d\n", name, SIM_VERSION);
    printf("The default action is to read commands from stdin (binary), output frames RGB data to stdout, "
           "data to send on stderr\n");
    printf("Usage: %s [options]\n\n", name);
    printf("%-48s%s\n", "-h, --help:", "Print this help screen");
    printf("%-48s%s\n", "-v, --version:", "Print version and exit");
    printf("%-48s%s\n", "-r, --recording RECORDING_FILE.bin:", "Play a recorded file");
    printf("%-48s%s\n", "-f, --save-frame FRAME_NUMBER", "Save given frame rgb data");
    printf("%-48s%s\n", "-m, --mtu MTU", "Set MTU to use, default 490");
}

// Decimal conversion as the device's option reader does it: leading blanks,
// an optional sign, then digits up to the first other character. Values that
// do not fit wrap modulo 2^32 instead of overflowing.
static int32_t _ParseDecimal(const char *s) {
    while (*s == ' ' || *s == '\t' || *s == '\n' || *s == '\v' || *s == '\f' || *s == '\r') s++;
    bool negative = false;
    if (*s == '+' || *s == '-') negative = (*s++ == '-');
    uint32_t value = 0;
    while (*s >= '0' && *s <= '9') value = value * 10u + (uint32_t)(*s++ - '0');
    if (negative) value = 0u - value;
    return (int32_t)value;
}

int simMain(int argc, char **argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    setvbuf(stdin, nullptr, _IONBF, 0);
    // A viewer that goes away must not kill the device mid-stream.
    signal(SIGPIPE, SIG_IGN);

    // The options with a value take it as "--name=value" or, as the usage
    // text shows them, as the next argument. The log option's value is never
    // used, so "--log" takes one only when attached and never swallows the
    // argument after it.
    static const struct option longOptions[] = {
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'v'},
        {"log", optional_argument, nullptr, 'l'},
        {"recording", required_argument, nullptr, 'r'},
        {"save-frame", required_argument, nullptr, 'f'},
        {"mtu", required_argument, nullptr, 'm'},
        {nullptr, 0, nullptr, 0},
    };
    const char *name = argv[0] ? argv[0] : "nimbra-sim";
    int inputFd = 0;
    bool logRequested = false;
    opterr = 0;   // standard error carries response packets only
    optind = 1;
    for (;;) {
        int opt = getopt_long(argc, argv, "hvl:r:f:m:", longOptions, nullptr);
        if (opt == -1) break;
        switch (opt) {
        case 'h':
            printUsage(name);
            return 0;
        case 'v':
            printf("%s - Orvale Nimbra Simulator\nVersion:%d\n", name, SIM_VERSION);
            return 0;
        case 'l':
            logRequested = true;
            break;
        case 'r':
            if (inputFd > 0) close(inputFd);
            inputFd = open(optarg, O_RDONLY);
            if (inputFd < 0) {
                printf("Error: cannot open recording file %s: %s\n", optarg, strerror(errno));
                return 0;
            }
            break;
        case 'f':
            save_frame = _ParseDecimal(optarg);
            break;
        case 'm':
            mtu = (uint16_t)_ParseDecimal(optarg);
            break;
        default:
            printf("Error: invalid params\n");
            return 0;
        }
    }
    // An argument that is no option would otherwise be ignored while the
    // program waits on standard input ("nimbra-sim my.rec").
    if (optind < argc) {
        printf("Error: invalid params\n");
        return 0;
    }
    if (save_frame != -1 && inputFd == 0) {
        printf("Error: Can only save frame when playing back a recording, see usage.\n");
        return 0;
    }
    if (logRequested) {
        logfd = fopen("sim.log", "w");
        if (logfd) setvbuf(logfd, nullptr, _IONBF, 0);
    }
    SIM_LOG("Simulation started, version:%d\n", SIM_VERSION);
    SIM_LOG("save_frame:%d\n", save_frame);

    SIM_StartDevice();

    memset(_recordBuffer, 0, sizeof _recordBuffer);
    _lastLoggedFrame = 0;
    SIM_LOG("---------------- %d -------------------\n", 0);
    SIM_LOG("\n\n\nSTARTED MAIN LOOP\n\n\n");

    SIM_RunRecordStream(inputFd);

    if (logfd) {
        fclose(logfd);
        logfd = nullptr;
    }
    return 0;
}
