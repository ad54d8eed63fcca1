// Where the simulated supervisor's state file lives, and the durable file operations it needs.
//
// The one part of the simulator written per platform. Every function returns
// an error number of supervisor/SupervisorErrors.h.
#pragma once

#include "simulator/SimState.h"

#include <stdint.h>

struct SimFile {
    intptr_t handle;
};

// The state file's path, zero-terminated, in `path`: the one named by the
// environment, else the user's state folder. SUPRV_ERROR_BAD_PATH when there is none.
uint32_t SimStatePath(SimBuffer* path);

// Opens the state file for reading alone, without the lock; SUPRV_ERROR_FILE_NOT_FOUND
// when it does not exist.
uint32_t SimOpenForReading(const char* path, SimFile* file);

// Takes the exclusive lock that every writer of the state file holds, on a
// lock file beside it (so that renaming the state file never moves the lock).
// Creates the folder when needed. Blocks until the lock is free.
uint32_t SimLockExclusive(const char* path, SimFile* lock);
void SimUnlock(SimFile* lock);

// With the lock held: open the state file for appending, read, cut back, append.
uint32_t SimOpenExisting(const char* path, SimFile* file, uint64_t* size);
// Reads `count` bytes at `offset`, fewer only where the file ends; from a
// file opened either way.
uint32_t SimReadAt(SimFile* file, uint64_t offset, char* buffer, size_t count, size_t* got);
uint32_t SimTruncate(SimFile* file, uint64_t size);
// Writes all bytes at the end of the file and flushes them to the disk.
uint32_t SimAppendDurably(SimFile* file, const char* data, size_t size);
void SimClose(SimFile* file);

// Replaces the file as a whole: a temporary file in the same folder, written,
// flushed and renamed over the state file, so a reader sees either the old
// or the new content, never a mix.
uint32_t SimReplaceDurably(const char* path, const char* data, size_t size);

// Creates every missing folder above the file at `path`.
uint32_t SimMakeParents(const char* path);
// The path of a file beside the state file at `path`: `path` and `suffix`,
// zero-terminated, in `out`, with the folders above it made. The caller frees
// `out`, also on failure.
uint32_t SimPathBeside(const char* path, const char* suffix, SimBuffer* out);
// The same for the temporary file that a replace writes, named after the process.
uint32_t SimTemporaryBeside(const char* path, uint32_t processId, SimBuffer* out);

// A value that differs from process to process and from moment to moment:
// the clock and the process id, not yet mixed. The generation marks of
// rewritten state files are made from it.
uint64_t SimUniqueSeed();
