// LoadStringA over the string table compiled into the program.
#include <string.h>

#include "platform/posix/ResourcesSeam.h"
#include "platform/posix/private.h"

namespace {

// A table set by a test, or null for the program's. Loads can run during
// static initialisation, so nothing here may wait for a dynamic initialiser.
const StringTableEntry* g_testTable = nullptr;
unsigned g_testTableSize = 0;

const StringTableEntry* FindEntry(UINT id) {
    const StringTableEntry* table = g_testTable != nullptr ? g_testTable : g_stringTable;
    unsigned low = 0;
    unsigned high = g_testTable != nullptr ? g_testTableSize : g_stringTableSize;
    while (low < high) {
        const unsigned middle = low + (high - low) / 2;
        if (table[middle].id == id) {
            return &table[middle];
        }
        if (table[middle].id < id) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return nullptr;
}

}  // namespace

void UseStringTableForTesting(const StringTableEntry* table, unsigned size) {
    g_testTable = table;
    g_testTableSize = size;
}

// Only the program's own module holds the table; a null instance means that
// module, as on Windows. The entry is cut to bufferMax - 1 characters and
// always terminated. A bufferMax below 1 has no room even for the terminator:
// the call writes nothing and returns 0 (the read-only-pointer form of the
// wide-character loader has no counterpart here).
int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferMax) {
    if (buffer == nullptr || bufferMax < 1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    buffer[0] = '\0';
    if (instance != nullptr && instance != MainModuleHandle()) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    const StringTableEntry* entry = id <= 0xFFFF ? FindEntry(id) : nullptr;
    if (entry == nullptr) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    const unsigned count = entry->length < static_cast<unsigned>(bufferMax - 1)
                               ? entry->length
                               : static_cast<unsigned>(bufferMax - 1);
    memcpy(buffer, entry->text, count);
    buffer[count] = '\0';
    return static_cast<int>(count);
}
