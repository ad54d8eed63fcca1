// The process stand-in's hooks: the arguments behind GetCommandLineA, and the platform GetVersionExA reports.
#pragma once

#include <windows.h>

// Keeps the process's arguments for GetCommandLineA, which rebuilds the
// command line from them. The entry point hands over main's arguments; a test
// may hand over its own. The strings are copied. Until this is called,
// GetCommandLineA reads the process's arguments from /proc/self/cmdline.
void SetProcessArguments(int argc, char** argv);

// Makes GetCommandLineA return exactly `text`, as a Windows process started
// with that command line would see it, until SetProcessArguments is called.
void SetCommandLineForTesting(const char* text);

// Makes GetVersionExA report the given platform identifier, as a system of
// another family would; VER_PLATFORM_WIN32_WINDOWS is the default.
void SetReportedPlatformForTesting(DWORD platformId);

// Not 0: GetVersionExA fails with this error code. 0 lets it succeed again.
void FailVersionQueryForTesting(DWORD errorCode);
