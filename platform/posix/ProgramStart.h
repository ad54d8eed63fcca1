// The start of the program on POSIX: what a WinMain program's runtime does before WinMain, then WinMain.
#pragma once

#include <windows.h>

#include "base/Resources.h"
#include "errors/ClException.h"
#include "errors/MessageBoxes.h"
#include "platform/CommandTail.h"
#include "platform/ExitCodes.h"
#include "platform/posix/ProcessSeam.h"

// Records the module and the arguments and runs WinMain. Keeping the
// arguments takes memory before WinMain's protected region exists; when it
// runs out there, the failure is reported as WinMain reports its own, with
// exit code 5, rather than ending the process through the runtime's
// termination.
inline int StartProgram(int argc, char** argv) {
    g_hInstance = GetModuleHandleA(nullptr);
    char* commandTail = nullptr;
    try {
        SetProcessArguments(argc, argv);
        commandTail = CommandTail(GetCommandLineA());
    } catch (ClException* failure) {
        ReportError(failure->message);
        delete failure;
        return kExitFailure;
    }
    return WinMain(g_hInstance, nullptr, commandTail, SW_SHOWDEFAULT);
}
