// ClConsoleApp: the console application object, which caches the console window and the caption.
#pragma once

#include <windows.h>

#include "base/ClString.h"

// Exactly one exists while the program runs: start-up builds it first and
// destroys it last. Building it points g_consoleApp at it, destroying it
// makes g_consoleApp null again. There is no virtual destructor: the object
// lives in start-up's frame and is never deleted through a base pointer.
class ClConsoleApp {
public:
    explicit ClConsoleApp(int showCommand = SW_SHOWDEFAULT);
    ~ClConsoleApp();

    // The program's way of showing a message; the console prompts of
    // ConsoleMessageBox (errors/MessageBoxes.cpp).
    virtual int ShowMessageBox(const char* text, UINT style, HWND owner, const char* caption);

    // The caption text, loaded from `captionId` on first use and then kept
    // (base/ConsoleInput.cpp).
    const char* GetCaption();
    // Sets the console window's title to the caption entry, loaded anew.
    void SetConsoleCaption();

    int showCommand;     // As handed to start-up; nothing reads it.
    HWND consoleWindow;  // Null until FindConsoleWindow finds it.
    ClString caption;    // Empty until GetCaption loads it.
    WORD captionId;      // The string-table entry of the caption.

    ClConsoleApp(const ClConsoleApp&) = delete;
    ClConsoleApp& operator=(const ClConsoleApp&) = delete;
};

// The one ClConsoleApp, or null before start-up builds it and after it is
// gone. Every user accepts null.
extern ClConsoleApp* g_consoleApp;
