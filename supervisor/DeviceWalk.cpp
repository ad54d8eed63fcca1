// WalkDevices: the walk over the supervisor's devices with selection and type filter.
#include "supervisor/DeviceWalk.h"

#include "base/ClStringRange.h"
#include "base/Resources.h"
#include "errors/ClException.h"

// Tests every selector against the device and marks each one that matches.
// A selector with an empty name selects by number alone.
static bool SelectDevice(ClArray<ClDeviceSelector>& selectors, const ClStringRange& name, DWORD position)
{
    DWORD count = selectors.GetCount();
    if (count == 0) {
        return true;
    }
    bool selected = false;
    for (DWORD i = 0; i < count; ++i) {
        ClDeviceSelector& selector = selectors[i];
        bool byName = !selector.name.IsEmpty() && selector.name.EqualsNoCase(name);
        if (byName || selector.number == position) {
            selector.found = 1;
            selected = true;
        }
    }
    return selected;
}

// The supervisor's size rounded up to whole 32-bit words. A size too large to
// round asks for more than any heap holds, and the allocation says so.
static DWORD RecordBufferSize(uint32_t size)
{
    return size > 0xFFFFFFFCu ? 0xFFFFFFFFu : (size + 3) & ~3u;
}

static void VisitIfOfType(ClSupervisor& supervisor, ClDeviceVisitor& visitor, ClStringRange& name, DWORD position,
                          const ClString& deviceType)
{
    const char* deviceName = name.GetTerminated();
    uint32_t size = 0;
    uint32_t result = supervisor.GetAccessInfo(deviceName, nullptr, &size);
    if (size <= SUPRV_MINIMUM_RECORD_SIZE) {
        throw new ClException(FormatResource(5, static_cast<int>(result)));
    }
    // GetBuffer keeps one zero byte after the rounded size, so every text of
    // the record ends inside the buffer whatever the supervisor put there.
    // The size the fill call hands back is not used: the supervisor is not
    // trusted to stay within the buffer it was given.
    ClString record;
    char* buffer = record.GetBuffer(RecordBufferSize(size));
    result = supervisor.GetAccessInfo(deviceName, buffer, &size);
    if (result != 0) {
        throw new ClException(FormatResource(5, static_cast<int>(result)));
    }
    SuprvAccessInfo& info = *reinterpret_cast<SuprvAccessInfo*>(buffer);
    if (!deviceType.IsEmpty() &&
        ClString::CompareText(deviceType, info.deviceType, static_cast<int>(deviceType.GetLength()), -1,
                              NORM_IGNORECASE) != 0) {
        return;
    }
    visitor.VisitDevice(position, deviceName, info);
}

void WalkDevices(ClSupervisor& supervisor, ClDeviceVisitor& visitor, ClArray<ClDeviceSelector>& selectors,
                 const ClString& deviceType)
{
    uint32_t byteCount = 0;
    uint32_t nameCount = 0;
    supervisor.EnumAccessInfo(nullptr, &byteCount, &nameCount);
    if (static_cast<int32_t>(byteCount) <= 1) {
        throw new ClException(ClString(3, g_hInstance));
    }
    // One byte more than asked for, kept zero, ends the last name.
    ClStringRange list;
    const DWORD size = byteCount;
    char* buffer = list.GetBuffer(size);
    supervisor.EnumAccessInfo(buffer, &byteCount, &nameCount);
    // Only the bytes reported filled count, and never more than the buffer holds.
    list.end = list.begin + (byteCount < size ? byteCount : size);

    visitor.BeginList(nameCount);

    ClStringRange rest = list;
    ClStringRange name;
    DWORD position = 0;
    for (uint32_t taken = 0; taken < nameCount && !rest.IsEmpty(); ++taken) {
        rest.Split(&name, &rest, rest.Find('\0'));
        ++position;
        if (SelectDevice(selectors, name, position)) {
            VisitIfOfType(supervisor, visitor, name, position, deviceType);
        }
    }
}
