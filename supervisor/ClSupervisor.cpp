// ClSupervisor: binding the supervisor library and forwarding to its functions.
#include "supervisor/ClSupervisor.h"

#include "base/Resources.h"
#include "errors/ClException.h"
#include "platform/GuardedCall.h"

#include <string.h>

ClSupervisor::ClSupervisor()
    : enumAccessInfoEntry(nullptr),
      initializeEntry(nullptr),
      deInitializeEntry(nullptr),
      getAccessInfoEntry(nullptr),
      setAccessInfoEntry(nullptr),
      requestEntry(nullptr),
      getCallStartEntry(nullptr),
      describeFailureEntry(nullptr),
      optionalResolved(false)
{
}

void ClSupervisor::Bind()
{
    name = SUPRV_LIBRARY_NAME;
    try {
        Load();
    } catch (ClWin32Exception* failure) {
        try {
            failure->message.Append(ClString(18, g_hInstance));
        } catch (...) {
            delete failure;
            throw;
        }
        throw;
    }
}

template <class Proc>
Proc ClSupervisor::Resolve(Proc& slot, const char* exportName)
{
    if (slot == nullptr) {
        // Through the generic function pointer type, which converts to and
        // from every other without a warning.
        slot = reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(GetProc(exportName)));
    }
    return slot;
}

uint32_t ClSupervisor::Initialize(uint32_t* zero)
{
    SuprvInitializeProc entry = Resolve(initializeEntry, "SuprvInitialize");
    return CallGuarded([&] { return entry(zero); });
}

uint32_t ClSupervisor::DeInitialize()
{
    SuprvDeInitializeProc entry = Resolve(deInitializeEntry, "SuprvDeInitialize");
    return CallGuarded([&] { return entry(); });
}

uint32_t ClSupervisor::EnumAccessInfo(char* buffer, uint32_t* byteCount, uint32_t* nameCount)
{
    SuprvEnumAccessInfoProc entry = Resolve(enumAccessInfoEntry, "SuprvEnumAccessInfo");
    return CallGuarded([&] { return entry(buffer, byteCount, nameCount); });
}

uint32_t ClSupervisor::GetAccessInfo(const char* deviceName, void* record, uint32_t* size)
{
    SuprvGetAccessInfoProc entry = Resolve(getAccessInfoEntry, "SuprvGetAccessInfo");
    return CallGuarded([&] { return entry(deviceName, record, size); });
}

uint32_t ClSupervisor::SetAccessInfo(void* record)
{
    SuprvSetAccessInfoProc entry = Resolve(setAccessInfoEntry, "SuprvSetAccessInfo");
    return CallGuarded([&] { return entry(record); });
}

uint32_t ClSupervisor::Request(uint32_t code, void* request, uint32_t zero)
{
    SuprvRequestProc entry = Resolve(requestEntry, "SuprvRequest");
    return CallGuarded([&] { return entry(code, request, zero); });
}

bool ClSupervisor::GetCallStart(const void* record, uint64_t* start)
{
    ResolveOptional();
    if (getCallStartEntry == nullptr) {
        return false;
    }
    uint64_t value = 0;
    SuprvGetCallStartProc entry = getCallStartEntry;
    if (CallGuarded([&] { return entry(record, &value); }) != 0) {
        return false;
    }
    *start = value;
    return true;
}

bool ClSupervisor::DescribeFailure(ClString& text)
{
    ResolveOptional();
    if (describeFailureEntry == nullptr) {
        return false;
    }
    char described[512] = {};
    SuprvDescribeFailureProc entry = describeFailureEntry;
    if (CallGuarded([&] { return entry(described, sizeof(described)); }) != 0) {
        return false;
    }
    // The library is not trusted to have ended its text inside the buffer.
    text = ClString();
    const void* end = memchr(described, 0, sizeof(described));
    const size_t length = end != nullptr ? static_cast<const char*>(end) - described : sizeof(described);
    text.AppendBytes(described, static_cast<DWORD>(length));
    return true;
}

void ClSupervisor::ResolveOptional()
{
    if (optionalResolved || module == nullptr) {
        return;
    }
    optionalResolved = true;
    getCallStartEntry = reinterpret_cast<SuprvGetCallStartProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "SuprvGetCallStart")));
    describeFailureEntry = reinterpret_cast<SuprvDescribeFailureProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "SuprvDescribeFailure")));
}
