// The exception family's constructors, ThrowLastError and GetModulePath.
#include "errors/ClException.h"

#include "base/Resources.h"

namespace {

// String-table entries of the exception texts.
const UINT kTextError = 3016;
const UINT kTextWinApiError = 3017;
const UINT kTextSystemReports = 3018;
const UINT kTextNotEnoughMemory = 3020;
const UINT kTextUnableAllocate = 3032;

// GetModulePath's first limit, and the largest it tries: no path Windows can
// hand out is longer.
const DWORD kFirstPathLimit = 260;
const DWORD kLastPathLimit = 0x10000;

// Frees a FormatMessageA buffer even when appending its text throws.
struct SystemText {
    LPSTR text = nullptr;
    ~SystemText() { LocalFree(text); }
};

}  // namespace

ClException::ClException(const ClString& text, LONG fromFault) : message(text), fromFault(fromFault) {
    if (message.IsEmpty()) {
        message.LoadFromTable(kTextError, g_hInstance);
    }
}

ClException::~ClException() = default;

LONG ClException::Reserved() {
    return 0;
}

ClWin32Exception::ClWin32Exception(DWORD code, LONG fromFault)
    : ClWin32Exception(code, ClString(kTextWinApiError, g_hInstance), fromFault) {}

ClWin32Exception::ClWin32Exception(DWORD code, const ClString& text, LONG fromFault)
    : ClException(text, fromFault), errorCode(code) {
    JoinSystemText();
}

ClWin32Exception::~ClWin32Exception() = default;

void ClWin32Exception::JoinSystemText() {
    if (errorCode == 0) {
        return;
    }
    message.Append(ClString(kTextSystemReports, g_hInstance));
    // There are no arguments for inserts: a text that holds one, such as that
    // of a damaged library, would make the call fail. It shows as it stands.
    SystemText system;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, errorCode, 0, reinterpret_cast<LPSTR>(&system.text), 0, nullptr);
    message.Append(system.text);
}

ClMemException::ClMemException(DWORD size, const ClString& text)
    : ClException(text.IsEmpty() ? ClString(kTextNotEnoughMemory, g_hInstance) : text, 0) {
    if (size != 0) {
        message.Append(FormatResource(kTextUnableAllocate, size));
    }
}

ClMemException::~ClMemException() = default;

ClStructuredException::ClStructuredException(const ClString& text) : ClException(text, 1) {}

ClStructuredException::~ClStructuredException() = default;

void ThrowLastError() {
    const DWORD code = GetLastError();
    throw new ClWin32Exception(code, 0);
}

void GetModulePath(ClString& out, HMODULE module) {
    ClString path;
    for (DWORD limit = kFirstPathLimit;; limit *= 2) {
        if (limit > kLastPathLimit) {
            throw new ClWin32Exception(ERROR_INSUFFICIENT_BUFFER, 0);
        }
        char* buffer = path.GetBuffer(limit);
        const DWORD length = GetModuleFileNameA(module, buffer, limit);
        if (length == 0) {
            ThrowLastError();
        }
        // A result of limit - 1 or more may have been cut short.
        if (length < limit - 1) {
            path.ReleaseBuffer(length);
            out = path;
            return;
        }
    }
}
