// What the fuzz targets share: the program's output sent nowhere, boxes and beeps answered at once.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Every target links FuzzSupport.cpp, whose LLVMFuzzerInitialize prepares
// the program once before the first input: standard output goes to /dev/null
// (the fuzzer reports on standard error), message boxes answer Ok, beeps are
// silent, and the string table is that of the target's executable.

// Stops the fuzzer with a crash report when a property of the program does
// not hold; the message says which.
void Require(bool holds, const char* property);
