// Builds the table of resources/StringTable.inc for targets without resources.
#include "resources/StringTable.h"

const StringTableEntry g_stringTable[] = {
#define STRING_ENTRY(id, text) {id, sizeof(text) - 1, text},
#include "resources/StringTable.inc"
#undef STRING_ENTRY
};

const unsigned g_stringTableSize = sizeof(g_stringTable) / sizeof(g_stringTable[0]);
