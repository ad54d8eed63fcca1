// ClSupervisor: the dial-up supervisor's six functions, bound lazily from its library.
#pragma once

#include <windows.h>

#include "supervisor/ClLibrary.h"
#include "supervisor/SupervisorApi.h"

// Each function is looked up the first time it is called and kept for the
// rest of the run, so a library lacking one function still serves every
// command that does not need it. The forwarding operations pass their
// arguments and the function's result through unchanged; a function missing
// from the library throws ClWin32Exception* at its first call. Each call runs
// guarded: a processor fault anywhere inside the library is thrown by the
// thread's fault translator from the forwarding operation, as a fault in the
// program's own code would be.
class ClSupervisor : public ClLibrary {
public:
    ClSupervisor();

    // Loads the supervisor library. On failure the exception's text ends
    // with the hint to install dial-up networking (string 18).
    void Bind();

    uint32_t Initialize(uint32_t* zero);
    uint32_t DeInitialize();
    uint32_t EnumAccessInfo(char* buffer, uint32_t* byteCount, uint32_t* nameCount);
    uint32_t GetAccessInfo(const char* deviceName, void* record, uint32_t* size);
    uint32_t SetAccessInfo(void* record);
    uint32_t Request(uint32_t code, void* request, uint32_t zero);

    // The optional exports. Each returns false, leaving its output as it
    // was, when the library lacks the export or the call fails.
    bool GetCallStart(const void* record, uint64_t* start);
    bool DescribeFailure(ClString& text);

protected:
    // Null until first used; never cleared.
    SuprvEnumAccessInfoProc enumAccessInfoEntry;
    SuprvInitializeProc initializeEntry;
    SuprvDeInitializeProc deInitializeEntry;
    SuprvGetAccessInfoProc getAccessInfoEntry;
    SuprvSetAccessInfoProc setAccessInfoEntry;
    SuprvRequestProc requestEntry;
    // Looked up once, at the first use of either; null when missing.
    SuprvGetCallStartProc getCallStartEntry;
    SuprvDescribeFailureProc describeFailureEntry;
    bool optionalResolved;

private:
    template <class Proc>
    Proc Resolve(Proc& slot, const char* exportName);
    void ResolveOptional();
};
