// ClRingwardenApp: the application object, which reads the command line and runs the command on the devices.
#pragma once

#include <windows.h>

#include "app/DeviceCommand.h"
#include "base/ClArray.h"
#include "base/ClDeviceSelector.h"
#include "base/ClString.h"
#include "base/ClStringRange.h"
#include "platform/ExitCodes.h"
#include "supervisor/ClSupervisor.h"

// The one binding of the supervisor for the run, plus what the command line
// asked for. Destroying it releases the type filter and the selectors, then
// frees the supervisor library if it was loaded.
class ClRingwardenApp : public ClSupervisor {
public:
    ClRingwardenApp();

    // The whole run: banner, contact lines and platform check, then the
    // command line, then the command. Returns the exit code; failures are
    // thrown as ClException*.
    int Run();
    // The device pass over this object's command, selectors and type filter.
    DWORD RunDevicePass();

    enum class CommandLineOutcome { Execute, HelpShown, Rejected };
    // The command-line phase of Run: fills command, selectors and deviceType
    // from the process's command line and writes the help or the faults.
    CommandLineOutcome ReadCommandLine();

    DeviceCommand command;
    ClArray<ClDeviceSelector> selectors;
    ClString deviceType;  // Empty: devices of every type.

private:
    void WriteBanner();
    void CheckPlatform();
    // Each returns false when the switch's value is bad.
    bool AddNumberSelector(const ClStringRange& value);
    bool SetDeviceType(const ClStringRange& value);
    bool SetCommand(const ClStringRange& commandWord);
    void ShowHelp();
    void WriteHelpHint();
    int Execute();
};
