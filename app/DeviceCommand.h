// DeviceCommand: what a run of ringwarden does to each selected device.
#pragma once

#include <windows.h>

// Set from the command word; any other value acts as ShowStatus.
enum DeviceCommand : DWORD { ShowStatus = 0, StartServer = 1, StopServer = 2, DisconnectUser = 3 };
