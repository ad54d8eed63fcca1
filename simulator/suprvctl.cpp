// suprvctl: lists the simulated supervisor's devices, plays the caller's side, and sets up test states.
#include "simulator/SimFile.h"
#include "simulator/SimState.h"
#include "simulator/SimStore.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char usage[] =
    "usage: suprvctl [command]\n"
    "  list                  show the devices (the default)\n"
    "  path                  show where the state file is\n"
    "  init                  write the built-in devices to the state file\n"
    "  generate N            replace the devices by N generated ones\n"
    "  call DEVICE USER      USER dials in on DEVICE, whose server must be active\n"
    "  hangup DEVICE         the caller on DEVICE hangs up\n"
    "  set DEVICE KEY VALUE  set a field of DEVICE (type, flags, speed, port,\n"
    "                        server, status, user, callstart, comment)\n"
    "  fault KNOB [ARGS]     set a fault knob:\n"
    "                          initialize RESULT | enumerate | names EXTRA |\n"
    "                          recordsize SIZE [RESULT] | getinfo RESULT [DEVICE] |\n"
    "                          setinfo RESULT [DEVICE] | disconnect RESULT [DEVICE] |\n"
    "                          crash FUNCTION null|nullread|readonly|divide|\n"
    "                                         invalid|recursion\n"
    "  fault clear           clear every fault knob\n"
    "The state file is named by SUPRV_STATE, else it lies in the user's state folder.\n";

static int Fail(const char* what, uint32_t error)
{
    fprintf(stderr, "suprvctl: %s (error %u)\n", what, error);
    return 1;
}

static int List()
{
    SimState state;
    SimStateInit(&state);
    uint32_t result = SimLoad(&state);
    if (result != SUPRV_OK) {
        return Fail("cannot read the state file", result);
    }
    printf("#\tdevice\ttype\tserver\tstatus\tuser\n");
    SimDevice device;
    for (uint32_t i = 0; i < state.count; ++i) {
        SimGetDevice(&state, i, &device);
        const char* status = SimStatusName(device.status);
        char number[16];
        if (status == nullptr) {
            snprintf(number, sizeof(number), "%d", device.status);
            status = number;
        }
        printf("%u\t%s\t%s\t%s\t%s\t%s\n", i + 1, device.name, device.type,
               (device.flags & 1) != 0 ? "active" : "stopped", status, device.user);
    }
    SimStateFree(&state);
    return 0;
}

static int Path()
{
    SimBuffer path = {};
    uint32_t result = SimStatePath(&path);
    if (result != SUPRV_OK) {
        SimBufferFree(&path);
        return Fail("no state file can be named: set SUPRV_STATE or HOME", result);
    }
    printf("%s\n", path.data);
    SimBufferFree(&path);
    return 0;
}

// Runs a change of the whole state and reports its failure.
static int CommitState(SimStateChange change, void* context, const char* what)
{
    SimState state;
    SimStateInit(&state);
    uint32_t result = SimCommitState(&state, change, context);
    SimStateFree(&state);
    return result == SUPRV_OK ? 0 : Fail(what, result);
}

static uint32_t ReplaceDevices(SimState* state, void* context)
{
    SimState fresh;
    SimStateInit(&fresh);
    const uint32_t* count = static_cast<const uint32_t*>(context);
    uint32_t result = count == nullptr ? SimLoadBuiltIn(&fresh) : SimGenerate(&fresh, *count);
    if (result == SUPRV_OK) {
        fresh.faults = state->faults;
        SimStateMove(state, &fresh);
    }
    SimStateFree(&fresh);
    return result;
}

struct CallContext {
    const char* user;
    const char* problem;
};

static uint32_t PlaceCall(SimState* state, SimDevice* device, void* context)
{
    (void)state;
    CallContext* call = static_cast<CallContext*>(context);
    if ((device->flags & 1) == 0) {
        call->problem = "the device's server is stopped";
        return SUPRV_ERROR_NOT_READY;
    }
    if (device->user[0] != 0 || device->status == 2) {
        call->problem = "the device is already in a call";
        return SUPRV_ERROR_BUSY;
    }
    if (strlen(call->user) >= sizeof(device->user) || call->user[0] == 0) {
        call->problem = "the user name is empty or too long";
        return SUPRV_ERROR_INVALID_PARAMETER;
    }
    strcpy(device->user, call->user);
    device->status = 2;
    return SUPRV_OK;
}

static uint32_t HangUp(SimState* state, SimDevice* device, void* context)
{
    (void)state;
    CallContext* call = static_cast<CallContext*>(context);
    if (device->user[0] == 0 && device->status != 2) {
        call->problem = "nobody is connected on the device";
        return SUPRV_ERROR_NOT_READY;
    }
    SimDropCall(device);
    return SUPRV_OK;
}

struct FieldContext {
    const char* line;
    const char* problem;
};

static uint32_t SetField(SimState* state, SimDevice* device, void* context)
{
    (void)state;
    FieldContext* field = static_cast<FieldContext*>(context);
    if (SimParseField(device, field->line, strlen(field->line))) {
        return SUPRV_OK;
    }
    field->problem = "bad field or value";
    return SUPRV_ERROR_INVALID_PARAMETER;
}

static uint32_t SetFault(SimState* state, void* context)
{
    const char* words = static_cast<const char*>(context);
    if (strcmp(words, "clear") == 0) {
        memset(&state->faults, 0, sizeof(state->faults));
        return SUPRV_OK;
    }
    return SimParseFault(&state->faults, words, strlen(words)) ? SUPRV_OK : SUPRV_ERROR_INVALID_PARAMETER;
}

static int CommitDevice(const char* name, SimDeviceChange change, void* context, const char** problem)
{
    SimState state;
    SimStateInit(&state);
    uint32_t result = SimLoad(&state);
    if (result == SUPRV_OK) {
        result = SimCommitDevice(&state, name, change, context);
    }
    SimStateFree(&state);
    if (result == SUPRV_OK) {
        return 0;
    }
    if (problem != nullptr && *problem != nullptr) {
        fprintf(stderr, "suprvctl: %s: %s\n", name, *problem);
        return 1;
    }
    return Fail(result == SUPRV_ERROR_DEVICE_NOT_EXIST ? "no such device" : "cannot change the state file", result);
}

// Joins words with single blanks, as they stand in a state file line.
static void JoinWords(int count, char** words, SimBuffer* out)
{
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            SimBufferAppend(out, " ", 1);
        }
        SimBufferAppend(out, words[i], strlen(words[i]));
    }
    SimBufferAppend(out, "", 1);
}

int main(int argc, char** argv)
{
    const char* command = argc > 1 ? argv[1] : "list";
    int rest = argc > 2 ? argc - 2 : 0;
    char** words = argv + 2;
    if (strcmp(command, "list") == 0 && rest == 0) {
        return List();
    }
    if (strcmp(command, "path") == 0 && rest == 0) {
        return Path();
    }
    if (strcmp(command, "init") == 0 && rest == 0) {
        return CommitState(ReplaceDevices, nullptr, "cannot write the state file");
    }
    if (strcmp(command, "generate") == 0 && rest == 1) {
        char* end = nullptr;
        unsigned long count = strtoul(words[0], &end, 10);
        if (*end != 0 || words[0][0] == 0 || count > 1000000) {
            fprintf(stderr, "suprvctl: bad device count: %s\n", words[0]);
            return 2;
        }
        uint32_t value = static_cast<uint32_t>(count);
        return CommitState(ReplaceDevices, &value, "cannot write the state file");
    }
    if (strcmp(command, "call") == 0 && rest == 2) {
        CallContext call = {words[1], nullptr};
        return CommitDevice(words[0], PlaceCall, &call, &call.problem);
    }
    if (strcmp(command, "hangup") == 0 && rest == 1) {
        CallContext call = {nullptr, nullptr};
        return CommitDevice(words[0], HangUp, &call, &call.problem);
    }
    if (strcmp(command, "set") == 0 && rest >= 2) {
        SimBuffer line = {};
        JoinWords(rest - 1, words + 1, &line);
        FieldContext field = {line.data, nullptr};
        int status = CommitDevice(words[0], SetField, &field, &field.problem);
        SimBufferFree(&line);
        return status;
    }
    if (strcmp(command, "fault") == 0 && rest >= 1) {
        SimBuffer line = {};
        JoinWords(rest, words, &line);
        int status = CommitState(SetFault, line.data, "bad fault knob, or cannot write the state file");
        SimBufferFree(&line);
        return status;
    }
    fputs(usage, strcmp(command, "help") == 0 ? stdout : stderr);
    return strcmp(command, "help") == 0 ? 0 : 2;
}
