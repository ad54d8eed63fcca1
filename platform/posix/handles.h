// How the stand-in's file handles carry a descriptor, and how they differ from its object handles.
#pragma once

#include <windows.h>

#include <limits.h>
#include <stdint.h>

// A file handle is the descriptor shifted left by two with the two low bits
// set: descriptors 0, 1 and 2 give 3, 7 and 11, the values console handles
// have on Windows. So descriptor 0 is never the null handle, no descriptor is
// INVALID_HANDLE_VALUE, and no file handle can be mistaken for an object
// handle (a heap address, aligned to at least four bytes).
inline HANDLE HandleFromDescriptor(int fd)
{
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd) * 4 + 3);
}

// The descriptor of a file handle, or -1 when the handle is none.
inline int DescriptorFromHandle(HANDLE handle)
{
    intptr_t value = reinterpret_cast<intptr_t>(handle);
    if (value <= 0 || (value & 3) != 3 || value / 4 > INT_MAX) {
        return -1;
    }
    return static_cast<int>(value / 4);
}
