// WalkDevices: the walk over the supervisor's devices with selection and type filter, shared by both programs.
#pragma once

#include <windows.h>

#include "base/ClArray.h"
#include "base/ClDeviceSelector.h"
#include "base/ClString.h"
#include "supervisor/ClSupervisor.h"
#include "supervisor/SupervisorApi.h"

// What a walk does with the device list and with each device it chooses.
class ClDeviceVisitor {
public:
    // Called once, after the device list has been read and before the first device.
    virtual void BeginList(uint32_t nameCount) = 0;
    // Called for each chosen device with its position in the whole list,
    // counted from 1, its name and its record, which lives until the call returns.
    virtual void VisitDevice(DWORD position, const char* deviceName, SuprvAccessInfo& record) = 0;

protected:
    ~ClDeviceVisitor() = default;
};

// Enumerates the devices and hands the visitor every one that a selector
// matches (every device when there are no selectors) and whose type equals
// `deviceType` (any type when it is empty), in the order of the list. Marks
// every selector that matched a device found. Throws ClException* when the
// device list or a selected device's record is not available; the devices
// after it are then not visited.
void WalkDevices(ClSupervisor& supervisor, ClDeviceVisitor& visitor, ClArray<ClDeviceSelector>& selectors,
                 const ClString& deviceType);
