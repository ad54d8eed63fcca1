// What each of ringwarden's commands does to one device, and the lines it prints about a device.
#pragma once

#include <windows.h>

#include "app/DeviceCommand.h"
#include "base/ClString.h"
#include "supervisor/ClSupervisor.h"
#include "supervisor/SupervisorApi.h"

// The string-table entry of the line that heads a command's device list.
UINT GetListHeaderId(DeviceCommand command);

// Runs `command` on the device named `deviceName` whose record was just read.
// Start and stop change bit 0 of the flags and write the record back;
// disconnect breaks the connection; anything else prints the status report.
// Throws ClWin32Exception* naming the device and the supervisor's error
// number when it refuses the write-back or the disconnection.
void RunDeviceCommand(ClSupervisor& supervisor, DeviceCommand command, SuprvAccessInfo& record,
                      const char* deviceName);

// The status block of one device, after its device line, closed by an empty line.
void PrintDeviceStatus(ClSupervisor& supervisor, SuprvAccessInfo& record);

// One output line of the device commands.
void PrintLine(const ClString& text);
