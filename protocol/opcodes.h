// The numbers of the protocol, both ways: the opcode that starts each
// command the host sends, and the type byte that starts each message the
// device sends back. The dispatcher's table and every handler's result
// report take their opcode from here, so that an opcode is one edit.
#pragma once
#include <cstdint>

// Command opcodes. The gaps (0x00, 0x01, 0x15, 0x1A, 0x20 to 0x2F) have no
// handler: the dispatcher stops a payload that reaches one.
enum Opcode : uint8_t {
    OP_COPY_TO_SCREEN = 0x02,
    OP_CLEAR_RECT = 0x03,
    OP_LOAD_IMAGE = 0x04,
    OP_DRAW_IMAGE = 0x05,
    OP_LOAD_FONT = 0x06,
    OP_DRAW_LOGO = 0x07,
    OP_DRAW_TEXT = 0x08,
    OP_SET_COLOR = 0x09,
    OP_ZLIB = 0x0A,
    OP_SET_PEN_STYLE = 0x0B,
    OP_DRAW_RECT = 0x0C,
    OP_DRAW_PATH = 0x0D,
    OP_DRAW_ELLIPSE = 0x0E,
    OP_DRAW_LINE = 0x0F,
    OP_DRAW_ARC = 0x10,
    OP_VIDEO_PLAY = 0x11,
    OP_DRAW_POLYGON = 0x12,
    OP_VIDEO_UPLOAD = 0x13,
    OP_SET_TICK_RATE = 0x14,
    OP_CACHE_INFO = 0x16,
    OP_SYSTEM_INFO = 0x17,
    OP_CLIP_RECT = 0x18,
    OP_DRAW_SPRITE = 0x19,
    OP_SET_SESSION_PARAMS = 0x1B,
    OP_OTA_UPLOAD = 0x1C,
    OP_OTA_START = 0x1D,
    OP_HANDSHAKE = 0x1E,
    OP_ENABLE_DEVICE = 0x1F,
    OP_CONNECT_DISCONNECT = 0x30,
    OP_SEEK_TO = 0x31,
    OP_EOF = 0x32,
};

// Opcodes 0 to OP_LAST have a slot in the dispatcher's table.
constexpr uint8_t OP_LAST = OP_EOF;
constexpr int OPCODE_COUNT = OP_LAST + 1;

// Message types: the first byte of each reply and notice.
enum ReplyType : uint8_t {
    REPLY_FRAME_SHOWN = 0x00,
    REPLY_STATE_CHANGE = 0x01,
    REPLY_SYSTEM_STATUS = 0x02,
    REPLY_CACHE_ENTRY = 0x03,
    REPLY_RESULT_REPORT = 0x04,
    REPLY_SYSTEM_COUNTERS = 0x06,
    REPLY_DISPLAY_INFO = 0x07,
    REPLY_SHORT_STATUS = 0x08,
    REPLY_CALIBRATION_CHUNK = 0x09,
    REPLY_CACHE_MAP = 0x0B,
    REPLY_TICK_RATE = 0x40,
    REPLY_MTU = 0x41,
};
