// An in-process supervisor for the device pass tests: devices and lies chosen by the test, every call recorded.
#pragma once

#include "supervisor/ClSupervisor.h"

#include <stdint.h>
#include <string>
#include <vector>

struct FakeDevice {
    std::string name;
    std::string type;
    uint32_t flags = 0;
    std::string serverType;  // Its first four bytes go into the record as they are.
    std::string comment;
    int32_t status = 0;
    bool answersStatus = true;  // False: the status request leaves the preset alone.
    std::string user;           // Up to 276 bytes, written without a terminator when that long.
    uint32_t fillResult = 0;
};

// What the fake reports instead of the truth, to show the program copes.
struct FakeLies {
    bool enumSizeSet = false;
    uint32_t enumSize = 0;        // The enumeration size query's answer.
    bool filledSet = false;
    uint32_t filled = 0;          // The fill call's byte count.
    bool nameCountSet = false;
    uint32_t nameCount = 0;       // The fill call's name count.
    bool rawListSet = false;
    std::string rawList;          // Written into the buffer instead of the names.
    uint32_t recordSize = 512;    // Announced by the record size query.
    uint32_t sizeQueryResult = 0;
    uint32_t fillReportsSize = 0;  // Non-zero: the fill call claims this size.
    bool recordWithoutZeros = false;  // The record is filled with 'x' from end to end.
};

class FakeSupervisor : public ClSupervisor {
public:
    FakeSupervisor();
    ~FakeSupervisor();

    std::vector<FakeDevice> devices;
    FakeLies lies;
    // "enum-size", "enum-fill", "get-size NAME", "get-fill NAME", "set NAME",
    // "request CODE NAME", in the order they came.
    std::vector<std::string> calls;
    // The record as handed out by each fill call, and as each set call received it.
    std::vector<std::vector<unsigned char>> handedOut;
    std::vector<std::vector<unsigned char>> writtenBack;
    // The request records as they arrived, before the fake answered.
    std::vector<SuprvStatusRequest> statusRequests;
    std::vector<std::vector<unsigned char>> userRequests;
    std::vector<const void*> disconnected;

    // Bytes of the record that carry no field: a pattern, so a change shows.
    static unsigned char PatternAt(size_t offset) { return static_cast<unsigned char>(0xA5 ^ (offset * 7)); }

private:
    // The records the program holds, so requests can name their device.
    std::vector<std::pair<const void*, size_t>> records;

    static FakeSupervisor* current;
    static uint32_t WINAPI Initialize(uint32_t* zero);
    static uint32_t WINAPI DeInitialize();
    static uint32_t WINAPI Enum(char* buffer, uint32_t* byteCount, uint32_t* nameCount);
    static uint32_t WINAPI Get(const char* deviceName, void* record, uint32_t* size);
    static uint32_t WINAPI Set(void* record);
    static uint32_t WINAPI Request(uint32_t code, void* request, uint32_t zero);

    const FakeDevice* DeviceOf(const void* record, std::string* name) const;
};
