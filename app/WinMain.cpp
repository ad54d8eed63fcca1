// WinMain: the program's start-up, with the protected region that turns every failure into a report and exit code 5.
#include <windows.h>

#include "app/ClRingwardenApp.h"
#include "base/Resources.h"
#include "errors/ClConsoleApp.h"
#include "errors/ClException.h"
#include "errors/FaultTranslation.h"
#include "errors/MessageBoxes.h"
#include "platform/FaultTranslator.h"

// When a failure reaches the catch clause, unwinding has destroyed the
// application object already, so the supervisor library is freed before the
// report is shown. Failures outside the ClException family are not caught.
// The console title is set before the fault translator is installed, but
// inside the region: loading its text can run out of memory, and that must
// be reported like any other failure, not end the process.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    ClConsoleApp consoleApp(showCommand);
    g_hInstance = instance;
    int result = kExitSuccess;
    try {
        consoleApp.SetConsoleCaption();
        SetFaultTranslator(TranslateFault);
        ClRingwardenApp application;
        result = application.Run();
    } catch (ClException* failure) {
        ReportError(failure->message);
        delete failure;
        result = kExitFailure;
    }
    return result;
}
