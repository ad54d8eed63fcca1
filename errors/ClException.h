// The exception family: every failure travels as a pointer to one of these.
#pragma once

#include <windows.h>

#include "base/ClString.h"

// A failure with its finished report text. Thrown by pointer
// (throw new ClException(...)), caught as ClException*, and deleted by the
// catcher through the virtual destructor; a catcher that passes it on may
// append to `message` and rethrows the same pointer.
class ClException {
public:
    // An empty text becomes "ERROR".
    explicit ClException(const ClString& text, LONG fromFault = 0);
    virtual ~ClException();
    // Occupies the second slot of the virtual table; nothing calls it.
    virtual LONG Reserved();

    ClString message;
    // 1 only for a processor fault translated into a ClStructuredException.
    LONG fromFault;

    ClException(const ClException&) = delete;
    ClException& operator=(const ClException&) = delete;
};

// A failed system call: the text, then the system's description of the code.
class ClWin32Exception : public ClException {
public:
    // The text is "WinAPI Error".
    explicit ClWin32Exception(DWORD code, LONG fromFault = 0);
    ClWin32Exception(DWORD code, const ClString& text, LONG fromFault = 0);
    ~ClWin32Exception() override;

    // 0 means no code, and then no system text is joined on.
    DWORD errorCode;

private:
    void JoinSystemText();
};

// A failed allocation of `size` bytes; size 0 leaves the size line out.
class ClMemException : public ClException {
public:
    ClMemException(DWORD size, const ClString& text);
    ~ClMemException() override;

    // The few objects made in advance for when memory is gone are handed out
    // and taken back here rather than freed; all others come from the heap.
    static void* operator new(size_t size);
    static void operator delete(void* memory) noexcept;
    static void operator delete(void* memory, size_t size) noexcept;
};

// A processor fault turned into a failure; only the fault translator builds one.
class ClStructuredException : public ClException {
public:
    explicit ClStructuredException(const ClString& text);
    ~ClStructuredException() override;
};

// Throws a ClWin32Exception* from the calling thread's last error code.
[[noreturn]] void ThrowLastError();

// Stores the full path of the module's file in out; throws on failure, and
// then out is unchanged.
void GetModulePath(ClString& out, HMODULE module);
