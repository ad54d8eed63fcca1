// Loading the simulated supervisor's state and committing changes to it durably.
#include "simulator/SimStore.h"

#include "simulator/SimFile.h"

#include <string.h>

static uint32_t LoadBuiltIn(SimState* state)
{
    SimState fresh;
    SimStateInit(&fresh);
    uint32_t result = SimLoadBuiltIn(&fresh);
    if (result == SIM_OK) {
        SimStateMove(state, &fresh);
    }
    SimStateFree(&fresh);
    return result;
}

static uint32_t ParseWhole(SimState* state, const SimBuffer* text)
{
    SimState fresh;
    SimStateInit(&fresh);
    uint32_t result = SimParseFile(&fresh, text->data, text->size);
    if (result == SIM_OK) {
        SimStateMove(state, &fresh);
    }
    SimStateFree(&fresh);
    return result;
}

uint32_t SimLoad(SimState* state)
{
    SimBuffer path = {};
    uint32_t result = SimStatePath(&path);
    if (result == SIM_ERROR_BAD_PATH) {
        SimBufferFree(&path);
        return LoadBuiltIn(state);
    }
    SimBuffer text = {};
    if (result == SIM_OK) {
        result = SimReadWhole(path.data, &text);
    }
    if (result == SIM_ERROR_FILE_NOT_FOUND) {
        result = LoadBuiltIn(state);
    } else if (result == SIM_OK) {
        result = ParseWhole(state, &text);
    }
    SimBufferFree(&text);
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
        if (result == SIM_OK) {
            result = SimLockExclusive(path.data, &lock);
        }
        if (result != SIM_OK) {
            return result;
        }
        result = SimOpenExisting(path.data, &file, &size);
        exists = result == SIM_OK;
        return result == SIM_ERROR_FILE_NOT_FOUND ? SIM_OK : result;
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
        if (SimReadAt(&file, 0, head, sizeof(head), &got) != SIM_OK) {
            return false;
        }
        const char* prefix = "suprv-state 1 generation ";
        size_t prefixLength = strlen(prefix);
        size_t generationLength = strlen(state->generation);
        return got > prefixLength + generationLength && memcmp(head, prefix, prefixLength) == 0 &&
               memcmp(head + prefixLength, state->generation, generationLength) == 0 &&
               (head[prefixLength + generationLength] == '\n' || head[prefixLength + generationLength] == '\r');
    }

    uint32_t ReadRange(uint64_t from, SimBuffer* out)
    {
        out->size = 0;
        uint64_t at = from;
        while (at < size && !out->failed) {
            char chunk[65536];
            uint64_t left = size - at;
            size_t piece = left < sizeof(chunk) ? static_cast<size_t>(left) : sizeof(chunk);
            size_t got = 0;
            uint32_t result = SimReadAt(&file, at, chunk, piece, &got);
            if (result != SIM_OK) {
                return result;
            }
            SimBufferAppend(out, chunk, got);
            if (got < piece) {
                size = at + got;  // Shorter than at open: take what there is.
                break;
            }
            at += got;
        }
        return out->failed ? SIM_ERROR_NOT_ENOUGH_MEMORY : SIM_OK;
    }

    // Brings `state` up to date with the file: the change blocks others
    // appended since it was read, or the whole file when it was replaced.
    uint32_t Catch(SimState* state)
    {
        if (!exists) {
            return LoadBuiltIn(state);
        }
        bool same = IsSameFile(state);
        SimBuffer text = {};
        uint32_t result = ReadRange(same ? state->applied : 0, &text);
        if (result == SIM_OK) {
            result = same ? SimParseJournal(state, text.data, text.size) : ParseWhole(state, &text);
        }
        SimBufferFree(&text);
        return result;
    }

    uint32_t Rewrite(SimState* state)
    {
        char previous[sizeof(state->generation)];
        memcpy(previous, state->generation, sizeof(previous));
        SimNewGeneration(state->generation, sizeof(state->generation));
        SimBuffer text = {};
        SimFormatFile(state, &text);
        uint32_t result = text.failed ? SIM_ERROR_NOT_ENOUGH_MEMORY : SimReplaceDurably(path.data, text.data, text.size);
        if (result == SIM_OK) {
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
        uint32_t result = SIM_OK;
        if (state->applied > 0) {
            result = SimReadAt(&file, state->applied - 1, &last, 1, &got);
        }
        if (last != '\n') {
            SimBufferAppend(&block, "\n", 1);
        }
        SimFormatChange(before, after, &block);
        if (result == SIM_OK && block.failed) {
            result = SIM_ERROR_NOT_ENOUGH_MEMORY;
        }
        if (result == SIM_OK && size > state->applied) {
            result = SimTruncate(&file, state->applied);
        }
        if (result == SIM_OK) {
            result = SimAppendDurably(&file, block.data, block.size);
            if (result != SIM_OK) {
                SimTruncate(&file, state->applied);
            }
        }
        if (result == SIM_OK) {
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
    if (result == SIM_OK) {
        result = session.Catch(state);
    }
    SimDevice* device = result == SIM_OK ? SimFindDevice(state, name) : nullptr;
    if (result == SIM_OK && device == nullptr) {
        result = SIM_ERROR_DEVICE_NOT_EXIST;
    }
    SimDevice changed;
    if (result == SIM_OK) {
        changed = *device;
        result = change(state, &changed, context);
    }
    if (result != SIM_OK || memcmp(&changed, device, sizeof(changed)) == 0) {
        session.Close();
        return result;
    }
    SimDevice original = *device;
    if (WantsRewrite(session, state)) {
        *device = changed;
        result = session.Rewrite(state);
        if (result != SIM_OK) {
            *device = original;
        }
    } else {
        result = session.Append(state, device, &changed);
        if (result == SIM_OK) {
            *device = changed;
        }
    }
    session.Close();
    return result;
}

uint32_t SimCommitState(SimState* state, SimStateChange change, void* context)
{
    Session session;
    uint32_t result = session.Open();
    if (result == SIM_OK) {
        result = session.Catch(state);
    }
    if (result == SIM_OK) {
        result = change(state, context);
    }
    if (result == SIM_OK) {
        result = session.Rewrite(state);
    }
    session.Close();
    return result;
}
