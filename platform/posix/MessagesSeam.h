// Test seam of the message stand-in: message boxes and beeps answered or recorded by a test instead of the terminal.
#pragma once

#include <windows.h>

#include <functional>

// While a hook is set, MessageBoxA calls it with its own arguments and
// returns its result instead of drawing the dialog on the terminal; the hook
// may set the last error. An empty hook brings the dialog back.
using MessageBoxHook = std::function<int(HWND owner, const char* text, const char* caption, UINT style)>;
void SetMessageBoxHook(MessageBoxHook hook);

// While a hook is set, MessageBeep calls it instead of ringing the bell.
using MessageBeepHook = std::function<void(UINT type)>;
void SetMessageBeepHook(MessageBeepHook hook);
