// Points a standard descriptor of the test process at a file, a pipe or nothing, and back again.
#pragma once

#include <string>

// For the lifetime of the object, descriptor `target` (0, 1 or 2) refers to
// what `source` refers to, or is closed. Standard output is flushed first, so
// that nothing the test printed lands in the redirected place. Check results
// after the object is gone: a failure message printed meanwhile would be lost.
class ScopedRedirect {
public:
    enum Closed { kClosed };
    ScopedRedirect(int target, int source);
    ScopedRedirect(int target, Closed);
    ~ScopedRedirect();

    ScopedRedirect(const ScopedRedirect&) = delete;
    ScopedRedirect& operator=(const ScopedRedirect&) = delete;

private:
    int target;
    int saved;
};

// A temporary file holding `contents`, open for reading and writing at its
// start, removed when the object is gone.
class TempFile {
public:
    explicit TempFile(const std::string& contents = "");
    ~TempFile();
    int Fd() const { return fd; }
    // Everything the file holds now.
    std::string Contents() const;

    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

private:
    int fd;
    std::string path;
};
