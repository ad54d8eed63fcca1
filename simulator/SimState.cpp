// The simulated supervisor's devices: the built-in set, their records, and the state file's text form.
//
// The state file is line-oriented text, bytes as they are (the C locale):
//
//   suprv-state 1 generation 5f0c2a1b9d3e4788     first line, always
//   # a comment                                   comments and blank lines anywhere
//   fault crash SuprvRequest divide               fault knobs, see ParseFault
//   device Modem1                                 a device block: name to the end of the line
//     type modem                                  "key value" lines, the value running
//     flags 0x00000001                            to the end of the line; \\ \t \r \n
//     speed 57600                                 and \xHH stand for a backslash and
//     port COM1                                   for bytes that cannot stand in a line
//     server PPP
//     status Monitoring                           a name or a number
//     user                                        an empty value: nobody logged in
//     comment External modem
//   end
//   change Modem1                                 a change block: sets the named
//     flags 0x00000000                            fields of an existing device
//     status Idle
//   end
//
// Device blocks make up the snapshot; every change is appended as a change
// block. The generation mark changes whenever the file is rewritten whole; a
// hand-written file may leave it empty, and its first change rewrites it. A change block that a dying writer cut short at the very end of the
// file is ignored, down to a first line cut short. Anything else that does not read as above makes the whole
// file corrupt.
#include "simulator/SimState.h"

#include <stdlib.h>
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
        if (result != SIM_OK) {
            return result;
        }
    }
    return SIM_OK;
}

void SimFormatUnsigned(char* out, uint32_t value)
{
    char digits[16];
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
        if (result != SIM_OK) {
            return result;
        }
    }
    return SIM_OK;
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

uint32_t SimRecordSize(const SimState* state)
{
    return state->faults.recordSizeSet ? state->faults.recordSize : SIM_RECORD_SIZE;
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

// ---- The text form ----

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

static void AppendText(SimBuffer* out, const char* text)
{
    SimBufferAppend(out, text, strlen(text));
}

static void AppendEscaped(SimBuffer* out, const char* text)
{
    static const char hex[] = "0123456789abcdef";
    size_t length = strlen(text);
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        bool edgeBlank = c == ' ' && (i == 0 || i + 1 == length);
        if (c == '\\') {
            AppendText(out, "\\\\");
        } else if (c == '\t') {
            AppendText(out, "\\t");
        } else if (c == '\n') {
            AppendText(out, "\\n");
        } else if (c == '\r') {
            AppendText(out, "\\r");
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
    AppendText(out, "  ");
    AppendText(out, key);
    if (value[0] != 0) {
        AppendText(out, " ");
        AppendEscaped(out, value);
    }
    AppendText(out, "\n");
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

static void AppendFaults(SimBuffer* out, const SimFaults* faults)
{
    char number[16];
    if (faults->initializeResult != 0) {
        SimFormatUnsigned(number, faults->initializeResult);
        AppendText(out, "fault initialize ");
        AppendText(out, number);
        AppendText(out, "\n");
    }
    if (faults->enumerationFails) {
        AppendText(out, "fault enumerate\n");
    }
    if (faults->extraNames != 0) {
        SimFormatUnsigned(number, faults->extraNames);
        AppendText(out, "fault names ");
        AppendText(out, number);
        AppendText(out, "\n");
    }
    if (faults->recordSizeSet) {
        SimFormatUnsigned(number, faults->recordSize);
        AppendText(out, "fault recordsize ");
        AppendText(out, number);
        SimFormatUnsigned(number, faults->recordSizeResult);
        AppendText(out, " ");
        AppendText(out, number);
        AppendText(out, "\n");
    }
    if (faults->getResult != 0) {
        SimFormatUnsigned(number, faults->getResult);
        AppendText(out, "fault getinfo ");
        AppendText(out, number);
        if (faults->getDevice[0] != 0) {
            AppendText(out, " ");
            AppendEscaped(out, faults->getDevice);
        }
        AppendText(out, "\n");
    }
    if (faults->crashFunction != SIM_FN_NONE) {
        AppendText(out, "fault crash ");
        AppendText(out, functionNames[faults->crashFunction]);
        AppendText(out, " ");
        AppendText(out, crashNames[faults->crashKind]);
        AppendText(out, "\n");
    }
}

void SimFormatFile(const SimState* state, SimBuffer* out)
{
    AppendText(out, "suprv-state 1 generation ");
    AppendText(out, state->generation);
    AppendText(out, "\n# Simulated dial-up supervisor. Changes are appended as change blocks;\n"
                    "# edit with care, or through the control tool.\n");
    AppendFaults(out, &state->faults);
    SimDevice device;
    for (uint32_t i = 0; i < state->count; ++i) {
        SimGetDevice(state, i, &device);
        AppendText(out, "device ");
        AppendEscaped(out, device.name);
        AppendText(out, "\n");
        AppendField(out, "type", device.type);
        AppendNumberField(out, "flags", device.flags, true);
        AppendNumberField(out, "speed", device.speed, false);
        AppendField(out, "port", device.port);
        AppendField(out, "server", device.server);
        AppendStatusField(out, device.status);
        AppendField(out, "user", device.user);
        AppendField(out, "comment", device.comment);
        AppendText(out, "end\n");
    }
}

void SimFormatChange(const SimDevice* before, const SimDevice* after, SimBuffer* out)
{
    AppendText(out, "change ");
    AppendEscaped(out, after->name);
    AppendText(out, "\n");
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
    if (strcmp(before->comment, after->comment) != 0) {
        AppendField(out, "comment", after->comment);
    }
    AppendText(out, "end\n");
}

// ---- Parsing ----

static bool IsBlankOrComment(const char* begin, const char* end)
{
    while (begin < end && (*begin == ' ' || *begin == '\t')) {
        ++begin;
    }
    return begin == end || *begin == '#';
}

// Splits "word rest" at the first blank: `word` ends before it, `rest` starts after it.
static void SplitWord(const char* begin, const char* end, const char** wordEnd, const char** rest)
{
    const char* p = begin;
    while (p < end && *p != ' ' && *p != '\t') {
        ++p;
    }
    *wordEnd = p;
    *rest = p < end ? p + 1 : end;
}

static bool WordIs(const char* begin, const char* end, const char* word)
{
    size_t length = strlen(word);
    return static_cast<size_t>(end - begin) == length && memcmp(begin, word, length) == 0;
}

static int HexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Decodes an escaped value into `out` (size bytes with the terminator).
// Fails when the value is malformed, holds a zero byte or does not fit.
static bool DecodeValue(const char* begin, const char* end, char* out, size_t size)
{
    size_t count = 0;
    for (const char* p = begin; p < end; ++p) {
        char c = *p;
        if (c == '\\') {
            if (++p == end) {
                return false;
            }
            switch (*p) {
            case '\\': c = '\\'; break;
            case 't': c = '\t'; break;
            case 'n': c = '\n'; break;
            case 'r': c = '\r'; break;
            case 'x': {
                if (end - p < 3 || HexDigit(p[1]) < 0 || HexDigit(p[2]) < 0) {
                    return false;
                }
                c = static_cast<char>(HexDigit(p[1]) * 16 + HexDigit(p[2]));
                p += 2;
                break;
            }
            default: return false;
            }
        }
        if (c == 0 || count + 1 >= size) {
            return false;
        }
        out[count++] = c;
    }
    out[count] = 0;
    return true;
}

static bool ParseUnsigned(const char* begin, const char* end, uint32_t* value)
{
    uint64_t result = 0;
    int base = 10;
    if (end - begin > 2 && begin[0] == '0' && (begin[1] == 'x' || begin[1] == 'X')) {
        base = 16;
        begin += 2;
    }
    if (begin == end) {
        return false;
    }
    for (const char* p = begin; p < end; ++p) {
        int digit = HexDigit(*p);
        if (digit < 0 || digit >= base) {
            return false;
        }
        result = result * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (result > 0xFFFFFFFFu) {
            return false;
        }
    }
    *value = static_cast<uint32_t>(result);
    return true;
}

static bool ParseStatus(const char* begin, const char* end, int32_t* status)
{
    for (int32_t i = 0; i < 8; ++i) {
        if (WordIs(begin, end, statusNames[i])) {
            *status = i;
            return true;
        }
    }
    bool negative = begin < end && *begin == '-';
    uint32_t magnitude = 0;
    if (!ParseUnsigned(begin + (negative ? 1 : 0), end, &magnitude) || magnitude > 0x80000000u) {
        return false;
    }
    if (!negative && magnitude == 0x80000000u) {
        return false;
    }
    *status = negative ? static_cast<int32_t>(0u - magnitude) : static_cast<int32_t>(magnitude);
    return true;
}

static bool ParseField(SimDevice* device, const char* begin, const char* end)
{
    const char* keyEnd;
    const char* value;
    SplitWord(begin, end, &keyEnd, &value);
    if (WordIs(begin, keyEnd, "type")) {
        return DecodeValue(value, end, device->type, sizeof(device->type));
    }
    if (WordIs(begin, keyEnd, "flags")) {
        return ParseUnsigned(value, end, &device->flags);
    }
    if (WordIs(begin, keyEnd, "speed")) {
        return ParseUnsigned(value, end, &device->speed);
    }
    if (WordIs(begin, keyEnd, "port")) {
        return DecodeValue(value, end, device->port, sizeof(device->port));
    }
    if (WordIs(begin, keyEnd, "server")) {
        return DecodeValue(value, end, device->server, sizeof(device->server));
    }
    if (WordIs(begin, keyEnd, "status")) {
        return ParseStatus(value, end, &device->status);
    }
    if (WordIs(begin, keyEnd, "user")) {
        return DecodeValue(value, end, device->user, sizeof(device->user));
    }
    if (WordIs(begin, keyEnd, "comment")) {
        return DecodeValue(value, end, device->comment, sizeof(device->comment));
    }
    return false;
}

static bool ParseFault(SimFaults* faults, const char* begin, const char* end)
{
    const char* wordEnd;
    const char* rest;
    SplitWord(begin, end, &wordEnd, &rest);
    const char* argumentEnd;
    const char* after;
    SplitWord(rest, end, &argumentEnd, &after);
    if (WordIs(begin, wordEnd, "initialize")) {
        return after == end && ParseUnsigned(rest, argumentEnd, &faults->initializeResult);
    }
    if (WordIs(begin, wordEnd, "enumerate")) {
        faults->enumerationFails = true;
        return rest == end;
    }
    if (WordIs(begin, wordEnd, "names")) {
        return after == end && ParseUnsigned(rest, argumentEnd, &faults->extraNames);
    }
    if (WordIs(begin, wordEnd, "recordsize")) {
        faults->recordSizeSet = true;
        faults->recordSizeResult = SIM_ERROR_INSUFFICIENT_BUFFER;
        if (!ParseUnsigned(rest, argumentEnd, &faults->recordSize)) {
            return false;
        }
        return after == end || ParseUnsigned(after, end, &faults->recordSizeResult);
    }
    if (WordIs(begin, wordEnd, "getinfo")) {
        faults->getDevice[0] = 0;
        if (!ParseUnsigned(rest, argumentEnd, &faults->getResult)) {
            return false;
        }
        return after == end || DecodeValue(after, end, faults->getDevice, sizeof(faults->getDevice));
    }
    if (WordIs(begin, wordEnd, "crash")) {
        faults->crashFunction = SIM_FN_NONE;
        for (uint32_t i = SIM_FN_INITIALIZE; i <= SIM_FN_REQUEST; ++i) {
            if (WordIs(rest, argumentEnd, functionNames[i])) {
                faults->crashFunction = static_cast<SimFunction>(i);
            }
        }
        for (uint32_t i = 0; i < SIM_CRASH_KINDS; ++i) {
            if (WordIs(after, end, crashNames[i])) {
                faults->crashKind = static_cast<SimCrashKind>(i);
                return faults->crashFunction != SIM_FN_NONE;
            }
        }
        return false;
    }
    return false;
}

bool SimParseField(SimDevice* device, const char* text, size_t length)
{
    return ParseField(device, text, text + length);
}

bool SimParseFault(SimFaults* faults, const char* text, size_t length)
{
    SimFaults parsed = *faults;
    if (!ParseFault(&parsed, text, text + length)) {
        return false;
    }
    *faults = parsed;
    return true;
}

// The first line of a state file: the format and the generation mark.
static uint32_t ParseHeader(SimParser* parser, const char* begin, const char* end)
{
    static const char prefix[] = "suprv-state 1 generation";
    size_t prefixLength = sizeof(prefix) - 1;
    if (static_cast<size_t>(end - begin) < prefixLength || memcmp(begin, prefix, prefixLength) != 0) {
        return SIM_ERROR_INVALID_DATA;
    }
    const char* generation = begin + prefixLength;
    while (generation < end && *generation == ' ') {
        ++generation;
    }
    size_t length = static_cast<size_t>(end - generation);
    SimState* state = parser->state;
    if (length >= sizeof(state->generation)) {
        return SIM_ERROR_INVALID_DATA;
    }
    memcpy(state->generation, generation, length);
    state->generation[length] = 0;
    parser->complete = parser->offset;
    return SIM_OK;
}

// A line outside the blocks, starting at `start`: a comment, a fault knob, or
// the head of a block.
static uint32_t ParseTopLine(SimParser* parser, const char* begin, const char* end, uint64_t start)
{
    SimState* state = parser->state;
    bool wholeFile = parser->mode == SIM_PARSE_FILE;
    if (IsBlankOrComment(begin, end)) {
        parser->complete = parser->offset;
        return SIM_OK;
    }
    const char* wordEnd;
    const char* rest;
    SplitWord(begin, end, &wordEnd, &rest);
    if (wholeFile && WordIs(begin, wordEnd, "fault")) {
        if (!ParseFault(&state->faults, rest, end)) {
            return SIM_ERROR_INVALID_DATA;
        }
        parser->complete = parser->offset;
        return SIM_OK;
    }
    bool isDevice = wholeFile && WordIs(begin, wordEnd, "device");
    bool isChange = WordIs(begin, wordEnd, "change");
    if (!isDevice && !isChange) {
        return SIM_ERROR_INVALID_DATA;
    }
    if (isChange && parser->journal == UINT64_MAX) {
        parser->journal = start;
    }
    char name[SIM_NAME_SIZE] = {};  // Whole, since devices are compared byte for byte.
    if (!DecodeValue(rest, end, name, sizeof(name)) || name[0] == 0) {
        return SIM_ERROR_INVALID_DATA;
    }
    uint32_t existing = SimFindDevice(state, name);
    if (isDevice) {
        SimDeviceDefaults(&parser->device);
        memcpy(parser->device.name, name, sizeof(name));
    } else if (existing != SIM_NO_DEVICE) {
        SimGetDevice(state, existing, &parser->device);
    } else {
        return SIM_ERROR_INVALID_DATA;
    }
    parser->inBlock = true;
    parser->isChange = isChange;
    parser->position = existing;
    return SIM_OK;
}

// A line of a device or change block: a field, or the end that applies the block.
static uint32_t ParseBlockLine(SimParser* parser, const char* begin, const char* end, bool terminated)
{
    while (begin < end && (*begin == ' ' || *begin == '\t')) {
        ++begin;
    }
    if (WordIs(begin, end, "end")) {
        SimEntry replaced;
        uint32_t result = parser->isChange ? SimPutDevice(parser->state, parser->position, &parser->device, &replaced)
                                           : SimAddDevice(parser->state, &parser->device);
        if (result != SIM_OK) {
            return result;
        }
        parser->inBlock = false;
        parser->complete = parser->offset;
        return SIM_OK;
    }
    if (terminated && ParseField(&parser->device, begin, end)) {
        return SIM_OK;
    }
    // A field line cut short is the mark of a dying writer when nothing
    // follows it: the change block stays open and is never applied.
    return parser->isChange && !terminated ? SIM_OK : SIM_ERROR_INVALID_DATA;
}

// One line without its line break; `terminated` when it had one.
static uint32_t ParseLine(SimParser* parser, const char* begin, const char* end, bool terminated)
{
    uint64_t start = parser->offset;
    parser->offset += static_cast<uint64_t>(end - begin) + (terminated ? 1 : 0);
    if (end > begin && end[-1] == '\r') {
        --end;
    }
    if (parser->headerWanted) {
        parser->headerWanted = false;
        return ParseHeader(parser, begin, end);
    }
    if (parser->inBlock) {
        return ParseBlockLine(parser, begin, end, terminated);
    }
    uint32_t result = ParseTopLine(parser, begin, end, start);
    // A last line without its line break that does not read is what a writer
    // that died in the first line of its change block leaves behind: ignored
    // like the rest of a block cut short, and cut away by the next change.
    return result == SIM_ERROR_INVALID_DATA && !terminated ? SIM_OK : result;
}

void SimParserBegin(SimParser* parser, SimState* state, SimParseMode mode)
{
    memset(parser, 0, sizeof(*parser));
    parser->state = state;
    parser->mode = mode;
    parser->headerWanted = mode == SIM_PARSE_FILE;
    parser->journal = UINT64_MAX;
    if (mode == SIM_PARSE_FILE) {
        state->applied = 0;
    }
}

void SimParserFeed(SimParser* parser, const char* text, size_t size)
{
    const char* end = text + size;
    while (parser->result == SIM_OK && text < end) {
        const char* newline = static_cast<const char*>(memchr(text, '\n', static_cast<size_t>(end - text)));
        const char* lineEnd = newline != nullptr ? newline : end;
        if (newline == nullptr || parser->line.size > 0) {
            SimBufferAppend(&parser->line, text, static_cast<size_t>(lineEnd - text));
            if (parser->line.failed) {
                parser->result = SIM_ERROR_NOT_ENOUGH_MEMORY;
                return;
            }
            if (newline == nullptr) {
                return;
            }
            parser->result = ParseLine(parser, parser->line.data, parser->line.data + parser->line.size, true);
            parser->line.size = 0;
        } else {
            parser->result = ParseLine(parser, text, newline, true);
        }
        text = newline + 1;
    }
}

uint32_t SimParserEnd(SimParser* parser)
{
    uint32_t result = parser->result;
    if (result == SIM_OK && parser->line.size > 0) {
        result = ParseLine(parser, parser->line.data, parser->line.data + parser->line.size, false);
    }
    SimBufferFree(&parser->line);
    if (result == SIM_OK && (parser->headerWanted || (parser->inBlock && !parser->isChange))) {
        result = SIM_ERROR_INVALID_DATA;
    }
    if (result != SIM_OK) {
        return result;
    }
    SimState* state = parser->state;
    state->applied += parser->complete;
    if (parser->mode == SIM_PARSE_FILE) {
        state->snapshotBytes = parser->journal != UINT64_MAX ? parser->journal : parser->complete;
    }
    return SIM_OK;
}
