// What every fuzz target shares: the device brought back to its start-up
// state before each input, its output checked and dropped, and the checks of
// the invariants that the sanitizers cannot see (writes that stay inside a
// buffer but outside what a command may touch).
//
// A broken invariant prints one line naming it and aborts, so that the
// fuzzer keeps the input as a crash and the corpus runner fails.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz/fuzz_input.h"
#include "gui/GUI_Common.h"

namespace fuzz {

// Aborts with "invariant broken: WHAT" when `ok` is false.
void require(bool ok, const char *what);

// The device as it is right after start-up (boot logo drawn and shown),
// whatever the previous input did. Frames are discarded (not even built);
// packets go to a sink that checks their framing and keeps nothing.
void restartDevice();

// Fills the whole pool with `value` (the pool is empty after a restart).
void fillPool(uint8_t value);

// The outcome of a run since the restart: its replies, its screen, its
// frame count and what digestBytes adds (kept only while recordOutcome is
// on, as it costs time).
void recordOutcome(bool on);
void digestBytes(const uint8_t *bytes, size_t length);
void saveOutcome();
bool outcomeMatchesSaved();

// Runs run() on the restarted device, its pool first filled with zeros. One
// input in eight (chosen by its length, so that a replay chooses alike) runs
// a second time on a pool filled with ones and must have the same outcome:
// a device that used pool memory it never wrote would differ.
template <typename Run>
void runRepeatable(size_t inputSize, Run run) {
    const bool twice = inputSize % 8 == 5;
    restartDevice();
    fillPool(0x00);
    recordOutcome(twice);
    run();
    if (!twice) return;
    saveOutcome();
    restartDevice();
    fillPool(0xFF);
    recordOutcome(true);
    run();
    require(outcomeMatchesSaved(), "an input has the same outcome whatever the pool held before");
}

// What holds whenever no command runs: drawing goes to the screen, the
// antialiasing engines hold no pending row, and the pool follows its
// ownership rule (without a running video or a slot 0 picture it is empty;
// a picture lies below the top; a running video holds the top, above any
// picture).
void checkBetweenCommands();

// A command assembled in a block of exactly its length: header bytes, then
// the tail. The sanitizers then catch a handler that reads past what it was
// given.
class ExactCommand {
public:
    ExactCommand(const uint8_t *header, size_t headerBytes, const uint8_t *tail, size_t tailBytes);
    const uint8_t *bytes() const { return bytes_.get(); }
    uint32_t size() const { return size_; }

private:
    std::unique_ptr<uint8_t[]> bytes_;
    uint32_t size_;
};

// The placement that image and text inputs begin with (fuzz_layout.h):
// reads it, sets the clip rectangle it gives and returns the flags and the
// position in pixels.
struct Placement {
    uint8_t flags;
    int32_t x, y;
};
Placement applyPlacement(Input &input);

// The image targets' input: a placement, then the file to the end.
struct ImageInput {
    Placement at;
    const uint8_t *file;
    uint32_t fileBytes;
};
ImageInput applyImageInput(const uint8_t *data, size_t size);

// Remembers the screen, the graphics context and the pool top; check() then
// requires that the context (and unless told otherwise the pool top) is as
// it was and that no screen pixel changed outside the clip rectangle of that
// moment (none at all when drawing went to another surface).
class DrawGuard {
public:
    DrawGuard();
    void check(bool poolTopKept = true) const;

private:
    GUI_ContextRecord context_;
    uint32_t poolTop_;
};

// Runs draw() on a picture of width x height bytes of its own, as the slot 0
// upload decodes into the pool, with the clip rectangle on the picture. The
// picture is a block of exactly that size, so that the sanitizers catch any
// write past it; the screen must not change. The picture joins the digest.
template <typename Draw>
void drawIntoPicture(uint32_t width, uint32_t height, Draw draw) {
    const size_t bytes = (size_t)width * height;
    std::unique_ptr<uint8_t[]> picture(new uint8_t[bytes]());
    GUI_SetFrameBufferBase(picture.get(), width, height);
    DrawGuard guard;
    draw();
    guard.check();
    GUI_RestoreFrameBufferBase();
    digestBytes(picture.get(), bytes);
}

}  // namespace fuzz
