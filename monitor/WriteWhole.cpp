// WriteWhole: check_ringwarden's one way to write a buffer whole to a file descriptor.
#include "monitor/WriteWhole.h"

#include <errno.h>
#include <unistd.h>

int WriteWhole(int handle, const char* text, size_t length)
{
    while (length > 0) {
        const ssize_t written = write(handle, text, length);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0) {
            return errno;
        }
        if (written == 0) {
            return ENOSPC;
        }
        text += written;
        length -= static_cast<size_t>(written);
    }
    return 0;
}
