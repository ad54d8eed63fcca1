// Test seam of the window stand-in: fake windows that tests put into the otherwise empty window list.
#pragma once

#include <windows.h>

// A window as the window functions see it. Tests fill the first part; the
// window functions keep the second part up to date.
struct FakeWindow {
    DWORD threadId = 0;
    DWORD processId = 0;
    LONG style = 0;
    bool iconic = false;
    UINT placementFlags = 0;     // The flags GetWindowPlacement reports.
    DWORD placementError = 0;    // Not 0: GetWindowPlacement fails with it.

    int lastShowCommand = -1;    // The last ShowWindow command, -1 for none.
    bool visible = true;
};

// Appends a window to the end of the list, in enumeration order, and returns
// its handle. Handles are never reused, so a removed window's handle stays
// invalid.
HWND AddFakeWindow(const FakeWindow& window);
// Replaces the window's state, as when the user minimises it; false when it
// is not in the list.
bool UpdateFakeWindow(HWND window, const FakeWindow& state);
void RemoveFakeWindow(HWND window);
void ClearFakeWindows();

// The window's current state; false when it is not in the list.
bool GetFakeWindow(HWND window, FakeWindow* state);

// The window SetForegroundWindow last brought forward, or null.
HWND GetFakeForegroundWindow();
