// Writes the program's lines to the console, a redirected output or a message box, and finds the console window.
#include "errors/ConsoleOutput.h"

#include "errors/ClConsoleApp.h"
#include "errors/ClException.h"
#include "platform/GuardedCall.h"

#include <string.h>

namespace {

// The string-table entry of the product name, the caption of every box.
constexpr WORD kCaptionEntry = 25;

static_assert(sizeof(WINDOWPLACEMENT) == 44, "the placement record has its Win32 size on every target");

const char kLineEnd[] = "\r\n";
constexpr DWORD kLineEndLength = sizeof(kLineEnd) - 1;

// A line and its end leave in one write where they fit this many characters,
// so a reader is never handed half a line, and a line costs one system call.
constexpr DWORD kPiece = 1024;

// Writes a line and its end to the console, converted to the OEM code page
// that a console shows: the program's texts are in the ANSI code page, and a
// device name with a letter beyond ASCII would show a wrong one otherwise. A
// longer line goes in pieces, its end joined to the last. False when a write
// fails.
bool WriteConsoleLine(HANDLE output, const char* text, DWORD length)
{
    char oem[kPiece + kLineEndLength];
    DWORD done = 0;
    do {
        const DWORD count = length - done < kPiece ? length - done : kPiece;
        CallGuarded([&] { return CharToOemBuffA(text + done, oem, count); });
        done += count;
        DWORD size = count;
        if (done == length) {
            memcpy(oem + count, kLineEnd, kLineEndLength);
            size += kLineEndLength;
        }
        DWORD written = 0;
        if (!CallGuarded([&] { return WriteConsoleA(output, oem, size, &written, nullptr); })) {
            return false;
        }
    } while (done < length);
    return true;
}

// The last resort for a line: a message box over the console window, or the
// error beep when not even a box can be shown.
void ShowLineInBox(const char* text)
{
    const char* caption = g_consoleApp != nullptr ? g_consoleApp->GetCaption() : nullptr;
    HWND window = FindConsoleWindow();
    BringWindowForward(window);
    if (CallGuarded([&] { return MessageBoxA(window, text, caption, MB_OK); }) == 0) {
        MessageBeep(MB_ICONHAND);
    }
}

}  // namespace

ClConsoleApp* g_consoleApp = nullptr;

ClConsoleApp::ClConsoleApp(int showCommand)
    : showCommand(showCommand), consoleWindow(nullptr), captionId(kCaptionEntry)
{
    g_consoleApp = this;
}

ClConsoleApp::~ClConsoleApp()
{
    if (g_consoleApp == this) {
        g_consoleApp = nullptr;
    }
}

BOOL CALLBACK FindConsoleWindowProc(HWND window, LPARAM result)
{
    DWORD processId = 0;
    DWORD threadId = GetWindowThreadProcessId(window, &processId);
    if (GetWindowLongA(window, GWL_STYLE) & WS_CHILD) {
        return TRUE;
    }
    HWND* found = reinterpret_cast<HWND*>(result);
    if (threadId == GetCurrentThreadId()) {
        *found = window;
        return FALSE;
    }
    if (processId == GetCurrentProcessId()) {
        *found = window;
    }
    return TRUE;
}

HWND FindConsoleWindow()
{
    if (g_consoleApp != nullptr && g_consoleApp->consoleWindow != nullptr &&
        IsWindow(g_consoleApp->consoleWindow)) {
        return g_consoleApp->consoleWindow;
    }
    HWND found = nullptr;
    EnumWindows(FindConsoleWindowProc, reinterpret_cast<LPARAM>(&found));
    if (g_consoleApp != nullptr) {
        g_consoleApp->consoleWindow = found;
    }
    return found;
}

void BringWindowForward(HWND window)
{
    if (window == nullptr || !IsWindow(window)) {
        return;
    }
    if (IsIconic(window)) {
        WINDOWPLACEMENT placement = {};
        placement.length = sizeof(placement);
        if (!GetWindowPlacement(window, &placement)) {
            ThrowLastError();
        }
        ShowWindow(window, (placement.flags & WPF_RESTORETOMAXIMIZED) ? SW_SHOWMAXIMIZED : SW_RESTORE);
    }
    SetForegroundWindow(window);
}

bool ConsoleWriteLine(const char* text, DWORD length, bool noBox)
{
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == INVALID_HANDLE_VALUE) {
        if (!noBox) {
            ShowLineInBox(text);
        }
        return false;
    }
    if (WriteConsoleLine(output, text, length)) {
        return true;
    }
    if (noBox) {
        return false;
    }
    // Not a console: standard output was redirected to a file or a pipe, and
    // the line goes there as the program holds it, in the ANSI code page.
    char joined[kPiece + kLineEndLength];
    const bool endJoined = length <= kPiece;
    const char* line = text;
    DWORD lineLength = length;
    if (endJoined) {
        memcpy(joined, text, length);
        memcpy(joined + length, kLineEnd, kLineEndLength);
        line = joined;
        lineLength = length + kLineEndLength;
    }
    DWORD written = 0;
    CallGuarded([&] { return WriteFile(output, line, lineLength, &written, nullptr); });
    if (length != 0 && written < length) {
        ShowLineInBox(text);
        return false;
    }
    if (!endJoined) {
        WriteFile(output, kLineEnd, kLineEndLength, &written, nullptr);
    }
    return false;
}
