// The command dispatcher: walks a payload of commands through the opcode
// table, plus the one result report and the status bits.
#pragma once
#include <cstdint>

// A handler takes the command (at its opcode) and the payload bytes left
// from there; it returns the bytes the command occupies, or -1.
using CommandHandler = int32_t (*)(const uint8_t *command, uint32_t remaining);

extern const CommandHandler opcodeHandlers[51];

int32_t handleCommand(const uint8_t *payload, uint32_t size);

// Command seam, for tools that show a recording command by command (none by
// default). The dispatcher calls it before each command of an outermost
// payload, with `leaving` false and the command's offset, and once as it
// leaves that payload, with `leaving` true and the offset where the walk
// ended (the payload's size, or the command that stopped it). Commands run
// nested inside another one (compressed blocks, logo screens) belong to
// that command and are not reported. It must not run commands itself.
using SIM_CommandHook = void (*)(const uint8_t *payload, uint32_t size, uint32_t offset, bool leaving);
extern SIM_CommandHook SIM_commandHook;
void handleCommandError(uint32_t opcode, uint32_t code, uint8_t misc);
void setBIT(uint32_t n);
uint32_t getBIT();

#include "host/config.h"
// The shared 1024-byte work buffer: point lists, the prepared text line,
// reply chunks. One command uses it at a time.
extern uint8_t scratch[SCRATCH_SIZE_BYTES];

int32_t CMD_connect_disconnect(const uint8_t *command, uint32_t remaining);
int32_t CMD_eof(const uint8_t *command, uint32_t remaining);
int32_t CMD_seekTo(const uint8_t *command, uint32_t remaining);
int32_t CMD_setTickRate(const uint8_t *command, uint32_t remaining);
int32_t CMD_setSessionParams(const uint8_t *command, uint32_t remaining);
int32_t CMD_enableDevice(const uint8_t *command, uint32_t remaining);
int32_t CMD_SystemInfo(const uint8_t *command, uint32_t remaining);
void CMD_sendCalibrationData();
int32_t CMD_otaStart(const uint8_t *command, uint32_t remaining);
int32_t CMD_otaUpload(const uint8_t *command, uint32_t remaining);

// The authentication handshake: reassembles a signed message from chunks and
// sets orvState.authenticated when its signature checks.
int32_t CMD_handShake(const uint8_t *command, uint32_t remaining);
