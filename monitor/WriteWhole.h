// WriteWhole: check_ringwarden's one way to write a buffer whole to a file descriptor.
#pragma once

#include <stddef.h>

#include <string>

// Writes all `length` bytes of `text`, resuming after an interrupted or
// partial write. Returns 0, or the errno of the write that failed (ENOSPC
// for one that wrote nothing). Makes only async-signal-safe calls, so a
// signal handler may use it.
int WriteWhole(int handle, const char* text, size_t length);

inline int WriteWhole(int handle, const std::string& text)
{
    return WriteWhole(handle, text.data(), text.size());
}
