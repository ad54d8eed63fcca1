// The window functions of Win32 over the stand-in's list of windows.
//
// POSIX has no window system, so the list is empty and a program finds no
// window; tests put fake windows into it through WindowListSeam.h. Top-level
// and child windows are not told apart: the list holds what a test put there.
#include <windows.h>

#include "platform/posix/WindowListSeam.h"

#include <mutex>
#include <utility>
#include <vector>

namespace {

std::mutex g_windowLock;
std::vector<std::pair<HWND, FakeWindow>> g_windows;
uintptr_t g_nextWindow = 0x10000;
HWND g_foreground = nullptr;

// The window's record, or null with ERROR_INVALID_WINDOW_HANDLE. The caller
// holds g_windowLock.
FakeWindow* Find(HWND window)
{
    for (auto& entry : g_windows) {
        if (entry.first == window) {
            return &entry.second;
        }
    }
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
}

}  // namespace

HWND AddFakeWindow(const FakeWindow& window)
{
    std::lock_guard<std::mutex> guard(g_windowLock);
    HWND handle = reinterpret_cast<HWND>(g_nextWindow);
    g_nextWindow += 0x10;
    g_windows.emplace_back(handle, window);
    return handle;
}

bool UpdateFakeWindow(HWND window, const FakeWindow& state)
{
    std::lock_guard<std::mutex> guard(g_windowLock);
    FakeWindow* found = Find(window);
    if (found == nullptr) {
        return false;
    }
    *found = state;
    return true;
}

void RemoveFakeWindow(HWND window)
{
    std::lock_guard<std::mutex> guard(g_windowLock);
    for (auto entry = g_windows.begin(); entry != g_windows.end(); ++entry) {
        if (entry->first == window) {
            g_windows.erase(entry);
            break;
        }
    }
    if (g_foreground == window) {
        g_foreground = nullptr;
    }
}

void ClearFakeWindows()
{
    std::lock_guard<std::mutex> guard(g_windowLock);
    g_windows.clear();
    g_foreground = nullptr;
}

bool GetFakeWindow(HWND window, FakeWindow* state)
{
    std::lock_guard<std::mutex> guard(g_windowLock);
    FakeWindow* found = Find(window);
    if (found == nullptr) {
        return false;
    }
    *state = *found;
    return true;
}

HWND GetFakeForegroundWindow()
{
    std::lock_guard<std::mutex> guard(g_windowLock);
    return g_foreground;
}

// The callback runs without the lock held, over the windows there were when
// the enumeration began, so it may call the other window functions.
BOOL WINAPI EnumWindows(WNDENUMPROC callback, LPARAM parameter)
{
    if (callback == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<HWND> windows;
    {
        std::lock_guard<std::mutex> guard(g_windowLock);
        for (const auto& entry : g_windows) {
            windows.push_back(entry.first);
        }
    }
    for (HWND window : windows) {
        if (!callback(window, parameter)) {
            return FALSE;
        }
    }
    return TRUE;
}

DWORD WINAPI GetWindowThreadProcessId(HWND window, LPDWORD processId)
{
    std::lock_guard<std::mutex> guard(g_windowLock);
    FakeWindow* found = Find(window);
    if (found == nullptr) {
        return 0;
    }
    if (processId != nullptr) {
        *processId = found->processId;
    }
    return found->threadId;
}

// Only GWL_STYLE is kept; any other index fails with ERROR_INVALID_PARAMETER.
LONG WINAPI GetWindowLongA(HWND window, int index)
{
    std::lock_guard<std::mutex> guard(g_windowLock);
    FakeWindow* found = Find(window);
    if (found == nullptr) {
        return 0;
    }
    if (index != GWL_STYLE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return found->style;
}

BOOL WINAPI IsWindow(HWND window)
{
    std::lock_guard<std::mutex> guard(g_windowLock);
    return Find(window) != nullptr;
}

BOOL WINAPI IsIconic(HWND window)
{
    std::lock_guard<std::mutex> guard(g_windowLock);
    FakeWindow* found = Find(window);
    return found != nullptr && found->iconic;
}

BOOL WINAPI GetWindowPlacement(HWND window, WINDOWPLACEMENT* placement)
{
    std::lock_guard<std::mutex> guard(g_windowLock);
    FakeWindow* found = Find(window);
    if (found == nullptr) {
        return FALSE;
    }
    if (placement == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (found->placementError != 0) {
        SetLastError(found->placementError);
        return FALSE;
    }
    placement->flags = found->placementFlags;
    placement->showCmd = found->iconic ? SW_SHOWMINIMIZED : SW_SHOWNORMAL;
    placement->ptMinPosition = POINT{0, 0};
    placement->ptMaxPosition = POINT{0, 0};
    placement->rcNormalPosition = RECT{0, 0, 640, 480};
    return TRUE;
}

// Returns whether the window was visible before, as Windows does.
BOOL WINAPI ShowWindow(HWND window, int command)
{
    std::lock_guard<std::mutex> guard(g_windowLock);
    FakeWindow* found = Find(window);
    if (found == nullptr) {
        return FALSE;
    }
    BOOL wasVisible = found->visible;
    found->lastShowCommand = command;
    found->visible = command != SW_HIDE;
    if (command == SW_MINIMIZE || command == SW_SHOWMINIMIZED) {
        found->iconic = true;
    } else if (command != SW_HIDE && command != SW_SHOW) {
        found->iconic = false;
    }
    return wasVisible;
}

BOOL WINAPI SetForegroundWindow(HWND window)
{
    std::lock_guard<std::mutex> guard(g_windowLock);
    if (Find(window) == nullptr) {
        return FALSE;
    }
    g_foreground = window;
    return TRUE;
}
