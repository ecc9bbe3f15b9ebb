// Converts the 8-bit frame buffer into 4-byte-per-pixel output frames. Each
// index maps to its four output bytes through one 32-bit table look-up; the
// table is rebuilt when the colour/grey mode changes.
#include "host/GUI_Driver.h"

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "commands/commandHandlerDraw.h"
#include "gui/GUICC_M332.h"
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_Common.h"
#include "host/bytes.h"
#include "host/platform.h"
#include "protocol/commandHandler.h"
#include "protocol/eventHandler.h"

uint8_t frame[FRAME_SIZE_BYTES];
int32_t frame_counter = 0;
uint32_t seekTo = 0;
uint8_t palette_type = 0;

static uint32_t _pixelWords[256];   // the four output bytes of each index, in memory order
static int _pixelWordsMode = -1;    // palette_type the table was built for

static void _ResetDriver() {
    frame_counter = 0;
    seekTo = 0;
    palette_type = 0;
}
SIM_REGISTER_RESET(_ResetDriver);

static void _BuildPixelWords(int grey) {
    for (uint32_t i = 0; i < 256; i++) {
        uint8_t bytes[4];
        if (grey) {
            bytes[0] = bytes[1] = bytes[2] = (uint8_t)i;
        } else {
            bytes[0] = M332_2bitColor[i & 3];
            bytes[1] = M332_3bitColor[(i >> 2) & 7];
            bytes[2] = M332_3bitColor[i >> 5];
        }
        bytes[3] = 0xAA;
        // Copied as bytes, so that the word holds them in output order on a
        // machine of either byte order.
        memcpy(&_pixelWords[i], bytes, 4);
    }
    _pixelWordsMode = grey;
}

void copyBuffer() {
    SIM_LOG("copyBuffer %d, %d (%lu)\n", frame_counter, save_frame, (unsigned long)processedBytes);
    const bool saved = save_frame == frame_counter;
    // A discarded frame is only counted: nothing reads it.
    if (SIM_frameSink == SIM_DiscardOutput && !saved) {
        frame_counter++;
        return;
    }
    int grey = palette_type == 1;
    if (_pixelWordsMode != grey) _BuildPixelWords(grey);
    wr32le(frame, processedBytes);
    uint8_t *out = frame + 4;
    for (uint32_t i = 0; i < FB_SIZE_BYTES; i++, out += 4) {
        uint32_t w = _pixelWords[fb[i]];
        memcpy(out, &w, 4);   // the table holds the bytes in memory order
    }
    SIM_frameSink(frame, FRAME_SIZE_BYTES);
    if (saved) {
        int fd = open("frame.bin", O_WRONLY | O_CREAT, 0644);
        ssize_t written = -1;
        if (fd >= 0) {
            written = write(fd, frame, FRAME_SIZE_BYTES);
            close(fd);
        }
        SIM_LOG("Saving frame to file, fd:%d, %d, %d\n", fd, (int)FRAME_SIZE_BYTES, (int)written);
        save_frame = -1;
    }
    frame_counter++;
}

void copyToScreen(int32_t, int32_t, int32_t, int32_t, uint8_t) {
    if (seekTo == 0 || processedBytes >= seekTo) copyBuffer();
}

void clearFrameBuffer() { memset(fb, 0, sizeof fb); }

void GUI_X_Config() { GUI_SetVRAMAddrEx(fb, SCREEN_WIDTH, SCREEN_HEIGHT); }

constexpr int32_t COPY_TO_SCREEN_BYTES = 8;

int32_t CMD_copyToScreen(const uint8_t *command, uint32_t remaining) {
    if (remaining < COPY_TO_SCREEN_BYTES) return commandMalformed(OP_COPY_TO_SCREEN);
    // This command rounds its rectangle down, unlike the drawing commands.
    PackedPair pos = readPackedPairSigned(command + 2);
    PackedPair size = readPackedPairUnsigned(command + 5);
    int32_t x0 = pos.a >> 1, y0 = pos.b >> 1, w = size.a >> 1, h = size.b >> 1;
    if (x0 > SCREEN_WIDTH || y0 > SCREEN_HEIGHT || x0 + w < 0 || y0 + h < 0) {
        return reportCommand(OP_COPY_TO_SCREEN, RESULT_MALFORMED, 0, COPY_TO_SCREEN_BYTES);
    }
    copyToScreen(x0, y0, x0 + w, y0 + h, 1);
    orvState.lastFrameId = command[1];
    uint8_t reply[2] = {REPLY_FRAME_SHOWN, command[1]};
    sendData(reply, sizeof reply);
    return COPY_TO_SCREEN_BYTES;
}
