// Test seam of the string-table stand-in: lets a test load from a table of its own.
#pragma once

#include "resources/StringTable.h"

// From now on LoadStringA reads the given table (sorted by id) instead of the
// program's. A null table brings the program's table back.
void UseStringTableForTesting(const StringTableEntry* table, unsigned size);
