// Helpers shared by the files of the POSIX stand-in; never included by the program.
#pragma once

#include <windows.h>

// Turns an errno value into the nearest Win32 error code, makes it the calling
// thread's last error and returns it. Every failing stand-in function reports
// its failure through this (or through SetLastError with a Win32 code it
// chose itself), so GetLastError is always right after a failure.
DWORD SetLastErrorFromErrno(int error);

// A module handle on POSIX is the address at which the module's ELF header is
// mapped: the load bias plus the lowest virtual address of its loadable
// segments. These helpers map other ways of naming a module onto that handle;
// each returns null when no loaded module matches.
HMODULE ModuleHandleOfAddress(const void* address);
HMODULE ModuleHandleOfDlopen(void* dlopenHandle);
HMODULE MainModuleHandle();

// Makes the console functions ask again whether a standard descriptor is
// open and a console; for whatever closes or replaces one.
void ForgetConsoleAnswers(int fd);
