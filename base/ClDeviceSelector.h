// ClDeviceSelector: one device selection from the command line.
#pragma once

#include <windows.h>

#include "base/ClStringRange.h"

// A selection by name (number 0) or by position (/N:, name empty). Copies
// share the name's text block.
struct ClDeviceSelector {
    ClStringRange name;
    DWORD number = 0;
    // Set by the device pass once the selector has matched a device.
    BYTE found = 0;
};
