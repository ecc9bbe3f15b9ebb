// Event routines of the device. Some of them draw and notify as the device
// would: the logo screens run a logo command through the dispatcher.
#include "protocol/eventHandler.h"

#include <cstring>
#include <unistd.h>

#include "host/bytes.h"
#include "host/platform.h"
#include "commands/commandHandlerDraw.h"
#include "gui/GUI_Font.h"
#include "protocol/commandHandler.h"

OrvState orvState;
const char LOCAL_NAME[7] = "OR-SIM";

static void _SleepOneSecond() { sleep(1); }
void (*SIM_sleepOneSecond)() = _SleepOneSecond;

static void _ResetEventState() { memset(&orvState, 0, sizeof orvState); }
SIM_REGISTER_RESET(_ResetEventState);

void setOnState(uint32_t bit, int on) {
    uint16_t mask = (uint16_t)(1u << (bit & 15));
    if (on) {
        orvState.onState |= mask;
    } else {
        orvState.onState &= (uint16_t)~mask;
    }
}

bool isOnState(uint32_t bit) { return (orvState.onState >> (bit & 15)) & 1; }

void setPendingReport(uint32_t bit) { orvState.pendingReports |= (uint16_t)(1u << (bit & 15)); }

void setDisplayState(uint8_t state) {
    SIM_LOG("setDisplayState:%d\n", state);
    if (state == UNIT_STATE_KEEP || state == (isOnState(UNIT_DISPLAY) ? 1 : 0)) return;
    setOnState(UNIT_DISPLAY, state);
    setPendingReport(UNIT_DISPLAY);
    if (orvState.authenticated) {
        uint8_t notice[3] = {REPLY_STATE_CHANGE, (uint8_t)UNIT_DISPLAY, state};
        sendData(notice, sizeof notice);
    }
}

void onInit() {
    orvState.displayLevel = 150;
    orvState.tickRate = 100;
    orvState.infoLevel = 100;
    orvState.infoOffset = -100;
    orvState.infoCode = 119;
    displayLogo(LOGO_BOOT, (const uint8_t *)LOCAL_NAME, 6);
    setDisplayState(1);
}

void onBLEConnected(uint8_t connected) {
    if (connected == 0) {
        orvState.connected = 0;
        orvState.authenticated = 0;
        orvState.tickParam = 0;
        orvState.tickRate = 100;
        displayLogo(LOGO_LINK_LOST, nullptr, 0);
        setDisplayState(0);
    } else if (!orvState.connected) {
        orvState.connected = 1;
        orvState.authenticated = 0;
        orvState.peerId = PEER_UNBOUND;
        orvState.lastFrameId = 0;
    }
}

void onSetTickRate(uint16_t rate, uint16_t param) {
    orvState.tickParam = param;
    if (rate == orvState.tickRate) return;
    orvState.tickRate = rate;
    SIM_LOG("set tick rate to %d\n", rate);
    uint8_t notice[3] = {REPLY_TICK_RATE, 0, 0};
    wr16le(notice + 1, rate);
    sendData(notice, sizeof notice);
}

void onShutdown() {
    displayLogo(LOGO_SHUTDOWN, nullptr, 0);
    setDisplayState(1);
    SIM_sleepOneSecond();
    setDisplayState(0);
}

void displayLogo(uint8_t type, const uint8_t *text, uint8_t n) {
    uint8_t command[LOGO_HEADER_BYTES + GUI_MAX_LINE_CHARS] = {0};
    if (n > GUI_MAX_LINE_CHARS) n = GUI_MAX_LINE_CHARS;   // callers never pass more
    command[0] = OP_DRAW_LOGO;
    command[1] = type;
    wr16le(command + 2, (uint16_t)orvState.logoOffsetX);
    wr16le(command + 4, (uint16_t)orvState.logoOffsetY);
    command[6] = n;
    if (n > 0 && text) memcpy(command + 7, text, n);
    const DispatchResult shown = handleCommand(command, LOGO_HEADER_BYTES + n);
    SIM_ASSERT(shown == DISPATCH_DONE, "the device's own logo command runs whole");
}
