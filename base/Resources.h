// Texts of the string table, and printf-style formatting into a ClString.
#pragma once

#include <windows.h>

#include "base/ClString.h"

#include <type_traits>

// A ClString handed to the formatters below would travel as an object, not as
// its text; make that a compile error wherever they are used. (Clang refuses
// such a call on its own.)
#if !defined(__clang__)
#pragma GCC diagnostic error "-Wconditionally-supported"
#endif

// The program's own module; its string table holds every text the user sees.
// Set once at start-up, read everywhere after.
extern HINSTANCE g_hInstance;

// Formats the string-table entry `id` (loaded from g_hInstance) with the
// values that follow. Pass texts as const char* (GetText()), never as ClString
// objects: a class object cannot travel through the variable argument list.
ClString FormatResource(UINT id, ...);
ClString Format(const char* format, ...);

// The same with a ClString holding the format. A template that hands the
// values on, since a variable argument list cannot start after a reference;
// it takes a ClString alone, so a text literal still goes to the one above.
template <class Text, class... Values,
          typename std::enable_if<std::is_same<Text, ClString>::value, int>::type = 0>
ClString Format(const Text& format, Values... values) {
    ClString (*const formatText)(const char*, ...) = &Format;
    return formatText(format.GetText(), values...);
}
