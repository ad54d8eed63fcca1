// Loading the simulated supervisor's state and committing changes to it durably.
#include "simulator/SimStore.h"

#include <time.h>

#include "simulator/SimFile.h"

#include <string.h>

// A new generation mark for a rewritten state file: 16 hexadecimal digits,
// different for every rewrite, also two in the same moment of one process.
static void NewGeneration(char* out, size_t size)
{
    static uint64_t counter;
    uint64_t value = SimUniqueSeed() + ++counter * 0x9E3779B97F4A7C15ull;
    // A final mix so that neighbouring times give unrelated marks.
    value ^= value >> 31;
    value *= 0xBF58476D1CE4E5B9ull;
    value ^= value >> 27;
    static const char hex[] = "0123456789abcdef";
    size_t i = 0;
    for (; i < 16 && i + 1 < size; ++i) {
        out[i] = hex[(value >> (60 - 4 * i)) & 15];
    }
    out[i] = 0;
}

static uint32_t LoadBuiltIn(SimState* state)
{
    SimState fresh;
    SimStateInit(&fresh);
    uint32_t result = SimLoadBuiltIn(&fresh);
    if (result == SUPRV_OK) {
        SimStateMove(state, &fresh);
    }
    SimStateFree(&fresh);
    return result;
}

// Feeds the file from `from` up to `limit` to `parser`, a piece at a time,
// and ends the parse. `end` is where the reading stopped: at `limit`, or
// where the file ends when it is shorter.
static uint32_t ParseFrom(SimFile* file, uint64_t from, uint64_t limit, SimParser* parser, uint64_t* end)
{
    char piece[16384];
    uint64_t at = from;
    uint32_t result = SUPRV_OK;
    while (at < limit) {
        uint64_t left = limit - at;
        size_t wanted = left < sizeof(piece) ? static_cast<size_t>(left) : sizeof(piece);
        size_t got = 0;
        result = SimReadAt(file, at, piece, wanted, &got);
        if (result != SUPRV_OK) {
            break;
        }
        SimParserFeed(parser, piece, got);
        at += got;
        if (got < wanted) {
            break;
        }
    }
    *end = at;
    uint32_t parsed = SimParserEnd(parser);
    return result != SUPRV_OK ? result : parsed;
}

// Replaces `state` by the whole file read up to `limit`.
static uint32_t ParseWhole(SimState* state, SimFile* file, uint64_t limit, uint64_t* end)
{
    SimState fresh;
    SimStateInit(&fresh);
    SimParser parser;
    SimParserBegin(&parser, &fresh, SIM_PARSE_FILE);
    uint32_t result = ParseFrom(file, 0, limit, &parser, end);
    if (result == SUPRV_OK) {
        SimStateMove(state, &fresh);
    }
    SimStateFree(&fresh);
    return result;
}

uint32_t SimLoad(SimState* state)
{
    SimBuffer path = {};
    uint32_t result = SimStatePath(&path);
    if (result == SUPRV_ERROR_BAD_PATH) {
        SimBufferFree(&path);
        return LoadBuiltIn(state);
    }
    SimFile file = {-1};
    if (result == SUPRV_OK) {
        result = SimOpenForReading(path.data, &file);
    }
    if (result == SUPRV_ERROR_FILE_NOT_FOUND) {
        result = LoadBuiltIn(state);
    } else if (result == SUPRV_OK) {
        uint64_t end = 0;
        result = ParseWhole(state, &file, UINT64_MAX, &end);
    }
    SimClose(&file);
    SimBufferFree(&path);
    return result;
}

namespace {

// One writer's session with the state file, lock held from Open to Close.
struct Session {
    SimBuffer path = {};
    SimFile lock = {-1};
    SimFile file = {-1};
    bool exists = false;
    uint64_t size = 0;

    uint32_t Open()
    {
        uint32_t result = SimStatePath(&path);
        if (result == SUPRV_OK) {
            result = SimLockExclusive(path.data, &lock);
        }
        if (result != SUPRV_OK) {
            return result;
        }
        result = SimOpenExisting(path.data, &file, &size);
        exists = result == SUPRV_OK;
        return result == SUPRV_ERROR_FILE_NOT_FOUND ? SUPRV_OK : result;
    }

    void Close()
    {
        SimClose(&file);
        SimUnlock(&lock);
        SimBufferFree(&path);
    }

    // True when the file is still the one `state` was read from: the same
    // generation in its first line and no shorter than what was applied.
    bool IsSameFile(const SimState* state)
    {
        if (state->generation[0] == 0 || size < state->applied) {
            return false;
        }
        char head[64];
        size_t got = 0;
        if (SimReadAt(&file, 0, head, sizeof(head), &got) != SUPRV_OK) {
            return false;
        }
        const char* prefix = "suprv-state 1 generation ";
        size_t prefixLength = strlen(prefix);
        size_t generationLength = strlen(state->generation);
        return got > prefixLength + generationLength && memcmp(head, prefix, prefixLength) == 0 &&
               memcmp(head + prefixLength, state->generation, generationLength) == 0 &&
               (head[prefixLength + generationLength] == '\n' || head[prefixLength + generationLength] == '\r');
    }

    // Brings `state` up to date with the file: the change blocks others
    // appended since it was read, or the whole file when it was replaced.
    uint32_t Catch(SimState* state)
    {
        if (!exists) {
            return LoadBuiltIn(state);
        }
        uint64_t end = size;
        uint32_t result;
        if (IsSameFile(state)) {
            SimParser parser;
            SimParserBegin(&parser, state, SIM_PARSE_JOURNAL);
            result = ParseFrom(&file, state->applied, size, &parser, &end);
        } else {
            result = ParseWhole(state, &file, size, &end);
        }
        if (result == SUPRV_OK) {
            size = end;  // Shorter than at open: take what there is.
        }
        return result;
    }

    uint32_t Rewrite(SimState* state)
    {
        char previous[sizeof(state->generation)];
        memcpy(previous, state->generation, sizeof(previous));
        NewGeneration(state->generation, sizeof(state->generation));
        SimBuffer text = {};
        SimFormatFile(state, &text);
        uint32_t result =
            text.failed ? SUPRV_ERROR_NOT_ENOUGH_MEMORY : SimReplaceDurably(path.data, text.data, text.size);
        if (result == SUPRV_OK) {
            state->applied = text.size;
            state->snapshotBytes = text.size;
        } else {
            memcpy(state->generation, previous, sizeof(previous));
        }
        SimBufferFree(&text);
        return result;
    }

    // Appends one change block after the last complete block, dropping what
    // a writer that died mid-block left behind.
    uint32_t Append(SimState* state, const SimDevice* before, const SimDevice* after)
    {
        SimBuffer block = {};
        char last = '\n';
        size_t got = 0;
        uint32_t result = SUPRV_OK;
        if (state->applied > 0) {
            result = SimReadAt(&file, state->applied - 1, &last, 1, &got);
        }
        if (last != '\n') {
            SimBufferAppend(&block, "\n", 1);
        }
        SimFormatChange(before, after, &block);
        if (result == SUPRV_OK && block.failed) {
            result = SUPRV_ERROR_NOT_ENOUGH_MEMORY;
        }
        if (result == SUPRV_OK && size > state->applied) {
            result = SimTruncate(&file, state->applied);
        }
        if (result == SUPRV_OK) {
            result = SimAppendDurably(&file, block.data, block.size);
            if (result != SUPRV_OK) {
                SimTruncate(&file, state->applied);
            }
        }
        if (result == SUPRV_OK) {
            state->applied += block.size;
        }
        SimBufferFree(&block);
        return result;
    }
};

}  // namespace

static bool WantsRewrite(const Session& session, const SimState* state)
{
    uint64_t journal = state->applied - state->snapshotBytes;
    return !session.exists || state->generation[0] == 0 || journal > state->snapshotBytes + 4096;
}

uint32_t SimCommitDevice(SimState* state, const char* name, SimDeviceChange change, void* context)
{
    Session session;
    uint32_t result = session.Open();
    if (result == SUPRV_OK) {
        result = session.Catch(state);
    }
    uint32_t position = result == SUPRV_OK ? SimFindDevice(state, name) : SIM_NO_DEVICE;
    if (result == SUPRV_OK && position == SIM_NO_DEVICE) {
        result = SUPRV_ERROR_DEVICE_NOT_EXIST;
    }
    SimDevice original;
    SimDevice changed;
    if (result == SUPRV_OK) {
        SimGetDevice(state, position, &original);
        changed = original;
        result = change(state, &changed, context);
        SimStampCall(&original, &changed, static_cast<uint64_t>(time(nullptr)));
    }
    if (result != SUPRV_OK || memcmp(&changed, &original, sizeof(changed)) == 0) {
        session.Close();
        return result;
    }
    // The change shows in `state` first, since storing it is what can run
    // out of memory; a failed write takes it back.
    bool rewrite = WantsRewrite(session, state);
    SimEntry replaced;
    result = SimPutDevice(state, position, &changed, &replaced);
    if (result == SUPRV_OK) {
        result = rewrite ? session.Rewrite(state) : session.Append(state, &original, &changed);
        if (result != SUPRV_OK) {
            SimRestoreDevice(state, position, &replaced);
        }
    }
    session.Close();
    return result;
}

uint32_t SimCommitState(SimState* state, SimStateChange change, void* context)
{
    Session session;
    uint32_t result = session.Open();
    if (result == SUPRV_OK) {
        result = session.Catch(state);
    }
    if (result == SUPRV_OK) {
        result = change(state, context);
    }
    if (result == SUPRV_OK) {
        result = session.Rewrite(state);
    }
    session.Close();
    return result;
}
