// The program built for the allocation-failure sweep: its first argument chooses the allocation that fails.
//
// Usage: ringwarden_alloc_sweep N once|persistent [the program's arguments]
// With N = 0 nothing fails. Otherwise the Nth allocation from the program's
// start fails, alone (once) or with every later one (persistent). The last
// line on standard error says whether that allocation came. The shipped
// program has no such argument and reads no environment for it: this is a
// separate executable of the test build.
#include <windows.h>

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "errors/OutOfMemory.h"
#include "platform/posix/ProgramStart.h"

namespace {

void Say(const char* text) {
    ssize_t ignored = write(2, text, strlen(text));
    (void)ignored;
}

// A run that fails after SuprvInitialize never reaches SuprvDeInitialize, by
// design, so the simulated supervisor's state is still allocated at exit.
// Holding the library open here keeps that state reachable through the
// library's globals after the program frees it, so a leak check reports the
// program's own leaks only.
void HoldSupervisorLibrary() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0) {
        return;
    }
    path[length] = '\0';
    char* slash = strrchr(path, '/');
    const char kLibrary[] = "/librasapi32.so";
    if (slash == nullptr || static_cast<size_t>(slash - path) + sizeof(kLibrary) > sizeof(path)) {
        return;
    }
    memcpy(slash, kLibrary, sizeof(kLibrary));
    dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        Say("usage: ringwarden_alloc_sweep N once|persistent [arguments]\n");
        return 2;
    }
    const DWORD failing = static_cast<DWORD>(strtoul(argv[1], nullptr, 10));
    const AllocationFailure mode =
        strcmp(argv[2], "persistent") == 0 ? AllocationFailure::Persistent : AllocationFailure::Once;
    HoldSupervisorLibrary();
    if (failing != 0) {
        FailAllocationAfter(failing, mode);
    }
    // The program sees itself started with the arguments after the two of the sweep.
    argv[2] = argv[0];
    const int result = StartProgram(argc - 2, argv + 2);
    const bool failed = PlannedAllocationFailed();
    CancelAllocationFailure();
    Say(failed ? "\nsweep: the planned allocation failed\n" : "\nsweep: the planned allocation never came\n");
    return result;
}
