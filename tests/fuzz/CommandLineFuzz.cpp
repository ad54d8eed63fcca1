// Fuzzes the command-line phase over arbitrary command-line text: tokenizer, switches, messages and selectors.
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "app/ClRingwardenApp.h"
#include "errors/ClException.h"
#include "platform/posix/ProcessSeam.h"
#include "tests/fuzz/FuzzSupport.h"

// The command line is the input up to its first zero byte, as Windows hands
// a process its command line.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    SetCommandLineForTesting(text.c_str());
    ClRingwardenApp application;
    ClRingwardenApp::CommandLineOutcome outcome;
    try {
        outcome = application.ReadCommandLine();
    } catch (ClException* failure) {
        Require(!failure->message.IsEmpty(), "a failure carries a text");
        delete failure;
        return 0;
    }
    if (outcome != ClRingwardenApp::CommandLineOutcome::Execute) {
        return 0;
    }
    Require(application.command <= DisconnectUser, "an accepted command line names one of the four commands");
    for (DWORD i = 0; i < application.selectors.GetCount(); ++i) {
        ClDeviceSelector& selector = application.selectors[i];
        Require(!selector.found, "a selector starts unmatched");
        Require(selector.name.IsEmpty() || selector.number == 0, "a selector names a device or numbers it, not both");
        // A device whose name is the one typed must be found by it, whatever its bytes.
        Require(selector.name.EqualsNoCase(selector.name), "a typed name equals itself");
        const DWORD length = selector.name.GetLength();
        const char* terminated = selector.name.GetTerminated();
        Require(std::string(terminated).size() == length, "a terminated name keeps its length");
    }
    if (!application.deviceType.IsEmpty()) {
        Require(ClString::CompareText(application.deviceType, application.deviceType, -1, -1, NORM_IGNORECASE) == 0,
                "a typed device type equals itself");
    }
    return 0;
}
