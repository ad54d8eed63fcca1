// The state file's text form: the growable buffer, the escapes and the formatter of whole files and change blocks.
#include "simulator/SimState.h"

#include <stdlib.h>
#include <string.h>

void SimFormatUnsigned(char* out, uint64_t value)
{
    char digits[24];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0) {
        *out++ = digits[--count];
    }
    *out = 0;
}

static const char* const statusNames[] = {"Idle",     "HangingUp",   "Connected", "Monitoring",
                                          "AnsweringTimeout", "CallingBack", "Answering", "MonitoringFailed"};

const char* SimStatusName(int32_t status)
{
    if (status < 0 || status > 7) {
        return nullptr;
    }
    return statusNames[status];
}

void SimBufferFree(SimBuffer* buffer)
{
    free(buffer->data);
    memset(buffer, 0, sizeof(*buffer));
}

void SimBufferAppend(SimBuffer* buffer, const char* bytes, size_t count)
{
    if (buffer->failed) {
        return;
    }
    if (buffer->size + count > buffer->capacity) {
        size_t capacity = buffer->capacity == 0 ? 4096 : buffer->capacity;
        while (capacity < buffer->size + count) {
            capacity *= 2;
        }
        char* grown = static_cast<char*>(realloc(buffer->data, capacity));
        if (grown == nullptr) {
            buffer->failed = true;
            return;
        }
        buffer->data = grown;
        buffer->capacity = capacity;
    }
    memcpy(buffer->data + buffer->size, bytes, count);
    buffer->size += count;
}

void SimBufferAppendText(SimBuffer* buffer, const char* text)
{
    SimBufferAppend(buffer, text, strlen(text));
}

static void AppendEscaped(SimBuffer* out, const char* text)
{
    static const char hex[] = "0123456789abcdef";
    size_t length = strlen(text);
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        bool edgeBlank = c == ' ' && (i == 0 || i + 1 == length);
        if (c == '\\') {
            SimBufferAppendText(out, "\\\\");
        } else if (c == '\t') {
            SimBufferAppendText(out, "\\t");
        } else if (c == '\n') {
            SimBufferAppendText(out, "\\n");
        } else if (c == '\r') {
            SimBufferAppendText(out, "\\r");
        } else if (c < 0x20 || c == 0x7F || edgeBlank) {
            char escape[4] = {'\\', 'x', hex[c >> 4], hex[c & 15]};
            SimBufferAppend(out, escape, 4);
        } else {
            SimBufferAppend(out, text + i, 1);
        }
    }
}

static void AppendField(SimBuffer* out, const char* key, const char* value)
{
    SimBufferAppendText(out, "  ");
    SimBufferAppendText(out, key);
    if (value[0] != 0) {
        SimBufferAppendText(out, " ");
        AppendEscaped(out, value);
    }
    SimBufferAppendText(out, "\n");
}

static void AppendNumberField(SimBuffer* out, const char* key, uint32_t value, bool asHex)
{
    char text[16];
    if (asHex) {
        static const char hex[] = "0123456789abcdef";
        text[0] = '0';
        text[1] = 'x';
        for (int i = 0; i < 8; ++i) {
            text[2 + i] = hex[(value >> (28 - 4 * i)) & 15];
        }
        text[10] = 0;
    } else {
        SimFormatUnsigned(text, value);
    }
    AppendField(out, key, text);
}

static void AppendStatusField(SimBuffer* out, int32_t status)
{
    const char* name = SimStatusName(status);
    if (name != nullptr) {
        AppendField(out, "status", name);
        return;
    }
    char text[16];
    if (status < 0) {
        text[0] = '-';
        SimFormatUnsigned(text + 1, 0u - static_cast<uint32_t>(status));
    } else {
        SimFormatUnsigned(text, static_cast<uint32_t>(status));
    }
    AppendField(out, "status", text);
}

static const char* const functionNames[] = {"",
                                            "SuprvInitialize",
                                            "SuprvDeInitialize",
                                            "SuprvEnumAccessInfo",
                                            "SuprvGetAccessInfo",
                                            "SuprvSetAccessInfo",
                                            "SuprvRequest"};
static const char* const crashNames[SIM_CRASH_KINDS] = {"null",     "divide",   "recursion",
                                                         "nullread", "readonly", "invalid"};

const char* SimFunctionName(SimFunction function)
{
    return functionNames[function];
}

const char* SimCrashName(SimCrashKind kind)
{
    return crashNames[kind];
}

static const char* const refusedCallNames[SIM_REFUSED_CALLS] = {"getinfo", "setinfo", "disconnect"};

const char* SimRefusedCallName(SimRefusedCall call)
{
    return refusedCallNames[call];
}

static void AppendFaults(SimBuffer* out, const SimFaults* faults)
{
    char number[16];
    if (faults->initializeResult != 0) {
        SimFormatUnsigned(number, faults->initializeResult);
        SimBufferAppendText(out, "fault initialize ");
        SimBufferAppendText(out, number);
        SimBufferAppendText(out, "\n");
    }
    if (faults->enumerationFails) {
        SimBufferAppendText(out, "fault enumerate\n");
    }
    if (faults->extraNames != 0) {
        SimFormatUnsigned(number, faults->extraNames);
        SimBufferAppendText(out, "fault names ");
        SimBufferAppendText(out, number);
        SimBufferAppendText(out, "\n");
    }
    if (faults->recordSizeSet) {
        SimFormatUnsigned(number, faults->recordSize);
        SimBufferAppendText(out, "fault recordsize ");
        SimBufferAppendText(out, number);
        SimFormatUnsigned(number, faults->recordSizeResult);
        SimBufferAppendText(out, " ");
        SimBufferAppendText(out, number);
        SimBufferAppendText(out, "\n");
    }
    for (uint32_t i = 0; i < SIM_REFUSED_CALLS; ++i) {
        const SimRefusal& refusal = faults->refusals[i];
        if (refusal.result == 0) {
            continue;
        }
        SimFormatUnsigned(number, refusal.result);
        SimBufferAppendText(out, "fault ");
        SimBufferAppendText(out, SimRefusedCallName(static_cast<SimRefusedCall>(i)));
        SimBufferAppendText(out, " ");
        SimBufferAppendText(out, number);
        if (refusal.device[0] != 0) {
            SimBufferAppendText(out, " ");
            AppendEscaped(out, refusal.device);
        }
        SimBufferAppendText(out, "\n");
    }
    if (faults->crashFunction != SIM_FN_NONE) {
        SimBufferAppendText(out, "fault crash ");
        SimBufferAppendText(out, SimFunctionName(faults->crashFunction));
        SimBufferAppendText(out, " ");
        SimBufferAppendText(out, SimCrashName(faults->crashKind));
        SimBufferAppendText(out, "\n");
    }
}

static void AppendCallStartField(SimBuffer* out, uint64_t start)
{
    char text[24];
    SimFormatUnsigned(text, start);
    AppendField(out, "callstart", text);
}

void SimFormatFile(const SimState* state, SimBuffer* out)
{
    SimBufferAppendText(out, "suprv-state 1 generation ");
    SimBufferAppendText(out, state->generation);
    SimBufferAppendText(out, "\n# Simulated dial-up supervisor. Changes are appended as change blocks;\n"
                    "# edit with care, or through the control tool.\n");
    AppendFaults(out, &state->faults);
    SimDevice device;
    for (uint32_t i = 0; i < state->count; ++i) {
        SimGetDevice(state, i, &device);
        SimBufferAppendText(out, "device ");
        AppendEscaped(out, device.name);
        SimBufferAppendText(out, "\n");
        AppendField(out, "type", device.type);
        AppendNumberField(out, "flags", device.flags, true);
        AppendNumberField(out, "speed", device.speed, false);
        AppendField(out, "port", device.port);
        AppendField(out, "server", device.server);
        AppendStatusField(out, device.status);
        AppendField(out, "user", device.user);
        // Files of older versions have no call start: an unknown one is left out.
        if (device.callStart != 0) {
            AppendCallStartField(out, device.callStart);
        }
        AppendField(out, "comment", device.comment);
        SimBufferAppendText(out, "end\n");
    }
}

void SimFormatChange(const SimDevice* before, const SimDevice* after, SimBuffer* out)
{
    SimBufferAppendText(out, "change ");
    AppendEscaped(out, after->name);
    SimBufferAppendText(out, "\n");
    if (strcmp(before->type, after->type) != 0) {
        AppendField(out, "type", after->type);
    }
    if (before->flags != after->flags) {
        AppendNumberField(out, "flags", after->flags, true);
    }
    if (before->speed != after->speed) {
        AppendNumberField(out, "speed", after->speed, false);
    }
    if (strcmp(before->port, after->port) != 0) {
        AppendField(out, "port", after->port);
    }
    if (strcmp(before->server, after->server) != 0) {
        AppendField(out, "server", after->server);
    }
    if (before->status != after->status) {
        AppendStatusField(out, after->status);
    }
    if (strcmp(before->user, after->user) != 0) {
        AppendField(out, "user", after->user);
    }
    if (before->callStart != after->callStart) {
        AppendCallStartField(out, after->callStart);
    }
    if (strcmp(before->comment, after->comment) != 0) {
        AppendField(out, "comment", after->comment);
    }
    SimBufferAppendText(out, "end\n");
}
