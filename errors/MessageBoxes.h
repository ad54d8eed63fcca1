// Messages shown with message-box semantics on the console, and real message boxes when the console cannot serve.
#pragma once

#include <windows.h>

#include "base/ClString.h"

// Real message boxes in progress, minus one: -1 when none is up. Changed only
// with InterlockedIncrement and InterlockedDecrement.
extern LONG messageBoxDepth;

// A real box to be shown on a worker thread. It lives in the requester's
// frame, which waits until the worker has ended.
struct MessageBoxRequest {
    HWND owner;
    const char* text;
    const char* caption;  // Null for the system's default caption.
    UINT style;
};

// Shows a message through g_consoleApp's ShowMessageBox, or through
// ConsoleMessageBox while there is no g_consoleApp. Returns the button result.
int ShowMessage(const char* text, UINT style, HWND owner, const char* caption);

// Prints the text, plays the style's sound and asks for the style's buttons
// as a one-key prompt; shows a real box only when the console cannot serve.
// Returns the button result (IDOK ... IDNO), or 0 when no box could be shown.
int ConsoleMessageBox(const char* text, UINT style, HWND owner, const char* caption);

// Shows a failure's text in the exclamation style. Never lets an exception
// out: a failure of its own ends in a beep.
void ReportError(const ClString& text);

// Shows the request's box on a worker thread and waits for its answer.
int ThreadedMessageBox(MessageBoxRequest& request);

// The worker's routine: parameter is the MessageBoxRequest's address; the
// exit code is the box's result.
DWORD WINAPI MessageBoxThread(LPVOID parameter);
