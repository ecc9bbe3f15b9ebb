// The device's run-time state and its event routines: start-up, link up and
// down, tick rate, display on and off, power-off and the logo screens.
#pragma once
#include <cstdint>

struct OrvState {
    uint16_t tickRate;
    uint16_t tickParam;
    uint8_t connected;
    uint8_t authenticated;
    uint16_t peerId;               // PEER_UNBOUND: not bound to an identity yet
    uint32_t statusBits;           // see setBIT / getBIT
    uint16_t onState;              // one bit per unit; bit 10 is the display
    uint16_t pendingReports;
    uint8_t lastFrameId;
    uint8_t displayLevel;
    uint8_t infoLevel;
    int16_t infoOffset;
    uint8_t infoCode;
    uint32_t lastHandshakeCounter;
    int16_t logoOffsetX;           // pixels
    int16_t logoOffsetY;           // pixels
};

constexpr uint16_t PEER_UNBOUND = 0xFFFF;

extern OrvState orvState;
extern const char LOCAL_NAME[7];

// Units of the enable command. The states: 0 off, 1 on, UNIT_STATE_KEEP
// leaves the unit as it is.
constexpr uint32_t UNIT_DISPLAY = 10;
constexpr uint32_t UNIT_POWER = 11;
constexpr uint32_t UNIT_PALETTE = 19;   // the value picks colour (0) or grey (1) frames
constexpr uint8_t UNIT_STATE_KEEP = 2;

// Kinds of the system information command.
constexpr uint8_t INFO_SYSTEM_STATUS = 1;
constexpr uint8_t INFO_COUNTERS = 2;
constexpr uint8_t INFO_CALIBRATION = 3;
constexpr uint8_t INFO_DISPLAY = 4;
constexpr uint8_t INFO_SHORT_STATUS = 5;

void setOnState(uint32_t bit, int on);
bool isOnState(uint32_t bit);
void setPendingReport(uint32_t bit);
void setDisplayState(uint8_t state);
void onInit();
void onBLEConnected(uint8_t connected);
void onSetTickRate(uint16_t rate, uint16_t param);
void onShutdown();
void displayLogo(uint8_t type, const uint8_t *text, uint8_t n);

// The one-second wait of power-off; tests replace it to keep the suite fast.
extern void (*SIM_sleepOneSecond)();
