// An in-process supervisor for the device pass tests: devices and lies chosen by the test, every call recorded.
#include "tests/app/FakeSupervisor.h"

#include <string.h>

FakeSupervisor* FakeSupervisor::current = nullptr;

FakeSupervisor::FakeSupervisor()
{
    current = this;
    enumAccessInfoEntry = &Enum;
    initializeEntry = &Initialize;
    deInitializeEntry = &DeInitialize;
    getAccessInfoEntry = &Get;
    setAccessInfoEntry = &Set;
    requestEntry = &Request;
}

FakeSupervisor::~FakeSupervisor()
{
    current = nullptr;
}

uint32_t WINAPI FakeSupervisor::Initialize(uint32_t*)
{
    current->calls.push_back("initialize");
    return 0;
}

uint32_t WINAPI FakeSupervisor::DeInitialize()
{
    current->calls.push_back("deinitialize");
    return 0;
}

uint32_t WINAPI FakeSupervisor::Enum(char* buffer, uint32_t* byteCount, uint32_t* nameCount)
{
    FakeSupervisor& fake = *current;
    std::string list;
    if (fake.lies.rawListSet) {
        list = fake.lies.rawList;
    } else {
        for (const FakeDevice& device : fake.devices) {
            list += device.name;
            list += '\0';
        }
    }
    if (buffer == nullptr) {
        fake.calls.push_back("enum-size");
        *byteCount = fake.lies.enumSizeSet ? fake.lies.enumSize : static_cast<uint32_t>(list.size());
        return 0;
    }
    fake.calls.push_back("enum-fill");
    // Never beyond the size the program said its buffer has.
    memcpy(buffer, list.data(), list.size() < *byteCount ? list.size() : *byteCount);
    *byteCount = fake.lies.filledSet ? fake.lies.filled : static_cast<uint32_t>(list.size());
    *nameCount = fake.lies.nameCountSet ? fake.lies.nameCount : static_cast<uint32_t>(fake.devices.size());
    return 0;
}

uint32_t WINAPI FakeSupervisor::Get(const char* deviceName, void* record, uint32_t* size)
{
    FakeSupervisor& fake = *current;
    const FakeDevice* device = nullptr;
    for (const FakeDevice& candidate : fake.devices) {
        if (candidate.name == deviceName) {
            device = &candidate;
        }
    }
    if (record == nullptr) {
        fake.calls.push_back(std::string("get-size ") + deviceName);
        *size = fake.lies.recordSize;
        return fake.lies.sizeQueryResult;
    }
    fake.calls.push_back(std::string("get-fill ") + deviceName);
    if (device == nullptr) {
        return 55;
    }
    if (device->fillResult != 0) {
        return device->fillResult;
    }
    size_t length = fake.lies.recordSize;
    unsigned char* bytes = static_cast<unsigned char*>(record);
    for (size_t i = 0; i < length; ++i) {
        bytes[i] = fake.lies.recordWithoutZeros ? 'x' : PatternAt(i);
    }
    if (!fake.lies.recordWithoutZeros) {
        memcpy(bytes + 129, device->type.c_str(), device->type.size() + 1);
        memcpy(bytes + 148, &device->flags, 4);
        memset(bytes + 156, 0, 4);
        memcpy(bytes + 156, device->serverType.data(), device->serverType.size() < 4 ? device->serverType.size() : 4);
        memcpy(bytes + 204, device->comment.c_str(), device->comment.size() + 1);
    }
    fake.records.emplace_back(record, static_cast<size_t>(device - fake.devices.data()));
    fake.handedOut.emplace_back(bytes, bytes + length);
    if (fake.lies.fillReportsSize != 0) {
        *size = fake.lies.fillReportsSize;
    }
    return 0;
}

const FakeDevice* FakeSupervisor::DeviceOf(const void* record, std::string* name) const
{
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
        if (it->first == record) {
            *name = devices[it->second].name;
            return &devices[it->second];
        }
    }
    *name = "?";
    return nullptr;
}

uint32_t WINAPI FakeSupervisor::Set(void* record)
{
    FakeSupervisor& fake = *current;
    std::string name;
    fake.DeviceOf(record, &name);
    fake.calls.push_back("set " + name);
    const unsigned char* bytes = static_cast<const unsigned char*>(record);
    fake.writtenBack.emplace_back(bytes, bytes + fake.lies.recordSize);
    return 0;
}

uint32_t WINAPI FakeSupervisor::Request(uint32_t code, void* request, uint32_t zero)
{
    FakeSupervisor& fake = *current;
    std::string name;
    const FakeDevice* device = nullptr;
    if (code == SUPRV_REQUEST_DISCONNECT) {
        device = fake.DeviceOf(request, &name);
        fake.disconnected.push_back(request);
    } else if (code == SUPRV_REQUEST_STATUS) {
        SuprvStatusRequest* status = static_cast<SuprvStatusRequest*>(request);
        fake.statusRequests.push_back(*status);
        device = fake.DeviceOf(status->device, &name);
        if (device != nullptr && device->answersStatus) {
            status->status = device->status;
        }
    } else if (code == SUPRV_REQUEST_USER) {
        SuprvUserRequest* user = static_cast<SuprvUserRequest*>(request);
        const unsigned char* bytes = static_cast<const unsigned char*>(request);
        fake.userRequests.emplace_back(bytes, bytes + sizeof(SuprvUserRequest));
        device = fake.DeviceOf(user->device, &name);
        if (device != nullptr) {
            size_t length = device->user.size() < sizeof(user->user) ? device->user.size() : sizeof(user->user);
            memcpy(user->user, device->user.data(), length);
        }
    }
    fake.calls.push_back("request " + std::to_string(code) + " " + name + (zero != 0 ? " nonzero" : ""));
    return 0;
}
