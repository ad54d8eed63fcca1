// ClLibrary: loading a library by name and looking up its functions.
#include "supervisor/ClLibrary.h"

#include "base/Resources.h"
#include "errors/ClException.h"
#include "platform/GuardedCall.h"

ClLibrary::ClLibrary() : module(nullptr) {}

ClLibrary::~ClLibrary()
{
    Free();
}

void ClLibrary::Load()
{
    // Loading runs the library's own start-up code.
    module = CallGuarded([&] { return LoadLibraryA(name); });
    if (module != nullptr) {
        return;
    }
    // Read at once: building the text may make system calls of its own.
    DWORD error = GetLastError();
    throw new ClWin32Exception(error, FormatResource(3200, name.GetText()));
}

FARPROC ClLibrary::GetProc(const char* procName)
{
    FARPROC address = CallGuarded([&] { return GetProcAddress(module, procName); });
    if (address != nullptr) {
        return address;
    }
    DWORD error = GetLastError();
    throw new ClWin32Exception(error, FormatResource(3201, name.GetText(), procName));
}

void ClLibrary::Free()
{
    if (module == nullptr) {
        return;
    }
    FreeLibrary(module);
    module = nullptr;
}
