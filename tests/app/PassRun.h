// Runs the device pass against the fake supervisor and collects what it printed, beeps included.
#pragma once

#include "app/DeviceCommand.h"
#include "base/ClDeviceSelector.h"
#include "tests/app/FakeSupervisor.h"

#include <string>
#include <vector>

struct PassRun {
    std::string output;   // Every line as written, CR LF included; "<beep>" where a beep sounded.
    std::string failure;  // The text of the exception that ended the pass, if one did.
    std::vector<bool> found;  // Each selector's found flag afterwards.
};

ClDeviceSelector ByName(const char* name);
ClDeviceSelector ByNumber(DWORD number);

PassRun RunPass(FakeSupervisor& fake, DeviceCommand command, const std::vector<ClDeviceSelector>& selectors = {},
                const char* deviceType = "");

// A fake device with the given name and type and nothing else set.
FakeDevice Device(const char* name, const char* type = "modem");
