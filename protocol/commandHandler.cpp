// The dispatcher holds no state between calls, so the logo screens and the
// compressed command blocks may run nested payloads through it.
#include "protocol/commandHandler.h"

#include <array>
#include <cstring>

#include "cache/commandHandlerCache.h"
#include "cache/flash.h"
#include "codecs/mpeg.h"
#include "commands/commandHandlerDraw.h"
#include "gui/GUI_Alloc.h"
#include "host/GUI_Driver.h"
#include "host/bytes.h"
#include "host/config.h"
#include "host/platform.h"
#include "protocol/crypto_sign.h"
#include "protocol/eventHandler.h"

alignas(8) uint8_t scratch[SCRATCH_SIZE_BYTES];

// Filled by opcode name; the slots without a command stay null.
static constexpr std::array<CommandHandler, OPCODE_COUNT> _HandlerTable() {
    std::array<CommandHandler, OPCODE_COUNT> table{};
    table[OP_COPY_TO_SCREEN] = CMD_copyToScreen;
    table[OP_CLEAR_RECT] = CMD_clearRect;
    table[OP_LOAD_IMAGE] = CMD_loadImage;
    table[OP_DRAW_IMAGE] = CMD_drawImage;
    table[OP_LOAD_FONT] = CMD_loadFont;
    table[OP_DRAW_LOGO] = CMD_drawLogo;
    table[OP_DRAW_TEXT] = CMD_drawText;
    table[OP_SET_COLOR] = CMD_setColor;
    table[OP_ZLIB] = CMD_Zlib;
    table[OP_SET_PEN_STYLE] = CMD_setPenStyle;
    table[OP_DRAW_RECT] = CMD_drawRect;
    table[OP_DRAW_PATH] = CMD_drawPath;
    table[OP_DRAW_ELLIPSE] = CMD_drawEllipse;
    table[OP_DRAW_LINE] = CMD_drawLine;
    table[OP_DRAW_ARC] = CMD_drawArc;
    table[OP_VIDEO_PLAY] = CMD_videoPlay;
    table[OP_DRAW_POLYGON] = CMD_drawPolygon;
    table[OP_VIDEO_UPLOAD] = CMD_videoUpload;
    table[OP_SET_TICK_RATE] = CMD_setTickRate;
    table[OP_CACHE_INFO] = CMD_CacheInfo;
    table[OP_SYSTEM_INFO] = CMD_SystemInfo;
    table[OP_CLIP_RECT] = CMD_clipRect;
    table[OP_DRAW_SPRITE] = CMD_drawSprite;
    table[OP_SET_SESSION_PARAMS] = CMD_setSessionParams;
    table[OP_OTA_UPLOAD] = CMD_otaUpload;
    table[OP_OTA_START] = CMD_otaStart;
    table[OP_HANDSHAKE] = CMD_handShake;
    table[OP_ENABLE_DEVICE] = CMD_enableDevice;
    table[OP_CONNECT_DISCONNECT] = CMD_connect_disconnect;
    table[OP_SEEK_TO] = CMD_seekTo;
    table[OP_EOF] = CMD_eof;
    return table;
}
constinit const std::array<CommandHandler, OPCODE_COUNT> opcodeHandlers = _HandlerTable();

// The pool's rule at the command boundary. Two holders keep pool memory past
// the end of their command: the slot 0 picture and a running video, which
// holds everything from its mark up and so lies above the picture. Every
// other user releases to its own mark before its command ends. So whatever a
// command takes and gives back, the pool top less what the holders hold is
// the same after it as before it (nested payloads included, command by
// command). Debug builds check this after every command; release builds
// compile the check out.
#ifndef NDEBUG
struct PoolLedger {
    uint32_t top;
    GUI_PoolExtent picture;
    GUI_PoolExtent video;

    static PoolLedger now() { return PoolLedger{GUI_AllocStart(), slot0PicturePoolExtent(), MPEG_PoolExtent()}; }
    uint32_t heldByNoOne() const { return top - picture.bytes() - video.bytes(); }
};

static void _CheckPoolAfterCommand(const PoolLedger &before) {
    const PoolLedger after = PoolLedger::now();
    SIM_ASSERT(after.video.begin <= after.video.end, "a running video's memory lies below the pool top");
    SIM_ASSERT(after.picture.begin <= after.picture.end && after.picture.end <= after.top,
               "the slot 0 picture lies below the pool top");
    SIM_ASSERT(after.video.bytes() == 0 || after.picture.end <= after.video.begin,
               "a running video holds the pool above the slot 0 picture");
    SIM_ASSERT(after.heldByNoOne() == before.heldByNoOne(), "a command gives back the pool memory it takes");
}
#else
struct PoolLedger {
    static PoolLedger now() { return PoolLedger{}; }
};
static void _CheckPoolAfterCommand(const PoolLedger &) {}
#endif

SIM_CommandHook SIM_commandHook = nullptr;

// How many payload walks are under way: the command seam reports only the
// outermost one.
static uint32_t _walkDepth = 0;

// Walks the payload; `at` ends at the offset where the walk ended.
static DispatchResult _WalkPayload(const uint8_t *payload, uint32_t size, bool watched, uint32_t &at) {
    const uint8_t *p = payload;
    uint32_t rem = size;
    at = 0;
    while (rem != 0) {
        at = size - rem;
        if (watched) SIM_commandHook(payload, size, at, false);
        uint8_t op = *p;
        SIM_LOG("%s: opcode: 0x%02x rem_size: %d\n", "handleCommand", op, (int)rem);
        if (op > OP_LAST || opcodeHandlers[op] == nullptr) {
            setBIT(STATUS_BIT_PAYLOAD_DROPPED);
            return DISPATCH_STOPPED;
        }
        const PoolLedger poolBefore = PoolLedger::now();
        int32_t n = opcodeHandlers[op](p, rem);
        _CheckPoolAfterCommand(poolBefore);
        if (n <= 0) {
            setBIT(STATUS_BIT_PAYLOAD_DROPPED);
            return DISPATCH_STOPPED;
        }
        if ((uint32_t)n > rem) {
            SIM_LOG("%s: ERROR from handler opcode: 0x%02x read: %d\n", "handleCommand", op, n);
            return DISPATCH_STOPPED;
        }
        rem -= (uint32_t)n;
        p += n;
    }
    at = size;
    if (logfd) fflush(logfd);
    return DISPATCH_DONE;
}

DispatchResult handleCommand(const uint8_t *payload, uint32_t size) {
    const bool watched = SIM_commandHook != nullptr && _walkDepth == 0;
    uint32_t at = 0;
    _walkDepth++;
    const DispatchResult result = _WalkPayload(payload, size, watched, at);
    _walkDepth--;
    if (watched) SIM_commandHook(payload, size, at, true);
    return result;
}

void handleCommandError(uint32_t opcode, uint32_t code, uint8_t misc) {
    uint8_t report[4] = {REPLY_RESULT_REPORT, (uint8_t)opcode, (uint8_t)code, misc};
    sendData(report, sizeof report);
    SIM_LOG("command error: opcode=0x%02x errorCode=0x%02x  misc=0x%02x\n", opcode & 0xFF, code & 0xFF, misc);
}

int32_t commandMalformed(uint8_t opcode, uint8_t misc) {
    handleCommandError(opcode, RESULT_MALFORMED, misc);
    return HANDLER_STOP;
}

int32_t reportCommand(uint8_t opcode, uint8_t code, uint8_t misc, int32_t length) {
    handleCommandError(opcode, code, misc);
    return length;
}

void setBIT(uint32_t n) { orvState.statusBits |= 1u << (n & 31); }

uint32_t getBIT() {
    uint32_t bits = orvState.statusBits;
    orvState.statusBits = 0;
    return bits;
}

// --------------------------------------------- link, session and system commands

// Command lengths, opcode included.
constexpr int32_t CONNECT_BYTES = 2;
constexpr int32_t EOF_BYTES = 2;
constexpr int32_t SEEK_TO_BYTES = 5;
constexpr int32_t SET_TICK_RATE_BYTES = 5;
constexpr int32_t SET_SESSION_PARAMS_BYTES = 4;
constexpr int32_t ENABLE_DEVICE_BYTES = 4;
constexpr int32_t SYSTEM_INFO_BYTES = 2;
constexpr int32_t OTA_START_BYTES = 7;
constexpr int32_t OTA_UPLOAD_HEADER_BYTES = 9;

// Tick rates the host may ask for, in milliseconds; TICK_RATE_OFF stops the
// ticks. Connecting sets TICK_RATE_CONNECTED.
constexpr uint16_t TICK_RATE_MIN = 10;
constexpr uint16_t TICK_RATE_MAX = 5000;
constexpr uint16_t TICK_RATE_OFF = 65535;
constexpr uint16_t TICK_RATE_CONNECTED = 90;

int32_t CMD_connect_disconnect(const uint8_t *command, uint32_t remaining) {
    if (remaining < CONNECT_BYTES) return commandMalformed(OP_CONNECT_DISCONNECT);
    if (command[1] == 0) {
        SIM_LOG("CMD_connect, sending back mtu:%d\n", GetMTU());
        onBLEConnected(1);
        uint8_t notice[3] = {REPLY_MTU, 0, 0};
        wr16le(notice + 1, GetMTU());
        sendData(notice, sizeof notice);
        onSetTickRate(TICK_RATE_CONNECTED, 0);
    } else {
        SIM_LOG("CMD_disconnect\n");
        onBLEConnected(0);
        onSetTickRate(TICK_RATE_OFF, 0);
    }
    return CONNECT_BYTES;
}

// The command has no length check of its own: it reads nothing past its
// opcode, so a lone 0x32 at the end of a payload still ends the run, and the
// dispatcher then logs the two bytes it claims as read past the payload.
int32_t CMD_eof(const uint8_t *, uint32_t) {
    SIM_LOG("CMD_eof\n");
    onBLEConnected(0);
    onSetTickRate(TICK_RATE_OFF, 0);
    running = 0;   // the rest of this payload still runs
    return EOF_BYTES;
}

int32_t CMD_seekTo(const uint8_t *command, uint32_t remaining) {
    if (remaining < SEEK_TO_BYTES) return commandMalformed(OP_SEEK_TO);
    seekTo = rd32le(command + 1);
    return SEEK_TO_BYTES;
}

int32_t CMD_setTickRate(const uint8_t *command, uint32_t remaining) {
    if (remaining < SET_TICK_RATE_BYTES) return commandMalformed(OP_SET_TICK_RATE);
    uint16_t rate = rd16le(command + 1);
    SIM_LOG("%s: %d\n", "CMD_setTickRate", rate);
    if (rate < TICK_RATE_MIN || (rate > TICK_RATE_MAX && rate != TICK_RATE_OFF)) {
        return reportCommand(OP_SET_TICK_RATE, RESULT_MALFORMED, 0, SET_TICK_RATE_BYTES);
    }
    onSetTickRate(rate, rd16le(command + 3));
    return SET_TICK_RATE_BYTES;
}

int32_t CMD_setSessionParams(const uint8_t *command, uint32_t remaining) {
    if (remaining < SET_SESSION_PARAMS_BYTES) return commandMalformed(OP_SET_SESSION_PARAMS);
    // The logo offset rounds down, unlike the drawing commands; it may move
    // the logo by half the screen either way.
    PackedPair xy = readPackedPairSigned(command + 1);
    int32_t x = xy.a >> 1, y = xy.b >> 1;
    if (x < -SCREEN_WIDTH / 2 || x > SCREEN_WIDTH / 2 || y < -SCREEN_HEIGHT / 2 || y > SCREEN_HEIGHT / 2) {
        return reportCommand(OP_SET_SESSION_PARAMS, RESULT_MALFORMED, 0, SET_SESSION_PARAMS_BYTES);
    }
    orvState.logoOffsetX = (int16_t)x;
    orvState.logoOffsetY = (int16_t)y;
    return SET_SESSION_PARAMS_BYTES;
}

int32_t CMD_enableDevice(const uint8_t *command, uint32_t remaining) {
    if (remaining < ENABLE_DEVICE_BYTES) return commandMalformed(OP_ENABLE_DEVICE);
    uint8_t unit = command[1], state = command[2], value = command[3];
    // A state past "keep" stops the payload, as a short command does.
    if (state > UNIT_STATE_KEEP) return commandMalformed(OP_ENABLE_DEVICE);
    switch (unit) {
    case 1: case 3: case 4: case 5: case 6: case 7:   // units the simulator does not have: reported off
        setOnState(unit, 0);
        break;
    case UNIT_DISPLAY:
        orvState.displayLevel = value ? value : 1;
        setDisplayState(state);
        break;
    case UNIT_POWER:
        if (state == 0) onShutdown();
        break;
    case UNIT_PALETTE:
        palette_type = value;
        break;
    default:
        return reportCommand(OP_ENABLE_DEVICE, RESULT_UNSUPPORTED, unit, ENABLE_DEVICE_BYTES);
    }
    return ENABLE_DEVICE_BYTES;
}

static void _SendSystemStatus() {
    uint8_t reply[33] = {0};
    reply[0] = REPLY_SYSTEM_STATUS;
    reply[1] = orvState.infoLevel;
    reply[2] = 0x77;
    reply[3] = orvState.infoCode;
    reply[4] = 0x01;
    memcpy(reply + 5, orvConstData + 8, 12);
    wr32le(reply + 17, getBIT());
    wr16le(reply + 21, (uint16_t)orvState.infoOffset);
    wr16le(reply + 23, orvState.onState);
    reply[25] = 0x76;
    sendData(reply, sizeof reply);
}

static void _SendSystemCounters() {
    uint8_t reply[53] = {0};
    reply[0] = REPLY_SYSTEM_COUNTERS;
    memcpy(reply + 1, orvDynData + 2 * 4, 7 * 4);   // words 2 to 8
    memcpy(reply + 45, orvDynData + 9 * 4, 4);
    memcpy(reply + 49, orvDynData + 14 * 4, 4);
    sendData(reply, sizeof reply);
}

static void _SendDisplayInfo() {
    uint8_t reply[13];
    reply[0] = REPLY_DISPLAY_INFO;
    wr16le(reply + 1, orvState.onState);
    reply[3] = orvState.infoLevel;
    reply[4] = orvState.displayLevel;
    wr16le(reply + 5, 4400);
    wr16le(reply + 7, 350);
    wr16le(reply + 9, 100);
    wr16le(reply + 11, 250);
    sendData(reply, sizeof reply);
}

static void _SendShortStatus() {
    uint8_t reply[7];
    reply[0] = REPLY_SHORT_STATUS;
    reply[1] = orvState.infoLevel;
    reply[2] = 0x77;
    reply[3] = 0x01;
    wr16le(reply + 4, orvState.onState);
    reply[6] = 0x76;
    sendData(reply, sizeof reply);
}

// Largest calibration chunk: the reply header is 8 bytes and a response
// carries at most 1024, so a chunk holds at most 1016 data bytes whatever the
// MTU claims. An MTU of 8 or less leaves no room for any data after the
// header: like an MTU of 0, it sends nothing (rather than looping forever).
static constexpr uint32_t CALIBRATION_CHUNK_MAX = RESPONSE_MAX_PAYLOAD_BYTES - 8;

void CMD_sendCalibrationData() {
    const uint8_t *record = FLASH_Address(FLASH_CALIBRATION_OFFSET);
    uint8_t version = record[10];
    if (rd32le(record) != 0xDEADBEEFu || version != 1) {
        handleCommandError(OP_SYSTEM_INFO, RESULT_SEQUENCE, version);
        return;
    }
    uint32_t mtuBytes = GetMTU();
    if (mtuBytes <= 8) return;
    uint32_t chunkMax = mtuBytes - 8;
    if (chunkMax > CALIBRATION_CHUNK_MAX) chunkMax = CALIBRATION_CHUNK_MAX;
    uint16_t total = rd16le(record + 8);
    const uint8_t *data = record + 16;
    for (uint32_t offset = 0; offset < total;) {
        uint32_t n = total - offset < chunkMax ? total - offset : chunkMax;
        scratch[0] = REPLY_CALIBRATION_CHUNK;
        scratch[1] = 0;
        wr16le(scratch + 2, total);
        wr16le(scratch + 4, (uint16_t)offset);
        wr16le(scratch + 6, (uint16_t)n);
        memcpy(scratch + 8, data + offset, n);
        sendData(scratch, (uint16_t)(8 + n));
        offset += n;
    }
}

int32_t CMD_SystemInfo(const uint8_t *command, uint32_t remaining) {
    if (remaining < SYSTEM_INFO_BYTES) return commandMalformed(OP_SYSTEM_INFO);
    uint8_t kind = command[1];
    // Status and short status are answered before authentication too.
    if (!orvState.authenticated && kind != INFO_SYSTEM_STATUS && kind != INFO_SHORT_STATUS) {
        SIM_LOG("%s: NOT AUTHENTICATED\n", "CMD_SystemInfo");
        return SYSTEM_INFO_BYTES;
    }
    switch (kind) {
    case INFO_SYSTEM_STATUS: _SendSystemStatus(); break;
    case INFO_COUNTERS: _SendSystemCounters(); break;
    case INFO_CALIBRATION: CMD_sendCalibrationData(); break;
    case INFO_DISPLAY: _SendDisplayInfo(); break;
    case INFO_SHORT_STATUS: _SendShortStatus(); break;
    default: break;
    }
    return SYSTEM_INFO_BYTES;
}

// ---------------------------------------------------------- firmware update stream

// The simulator installs no firmware: a valid start is refused as not
// supported, valid chunks are acknowledged and dropped.
static constexpr uint32_t OTA_MAX_IMAGE_BYTES = 327680;
static constexpr uint32_t OTA_MIN_IMAGE_BYTES = 32768;
static constexpr uint32_t OTA_BLOCK_BYTES = 16384;

// Firmware image types: 1 and 2 are known, anything else is malformed.
static bool _OtaTypeKnown(uint8_t type) { return type == 1 || type == 2; }

int32_t CMD_otaStart(const uint8_t *command, uint32_t remaining) {
    if (remaining < OTA_START_BYTES) return commandMalformed(OP_OTA_START);
    uint8_t type = command[1];
    uint32_t size = rd32le(command + 3);
    if (!_OtaTypeKnown(type)) return reportCommand(OP_OTA_START, RESULT_MALFORMED, 0, OTA_START_BYTES);
    if (size > OTA_MAX_IMAGE_BYTES || size < OTA_MIN_IMAGE_BYTES) {
        return reportCommand(OP_OTA_START, RESULT_MALFORMED, type, OTA_START_BYTES);
    }
    return reportCommand(OP_OTA_START, RESULT_UNSUPPORTED, type, OTA_START_BYTES);
}

int32_t CMD_otaUpload(const uint8_t *command, uint32_t remaining) {
    if (remaining < OTA_UPLOAD_HEADER_BYTES + 1) return commandMalformed(OP_OTA_UPLOAD);
    uint8_t type = command[1], block = command[2];
    uint16_t offset = rd16le(command + 3), blockLength = rd16le(command + 5), n = rd16le(command + 7);
    bool bad = n == 0 || blockLength == 0 || blockLength <= offset || n > remaining - OTA_UPLOAD_HEADER_BYTES ||
               (uint32_t)block * OTA_BLOCK_BYTES > OTA_MAX_IMAGE_BYTES || n > blockLength ||
               blockLength > OTA_BLOCK_BYTES || !_OtaTypeKnown(type);
    // A chunk longer than the payload still claims its length: the
    // dispatcher then logs the overrun and drops the rest of the payload.
    const int32_t length = OTA_UPLOAD_HEADER_BYTES + n;
    if (bad) return reportCommand(OP_OTA_UPLOAD, RESULT_MALFORMED, 0, length);
    return reportCommand(OP_OTA_UPLOAD, RESULT_OK, block, length);
}


// -------------------------------------------------------- authentication handshake


// A handshake message is reassembled at the start of packet_cache, the
// staging area that the resource uploads use too; the two must not be
// interleaved by the host.
static constexpr uint32_t HANDSHAKE_CHUNK_HEADER_BYTES = 11;
static constexpr uint32_t HANDSHAKE_MAX_MESSAGE_BYTES = 1024;
static constexpr uint32_t HANDSHAKE_SIGNED_BYTES = 29;
static constexpr uint32_t HANDSHAKE_MIN_MESSAGE_BYTES = HANDSHAKE_SIGNED_BYTES + RSA_SIGNATURE_BYTES;   // 285
static constexpr uint8_t HANDSHAKE_MAGIC[4] = {0xA2, 0xC4, 0x19, 0x3B};
static constexpr uint32_t DYNDATA_FIRST_HANDSHAKE_WORD = 9;
// The signed part of a message: "orva" and a zero byte, the peer's identity
// at 7, the counter limit at 21 and the magic at 25.
static constexpr uint32_t HANDSHAKE_PEER_OFFSET = 7;
static constexpr uint32_t HANDSHAKE_COUNTER_LIMIT_OFFSET = 21;
static constexpr uint32_t HANDSHAKE_MAGIC_OFFSET = 25;

static_assert(2 * HANDSHAKE_MAX_MESSAGE_BYTES <= PACKET_CACHE_SIZE_BYTES,
              "a chunk starts below the total and is no longer than it");

static uint16_t handshakeDataReceived = 0;

static void _ResetHandshake() { handshakeDataReceived = 0; }
SIM_REGISTER_RESET(_ResetHandshake);

// Every refusal of a chunk stops the payload.
static int32_t _RejectHandshake(uint8_t code) {
    handleCommandError(OP_HANDSHAKE, code, 0);
    return HANDLER_STOP;
}

int32_t CMD_handShake(const uint8_t *command, uint32_t remaining) {
    if (remaining < HANDSHAKE_CHUNK_HEADER_BYTES + 1) return _RejectHandshake(RESULT_MALFORMED);
    uint32_t counter = rd32le(command + 1);
    uint32_t offset = rd16le(command + 5);
    uint32_t n = rd16le(command + 7);
    uint32_t total = rd16le(command + 9);
    if (n == 0 || total == 0 || total <= offset || remaining < HANDSHAKE_CHUNK_HEADER_BYTES + n) {
        return _RejectHandshake(RESULT_MALFORMED);
    }
    if (n > total || total > HANDSHAKE_MAX_MESSAGE_BYTES) return _RejectHandshake(RESULT_MALFORMED);
    if (counter == 0 || counter < orvState.lastHandshakeCounter) return _RejectHandshake(RESULT_COUNTER_REJECTED);

    if (offset == 0) handshakeDataReceived = 0;
    // offset < total <= 1024 and n <= total: the chunk ends inside the
    // first 2 KiB of packet_cache.
    memcpy(packet_cache + offset, command + HANDSHAKE_CHUNK_HEADER_BYTES, n);
    handshakeDataReceived = (uint16_t)(handshakeDataReceived + n);
    orvState.lastHandshakeCounter = counter;
    if (offset > handshakeDataReceived) return _RejectHandshake(RESULT_SEQUENCE);
    const int32_t length = (int32_t)(HANDSHAKE_CHUNK_HEADER_BYTES + n);
    if (handshakeDataReceived != total) return length;

    const uint8_t *message = packet_cache;
    if (total < HANDSHAKE_SIGNED_BYTES) return _RejectHandshake(RESULT_MALFORMED);
    if (handshakeDataReceived < HANDSHAKE_MIN_MESSAGE_BYTES) return _RejectHandshake(RESULT_AUTH_FAILED);
    if (message[4] != 0 || memcmp(message, "orva", 4) != 0 ||
        memcmp(message + HANDSHAKE_MAGIC_OFFSET, HANDSHAKE_MAGIC, 4) != 0) {
        return _RejectHandshake(RESULT_MALFORMED);
    }
    uint16_t peer = rd16le(message + HANDSHAKE_PEER_OFFSET);
    if (orvState.peerId != PEER_UNBOUND && peer != orvState.peerId) return _RejectHandshake(RESULT_OTHER_IDENTITY);
    uint32_t counterLimit = rd32le(message + HANDSHAKE_COUNTER_LIMIT_OFFSET);
    if (counterLimit != 0 && counter > counterLimit) return _RejectHandshake(RESULT_COUNTER_REJECTED);
    if (verifySigniture(message, HANDSHAKE_SIGNED_BYTES, message + HANDSHAKE_SIGNED_BYTES) != SIGNATURE_VALID) {
        SIM_LOG("%s: verify failed\n", "CMD_handShake");
        return _RejectHandshake(RESULT_AUTH_FAILED);
    }

    uint8_t *firstCounter = orvDynData + 4 * DYNDATA_FIRST_HANDSHAKE_WORD;
    if (rd32le(firstCounter) == 0) wr32le(firstCounter, counter);
    orvState.peerId = peer;
    orvState.authenticated = 1;
    SIM_LOG("%s: AUTHENTICATED!!!\n", "CMD_handShake");
    return reportCommand(OP_HANDSHAKE, RESULT_OK, 0, length);
}

