// SPDX-License-Identifier: MIT
// The command lines of the serial link between the two camera units: what the rear unit
// writes for each command code, and what the front unit makes of a line it receives.
//
// Every command travels as CR LF, its text, CR LF. Plain commands are one fixed 10-byte
// frame ("\r\n#CMSTP\r\n"); commands with data are "<name>=<text>" or "<name>=<number>"
// (the name is always the 6 characters "#CMxxx"), at most 79 characters, written between
// two CR LFs. The front unit hands every line of the link to ParseRearCommand: any line
// that begins with "#CM" is a sign of life of the rear unit, and a known command becomes
// an event for the front's kv_server, id 400 + its code.
//
// Composing and decoding are pure: no port, no thread, no bus. The daemon wires
// ParseRearCommand to the settings record and the event bus through RearLinkHooks, so
// that tests and the fuzz target run the same code with hooks of their own.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "sys_env_type.h"

// ---- the event record ------------------------------------------------------------------

inline constexpr size_t kRearCmdTextSize = 80;

// The payload kv_server receives with a command that carries data: 104 bytes,
// little-endian. Fields the command does not carry are zero.
struct RearCmdRecord {
  int32_t nCommand;               // the SEND_TO_FRONT_* code
  int32_t nReserved0;             // not set
  int32_t nValue;                 // number of #CMDTM and the saved-recording notices
  int32_t nReserved1;             // not set
  int64_t llTick;                 // tick of receipt
  char szText[kRearCmdTextSize];  // text of #CMSTA, #CMINW, #CMVER: NUL-terminated, zero-filled
};
static_assert(sizeof(RearCmdRecord) == 104, "kv_server reads a 104-byte record");
static_assert(offsetof(RearCmdRecord, nCommand) == 0, "RearCmdRecord.nCommand");
static_assert(offsetof(RearCmdRecord, nValue) == 8, "RearCmdRecord.nValue");
static_assert(offsetof(RearCmdRecord, llTick) == 16, "RearCmdRecord.llTick");
static_assert(offsetof(RearCmdRecord, szText) == 24, "RearCmdRecord.szText");

// The daemon's own types and calls; the record above and ParseRearCommand below are the
// system's names.
namespace navlink {

// ---- sending ---------------------------------------------------------------------------

// A "<name>=<data>" line with its terminator must fit 80 bytes.
inline constexpr size_t kCommandLineSize = 80;

enum class LineShape {
  None,    // the code has no line: nothing is written
  Fixed,   // `text` is the whole 10-byte frame, written at once
  Framed,  // `text` goes out between two CR LFs (three writes)
};

struct CommandLine {
  LineShape shape = LineShape::None;
  char text[kCommandLineSize] = {};
  size_t len = 0;
};

// The line of command `code`. `data` is the text of the "%s=%s" commands (1, 12, 13 and
// the saved-recording notices 70 to 76; null counts as empty); `now` is the number that
// #CMDTM (11) carries, seconds since 1970. False, and nothing may be written, when the
// line would not fit in 79 characters or `data` holds a CR or LF: cut, the front unit
// would take a wrong value; with a line end inside, the rest of the text would arrive as
// a line of its own.
bool ComposeCommandLine(int code, const char *data, long now, CommandLine &out);

// The texts that request 1 sends, in this order, from the rear unit's own settings and
// identity (`firmware` and `build`: GetFirmwareVersion, GetBuildNumber). A text that comes
// out longer than a line can carry is still formatted whole here (up to 255 characters)
// and then refused by ComposeCommandLine.
inline constexpr size_t kStartTextSize = 256;
struct StartTexts {
  char version[kStartTextSize];  // #CMVER: version;build;shutdown V x 10;park V x 10
  char wifi[kStartTextSize];     // #CMINW: ssid;pass phrase
  char start[kStartTextSize];    // #CMSTA: mac;now;parking;interval;button;sync;zone;sdxc
};
void FormatStartTexts(const KV_Config_Data &c, const char *firmware, const char *build, long now,
                      StartTexts &out);

// ---- receiving -------------------------------------------------------------------------

// How the front unit reports a received command to its kv_server.
enum class RearEvent {
  None,            // no event (#CMLIV, an unknown "#CM" line, or not a command at all)
  Code,            // KVMSG_CommandFromRear(code): one-way, the 4-byte code
  Record,          // KVMSG_CommandFromRearData(code, record, 104): one-way
  RecordBlocking,  // KVMSG_CommandFromRearDataDirect(code, record, 104): waits for the answer
};

struct RearCommand {
  bool alive = false;  // the line began with "#CM": a sign of life of the rear unit
  RearEvent event = RearEvent::None;
  int code = 0;
  RearCmdRecord record = {};
};

// What a received line (without its CR LF, NUL-terminated) means; `tick` is its receipt.
//  - A text longer than the record's 79 characters is cut there.
//  - A number is read like atoi from the 8th character: blanks, a sign, digits up to the
//    first other character; 0 when there are none. One beyond 32 bits is held at
//    INT32_MAX or INT32_MIN, as the board's 32-bit atoi gives it.
void DecodeRearLine(const char *line, int64_t tick, RearCommand &out);

// What ParseRearCommand needs from the daemon.
struct RearLinkHooks {
  SysInfo *(*info)();                     // the settings record, or null
  int64_t (*now)();                       // the tick
  void (*deliver)(const RearCommand &c);  // the event to kv_server (only for event != None)
};
void RearLinkSetUp(const RearLinkHooks &hooks);

}  // namespace navlink

// Handles one received line: a "#CM" line sets last_rear_alive_received to now, and a
// known command is delivered as its event.
void ParseRearCommand(const char *line);
