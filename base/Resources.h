// Texts of the string table, and printf-style formatting into a ClString.
#pragma once

#include <windows.h>

#include "base/ClString.h"

// A ClString handed to the formatters below would travel as an object, not as
// its text; make that a compile error wherever they are used.
#pragma GCC diagnostic error "-Wconditionally-supported"

// The program's own module; its string table holds every text the user sees.
// Set once at start-up, read everywhere after.
extern HINSTANCE g_hInstance;

// Formats the string-table entry `id` (loaded from g_hInstance) with the
// values that follow. Pass texts as const char* (GetText()), never as ClString
// objects: a class object cannot travel through the variable argument list.
ClString FormatResource(UINT id, ...);
ClString Format(const char* format, ...);
ClString Format(const ClString& format, ...);
