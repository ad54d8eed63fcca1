// Loading the simulated supervisor's state and committing changes to it durably.
#pragma once

#include "simulator/SimState.h"

// Fills an empty `state` from the state file, or with the built-in set when
// there is no state file. Reads without the lock: a file is replaced only by
// rename, and a change block still being appended is ignored.
uint32_t SimLoad(SimState* state);

// Works out a change on a copy of one device; anything but SUPRV_OK drops it.
typedef uint32_t (*SimDeviceChange)(SimState* state, SimDevice* device, void* context);
// Changes the whole state in place (the control tool's edits).
typedef uint32_t (*SimStateChange)(SimState* state, void* context);

// Under the writers' lock: brings `state` up to date with the file (so no
// other process's change is lost), runs `change` on the device named `name`,
// and makes the result durable before it shows in `state`. Most changes are
// appended to the file as one change block; when the appended blocks have
// grown past the snapshot, the file is rewritten whole instead, so the cost
// of a change stays constant on average however many devices there are.
uint32_t SimCommitDevice(SimState* state, const char* name, SimDeviceChange change, void* context);

// Under the writers' lock: brings `state` up to date, runs `change` and
// rewrites the state file whole. On failure `state` may hold the unwritten
// change; the caller discards it.
uint32_t SimCommitState(SimState* state, SimStateChange change, void* context);
