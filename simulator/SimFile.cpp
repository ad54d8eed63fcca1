// The state file's operations that every platform shares: the names of the files kept beside it.
#include "simulator/SimFile.h"

#include <string.h>

uint32_t SimPathBeside(const char* path, const char* suffix, SimBuffer* out)
{
    out->size = 0;
    SimBufferAppendText(out, path);
    SimBufferAppendText(out, suffix);
    SimBufferAppend(out, "", 1);
    if (out->failed) {
        return SUPRV_ERROR_NOT_ENOUGH_MEMORY;
    }
    return SimMakeParents(path);
}

uint32_t SimTemporaryBeside(const char* path, uint32_t processId, SimBuffer* out)
{
    char suffix[32] = ".tmp.";
    SimFormatUnsigned(suffix + strlen(suffix), processId);
    return SimPathBeside(path, suffix, out);
}
