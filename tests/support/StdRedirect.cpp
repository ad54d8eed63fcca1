// Redirects standard descriptors of the test process for a while (see StdRedirect.h).
#include "tests/support/StdRedirect.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "platform/posix/ConsoleSeam.h"

ScopedRedirect::ScopedRedirect(int target, int source) : target(target)
{
    fflush(nullptr);
    saved = fcntl(target, F_DUPFD_CLOEXEC, 10);
    dup2(source, target);
    ForgetConsoleAnswersForTesting();
}

ScopedRedirect::ScopedRedirect(int target, Closed) : target(target)
{
    fflush(nullptr);
    saved = fcntl(target, F_DUPFD_CLOEXEC, 10);
    close(target);
    ForgetConsoleAnswersForTesting();
}

ScopedRedirect::~ScopedRedirect()
{
    fflush(nullptr);
    if (saved < 0) {
        close(target);
    } else {
        dup2(saved, target);
        close(saved);
    }
    ForgetConsoleAnswersForTesting();
}

TempFile::TempFile(const std::string& contents)
{
    char name[] = "/tmp/ringwarden-test-XXXXXX";
    fd = mkstemp(name);
    path = name;
    if (fd >= 0) {
        ssize_t ignored = write(fd, contents.data(), contents.size());
        (void)ignored;
        lseek(fd, 0, SEEK_SET);
    }
}

TempFile::~TempFile()
{
    if (fd >= 0) {
        close(fd);
    }
    unlink(path.c_str());
}

std::string TempFile::Contents() const
{
    std::string contents;
    char buffer[4096];
    ssize_t n;
    off_t offset = 0;
    while ((n = pread(fd, buffer, sizeof(buffer), offset)) > 0) {
        contents.append(buffer, static_cast<size_t>(n));
        offset += n;
    }
    return contents;
}
