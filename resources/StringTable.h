// The string table compiled into the program on targets without resources.
#pragma once

struct StringTableEntry {
    unsigned short id;
    unsigned short length;  // Characters, the terminator not counted.
    const char* text;
};

// Sorted by id, so a lookup can bisect.
extern const StringTableEntry g_stringTable[];
extern const unsigned g_stringTableSize;
