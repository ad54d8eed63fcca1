// ReadLines: one reading of every chosen line of the dial-up server, for the monitoring program.
#pragma once

#include <windows.h>

#include <vector>

#include "base/ClArray.h"
#include "base/ClDeviceSelector.h"
#include "base/ClString.h"
#include "supervisor/ClSupervisor.h"

// What one line (one device of the supervisor) showed when it was read.
struct ClLineReading {
    DWORD position;  // In the whole device list, counted from 1.
    ClString name;
    ClString deviceType;
    ClString serverType;  // At most SUPRV_SERVER_TYPE_LENGTH characters.
    bool active;          // The server answers calls on the line.
    int32_t status;       // A SUPRV_STATUS_ code, or anything else the supervisor left.
    ClString user;        // Empty when nobody is logged in.
    uint64_t callStart;   // When the call began, as a Unix time; 0 when in no call or not known.
};

// Reads the record, status and user of every line that a selector names
// (every line when there are none) and whose type is `deviceType` (any when
// empty), in the supervisor's order, between one Initialize and one
// DeInitialize of the bound supervisor. Marks the selectors that matched.
// Throws ClException* when the supervisor cannot be initialised (with the
// system's words for the error number and what the library says of its
// failure), the list or a record cannot be read, or a function is missing
// from the library.
std::vector<ClLineReading> ReadLines(ClSupervisor& supervisor, ClArray<ClDeviceSelector>& selectors,
                                     const ClString& deviceType);

// The number of lines in `lines` for which `test` holds.
template <class Test>
unsigned CountLines(const std::vector<ClLineReading>& lines, const Test& test)
{
    unsigned count = 0;
    for (const ClLineReading& line : lines) {
        count += test(line) ? 1 : 0;
    }
    return count;
}

// A line that answers calls and waits for one.
bool IsFree(const ClLineReading& line);
// A line that should answer calls but cannot.
bool HasFailed(const ClLineReading& line);
