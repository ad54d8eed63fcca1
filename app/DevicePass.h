// RunDevicePass: ringwarden's pass over the chosen devices, printing their list and the selectors that matched nothing.
#pragma once

#include <windows.h>

#include "app/DeviceCommand.h"
#include "base/ClArray.h"
#include "base/ClDeviceSelector.h"
#include "base/ClString.h"
#include "supervisor/ClSupervisor.h"

// Enumerates the devices, runs `command` on every one that a selector
// matches (every device when there are no selectors) and whose type equals
// `deviceType` (any type when it is empty), then reports each selector that
// matched nothing with a line and a beep. Marks matching selectors found.
// Returns 0; throws ClException* when the device list or a selected device's
// record is not available, or when the supervisor refuses the command on a
// device; the devices after it are then not touched.
DWORD RunDevicePass(ClSupervisor& supervisor, DeviceCommand command, ClArray<ClDeviceSelector>& selectors,
                    const ClString& deviceType);
