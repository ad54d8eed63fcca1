// The process entry on Windows: records the module, then runs WinMain with the command tail and show-window value.
#include <windows.h>

#include "base/Resources.h"
#include "platform/CommandTail.h"
#include "platform/win32/FaultFrame.h"

namespace {

int ShowCommand() {
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    GetStartupInfoA(&startup);
    return (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
}

}  // namespace

int main() {
    g_hInstance = GetModuleHandleA(nullptr);
    // The main thread's faults reach its translator through this frame, which
    // outlives everything WinMain does.
    ClFaultFrame faultFrame;
    return WinMain(g_hInstance, nullptr, CommandTail(GetCommandLineA()), ShowCommand());
}
