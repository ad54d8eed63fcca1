// The files of a dial-in server as the library reads them: paths under the root, text line by line, error numbers.
//
// Written without exceptions, the C++ library or operator new, so the
// supervisor library links against the C library alone.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "mgetty/MgTrust.h"
#include "supervisor/SupervisorErrors.h"

// The error number a failed system call's errno stands for.
uint32_t MgErrorFromErrno(int error);

enum : uint32_t {
    MG_PATH_SIZE = 4096,
    // A logical line of a configuration file keeps at most this many bytes,
    // terminator included; the rest of a longer one is dropped.
    MG_TEXT_LINE_SIZE = 4096,
};

// Every path the library reads or writes lies under the root: the folder
// named by SUPRV_ROOT where it is set, else "/". A root of "" or "/" adds
// nothing to a path. Run by root, the library takes only a root folder that
// nothing but root may change, on the whole way from "/"; and a run starts.
uint32_t MgSetRoot(const char* root);
// The root followed by the formatted absolute path, into `out` of
// MG_PATH_SIZE bytes; false when it does not fit.
bool MgPath(char* out, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A text file read in pieces, one logical line at a time, so that a file of
// any size takes the same memory: lines ending in a backslash are joined
// with the next, as mgetty joins them, and a line longer than
// MG_TEXT_LINE_SIZE keeps only its beginning.
struct MgTextFile {
    int handle;
    uint32_t error;  // Why the file could not be opened or read on; SUPRV_OK.
    size_t start;
    size_t end;
    bool atEnd;
    char piece[8192];
    char line[MG_TEXT_LINE_SIZE];
    size_t length;
};

// Opens a file under the root by its full path, trusted as `kind` says;
// false with `error` set when it cannot be read. A folder cannot be read.
bool MgOpenText(MgTextFile* file, const char* path, MgTrust kind);
// The next logical line into `line`, without its line break; false at the
// end of the file, or when reading fails (with `error` set).
bool MgNextLine(MgTextFile* file);
void MgCloseText(MgTextFile* file);

// Reads the start of a small file (a process's stat or status) into `out`,
// zero-terminated, by its path from an open folder, never through a link at
// its end; the byte count, or -1 with errno set.
long MgReadSmallAt(int folder, const char* path, char* out, size_t size);

// The next whitespace-separated word at `*cursor`, with its length; null at
// the end of the text. `*cursor` moves past the word.
const char* MgNextWord(const char** cursor, size_t* length);
bool MgWordIs(const char* word, size_t length, const char* text);
