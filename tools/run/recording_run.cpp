// The device is fed one record piece at a time through its own record loop
// (SIM_RunRecordBytes), which reads a piece exactly as it would read it from
// the whole stream; the dispatcher's command seam marks where each command
// begins and where the walk of a payload ends. The log goes to a stream of
// our own, so that each line lands with the command that wrote it.
#include "tools/run/recording_run.h"

#include <cstdio>

#include "host/main.h"
#include "host/platform.h"
#include "protocol/commandHandler.h"
#include "protocol/eventHandler.h"
#include "tools/hostlib/assembler.h"
#include "tools/hostlib/file_io.h"

namespace nimbra {

namespace {

// The run under way (the device and its seams are global).
struct Run {
    RunObserver *observer = nullptr;
    const uint8_t *recording = nullptr;
    size_t pieceOffset = 0;   // of the record being run
    bool inCommand = false;   // between a command's start and its payload's end
    bool startingUp = true;
    IndexedFrame frame;
    uint64_t frames = 0;
    std::string frameError;
};
Run *gRun = nullptr;

void _FrameOut(const uint8_t *bytes, size_t length) {
    Run &run = *gRun;
    if (length != kFrameBytes || !indexFrame(bytes, run.frame, &run.frameError)) {
        if (run.frameError.empty()) run.frameError = "a frame of " + std::to_string(length) + " bytes";
        return;
    }
    run.frame.number = run.frames++;
    run.observer->frame(run.frame);
}

void _PacketOut(const uint8_t *bytes, size_t length) {
    if (length >= 4) gRun->observer->reply(bytes + 4, length - 4);
}

void _CommandSeam(const uint8_t *, uint32_t size, uint32_t offset, bool leaving) {
    Run &run = *gRun;
    if (leaving) {
        if (offset < size) run.observer->commandStopped();
        run.inCommand = false;
        return;
    }
    RunCommand c;
    c.payload = run.recording + run.pieceOffset + kRecordHeaderBytes;
    c.payloadBytes = size;
    c.payloadOffset = offset;
    c.offset = run.pieceOffset + kRecordHeaderBytes + offset;
    run.inCommand = true;
    run.observer->commandStarted(c);
}

// The record loop's separator lines, written between records, belong to no
// command and are left out.
ssize_t _LogWrite(void *, const char *text, size_t length) {
    Run &run = *gRun;
    if (run.inCommand || run.startingUp) run.observer->logText(text, length);
    return (ssize_t)length;
}

void _NoSleep() {}

// Puts the seams back however the run ends.
struct Seams {
    SIM_Sink frames = SIM_frameSink, packets = SIM_packetSink;
    FILE *log = logfd;
    SIM_CommandHook hook = SIM_commandHook;
    void (*sleep)() = SIM_sleepOneSecond;
    FILE *ownLog = nullptr;
    ~Seams() {
        SIM_frameSink = frames;
        SIM_packetSink = packets;
        SIM_commandHook = hook;
        SIM_sleepOneSecond = sleep;
        logfd = log;
        if (ownLog) fclose(ownLog);
        gRun = nullptr;
    }
};

}  // namespace

bool runRecording(const uint8_t *recording, size_t size, RunObserver &observer, const RunOptions &options,
                  RunSummary &summary, std::string &error) {
    summary = RunSummary{};
    if (gRun) {
        error = "a recording is already running on the device";
        return false;
    }
    Run run;
    run.observer = &observer;
    run.recording = recording;
    Seams seams;
    gRun = &run;
    SIM_ResetDevice();
    SIM_frameSink = _FrameOut;
    SIM_packetSink = _PacketOut;
    // Power-off waits a second on the device; here time does not show.
    SIM_sleepOneSecond = _NoSleep;
    logfd = nullptr;
    if (options.log) {
        cookie_io_functions_t io{nullptr, _LogWrite, nullptr, nullptr};
        seams.ownLog = fopencookie(nullptr, "w", io);
        if (seams.ownLog) setvbuf(seams.ownLog, nullptr, _IONBF, 0);
        logfd = seams.ownLog;
    }
    SIM_StartDevice();
    run.startingUp = false;
    SIM_commandHook = _CommandSeam;

    size_t pos = 0;
    while (pos < size && run.frameError.empty()) {
        const RecordPiece piece = recordPieceAt(recording, size, pos);
        if (!running) {
            observer.notRun({piece, "the device has stopped reading"});
        } else {
            if (piece.kind != RecordPieceKind::Record) observer.notRun({piece, recordPieceNote(piece)});
            run.pieceOffset = pos;
            SIM_RunRecordBytes(recording + pos, piece.bytes);
        }
        pos += piece.bytes;
        observer.progress(pos, size);
        if (!observer.wantsMore()) {
            summary.endedEarly = pos < size;
            break;
        }
    }
    summary.frames = run.frames;
    summary.stoppedReading = !running;
    if (!run.frameError.empty()) {
        error = "frame " + std::to_string(run.frames) + " is no device frame: " + run.frameError;
        return false;
    }
    return true;
}

std::optional<Bytes> loadRecording(const std::string &path, std::string &error) {
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".nsc") == 0) {
        ScriptError scriptError;
        std::optional<Bytes> stream = assembleFile(path, scriptError);
        if (!stream) error = scriptError.text();
        return stream;
    }
    std::string why;
    std::optional<Bytes> bytes = loadFile(path, why);
    if (!bytes) error = "cannot read " + path + ": " + why;
    return bytes;
}

}  // namespace nimbra
