#include "fuzz/fuzz_device.h"

#include <sanitizer/asan_interface.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cache/commandHandlerCache.h"
#include "cache/flash.h"
#include "codecs/mpeg.h"
#include "commands/commandHandlerDraw.h"
#include "fuzz/fuzz_layout.h"
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_AALib.h"
#include "gui/GUI_Alloc.h"
#include "host/bytes.h"
#include "host/config.h"
#include "host/GUI_Driver.h"
#include "host/main.h"
#include "protocol/commandHandler.h"
#include "protocol/eventHandler.h"

// The engines' idle checks, which their headers leave to the checkers.
bool AA_IsIdle();
bool AA_IsIdleSimple();

namespace fuzz {

void require(bool ok, const char *what) {
    if (ok) return;
    fprintf(stderr, "invariant broken: %s\n", what);
    abort();
}

// ------------------------------------------------------------------ output

// FNV-1a, 64 bits: enough to tell two runs apart.
static uint64_t _Hash(uint64_t hash, const uint8_t *bytes, size_t length) {
    for (size_t i = 0; i < length; i++) hash = (hash ^ bytes[i]) * 0x100000001B3ull;
    return hash;
}
static constexpr uint64_t kHashStart = 0xCBF29CE484222325ull;

struct Outcome {
    uint64_t replies = kHashStart;
    uint64_t added = kHashStart;
    int32_t frames = 0;
};
static bool _recording = false;
static Outcome _outcome, _savedOutcome;
static uint8_t _savedScreen[FB_SIZE_BYTES];

// Every packet is one framed reply: its header gives its own length.
static void _PacketSink(const uint8_t *bytes, size_t length) {
    require(length >= 5 && length <= 4 + RESPONSE_MAX_PAYLOAD_BYTES, "a packet carries 1 to 1024 bytes");
    require(rd16le(bytes) + 4u == length && bytes[2] == 0xAA && bytes[3] == 0xFF, "a packet header frames it");
    if (_recording) _outcome.replies = _Hash(_outcome.replies, bytes, length);
}

void recordOutcome(bool on) { _recording = on; }

void digestBytes(const uint8_t *bytes, size_t length) {
    if (_recording) _outcome.added = _Hash(_outcome.added, bytes, length);
}

void saveOutcome() {
    _savedOutcome = _outcome;
    _savedOutcome.frames = frame_counter;
    memcpy(_savedScreen, fb, sizeof fb);
}

bool outcomeMatchesSaved() {
    return _outcome.replies == _savedOutcome.replies && _outcome.added == _savedOutcome.added &&
           frame_counter == _savedOutcome.frames && memcmp(fb, _savedScreen, sizeof fb) == 0;
}

static void _NoSleep() {}

// ------------------------------------------------------------------ device

// What start-up sets beyond the reset: the device records and their copy in
// flash, the cache tables and font records, the graphics context, the device
// state and the boot screen with its count. Drawing the boot screen is most
// of a start (and of a short run); after the first start these are copied
// back instead. tests/host/reset_test.cpp checks that this gives the same
// device as a start.
struct StateRegion {
    void *at;
    size_t size;
};
static const StateRegion kStartState[] = {
    {orvDynData, sizeof orvDynData},
    {orvConstData, sizeof orvConstData},
    {FLASH_Address(FLASH_DYNDATA_OFFSET), sizeof orvDynData},
    {fontCacheAddress, sizeof fontCacheAddress},
    {imageCacheAddress, sizeof imageCacheAddress},
    {loadedfont, sizeof loadedfont},
    {memoryImageEntry, sizeof memoryImageEntry},
    {&GUI_Context, sizeof GUI_Context},
    {&pDevice, sizeof pDevice},
    {fb, sizeof fb},
    {lineOpacityBuffer, sizeof lineOpacityBuffer},
    {scratch, sizeof scratch},
    {&orvState, sizeof orvState},
    {&frame_counter, sizeof frame_counter},
};

static uint8_t *_StartStateCopy() {
    static uint8_t *copy = nullptr;
    if (copy) return copy;
    size_t total = 0;
    for (const StateRegion &r : kStartState) total += r.size;
    copy = new uint8_t[total];
    uint8_t *p = copy;
    for (const StateRegion &r : kStartState) {
        memcpy(p, r.at, r.size);
        p += r.size;
    }
    return copy;
}

void fillPool(uint8_t value) {
    // The free pool is poisoned in the sanitizer build; the fill is no use
    // of it by the device.
    ASAN_UNPOISON_MEMORY_REGION(ALLOC_buffer, sizeof ALLOC_buffer);
    memset(ALLOC_buffer, value, sizeof ALLOC_buffer);
    ASAN_POISON_MEMORY_REGION(ALLOC_buffer + ALLOC_buffer_idx, sizeof ALLOC_buffer - ALLOC_buffer_idx);
}

void restartDevice() {
    static bool started = false;
    _outcome = Outcome{};
    _recording = false;
    SIM_ResetDevice();
    SIM_frameSink = SIM_DiscardOutput;
    SIM_packetSink = _PacketSink;
    SIM_sleepOneSecond = _NoSleep;
    if (!started) {
        SIM_StartDevice();
        _StartStateCopy();
        started = true;
        return;
    }
    const uint8_t *p = _StartStateCopy();
    for (const StateRegion &r : kStartState) {
        memcpy(r.at, p, r.size);
        p += r.size;
    }
}

void checkBetweenCommands() {
    const GUI_Device &device = GUI_Context.device;
    require(device.vram == fb && device.xSize == SCREEN_WIDTH && device.ySize == SCREEN_HEIGHT,
            "between commands drawing goes to the screen");
    require(AA_IsIdle() && AA_IsIdleSimple(), "between commands the antialiasing engines hold no row");
    require(ALLOC_buffer_idx <= POOL_SIZE_BYTES, "the pool top lies inside the pool");
    const bool video = MPEG_IsRunning();
    if (!video && memDeviceMemory == nullptr) require(ALLOC_buffer_idx == 0, "a command gives its pool memory back");
    if (memDeviceMemory != nullptr) {
        const uint32_t picture = (uint32_t)(memDeviceMemory - ALLOC_buffer);
        require(memDeviceMemory >= ALLOC_buffer && picture < ALLOC_buffer_idx, "the slot 0 picture lies below the top");
        if (video) require(picture < allocToken, "a running video holds the pool above the slot 0 picture");
    }
    if (video) require(allocToken <= ALLOC_buffer_idx, "a running video's memory lies below the top");
}

ExactCommand::ExactCommand(const uint8_t *header, size_t headerBytes, const uint8_t *tail, size_t tailBytes)
    : bytes_(new uint8_t[headerBytes + tailBytes]), size_((uint32_t)(headerBytes + tailBytes)) {
    memcpy(bytes_.get(), header, headerBytes);
    if (tailBytes > 0) memcpy(bytes_.get() + headerBytes, tail, tailBytes);
}

Placement applyPlacement(Input &input) {
    uint8_t wire[fuzzlayout::kPlacementBytes] = {0};
    for (uint8_t &b : wire) b = input.u8();
    const PackedPair position = readPackedPairSigned(wire + 1);
    const PackedPair at = readPackedPairUnsigned(wire + 4);
    const PackedPair extent = readPackedPairUnsigned(wire + 7);
    const int32_t x = halfToPixel(at.a), y = halfToPixel(at.b);
    const int32_t w = halfToPixel(extent.a), h = halfToPixel(extent.b);
    if (x > SCREEN_WIDTH || y > SCREEN_HEIGHT || w > SCREEN_WIDTH || h > SCREEN_HEIGHT || w < 2 || h < 2) {
        GUI_SetClipRect(0, 0, SCREEN_WIDTH - 1, SCREEN_HEIGHT - 1);
    } else {
        GUI_SetClipRect(x, y, x + w - 1, y + h - 1);
    }
    return Placement{wire[0], halfToPixel(position.a), halfToPixel(position.b)};
}

ImageInput applyImageInput(const uint8_t *data, size_t size) {
    Input input(data, size);
    const Placement at = applyPlacement(input);
    size_t fileBytes = 0;
    const uint8_t *file = input.take(input.left(), &fileBytes);
    return ImageInput{at, file, (uint32_t)fileBytes};
}

// ------------------------------------------------------------- draw guard

static uint8_t _screenBefore[FB_SIZE_BYTES];

DrawGuard::DrawGuard() : poolTop_(ALLOC_buffer_idx) {
    memcpy(&context_, &GUI_Context, sizeof context_);
    memcpy(_screenBefore, fb, sizeof fb);
}

void DrawGuard::check(bool poolTopKept) const {
    require(memcmp(&context_, &GUI_Context, sizeof context_) == 0, "a draw leaves the graphics context as it was");
    if (poolTopKept) require(ALLOC_buffer_idx == poolTop_, "a draw gives its pool memory back");
    // An empty or inverted clip rectangle, or another surface, lets no
    // screen pixel change.
    const bool onScreen = context_.device.vram == fb;
    const int32_t x0 = context_.clipX0, y0 = context_.clipY0, x1 = context_.clipX1, y1 = context_.clipY1;
    for (int32_t y = 0; y < SCREEN_HEIGHT; y++) {
        const uint8_t *now = fb + (size_t)y * SCREEN_WIDTH;
        const uint8_t *before = _screenBefore + (size_t)y * SCREEN_WIDTH;
        if (!onScreen || y < y0 || y > y1 || x1 < x0) {
            require(memcmp(now, before, SCREEN_WIDTH) == 0, "a draw changes no pixel outside the clip rectangle");
            continue;
        }
        const size_t left = (size_t)x0, right = (size_t)x1 + 1;
        require(memcmp(now, before, left) == 0 && memcmp(now + right, before + right, SCREEN_WIDTH - right) == 0,
                "a draw changes no pixel outside the clip rectangle");
    }
}

}  // namespace fuzz
