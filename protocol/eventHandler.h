// The device's run-time state and its event routines: start-up, link up and
// down, tick rate, display on and off, power-off and the logo screens.
#pragma once
#include <cstdint>

struct OrvState {
    uint16_t tickRate;
    uint16_t tickParam;
    uint8_t connected;
    uint8_t authenticated;
    uint16_t peerId;               // 0xFFFF: not bound to an identity yet
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

extern OrvState orvState;
extern const char LOCAL_NAME[7];

constexpr uint32_t UNIT_DISPLAY = 10;

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
