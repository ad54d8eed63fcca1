// The simulated supervisor's device store: compact devices, their texts in one arena, look-up by name.
//
// A device costs its numbers, its texts with their terminators and a few
// bytes of index, not the width of the record's fields: many devices with
// short texts take little memory.
#include "simulator/SimState.h"

#include <stdlib.h>
#include <string.h>

void SimStateInit(SimState* state)
{
    memset(state, 0, sizeof(*state));
}

void SimStateFree(SimState* state)
{
    free(state->devices);
    free(state->texts);
    free(state->index);
    SimStateInit(state);
}

void SimStateMove(SimState* to, SimState* from)
{
    SimStateFree(to);
    *to = *from;
    SimStateInit(from);
}

uint32_t SimHashName(const char* name)
{
    uint32_t hash = 2166136261u;
    for (; *name != 0; ++name) {
        hash = (hash ^ static_cast<unsigned char>(*name)) * 16777619u;
    }
    return hash;
}

void SimDeviceDefaults(SimDevice* device)
{
    memset(device, 0, sizeof(*device));
    device->speed = 57600;
    device->status = 0;
}

// ---- The texts ----

namespace {

// A text field of SimDevice: where it lies and how wide it is.
struct TextField {
    size_t offset;
    size_t size;
};

}  // namespace

// In the order the arena keeps them, the name first.
static const TextField textFields[] = {
    {offsetof(SimDevice, name), SIM_NAME_SIZE},     {offsetof(SimDevice, type), SIM_TYPE_SIZE},
    {offsetof(SimDevice, server), SIM_SERVER_SIZE}, {offsetof(SimDevice, port), SIM_PORT_SIZE},
    {offsetof(SimDevice, user), SIM_USER_SIZE},     {offsetof(SimDevice, comment), SIM_COMMENT_SIZE},
};

// The most the texts of one device take in the arena: every field full.
static const size_t mostTextBytes =
    SIM_NAME_SIZE + SIM_TYPE_SIZE + SIM_SERVER_SIZE + SIM_PORT_SIZE + SIM_USER_SIZE + SIM_COMMENT_SIZE;

static const char* FieldOf(const SimDevice* device, const TextField& field)
{
    return reinterpret_cast<const char*>(device) + field.offset;
}

// A field's text runs to its terminator, or to the field's last byte should
// a change have left none there.
static size_t FieldLength(const char* text, size_t size)
{
    const char* end = static_cast<const char*>(memchr(text, 0, size));
    return end != nullptr ? static_cast<size_t>(end - text) : size - 1;
}

static const char* TextsOf(const SimState* state, uint32_t position)
{
    return state->texts + state->devices[position].texts;
}

static uint32_t StoredSize(const char* texts)
{
    const char* end = texts;
    for (size_t i = 0; i < sizeof(textFields) / sizeof(textFields[0]); ++i) {
        end += strlen(end) + 1;
    }
    return static_cast<uint32_t>(end - texts);
}

static bool SameTexts(const char* texts, const SimDevice* device)
{
    for (const TextField& field : textFields) {
        const char* text = FieldOf(device, field);
        size_t length = FieldLength(text, field.size);
        if (strncmp(texts, text, length) != 0 || texts[length] != 0) {
            return false;
        }
        texts += length + 1;
    }
    return true;
}

// Makes room for the texts of one more device; offsets must fit in 32 bits.
static uint32_t ReserveTexts(SimState* state)
{
    uint64_t needed = static_cast<uint64_t>(state->textSize) + mostTextBytes;
    if (needed <= state->textCapacity) {
        return SUPRV_OK;
    }
    if (needed > 0xFFFFFFFFu) {
        return SUPRV_ERROR_NOT_ENOUGH_MEMORY;
    }
    uint64_t capacity = state->textCapacity < 1024 ? 1024 : state->textCapacity;
    while (capacity < needed) {
        capacity *= 2;
    }
    if (capacity > 0xFFFFFFFFu) {
        capacity = 0xFFFFFFFFu;
    }
    char* grown = static_cast<char*>(realloc(state->texts, static_cast<size_t>(capacity)));
    if (grown == nullptr) {
        return SUPRV_ERROR_NOT_ENOUGH_MEMORY;
    }
    state->texts = grown;
    state->textCapacity = static_cast<uint32_t>(capacity);
    return SUPRV_OK;
}

// Appends the texts of `device` after ReserveTexts, and gives their offset.
static uint32_t AppendTexts(SimState* state, const SimDevice* device)
{
    uint32_t offset = state->textSize;
    char* out = state->texts + offset;
    for (const TextField& field : textFields) {
        const char* text = FieldOf(device, field);
        size_t length = FieldLength(text, field.size);
        memcpy(out, text, length);
        out[length] = 0;
        out += length + 1;
    }
    state->textSize = static_cast<uint32_t>(out - state->texts);
    return offset;
}

// Moves the live texts into an arena of their own, with room for the texts
// of one more device, and leaves the waste behind.
static uint32_t CompactTexts(SimState* state)
{
    uint64_t capacity = static_cast<uint64_t>(state->textSize - state->textWaste) + mostTextBytes;
    if (capacity > 0xFFFFFFFFu) {
        return SUPRV_ERROR_NOT_ENOUGH_MEMORY;
    }
    char* texts = static_cast<char*>(malloc(static_cast<size_t>(capacity)));
    if (texts == nullptr) {
        return SUPRV_ERROR_NOT_ENOUGH_MEMORY;
    }
    uint32_t size = 0;
    for (uint32_t i = 0; i < state->count; ++i) {
        const char* from = TextsOf(state, i);
        uint32_t length = StoredSize(from);
        memcpy(texts + size, from, length);
        state->devices[i].texts = size;
        size += length;
    }
    free(state->texts);
    state->texts = texts;
    state->textSize = size;
    state->textCapacity = static_cast<uint32_t>(capacity);
    state->textWaste = 0;
    return SUPRV_OK;
}

// ---- The devices ----

static void IndexInsert(uint32_t* index, uint32_t indexSize, const char* name, uint32_t position)
{
    uint32_t slot = SimHashName(name) & (indexSize - 1);
    while (index[slot] != 0) {
        slot = (slot + 1) & (indexSize - 1);
    }
    index[slot] = position + 1;
}

static uint32_t Reindex(SimState* state, uint32_t wanted)
{
    uint32_t size = 16;
    while (size < wanted * 2) {
        size *= 2;
    }
    uint32_t* index = static_cast<uint32_t*>(calloc(size, sizeof(uint32_t)));
    if (index == nullptr) {
        return SUPRV_ERROR_NOT_ENOUGH_MEMORY;
    }
    for (uint32_t i = 0; i < state->count; ++i) {
        IndexInsert(index, size, SimDeviceName(state, i), i);
    }
    free(state->index);
    state->index = index;
    state->indexSize = size;
    return SUPRV_OK;
}

const char* SimDeviceName(const SimState* state, uint32_t position)
{
    return TextsOf(state, position);
}

uint32_t SimFindDevice(const SimState* state, const char* name)
{
    if (state->indexSize == 0) {
        return SIM_NO_DEVICE;
    }
    uint32_t slot = SimHashName(name) & (state->indexSize - 1);
    while (state->index[slot] != 0) {
        uint32_t position = state->index[slot] - 1;
        if (strcmp(SimDeviceName(state, position), name) == 0) {
            return position;
        }
        slot = (slot + 1) & (state->indexSize - 1);
    }
    return SIM_NO_DEVICE;
}

void SimGetDevice(const SimState* state, uint32_t position, SimDevice* device)
{
    memset(device, 0, sizeof(*device));
    const SimEntry* entry = &state->devices[position];
    const char* text = state->texts + entry->texts;
    for (const TextField& field : textFields) {
        // Every text came from a field as wide, so it fits with its terminator.
        size_t length = strlen(text);
        memcpy(reinterpret_cast<char*>(device) + field.offset, text, length);
        text += length + 1;
    }
    device->flags = entry->flags;
    device->speed = entry->speed;
    device->status = entry->status;
    device->callStart = entry->callStart;
}

uint32_t SimAddDevice(SimState* state, const SimDevice* device)
{
    if (device->name[0] == 0 || SimFindDevice(state, device->name) != SIM_NO_DEVICE) {
        return SUPRV_ERROR_INVALID_DATA;
    }
    if (state->count == state->capacity) {
        uint32_t capacity = state->capacity == 0 ? 8 : state->capacity * 2;
        void* grown = realloc(state->devices, static_cast<size_t>(capacity) * sizeof(SimEntry));
        if (grown == nullptr) {
            return SUPRV_ERROR_NOT_ENOUGH_MEMORY;
        }
        state->devices = static_cast<SimEntry*>(grown);
        state->capacity = capacity;
    }
    uint32_t result = ReserveTexts(state);
    if (result == SUPRV_OK && (state->count + 1) * 2 > state->indexSize) {
        result = Reindex(state, state->count + 1);
    }
    if (result != SUPRV_OK) {
        return result;
    }
    SimEntry* entry = &state->devices[state->count];
    entry->texts = AppendTexts(state, device);
    entry->flags = device->flags;
    entry->speed = device->speed;
    entry->status = device->status;
    entry->callStart = device->callStart;
    IndexInsert(state->index, state->indexSize, SimDeviceName(state, state->count), state->count);
    ++state->count;
    return SUPRV_OK;
}

uint32_t SimPutDevice(SimState* state, uint32_t position, const SimDevice* device, SimEntry* replaced)
{
    if (strncmp(device->name, SimDeviceName(state, position), SIM_NAME_SIZE) != 0) {
        return SUPRV_ERROR_INVALID_PARAMETER;  // The index finds the device by its name.
    }
    bool sameTexts = SameTexts(TextsOf(state, position), device);
    if (!sameTexts) {
        // Compacting once the waste outgrows the live texts keeps the cost
        // of a change constant on average.
        uint32_t result = state->textWaste > state->textSize / 2 ? CompactTexts(state) : ReserveTexts(state);
        if (result != SUPRV_OK) {
            return result;
        }
    }
    SimEntry* entry = &state->devices[position];
    *replaced = *entry;
    if (!sameTexts) {
        state->textWaste += StoredSize(TextsOf(state, position));
        entry->texts = AppendTexts(state, device);
    }
    entry->flags = device->flags;
    entry->speed = device->speed;
    entry->status = device->status;
    entry->callStart = device->callStart;
    return SUPRV_OK;
}

void SimRestoreDevice(SimState* state, uint32_t position, const SimEntry* replaced)
{
    SimEntry* entry = &state->devices[position];
    if (entry->texts != replaced->texts) {
        state->textWaste += StoredSize(TextsOf(state, position));
        state->textWaste -= StoredSize(state->texts + replaced->texts);
    }
    *entry = *replaced;
}
