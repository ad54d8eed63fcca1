// The per-thread translator that turns a processor fault into a C++ exception.
#pragma once

#include <windows.h>

// Called on the faulting thread with the fault's code and its exception
// pointers record. A translator is expected to throw; if it returns, the
// fault ends the process as it would have without a translator.
typedef void (*FaultTranslator)(unsigned int code, EXCEPTION_POINTERS* pointers);

// Installs the calling thread's translator and returns the one installed
// before. A null translator uninstalls it: faults then end the process.
FaultTranslator SetFaultTranslator(FaultTranslator translator);
