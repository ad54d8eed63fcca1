// Fuzzes the device pass and every command against a supervisor that lies in every answer the fuzzer picks.
//
// The supervisor writes only inside the buffers the program says it has (no
// caller can defend itself against a callee that writes past them), but it
// reports byte counts larger than the buffer, names without terminators,
// name counts out of range, record sizes from 0 to gigabytes, every result
// value, every status code and user fields of any content. The fuzzer's
// supervisor takes no memory from the heap, so a planned allocation failure
// always lands in the program.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <fuzzer/FuzzedDataProvider.h>

#include "app/DevicePass.h"
#include "base/ClArray.h"
#include "base/ClDeviceSelector.h"
#include "errors/ClException.h"
#include "errors/OutOfMemory.h"
#include "supervisor/ClSupervisor.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

// Records up to this size are kept whole to check what comes back, and
// device lists up to this size are walked; a larger size is announced as one
// the heap cannot serve, so the program's allocation fails. (A list of
// megabytes of empty names is walked name by name, which is correct but
// keeps the fuzzer from anything else.)
const uint32_t kLargestHonestRecord = 16384;
const uint32_t kLargestHonestList = 65536;
const uint32_t kBeyondTheHeap = 0x10000000u;

FuzzedDataProvider* g_input = nullptr;
unsigned char g_handedOut[kLargestHonestRecord];
const void* g_record = nullptr;  // The record buffer last filled, or null.
uint32_t g_recordSize = 0;
DeviceCommand g_command = ShowStatus;

// Mostly sizes a heap serves; now and then any 32-bit value.
uint32_t PickSize(uint32_t usual) {
    if (g_input->ConsumeIntegralInRange(0, 9) != 0) {
        return g_input->ConsumeIntegralInRange<uint32_t>(0, usual);
    }
    return g_input->ConsumeIntegral<uint32_t>();
}

uint32_t Servable(uint32_t size, uint32_t largestHonest) {
    return size > largestHonest && size < kBeyondTheHeap ? kBeyondTheHeap : size;
}

uint32_t PickResult() {
    return g_input->ConsumeBool() ? 0 : g_input->ConsumeIntegral<uint32_t>();
}

uint32_t WINAPI LyingEnum(char* buffer, uint32_t* byteCount, uint32_t* nameCount) {
    Require(byteCount != nullptr && nameCount != nullptr, "the enumeration gets both counts");
    if (buffer == nullptr) {
        *byteCount = Servable(PickSize(512), kLargestHonestList);
        *nameCount = PickSize(16);
        return PickResult();
    }
    const uint32_t room = *byteCount;
    const size_t filled = g_input->ConsumeData(buffer, g_input->ConsumeIntegralInRange<uint32_t>(0, room));
    *byteCount = g_input->ConsumeBool() ? static_cast<uint32_t>(filled) : g_input->ConsumeIntegral<uint32_t>();
    *nameCount = PickSize(16);
    return PickResult();
}

uint32_t WINAPI LyingGet(const char* deviceName, void* record, uint32_t* size) {
    Require(strlen(deviceName) < 0x10000000u, "the device name is terminated");
    if (record == nullptr) {
        const uint32_t answer = g_input->ConsumeBool() ? g_input->ConsumeIntegralInRange<uint32_t>(477, 1024)
                                                      : PickSize(kLargestHonestRecord);
        *size = Servable(answer, kLargestHonestRecord);
        return PickResult();
    }
    const uint32_t announced = *size;
    Require(announced <= kLargestHonestRecord, "the record buffer is the size announced");
    unsigned char* bytes = static_cast<unsigned char*>(record);
    const size_t given = g_input->ConsumeData(bytes, announced);
    memset(bytes + given, g_input->ConsumeIntegral<unsigned char>(), announced - given);
    memcpy(g_handedOut, bytes, announced);
    g_record = record;
    g_recordSize = announced;
    if (g_input->ConsumeBool()) {
        *size = g_input->ConsumeIntegral<uint32_t>();
    }
    return g_input->ConsumeIntegralInRange(0, 3) != 0 ? 0 : g_input->ConsumeIntegral<uint32_t>();
}

// Only bit 0 of the flags word may change between the read and the write-back.
uint32_t WINAPI LyingSet(void* record) {
    Require(record == g_record, "the record written back is the one read");
    Require(g_command == StartServer || g_command == StopServer, "only start and stop write a record back");
    const unsigned char* bytes = static_cast<const unsigned char*>(record);
    const unsigned char flagBit = g_command == StartServer ? 1 : 0;
    for (uint32_t i = 0; i < g_recordSize; ++i) {
        const unsigned char expected = i == 148 ? static_cast<unsigned char>((g_handedOut[i] & ~1) | flagBit) : g_handedOut[i];
        Require(bytes[i] == expected, "every byte but the server bit comes back as it was read");
    }
    return PickResult();
}

uint32_t WINAPI LyingRequest(uint32_t code, void* request, uint32_t zero) {
    Require(zero == 0, "the third argument of a request is 0");
    switch (code) {
    case SUPRV_REQUEST_STATUS: {
        auto* status = static_cast<SuprvStatusRequest*>(request);
        Require(status->device == g_record && status->status == -1, "a status request names the record, preset -1");
        if (g_input->ConsumeBool()) {
            status->status = g_input->ConsumeIntegral<int32_t>();
        }
        break;
    }
    case SUPRV_REQUEST_USER: {
        auto* user = static_cast<SuprvUserRequest*>(request);
        Require(user->device == g_record && user->user[0] == 0, "a user request names the record, zero-filled");
        const size_t given = g_input->ConsumeData(user->user, g_input->ConsumeIntegralInRange<size_t>(0, sizeof(user->user)));
        if (g_input->ConsumeBool()) {
            memset(user->user + given, 'u', sizeof(user->user) - given);
        }
        break;
    }
    case SUPRV_REQUEST_DISCONNECT:
        Require(request == g_record && g_command == DisconnectUser, "only disconnect breaks a connection, of the record");
        break;
    default:
        Require(false, "only the three request codes are sent");
    }
    return PickResult();
}

uint32_t WINAPI LyingInitialize(uint32_t*) { return 0; }
uint32_t WINAPI LyingDeInitialize() { return 0; }

class LyingSupervisor : public ClSupervisor {
public:
    LyingSupervisor() {
        enumAccessInfoEntry = &LyingEnum;
        initializeEntry = &LyingInitialize;
        deInitializeEntry = &LyingDeInitialize;
        getAccessInfoEntry = &LyingGet;
        setAccessInfoEntry = &LyingSet;
        requestEntry = &LyingRequest;
    }
};

ClDeviceSelector NameSelector(const char* name) {
    ClDeviceSelector selector;
    selector.name = ClStringRange(ClString(name));
    return selector;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    g_input = &input;
    g_record = nullptr;
    const uint32_t commandCode = input.ConsumeIntegralInRange<uint32_t>(0, 4);
    g_command = commandCode == 4 ? static_cast<DeviceCommand>(input.ConsumeIntegral<uint32_t>())
                                 : static_cast<DeviceCommand>(commandCode);
    char deviceType[32] = {};
    input.ConsumeData(deviceType, input.ConsumeIntegralInRange<size_t>(0, sizeof(deviceType) - 1));
    char names[3][16] = {};
    const int selectorCount = input.ConsumeIntegralInRange(0, 3);
    uint32_t numbers[3] = {};
    for (int i = 0; i < selectorCount; ++i) {
        if (input.ConsumeBool()) {
            input.ConsumeData(names[i], input.ConsumeIntegralInRange<size_t>(0, sizeof(names[i]) - 1));
        } else {
            numbers[i] = input.ConsumeIntegralInRange<uint32_t>(0, 20);
        }
    }
    const DWORD failing = input.ConsumeIntegralInRange(0, 3) == 0 ? input.ConsumeIntegralInRange<DWORD>(1, 64) : 0;
    try {
        LyingSupervisor supervisor;
        ClArray<ClDeviceSelector> selectors;
        for (int i = 0; i < selectorCount; ++i) {
            ClDeviceSelector selector = NameSelector(names[i]);
            selector.number = numbers[i];
            selectors.Append(selector);
        }
        const ClString type(deviceType);
        if (failing != 0) {
            FailAllocationAfter(failing);
        }
        RunDevicePass(supervisor, g_command, selectors, type);
    } catch (ClException* failure) {
        Require(!failure->message.IsEmpty(), "a failure carries a text");
        delete failure;
    }
    CancelAllocationFailure();
    g_input = nullptr;
    return 0;
}
