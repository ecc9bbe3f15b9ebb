// The dispatcher holds no state between calls, so the logo screens and the
// compressed command blocks may run nested payloads through it.
#include "protocol/commandHandler.h"

#include <cstring>

#include "cache/commandHandlerCache.h"
#include "cache/flash.h"
#include "codecs/mpeg.h"
#include "commands/commandHandlerDraw.h"
#include "host/GUI_Driver.h"
#include "host/bytes.h"
#include "host/config.h"
#include "host/platform.h"
#include "protocol/crypto_sign.h"
#include "protocol/eventHandler.h"

alignas(8) uint8_t scratch[SCRATCH_SIZE_BYTES];

const CommandHandler opcodeHandlers[51] = {
    /* 0x00 */ nullptr,
    /* 0x01 */ nullptr,
    /* 0x02 */ CMD_copyToScreen,
    /* 0x03 */ CMD_clearRect,
    /* 0x04 */ CMD_loadImage,
    /* 0x05 */ CMD_drawImage,
    /* 0x06 */ CMD_loadFont,
    /* 0x07 */ CMD_drawLogo,
    /* 0x08 */ CMD_drawText,
    /* 0x09 */ CMD_setColor,
    /* 0x0A */ CMD_Zlib,
    /* 0x0B */ CMD_setPenStyle,
    /* 0x0C */ CMD_drawRect,
    /* 0x0D */ CMD_drawPath,
    /* 0x0E */ CMD_drawEllipse,
    /* 0x0F */ CMD_drawLine,
    /* 0x10 */ CMD_drawArc,
    /* 0x11 */ CMD_videoPlay,
    /* 0x12 */ CMD_drawPolygon,
    /* 0x13 */ CMD_videoUpload,
    /* 0x14 */ CMD_setTickRate,
    /* 0x15 */ nullptr,
    /* 0x16 */ CMD_CacheInfo,
    /* 0x17 */ CMD_SystemInfo,
    /* 0x18 */ CMD_clipRect,
    /* 0x19 */ CMD_drawSprite,
    /* 0x1A */ nullptr,
    /* 0x1B */ CMD_setSessionParams,
    /* 0x1C */ CMD_otaUpload,
    /* 0x1D */ CMD_otaStart,
    /* 0x1E */ CMD_handShake,
    /* 0x1F */ CMD_enableDevice,
    /* 0x20 */ nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    /* 0x28 */ nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    /* 0x30 */ CMD_connect_disconnect,
    /* 0x31 */ CMD_seekTo,
    /* 0x32 */ CMD_eof,
};

SIM_CommandHook SIM_commandHook = nullptr;

// How many payload walks are under way: the command seam reports only the
// outermost one.
static uint32_t _walkDepth = 0;

// Walks the payload; `at` ends at the offset where the walk ended.
static int32_t _WalkPayload(const uint8_t *payload, uint32_t size, bool watched, uint32_t &at) {
    const uint8_t *p = payload;
    uint32_t rem = size;
    at = 0;
    while (rem != 0) {
        at = size - rem;
        if (watched) SIM_commandHook(payload, size, at, false);
        uint8_t op = *p;
        SIM_LOG("%s: opcode: 0x%02x rem_size: %d\n", "handleCommand", op, (int)rem);
        if (op > 50 || opcodeHandlers[op] == nullptr) {
            setBIT(5);
            return -1;
        }
        int32_t n = opcodeHandlers[op](p, rem);
        if (n <= 0) {
            setBIT(5);
            return -1;
        }
        if ((uint32_t)n > rem) {
            SIM_LOG("%s: ERROR from handler opcode: 0x%02x read: %d\n", "handleCommand", op, n);
            return -1;
        }
        rem -= (uint32_t)n;
        p += n;
    }
    at = size;
    if (logfd) fflush(logfd);
    return 0;
}

int32_t handleCommand(const uint8_t *payload, uint32_t size) {
    const bool watched = SIM_commandHook != nullptr && _walkDepth == 0;
    uint32_t at = 0;
    _walkDepth++;
    const int32_t result = _WalkPayload(payload, size, watched, at);
    _walkDepth--;
    if (watched) SIM_commandHook(payload, size, at, true);
    return result;
}

void handleCommandError(uint32_t opcode, uint32_t code, uint8_t misc) {
    uint8_t report[4] = {0x04, (uint8_t)opcode, (uint8_t)code, misc};
    sendData(report, sizeof report);
    SIM_LOG("command error: opcode=0x%02x errorCode=0x%02x  misc=0x%02x\n", opcode & 0xFF, code & 0xFF, misc);
}

void setBIT(uint32_t n) { orvState.statusBits |= 1u << (n & 31); }

uint32_t getBIT() {
    uint32_t bits = orvState.statusBits;
    orvState.statusBits = 0;
    return bits;
}

// --------------------------------------------- link, session and system commands

int32_t CMD_connect_disconnect(const uint8_t *command, uint32_t remaining) {
    if (remaining < 2) {
        handleCommandError(0x30, RESULT_MALFORMED, 0);
        return -1;
    }
    if (command[1] == 0) {
        SIM_LOG("CMD_connect, sending back mtu:%d\n", GetMTU());
        onBLEConnected(1);
        uint8_t notice[3] = {0x41, 0, 0};
        wr16le(notice + 1, GetMTU());
        sendData(notice, sizeof notice);
        onSetTickRate(90, 0);
    } else {
        SIM_LOG("CMD_disconnect\n");
        onBLEConnected(0);
        onSetTickRate(65535, 0);
    }
    return 2;
}

// The command has no length check of its own: it reads nothing past its
// opcode, so a lone 0x32 at the end of a payload still ends the run, and the
// dispatcher then logs the two bytes it claims as read past the payload.
int32_t CMD_eof(const uint8_t *, uint32_t) {
    SIM_LOG("CMD_eof\n");
    onBLEConnected(0);
    onSetTickRate(65535, 0);
    running = 0;   // the rest of this payload still runs
    return 2;
}

int32_t CMD_seekTo(const uint8_t *command, uint32_t remaining) {
    if (remaining < 5) {
        handleCommandError(0x31, RESULT_MALFORMED, 0);
        return -1;
    }
    seekTo = rd32le(command + 1);
    return 5;
}

int32_t CMD_setTickRate(const uint8_t *command, uint32_t remaining) {
    if (remaining < 5) {
        handleCommandError(0x14, RESULT_MALFORMED, 0);
        return -1;
    }
    uint16_t rate = rd16le(command + 1);
    SIM_LOG("%s: %d\n", "CMD_setTickRate", rate);
    if (rate >= 10 && (rate <= 5000 || rate == 65535)) {
        onSetTickRate(rate, rd16le(command + 3));
    } else {
        handleCommandError(0x14, RESULT_MALFORMED, 0);
    }
    return 5;
}

int32_t CMD_setSessionParams(const uint8_t *command, uint32_t remaining) {
    if (remaining < 4) {
        handleCommandError(0x1B, RESULT_MALFORMED, 0);
        return -1;
    }
    // The logo offset rounds down, unlike the drawing commands.
    PackedPair xy = readPackedPairSigned(command + 1);
    int32_t x = xy.a >> 1, y = xy.b >> 1;
    if (x >= -320 && x <= 320 && y >= -200 && y <= 200) {
        orvState.logoOffsetX = (int16_t)x;
        orvState.logoOffsetY = (int16_t)y;
    } else {
        handleCommandError(0x1B, RESULT_MALFORMED, 0);
    }
    return 4;
}

int32_t CMD_enableDevice(const uint8_t *command, uint32_t remaining) {
    if (remaining < 4 || command[2] > 2) {
        handleCommandError(0x1F, RESULT_MALFORMED, 0);
        return -1;
    }
    uint8_t unit = command[1], state = command[2], value = command[3];
    switch (unit) {
    case 1: case 3: case 4: case 5: case 6: case 7:
        setOnState(unit, 0);
        break;
    case UNIT_DISPLAY:
        orvState.displayLevel = value ? value : 1;
        setDisplayState(state);
        break;
    case 11:
        if (state == 0) onShutdown();
        break;
    case 19:
        palette_type = value;
        break;
    default:
        handleCommandError(0x1F, RESULT_UNSUPPORTED, unit);
        break;
    }
    return 4;
}

static void _SendSystemStatus() {
    uint8_t reply[33] = {0};
    reply[0] = 0x02;
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
    reply[0] = 0x06;
    memcpy(reply + 1, orvDynData + 2 * 4, 7 * 4);   // words 2 to 8
    memcpy(reply + 45, orvDynData + 9 * 4, 4);
    memcpy(reply + 49, orvDynData + 14 * 4, 4);
    sendData(reply, sizeof reply);
}

static void _SendDisplayInfo() {
    uint8_t reply[13];
    reply[0] = 0x07;
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
    reply[0] = 0x08;
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
        handleCommandError(0x17, RESULT_SEQUENCE, version);
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
        scratch[0] = 0x09;
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
    if (remaining < 2) {
        handleCommandError(0x17, RESULT_MALFORMED, 0);
        return -1;
    }
    uint8_t kind = command[1];
    if (!orvState.authenticated && kind != 1 && kind != 5) {
        SIM_LOG("%s: NOT AUTHENTICATED\n", "CMD_SystemInfo");
        return 2;
    }
    switch (kind) {
    case 1: _SendSystemStatus(); break;
    case 2: _SendSystemCounters(); break;
    case 3: CMD_sendCalibrationData(); break;
    case 4: _SendDisplayInfo(); break;
    case 5: _SendShortStatus(); break;
    default: break;
    }
    return 2;
}

// ---------------------------------------------------------- firmware update stream

// The simulator installs no firmware: a valid start is refused as not
// supported, valid chunks are acknowledged and dropped.
static constexpr uint32_t OTA_MAX_IMAGE_BYTES = 327680;
static constexpr uint32_t OTA_MIN_IMAGE_BYTES = 32768;
static constexpr uint32_t OTA_BLOCK_BYTES = 16384;

int32_t CMD_otaStart(const uint8_t *command, uint32_t remaining) {
    if (remaining < 7) {
        handleCommandError(0x1D, RESULT_MALFORMED, 0);
        return -1;
    }
    uint8_t type = command[1];
    uint32_t size = rd32le(command + 3);
    if (type != 1 && type != 2) {
        handleCommandError(0x1D, RESULT_MALFORMED, 0);
    } else if (size > OTA_MAX_IMAGE_BYTES || size < OTA_MIN_IMAGE_BYTES) {
        handleCommandError(0x1D, RESULT_MALFORMED, type);
    } else {
        handleCommandError(0x1D, RESULT_UNSUPPORTED, type);
    }
    return 7;
}

int32_t CMD_otaUpload(const uint8_t *command, uint32_t remaining) {
    if (remaining < 10) {
        handleCommandError(0x1C, RESULT_MALFORMED, 0);
        return -1;
    }
    uint8_t type = command[1], block = command[2];
    uint16_t offset = rd16le(command + 3), blockLength = rd16le(command + 5), n = rd16le(command + 7);
    bool bad = n == 0 || blockLength == 0 || blockLength <= offset || n > remaining - 9 ||
               (uint32_t)block * OTA_BLOCK_BYTES > OTA_MAX_IMAGE_BYTES || n > blockLength ||
               blockLength > OTA_BLOCK_BYTES || (type != 1 && type != 2);
    if (bad) {
        handleCommandError(0x1C, RESULT_MALFORMED, 0);
    } else {
        handleCommandError(0x1C, RESULT_OK, block);
    }
    // A chunk longer than the payload still claims its length: the
    // dispatcher then logs the overrun and drops the rest of the payload.
    return 9 + n;
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

static_assert(2 * HANDSHAKE_MAX_MESSAGE_BYTES <= PACKET_CACHE_SIZE_BYTES,
              "a chunk starts below the total and is no longer than it");

static uint16_t handshakeDataReceived = 0;

static void _ResetHandshake() { handshakeDataReceived = 0; }
SIM_REGISTER_RESET(_ResetHandshake);

static int32_t _RejectHandshake(uint8_t code) {
    handleCommandError(0x1E, code, 0);
    return -1;
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
    if (handshakeDataReceived != total) return (int32_t)(HANDSHAKE_CHUNK_HEADER_BYTES + n);

    const uint8_t *message = packet_cache;
    if (total <= 28) return _RejectHandshake(RESULT_MALFORMED);
    if (handshakeDataReceived < HANDSHAKE_MIN_MESSAGE_BYTES) return _RejectHandshake(RESULT_AUTH_FAILED);
    if (message[4] != 0 || memcmp(message, "orva", 4) != 0 || memcmp(message + 25, HANDSHAKE_MAGIC, 4) != 0) {
        return _RejectHandshake(RESULT_MALFORMED);
    }
    uint16_t peer = rd16le(message + 7);
    if (orvState.peerId != 0xFFFF && peer != orvState.peerId) return _RejectHandshake(RESULT_OTHER_IDENTITY);
    uint32_t counterLimit = rd32le(message + 21);
    if (counterLimit != 0 && counter > counterLimit) return _RejectHandshake(RESULT_COUNTER_REJECTED);
    if (verifySigniture(message, HANDSHAKE_SIGNED_BYTES, message + HANDSHAKE_SIGNED_BYTES) != 0) {
        SIM_LOG("%s: verify failed\n", "CMD_handShake");
        return _RejectHandshake(RESULT_AUTH_FAILED);
    }

    uint8_t *firstCounter = orvDynData + 4 * DYNDATA_FIRST_HANDSHAKE_WORD;
    if (rd32le(firstCounter) == 0) wr32le(firstCounter, counter);
    orvState.peerId = peer;
    orvState.authenticated = 1;
    SIM_LOG("%s: AUTHENTICATED!!!\n", "CMD_handShake");
    handleCommandError(0x1E, RESULT_OK, 0);
    return (int32_t)(HANDSHAKE_CHUNK_HEADER_BYTES + n);
}

