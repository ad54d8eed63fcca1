// ClLibrary: a library loaded by name at run time, with its functions looked up by name.
#pragma once

#include <windows.h>

#include "base/ClString.h"

// Owns the module handle: destroying the object frees the library.
class ClLibrary {
public:
    ClLibrary();
    ~ClLibrary();

    ClLibrary(const ClLibrary&) = delete;
    ClLibrary& operator=(const ClLibrary&) = delete;

    // Loads the library named by `name`. Throws ClWin32Exception* (string
    // 3200 with the name, then the system's text) and leaves `module` null.
    void Load();
    // The address of the export `procName`; never null. Throws
    // ClWin32Exception* (string 3201 with both names, then the system's text).
    FARPROC GetProc(const char* procName);
    // Frees the library if it is loaded.
    void Free();

    ClString name;
    HMODULE module;
};
