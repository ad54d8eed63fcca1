// The simulated supervisor's devices: the built-in set, generated sets, their semantics and their records.
#include "simulator/SimState.h"

#include <string.h>

static void CopyText(char* destination, size_t size, const char* text)
{
    size_t length = strlen(text);
    if (length >= size) {
        length = size - 1;
    }
    memcpy(destination, text, length);
    destination[length] = 0;
}

struct BuiltInDevice {
    const char* name;
    const char* type;
    uint32_t flags;
    const char* server;
    const char* port;
    int32_t status;
    const char* user;
    const char* comment;
};

static const BuiltInDevice builtInDevices[] = {
    {"Modem1", "modem", 0x00000001, "PPP", "COM1", 3, "", "External 56k modem on the first serial port"},
    {"Modem2", "modem", 0x00000001, "PPP", "COM2", 2, "guest", "Internal modem, line 2"},
    {"ISDN1", "isdn", 0x00000100, "SLIP", "ISDN1",
     0, "",
     "ISDN adapter of the branch office. It takes calls on both B channels when the server is "
     "started, but it is kept stopped outside office hours, so that nobody dials in at night; "
     "the staff start it each morning with the command line tool and stop it again at six."},
    {"Cable1", "cable", 0x00000000, "", "LPT1", 0, "", ""},
};

uint32_t SimLoadBuiltIn(SimState* state)
{
    for (const BuiltInDevice& entry : builtInDevices) {
        SimDevice device;
        SimDeviceDefaults(&device);
        CopyText(device.name, sizeof(device.name), entry.name);
        CopyText(device.type, sizeof(device.type), entry.type);
        CopyText(device.server, sizeof(device.server), entry.server);
        CopyText(device.port, sizeof(device.port), entry.port);
        CopyText(device.user, sizeof(device.user), entry.user);
        CopyText(device.comment, sizeof(device.comment), entry.comment);
        device.flags = entry.flags;
        device.status = entry.status;
        uint32_t result = SimAddDevice(state, &device);
        if (result != SUPRV_OK) {
            return result;
        }
    }
    return SUPRV_OK;
}

uint32_t SimGenerate(SimState* state, uint32_t count)
{
    static const char* const types[] = {"modem", "isdn", "cable"};
    for (uint32_t i = 1; i <= count; ++i) {
        SimDevice device;
        SimDeviceDefaults(&device);
        memcpy(device.name, "Line", 4);
        SimFormatUnsigned(device.name + 4, i);
        CopyText(device.type, sizeof(device.type), types[(i - 1) % 3]);
        CopyText(device.server, sizeof(device.server), "PPP");
        CopyText(device.comment, sizeof(device.comment), "Generated device");
        uint32_t result = SimAddDevice(state, &device);
        if (result != SUPRV_OK) {
            return result;
        }
    }
    return SUPRV_OK;
}

void SimApplyFlags(SimDevice* device, uint32_t flags)
{
    device->flags = flags;
    bool enabled = (flags & 1) != 0;
    if (enabled && device->status == 0) {
        device->status = 3;
        return;
    }
    // Stopping the server ends the waiting for calls, not a call in progress.
    bool waiting = device->status == 3 || device->status == 4 || device->status == 6 || device->status == 7;
    if (!enabled && waiting) {
        device->status = 0;
    }
}

void SimDropCall(SimDevice* device)
{
    device->user[0] = 0;
    device->status = (device->flags & 1) != 0 ? 3 : 0;
}

void SimStampCall(const SimDevice* before, SimDevice* after, uint64_t now)
{
    if (after->status != 2) {
        after->callStart = 0;
    } else if (before->status != 2 && after->callStart == before->callStart) {
        after->callStart = now;
    }
}

uint32_t SimRecordSize(const SimState* state)
{
    return state->faults.recordSizeSet ? state->faults.recordSize : SIM_RECORD_SIZE;
}

uint32_t SimRefusalResult(const SimFaults* faults, SimRefusedCall call, const char* name)
{
    const SimRefusal& refusal = faults->refusals[call];
    if (refusal.device[0] != 0 && strcmp(refusal.device, name) != 0) {
        return SUPRV_OK;
    }
    return refusal.result;
}

static void PutText(unsigned char* record, uint32_t size, uint32_t offset, const char* text, size_t width)
{
    if (offset >= size) {
        return;
    }
    size_t count = strlen(text) + 1;
    if (count > width) {
        count = width;
    }
    if (count > size - offset) {
        count = size - offset;
    }
    memcpy(record + offset, text, count);
}

static void PutWord(unsigned char* record, uint32_t size, uint32_t offset, uint32_t value)
{
    for (uint32_t i = 0; i < 4 && offset + i < size; ++i) {
        record[offset + i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

void SimFillRecord(const SimDevice* device, unsigned char* record, uint32_t size)
{
    uint32_t hash = SimHashName(device->name);
    for (uint32_t i = 0; i < size; ++i) {
        record[i] = static_cast<unsigned char>((hash >> (8 * (i & 3))) ^ (i * 37));
    }
    PutText(record, size, 0, device->name, SIM_NAME_SIZE);
    PutText(record, size, 129, device->type, SIM_TYPE_SIZE);
    PutWord(record, size, 148, device->flags);
    PutWord(record, size, 152, device->speed);
    char server[4] = {0, 0, 0, 0};
    memcpy(server, device->server, strlen(device->server));
    for (uint32_t i = 0; i < 4 && 156 + i < size; ++i) {
        record[156 + i] = static_cast<unsigned char>(server[i]);
    }
    PutText(record, size, 160, device->port, SIM_PORT_SIZE);
    PutText(record, size, 204, device->comment, SIM_COMMENT_SIZE);
}
