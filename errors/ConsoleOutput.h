// The one writer of the program's output lines, and the console window that message boxes are shown over.
#pragma once

#include <windows.h>

// One step of a window enumeration looking for the console window; `result`
// is the address of an HWND. A top-level window of the calling thread wins at
// once; otherwise the last top-level window of this process does.
BOOL CALLBACK FindConsoleWindowProc(HWND window, LPARAM result);

// The console window of the process, or null. Cached in g_consoleApp while
// the cached window still exists.
HWND FindConsoleWindow();

// Restores a minimised window (maximised again if it was) and brings it to
// the front. Does nothing for null or a window that is gone. Throws
// ClWin32Exception* when the window's placement cannot be read.
void BringWindowForward(HWND window);

// Writes text (length characters) and CR LF to the console, in the console's
// OEM code page. Returns true only when both reached a real console.
// Otherwise the line goes to redirected standard output as it is, in the ANSI
// code page, or, when that fails too, into a message box; with noBox set
// neither is tried.
bool ConsoleWriteLine(const char* text, DWORD length, bool noBox);
