// The simulated dial-up supervisor: the six functions of the supervisor library over the state file.
//
// Built as librasapi32.so beside the program, and in variants that lack
// SuprvRequest (SIM_WITHOUT_REQUEST) or SuprvDeInitialize
// (SIM_WITHOUT_DEINITIALIZE) or that fault with ebp holding no frame pointer
// (SIM_EBP_AS_DATA) for the program's tests.
#include "simulator/SimState.h"
#include "simulator/SimFile.h"
#include "simulator/SimStore.h"
#include "supervisor/SupervisorApi.h"

#include <stdlib.h>
#include <string.h>

#if defined(_WIN32)
#define SIM_EXPORT extern "C" __declspec(dllexport)
#else
#define SIM_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// The injected crashes must be real processor faults, so neither the
// compiler nor a sanitizer may step in front of them.
#if defined(__GNUC__)
#define SIM_RAW_FAULT __attribute__((noinline, no_sanitize("address", "undefined")))
#else
#define SIM_RAW_FAULT
#endif

static SimState g_state;
static bool g_ready;
// What the last failed initialisation failed on, for SuprvDescribeFailure.
static char g_failure[512];
// Lies in the library's read-only data; the readonly crash writes to it.
static const char g_readOnly[] = "read-only";

static SIM_RAW_FAULT int Recurse(volatile char* previous)
{
    volatile char frame[512];
    frame[0] = previous != nullptr ? previous[0] : 1;
    if (frame[0] == 0x7F) {
        return 0;  // Never: frame[0] is always 1. It keeps the recursion visibly finite to the compiler.
    }
    return Recurse(frame) + frame[511];
}

static SIM_RAW_FAULT void Crash(SimCrashKind kind)
{
    switch (kind) {
    case SIM_CRASH_NULL: {
        // Both the pointer and the store are volatile: with a plain store
        // the compiler drops the write as one nobody reads.
        volatile int* volatile target = nullptr;
        *target = 0x5A;
        break;
    }
    case SIM_CRASH_DIVIDE: {
        volatile int divisor = 0;
        volatile int quotient = 100 / divisor;
        (void)quotient;
        break;
    }
    case SIM_CRASH_RECURSION:
        Recurse(nullptr);
        break;
    case SIM_CRASH_NULL_READ: {
        volatile int* volatile source = nullptr;
        volatile int value = *source;
        (void)value;
        break;
    }
    case SIM_CRASH_READ_ONLY: {
        volatile char* volatile target = const_cast<char*>(g_readOnly);
        *target = 'R';
        break;
    }
    case SIM_CRASH_INVALID:
        __builtin_trap();
    case SIM_CRASH_KINDS:
        break;
    }
}

#if defined(SIM_EBP_AS_DATA) && defined(__i386__)
// Optimised system code uses ebp as one more general register, so a fault
// inside it finds no frame pointer there: the crash runs with ebp cleared.
static SIM_RAW_FAULT void CrashWithoutFramePointer(SimCrashKind kind)
{
    asm volatile("pushl %%ebp\n\t"
                 "xorl %%ebp, %%ebp\n\t"
                 "pushl %0\n\t"
                 "call %P1\n\t"
                 "addl $4, %%esp\n\t"
                 "popl %%ebp"
                 :
                 : "r"(kind), "i"(Crash)
                 : "memory", "eax", "ecx", "edx");
}
#define SIM_CRASH CrashWithoutFramePointer
#else
#define SIM_CRASH Crash
#endif

static void CrashIfAsked(SimFunction function)
{
    if (g_state.faults.crashFunction == function) {
        SIM_CRASH(g_state.faults.crashKind);
    }
}

// Appends `text` to the failure's description, as much as fits.
static void Describe(const char* text)
{
    size_t length = strlen(g_failure);
    size_t room = sizeof(g_failure) - 1 - length;
    size_t count = strlen(text) < room ? strlen(text) : room;
    memcpy(g_failure + length, text, count);
    g_failure[length + count] = 0;
}

// Why the state file could not be loaded, in the words of whoever looks after it.
static void DescribeLoadFailure(uint32_t result)
{
    SimBuffer path = {};
    bool named = SimStatePath(&path) == SUPRV_OK;
    Describe("State file ");
    Describe(named ? path.data : "(no path)");
    SimBufferFree(&path);
    switch (result) {
    case SUPRV_ERROR_INVALID_DATA:
        Describe(": corrupt, it does not read as a state file (repair it, or suprvctl init to start anew)");
        break;
    case SUPRV_ERROR_ACCESS_DENIED:
        Describe(": this user may not read it");
        break;
    case SUPRV_ERROR_NOT_ENOUGH_MEMORY:
        Describe(": too large for the memory there is");
        break;
    default:
        Describe(": cannot be read");
        break;
    }
}

SIM_EXPORT uint32_t WINAPI SuprvInitialize(uint32_t* zero)
{
    (void)zero;
    SimStateFree(&g_state);
    g_ready = false;
    g_failure[0] = 0;
    uint32_t result = SimLoad(&g_state);
    if (result != SUPRV_OK) {
        SimStateFree(&g_state);
        DescribeLoadFailure(result);
        return result;
    }
    CrashIfAsked(SIM_FN_INITIALIZE);
    if (g_state.faults.initializeResult != 0) {
        result = g_state.faults.initializeResult;
        SimStateFree(&g_state);
        Describe("The state file's fault knob makes initialisation fail (suprvctl fault clear removes it)");
        return result;
    }
    g_ready = true;
    return SUPRV_OK;
}

#if !defined(SIM_WITHOUT_DEINITIALIZE)
SIM_EXPORT uint32_t WINAPI SuprvDeInitialize(void)
{
    if (!g_ready) {
        return SUPRV_ERROR_NOT_READY;
    }
    CrashIfAsked(SIM_FN_DEINITIALIZE);
    SimStateFree(&g_state);
    g_ready = false;
    return SUPRV_OK;
}
#endif

SIM_EXPORT uint32_t WINAPI SuprvEnumAccessInfo(char* buffer, uint32_t* byteCount, uint32_t* nameCount)
{
    if (byteCount == nullptr || nameCount == nullptr) {
        return SUPRV_ERROR_INVALID_PARAMETER;
    }
    if (!g_ready) {
        *byteCount = 0;
        *nameCount = 0;
        return SUPRV_ERROR_NOT_READY;
    }
    CrashIfAsked(SIM_FN_ENUM);
    if (g_state.faults.enumerationFails) {
        *byteCount = 0;
        *nameCount = 0;
        return SUPRV_ERROR_GEN_FAILURE;
    }
    // The names one after another, each ended by a zero byte. An empty list
    // is reported as two zero bytes, the mark of a list with nothing in it,
    // so that no devices is not mistaken for a failed enumeration.
    uint64_t needed = 0;
    for (uint32_t i = 0; i < g_state.count; ++i) {
        needed += strlen(SimDeviceName(&g_state, i)) + 1;
    }
    if (needed == 0) {
        needed = 2;
    }
    if (needed > 0xFFFFFFFFu) {
        return SUPRV_ERROR_NOT_ENOUGH_MEMORY;
    }
    uint32_t names = g_state.count + g_state.faults.extraNames;
    if (buffer == nullptr || *byteCount < needed) {
        *byteCount = static_cast<uint32_t>(needed);
        *nameCount = names;
        return SUPRV_ERROR_INSUFFICIENT_BUFFER;
    }
    char* out = buffer;
    for (uint32_t i = 0; i < g_state.count; ++i) {
        const char* name = SimDeviceName(&g_state, i);
        size_t length = strlen(name) + 1;
        memcpy(out, name, length);
        out += length;
    }
    memset(out, 0, static_cast<size_t>(buffer + needed - out));
    *byteCount = static_cast<uint32_t>(needed);
    *nameCount = names;
    return SUPRV_OK;
}

SIM_EXPORT uint32_t WINAPI SuprvGetAccessInfo(const char* deviceName, void* record, uint32_t* size)
{
    if (deviceName == nullptr || size == nullptr) {
        return SUPRV_ERROR_INVALID_PARAMETER;
    }
    if (!g_ready) {
        return SUPRV_ERROR_NOT_READY;
    }
    CrashIfAsked(SIM_FN_GET);
    uint32_t position = SimFindDevice(&g_state, deviceName);
    if (position == SIM_NO_DEVICE) {
        *size = 0;
        return SUPRV_ERROR_DEVICE_NOT_EXIST;
    }
    uint32_t recordSize = SimRecordSize(&g_state);
    const SimFaults& faults = g_state.faults;
    if (record == nullptr || *size < recordSize) {
        *size = recordSize;
        return faults.recordSizeSet ? faults.recordSizeResult : SUPRV_ERROR_INSUFFICIENT_BUFFER;
    }
    uint32_t refused = SimRefusalResult(&faults, SIM_REFUSE_GET, deviceName);
    if (refused != SUPRV_OK) {
        return refused;
    }
    SimDevice device;
    SimGetDevice(&g_state, position, &device);
    SimFillRecord(&device, static_cast<unsigned char*>(record), recordSize);
    *size = recordSize;
    return SUPRV_OK;
}

// Applies a record handed back to SuprvSetAccessInfo. Only the flags word
// may differ from what SuprvGetAccessInfo gave out; a record with any other
// byte changed is refused whole.
static uint32_t ApplyRecord(SimState* state, SimDevice* device, void* context)
{
    const unsigned char* record = static_cast<const unsigned char*>(context);
    uint32_t size = SimRecordSize(state);
    unsigned char local[SIM_RECORD_SIZE];
    unsigned char* expected = size <= sizeof(local) ? local : static_cast<unsigned char*>(malloc(size));
    if (expected == nullptr) {
        return SUPRV_ERROR_NOT_ENOUGH_MEMORY;
    }
    SimFillRecord(device, expected, size);
    bool carried = true;
    for (uint32_t i = 0; i < size && carried; ++i) {
        carried = (i >= 148 && i < 152) || record[i] == expected[i];
    }
    if (expected != local) {
        free(expected);
    }
    if (!carried) {
        return SUPRV_ERROR_INVALID_DATA;
    }
    if (size < 152) {
        return SUPRV_ERROR_INVALID_DATA;
    }
    uint32_t flags = static_cast<uint32_t>(record[148]) | static_cast<uint32_t>(record[149]) << 8 |
                     static_cast<uint32_t>(record[150]) << 16 | static_cast<uint32_t>(record[151]) << 24;
    SimApplyFlags(device, flags);
    return SUPRV_OK;
}

SIM_EXPORT uint32_t WINAPI SuprvSetAccessInfo(void* record)
{
    if (record == nullptr) {
        return SUPRV_ERROR_INVALID_PARAMETER;
    }
    if (!g_ready) {
        return SUPRV_ERROR_NOT_READY;
    }
    CrashIfAsked(SIM_FN_SET);
    const char* name = static_cast<const char*>(record);
    if (memchr(name, 0, SIM_NAME_SIZE) == nullptr) {
        return SUPRV_ERROR_INVALID_PARAMETER;
    }
    uint32_t refused = SimRefusalResult(&g_state.faults, SIM_REFUSE_SET, name);
    if (refused != SUPRV_OK) {
        return refused;
    }
    return SimCommitDevice(&g_state, name, ApplyRecord, record);
}

#if !defined(SIM_WITHOUT_REQUEST)
// The position of the device a record handed back by the caller belongs
// to: the name at its start.
static uint32_t DeviceOfRecord(const void* record)
{
    if (record == nullptr) {
        return SIM_NO_DEVICE;
    }
    const char* name = static_cast<const char*>(record);
    if (memchr(name, 0, SIM_NAME_SIZE) == nullptr) {
        return SIM_NO_DEVICE;
    }
    return SimFindDevice(&g_state, name);
}

static uint32_t DropCall(SimState* state, SimDevice* device, void* context)
{
    (void)state;
    (void)context;
    int32_t status = device->status;
    bool inCall = status == SUPRV_STATUS_CONNECTED || status == SUPRV_STATUS_CALLING_BACK ||
                  status == SUPRV_STATUS_ANSWERING || status == SUPRV_STATUS_HANGING_UP;
    if (inCall || device->user[0] != 0) {
        SimDropCall(device);
    }
    return SUPRV_OK;
}

SIM_EXPORT uint32_t WINAPI SuprvGetCallStart(const void* record, uint64_t* start)
{
    if (start == nullptr) {
        return SUPRV_ERROR_INVALID_PARAMETER;
    }
    if (!g_ready) {
        return SUPRV_ERROR_NOT_READY;
    }
    uint32_t position = DeviceOfRecord(record);
    if (position == SIM_NO_DEVICE) {
        return SUPRV_ERROR_DEVICE_NOT_EXIST;
    }
    const SimEntry& entry = g_state.devices[position];
    *start = entry.status == SUPRV_STATUS_CONNECTED ? entry.callStart : 0;
    return SUPRV_OK;
}

SIM_EXPORT uint32_t WINAPI SuprvRequest(uint32_t code, void* request, uint32_t zero)
{
    (void)zero;
    if (!g_ready) {
        return SUPRV_ERROR_NOT_READY;
    }
    CrashIfAsked(SIM_FN_REQUEST);
    if (request == nullptr) {
        return SUPRV_ERROR_INVALID_PARAMETER;
    }
    if (code == SUPRV_REQUEST_STATUS) {
        SuprvStatusRequest* status = static_cast<SuprvStatusRequest*>(request);
        uint32_t position = DeviceOfRecord(status->device);
        if (position == SIM_NO_DEVICE) {
            return SUPRV_ERROR_DEVICE_NOT_EXIST;
        }
        status->status = g_state.devices[position].status;
        return SUPRV_OK;
    }
    if (code == SUPRV_REQUEST_USER) {
        SuprvUserRequest* user = static_cast<SuprvUserRequest*>(request);
        uint32_t position = DeviceOfRecord(user->device);
        if (position == SIM_NO_DEVICE) {
            return SUPRV_ERROR_DEVICE_NOT_EXIST;
        }
        SimDevice device;
        SimGetDevice(&g_state, position, &device);
        memcpy(user->user, device.user, sizeof(user->user));
        return SUPRV_OK;
    }
    if (code == SUPRV_REQUEST_DISCONNECT) {
        if (DeviceOfRecord(request) == SIM_NO_DEVICE) {
            return SUPRV_ERROR_DEVICE_NOT_EXIST;
        }
        uint32_t refused = SimRefusalResult(&g_state.faults, SIM_REFUSE_DISCONNECT, static_cast<const char*>(request));
        if (refused != SUPRV_OK) {
            return refused;
        }
        // The record's own name: catching up with the file may move the devices.
        return SimCommitDevice(&g_state, static_cast<const char*>(request), DropCall, nullptr);
    }
    return SUPRV_ERROR_NOT_SUPPORTED;
}
#endif

SIM_EXPORT uint32_t WINAPI SuprvDescribeFailure(char* text, uint32_t size)
{
    if (text == nullptr || size == 0) {
        return SUPRV_ERROR_INVALID_PARAMETER;
    }
    size_t length = strlen(g_failure);
    size_t count = length < size ? length : size - 1;
    memcpy(text, g_failure, count);
    text[count] = 0;
    return SUPRV_OK;
}
