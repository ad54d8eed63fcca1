// The state file's line parser: it reads a whole file, or the change blocks appended since the last read.
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
//     callstart 1765380000                        when it became Connected (Unix time);
//                                                 absent while unknown or in no call
//     comment External modem
//   end
//   change Modem1                                 a change block: sets the named
//     flags 0x00000000                            fields of an existing device
//     status Idle
//   end
//
// Device blocks make up the snapshot; every change is appended as a change
// block. The generation mark changes whenever the file is rewritten whole; a
// hand-written file may leave it empty, and its first change rewrites it. A
// change block that a dying writer cut short at the very end of the file is
// ignored, down to a first line cut short. Anything else that does not read
// as above makes the whole file corrupt.
#include "simulator/SimState.h"

#include <string.h>

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

// A decimal number of up to 64 bits.
static bool ParseUnsigned64(const char* begin, const char* end, uint64_t* value)
{
    uint64_t result = 0;
    if (begin == end) {
        return false;
    }
    for (const char* p = begin; p < end; ++p) {
        if (*p < '0' || *p > '9' || result > (UINT64_MAX - 9) / 10) {
            return false;
        }
        result = result * 10 + static_cast<uint64_t>(*p - '0');
    }
    *value = result;
    return true;
}

static bool ParseStatus(const char* begin, const char* end, int32_t* status)
{
    for (int32_t i = 0; i < 8; ++i) {
        if (WordIs(begin, end, SimStatusName(i))) {
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
    if (WordIs(begin, keyEnd, "callstart")) {
        return ParseUnsigned64(value, end, &device->callStart);
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
        faults->recordSizeResult = SUPRV_ERROR_INSUFFICIENT_BUFFER;
        if (!ParseUnsigned(rest, argumentEnd, &faults->recordSize)) {
            return false;
        }
        return after == end || ParseUnsigned(after, end, &faults->recordSizeResult);
    }
    for (uint32_t i = 0; i < SIM_REFUSED_CALLS; ++i) {
        if (!WordIs(begin, wordEnd, SimRefusedCallName(static_cast<SimRefusedCall>(i)))) {
            continue;
        }
        SimRefusal& refusal = faults->refusals[i];
        refusal.device[0] = 0;
        if (!ParseUnsigned(rest, argumentEnd, &refusal.result)) {
            return false;
        }
        return after == end || DecodeValue(after, end, refusal.device, sizeof(refusal.device));
    }
    if (WordIs(begin, wordEnd, "crash")) {
        faults->crashFunction = SIM_FN_NONE;
        for (uint32_t i = SIM_FN_INITIALIZE; i <= SIM_FN_REQUEST; ++i) {
            if (WordIs(rest, argumentEnd, SimFunctionName(static_cast<SimFunction>(i)))) {
                faults->crashFunction = static_cast<SimFunction>(i);
            }
        }
        for (uint32_t i = 0; i < SIM_CRASH_KINDS; ++i) {
            if (WordIs(after, end, SimCrashName(static_cast<SimCrashKind>(i)))) {
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
        return SUPRV_ERROR_INVALID_DATA;
    }
    const char* generation = begin + prefixLength;
    while (generation < end && *generation == ' ') {
        ++generation;
    }
    size_t length = static_cast<size_t>(end - generation);
    SimState* state = parser->state;
    if (length >= sizeof(state->generation)) {
        return SUPRV_ERROR_INVALID_DATA;
    }
    memcpy(state->generation, generation, length);
    state->generation[length] = 0;
    parser->complete = parser->offset;
    return SUPRV_OK;
}

// A line outside the blocks, starting at `start`: a comment, a fault knob, or
// the head of a block.
static uint32_t ParseTopLine(SimParser* parser, const char* begin, const char* end, uint64_t start)
{
    SimState* state = parser->state;
    bool wholeFile = parser->mode == SIM_PARSE_FILE;
    if (IsBlankOrComment(begin, end)) {
        parser->complete = parser->offset;
        return SUPRV_OK;
    }
    const char* wordEnd;
    const char* rest;
    SplitWord(begin, end, &wordEnd, &rest);
    if (wholeFile && WordIs(begin, wordEnd, "fault")) {
        if (!ParseFault(&state->faults, rest, end)) {
            return SUPRV_ERROR_INVALID_DATA;
        }
        parser->complete = parser->offset;
        return SUPRV_OK;
    }
    bool isDevice = wholeFile && WordIs(begin, wordEnd, "device");
    bool isChange = WordIs(begin, wordEnd, "change");
    if (!isDevice && !isChange) {
        return SUPRV_ERROR_INVALID_DATA;
    }
    if (isChange && parser->journal == UINT64_MAX) {
        parser->journal = start;
    }
    char name[SIM_NAME_SIZE] = {};  // Whole, since devices are compared byte for byte.
    if (!DecodeValue(rest, end, name, sizeof(name)) || name[0] == 0) {
        return SUPRV_ERROR_INVALID_DATA;
    }
    uint32_t existing = SimFindDevice(state, name);
    if (isDevice) {
        SimDeviceDefaults(&parser->device);
        memcpy(parser->device.name, name, sizeof(name));
    } else if (existing != SIM_NO_DEVICE) {
        SimGetDevice(state, existing, &parser->device);
    } else {
        return SUPRV_ERROR_INVALID_DATA;
    }
    parser->inBlock = true;
    parser->isChange = isChange;
    parser->position = existing;
    return SUPRV_OK;
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
        if (result != SUPRV_OK) {
            return result;
        }
        parser->inBlock = false;
        parser->complete = parser->offset;
        return SUPRV_OK;
    }
    if (terminated && ParseField(&parser->device, begin, end)) {
        return SUPRV_OK;
    }
    // A field line cut short is the mark of a dying writer when nothing
    // follows it: the change block stays open and is never applied.
    return parser->isChange && !terminated ? SUPRV_OK : SUPRV_ERROR_INVALID_DATA;
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
    return result == SUPRV_ERROR_INVALID_DATA && !terminated ? SUPRV_OK : result;
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
    while (parser->result == SUPRV_OK && text < end) {
        const char* newline = static_cast<const char*>(memchr(text, '\n', static_cast<size_t>(end - text)));
        const char* lineEnd = newline != nullptr ? newline : end;
        if (newline == nullptr || parser->line.size > 0) {
            SimBufferAppend(&parser->line, text, static_cast<size_t>(lineEnd - text));
            if (parser->line.failed) {
                parser->result = SUPRV_ERROR_NOT_ENOUGH_MEMORY;
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
    if (result == SUPRV_OK && parser->line.size > 0) {
        result = ParseLine(parser, parser->line.data, parser->line.data + parser->line.size, false);
    }
    SimBufferFree(&parser->line);
    if (result == SUPRV_OK && (parser->headerWanted || (parser->inBlock && !parser->isChange))) {
        result = SUPRV_ERROR_INVALID_DATA;
    }
    if (result != SUPRV_OK) {
        return result;
    }
    SimState* state = parser->state;
    state->applied += parser->complete;
    if (parser->mode == SIM_PARSE_FILE) {
        state->snapshotBytes = parser->journal != UINT64_MAX ? parser->journal : parser->complete;
    }
    return SUPRV_OK;
}
