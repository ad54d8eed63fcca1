// The caption and title of the console application, and single keys from the console.
#include "base/ConsoleInput.h"

#include <windows.h>

#include "base/Resources.h"
#include "errors/ClConsoleApp.h"

const char* ClConsoleApp::GetCaption()
{
    if (caption.GetLength() == 0) {
        caption = ClString(captionId, g_hInstance);
    }
    return caption.GetText();
}

void ClConsoleApp::SetConsoleCaption()
{
    ClString title(captionId, g_hInstance);
    SetConsoleTitleA(title.GetText());
}

namespace {

// Switches a console to single keys without echo, unless line input is off
// already. False when the console's mode cannot be read or written.
bool SwitchToSingleKeys(HANDLE input)
{
    DWORD mode = 0;
    if (!GetConsoleMode(input, &mode)) {
        return false;
    }
    if (!(mode & ENABLE_LINE_INPUT)) {
        return true;
    }
    return SetConsoleMode(input, mode & ~(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT));
}

}  // namespace

char ReadKey()
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == INVALID_HANDLE_VALUE) {
        return 0;
    }
    char key = 0;
    DWORD read = 0;
    if (GetFileType(input) == FILE_TYPE_CHAR && SwitchToSingleKeys(input) &&
        ReadConsoleA(input, &key, 1, &read, nullptr) && read == 1) {
        return key;
    }
    if (ReadFile(input, &key, 1, &read, nullptr) && read == 1) {
        return key;
    }
    return 0;
}
