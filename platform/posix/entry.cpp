// The process entry on POSIX: records the module and the arguments, then runs WinMain.
#include <windows.h>

#include "base/Resources.h"
#include "platform/CommandTail.h"
#include "platform/posix/ProcessSeam.h"

int main(int argc, char** argv) {
    g_hInstance = GetModuleHandleA(nullptr);
    SetProcessArguments(argc, argv);
    return WinMain(g_hInstance, nullptr, CommandTail(GetCommandLineA()), SW_SHOWDEFAULT);
}
