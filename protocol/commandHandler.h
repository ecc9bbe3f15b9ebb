// The command dispatcher: walks a payload of commands through the opcode
// table, plus the one result report and the status bits.
#pragma once
#include <array>
#include <cstdint>

#include "host/config.h"
#include "protocol/opcodes.h"

// A handler takes the command (at its opcode) and the payload bytes left
// from there; it returns the bytes the command occupies, or HANDLER_STOP.
using CommandHandler = int32_t (*)(const uint8_t *command, uint32_t remaining);

// The handler result of a command whose length is unknown (typically one
// shorter than its fixed part): the rest of the payload is dropped.
constexpr int32_t HANDLER_STOP = -1;

// Indexed by opcode; null where no command is defined.
extern const std::array<CommandHandler, OPCODE_COUNT> opcodeHandlers;

// handleCommand's results. A payload that stops early has set status bit
// STATUS_BIT_PAYLOAD_DROPPED, unless a handler claimed more bytes than were
// left (that is only logged).
enum DispatchResult : int32_t { DISPATCH_DONE = 0, DISPATCH_STOPPED = -1 };
constexpr uint32_t STATUS_BIT_PAYLOAD_DROPPED = 5;

DispatchResult handleCommand(const uint8_t *payload, uint32_t size);

// Command seam, for tools that show a recording command by command (none by
// default). The dispatcher calls it before each command of an outermost
// payload, with `leaving` false and the command's offset, and once as it
// leaves that payload, with `leaving` true and the offset where the walk
// ended (the payload's size, or the command that stopped it). Commands run
// nested inside another one (compressed blocks, logo screens) belong to
// that command and are not reported. It must not run commands itself.
using SIM_CommandHook = void (*)(const uint8_t *payload, uint32_t size, uint32_t offset, bool leaving);
extern SIM_CommandHook SIM_commandHook;
// The result report (also the acknowledgement, with RESULT_OK).
void handleCommandError(uint32_t opcode, uint32_t code, uint8_t misc);
void setBIT(uint32_t n);
uint32_t getBIT();

// The detail byte of a report on a command too short to hold the slot or
// sequence number it would otherwise name.
constexpr uint8_t NO_DETAIL = 0xFF;

// Reports a command as malformed (with `misc` as the detail byte) and stops
// the payload: for a command shorter than its fixed part (every handler's
// first check), or one whose fields leave its length in doubt.
[[nodiscard]] int32_t commandMalformed(uint8_t opcode, uint8_t misc = 0);
// The result report on a command whose length is known (a refusal, or an
// acknowledgement with RESULT_OK): returns that length, so that the payload
// goes on with the next command.
[[nodiscard]] int32_t reportCommand(uint8_t opcode, uint8_t code, uint8_t misc, int32_t length);

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
