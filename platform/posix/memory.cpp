// Interlocked increment and decrement: full-barrier atomic operations.
#include <windows.h>

// Both wrap around at the ends of the 32-bit range as the Win32 originals do.
LONG WINAPI InterlockedIncrement(LONG volatile* addend) {
    return __atomic_add_fetch(addend, 1, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedDecrement(LONG volatile* addend) {
    return __atomic_sub_fetch(addend, 1, __ATOMIC_SEQ_CST);
}
