// The simulated supervisor's devices and fault knobs, and their text form in the state file.
//
// Written without exceptions, the C++ library or operator new, so the
// supervisor library links against the C library alone.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "supervisor/SupervisorErrors.h"

// Field widths, terminator included, as they fit the record layout.
enum : uint32_t {
    SIM_NAME_SIZE = 128,
    SIM_TYPE_SIZE = 19,
    SIM_SERVER_SIZE = 5,  // Four characters, kept unterminated in the record.
    SIM_PORT_SIZE = 44,
    SIM_USER_SIZE = 276,
    SIM_RECORD_SIZE = 512,
    SIM_COMMENT_SIZE = SIM_RECORD_SIZE - 204,
};

// One device with each text in a field as wide as the record has room for:
// the form in which a device is read, changed and compared. The state keeps
// its devices compactly instead (SimEntry), and a SimDevice is a copy.
//
// A change is detected by comparing whole devices byte for byte, so the
// struct has no padding: the bytes that would be padding are fields of their
// own, which SimDeviceDefaults clears and every copy carries.
struct SimDevice {
    char name[SIM_NAME_SIZE];
    char type[SIM_TYPE_SIZE];
    char unused1[1];
    uint32_t flags;
    uint32_t speed;
    char server[SIM_SERVER_SIZE];
    char port[SIM_PORT_SIZE];
    char unused2[3];
    int32_t status;
    char user[SIM_USER_SIZE];
    char comment[SIM_COMMENT_SIZE];
    char unused3[4];
    uint64_t callStart;  // When the device became Connected, as a Unix time; 0 when not known.
};
static_assert(sizeof(SimDevice) == SIM_NAME_SIZE + SIM_TYPE_SIZE + 1 + 4 + 4 + SIM_SERVER_SIZE + SIM_PORT_SIZE + 3 + 4 +
                                       SIM_USER_SIZE + SIM_COMMENT_SIZE + 4 + 8,
              "a device has no padding bytes");

// The functions a crash can be injected into.
enum SimFunction : uint32_t {
    SIM_FN_NONE,
    SIM_FN_INITIALIZE,
    SIM_FN_DEINITIALIZE,
    SIM_FN_ENUM,
    SIM_FN_GET,
    SIM_FN_SET,
    SIM_FN_REQUEST,
};

// null writes at address 0, nullread reads there, readonly writes to the
// library's constant data.
enum SimCrashKind : uint32_t {
    SIM_CRASH_NULL,
    SIM_CRASH_DIVIDE,
    SIM_CRASH_RECURSION,
    SIM_CRASH_NULL_READ,
    SIM_CRASH_READ_ONLY,
    SIM_CRASH_INVALID,
    SIM_CRASH_KINDS
};

// The calls a knob can make refuse a device: the record fill call, the
// write-back of a record and the disconnect request.
enum SimRefusedCall : uint32_t { SIM_REFUSE_GET, SIM_REFUSE_SET, SIM_REFUSE_DISCONNECT, SIM_REFUSED_CALLS };

struct SimRefusal {
    uint32_t result;             // Non-zero: the call fails with it.
    char device[SIM_NAME_SIZE];  // Only for this device; empty for all.
};

struct SimFaults {
    uint32_t initializeResult;  // 0: initialisation succeeds.
    bool enumerationFails;      // The size query reports no bytes.
    uint32_t extraNames;        // Added to the name count.
    bool recordSizeSet;
    uint32_t recordSize;        // Announced instead of SIM_RECORD_SIZE.
    uint32_t recordSizeResult;  // Result of the record size query.
    SimRefusal refusals[SIM_REFUSED_CALLS];
    SimFunction crashFunction;
    SimCrashKind crashKind;
};

// A device as the state keeps it: its numbers, and where its texts lie.
struct SimEntry {
    uint32_t texts;  // Offset in SimState::texts of the name, type, server, port, user and comment, in
                     // this order, each ended by a zero byte.
    uint32_t flags;
    uint32_t speed;
    int32_t status;
    uint64_t callStart;
};

// The whole state, with what is known of the file it came from.
struct SimState {
    SimEntry* devices;
    uint32_t count;
    uint32_t capacity;
    // The devices' texts, one after another. The texts a change replaces stay
    // behind as waste until the arena is compacted, which only SimPutDevice does.
    char* texts;
    uint32_t textSize;
    uint32_t textCapacity;
    uint32_t textWaste;
    uint32_t* index;  // Open-addressing table of device positions + 1; 0 is free.
    uint32_t indexSize;
    SimFaults faults;
    // The state file as last read or written: its generation and how many of
    // its bytes have been applied. An empty generation means no file.
    char generation[24];
    uint64_t applied;
    uint64_t snapshotBytes;
};

void SimStateInit(SimState* state);
void SimStateFree(SimState* state);
// Moves `from` into `to`, freeing what `to` held; `from` is left empty.
void SimStateMove(SimState* to, SimState* from);

// The hash of a device name, for the index and for the record's pattern.
uint32_t SimHashName(const char* name);

uint32_t SimLoadBuiltIn(SimState* state);
uint32_t SimGenerate(SimState* state, uint32_t count);
uint32_t SimAddDevice(SimState* state, const SimDevice* device);
void SimDeviceDefaults(SimDevice* device);

enum : uint32_t { SIM_NO_DEVICE = 0xFFFFFFFFu };

// The position of the device named `name`, or SIM_NO_DEVICE.
uint32_t SimFindDevice(const SimState* state, const char* name);
// The name of the device at `position`; it stays valid until the state changes.
const char* SimDeviceName(const SimState* state, uint32_t position);
// A copy of the device at `position`, every byte after a text's end zero.
void SimGetDevice(const SimState* state, uint32_t position, SimDevice* device);
// Stores `device` at `position`, where a device of the same name is. On
// failure (no memory) nothing changes. Until the next SimPutDevice, the
// device it replaced, handed back in `replaced`, can be put back by
// SimRestoreDevice, which cannot fail.
uint32_t SimPutDevice(SimState* state, uint32_t position, const SimDevice* device, SimEntry* replaced);
void SimRestoreDevice(SimState* state, uint32_t position, const SimEntry* replaced);

// One "key value" line of a device block, or the words after "fault".
bool SimParseField(SimDevice* device, const char* text, size_t length);
bool SimParseFault(SimFaults* faults, const char* text, size_t length);

// A growable byte buffer over malloc.
struct SimBuffer {
    char* data;
    size_t size;
    size_t capacity;
    bool failed;
};
void SimBufferFree(SimBuffer* buffer);
void SimBufferAppend(SimBuffer* buffer, const char* bytes, size_t count);
void SimBufferAppendText(SimBuffer* buffer, const char* text);

// What a parse reads: a whole state file into an empty state, or the change
// blocks written after `state->applied`, applied to the state read before.
enum SimParseMode : uint32_t { SIM_PARSE_FILE, SIM_PARSE_JOURNAL };

// Reads the state file's text in pieces of any size, as they come from the
// file, so that the whole text never needs to be in memory; it keeps only a
// line cut by the end of a piece until the rest arrives. A change block cut
// short at the end of the text (a writer that died mid-write) is ignored;
// `applied` advances to the end of the last complete block.
struct SimParser {
    SimState* state;
    SimParseMode mode;
    uint32_t result;     // The first failure; once set, the rest is ignored.
    bool headerWanted;
    bool inBlock;
    bool isChange;
    uint32_t position;   // The device a change block changes.
    uint64_t offset;     // Bytes of whole lines read.
    uint64_t complete;   // The end of the last complete element.
    uint64_t journal;    // The start of the first change block, or UINT64_MAX.
    SimBuffer line;      // The start of a line cut by the end of a piece.
    SimDevice device;    // The device of the block being read.
};
void SimParserBegin(SimParser* parser, SimState* state, SimParseMode mode);
void SimParserFeed(SimParser* parser, const char* text, size_t size);
// Reads the last line, which lacks a line break, and ends the parse.
uint32_t SimParserEnd(SimParser* parser);

// The whole state in its file form, headed by `generation`.
void SimFormatFile(const SimState* state, SimBuffer* out);
// One change block: the fields of `after` that differ from `before`.
void SimFormatChange(const SimDevice* before, const SimDevice* after, SimBuffer* out);

// The record the simulated supervisor hands out for `device`, `size` bytes.
// Bytes that carry no field hold a pattern particular to the device, so a
// caller that fails to carry them unchanged is caught at the write-back.
void SimFillRecord(const SimDevice* device, unsigned char* record, uint32_t size);
uint32_t SimRecordSize(const SimState* state);

// Writes `value` in decimal, zero-terminated (at most 11 bytes for a
// 32-bit value, 21 for any).
void SimFormatUnsigned(char* out, uint64_t value);

// Status names as written in the state file, "Idle" to "MonitoringFailed".
const char* SimStatusName(int32_t status);
// The words of a crash knob: the function's name and the kind of crash.
const char* SimFunctionName(SimFunction function);
const char* SimCrashName(SimCrashKind kind);
// The word of a refusal knob: "getinfo", "setinfo" or "disconnect".
const char* SimRefusedCallName(SimRefusedCall call);
// What a knob makes `call` return for the device named `name`: its result, or SUPRV_OK.
uint32_t SimRefusalResult(const SimFaults* faults, SimRefusedCall call, const char* name);

// Semantics of a change of the server-enabled bit and of a dropped call.
void SimApplyFlags(SimDevice* device, uint32_t flags);
void SimDropCall(SimDevice* device);
// Keeps the call start of a changed device true: `now` when the change made
// it Connected (unless the change set a start itself), 0 once it is not.
void SimStampCall(const SimDevice* before, SimDevice* after, uint64_t now);
