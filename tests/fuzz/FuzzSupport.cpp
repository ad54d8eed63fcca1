// The fuzz targets' shared set-up (see FuzzSupport.h).
#include "tests/fuzz/FuzzSupport.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <windows.h>

#include "base/Resources.h"
#include "platform/posix/MessagesSeam.h"

// A supervisor that announces a record of gigabytes makes the program ask
// for that much; past this size the allocator answers with no memory, as an
// exhausted heap would, and the program's out-of-memory path is what runs.
extern "C" const char* __asan_default_options() {
    return "max_allocation_size_mb=64:allocator_may_return_null=1";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const int nowhere = open("/dev/null", O_WRONLY);
    if (nowhere >= 0) {
        dup2(nowhere, 1);
        close(nowhere);
    }
    SetMessageBoxHook([](HWND, const char*, const char*, UINT) { return IDOK; });
    SetMessageBeepHook([](UINT) {});
    g_hInstance = GetModuleHandleA(nullptr);
    return 0;
}

void Require(bool holds, const char* property) {
    if (holds) {
        return;
    }
    fprintf(stderr, "property broken: %s\n", property);
    abort();
}
