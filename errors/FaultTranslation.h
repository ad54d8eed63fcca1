// The translation of processor faults into crash reports thrown as ClStructuredException.
#pragma once

#include <windows.h>

#include "base/ClString.h"
#include "platform/FaultChain.h"

// The program's fault translator: builds the crash report (headline, the kind
// of fault, the faulting address and a dump of the frame chain) and throws it
// as a new ClStructuredException. Never returns.
[[noreturn]] void TranslateFault(unsigned int code, EXCEPTION_POINTERS* pointers);

// Appends the line of the faulting instruction and up to 64 frames of the
// chain that starts at frame pointer `ebp`. Words of the stack are read so
// that an unreadable one only ends the dump, never faults.
void AppendStackDump(ClString& report, DWORD_PTR eip, DWORD_PTR ebp);
// The same dump of a chain that was read earlier, while the faulting frames
// were still on the stack.
void AppendStackDump(ClString& report, DWORD_PTR eip, const FaultChain& chain);

// Writes the file name of the module that holds `address` into destination
// (size bytes, terminator included), or "<unknown>" cut to fit when no module
// holds it. Returns the characters written, the terminator not counted.
DWORD GetModuleNameOf(DWORD_PTR address, char* destination, DWORD size);
