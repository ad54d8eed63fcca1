// Interlocked increment and decrement: full-barrier atomic operations.
#include <windows.h>

namespace {

// Windows 95 returns only the sign of the new value, and the program runs on
// it too; so the stand-in does the same, and nothing can come to rely on more.
LONG SignOf(LONG value) {
    return value > 0 ? 1 : value < 0 ? -1 : 0;
}

}  // namespace

// Both wrap around at the ends of the 32-bit range as the Win32 originals do.
LONG WINAPI InterlockedIncrement(LONG volatile* addend) {
    return SignOf(__atomic_add_fetch(addend, 1, __ATOMIC_SEQ_CST));
}

LONG WINAPI InterlockedDecrement(LONG volatile* addend) {
    return SignOf(__atomic_sub_fetch(addend, 1, __ATOMIC_SEQ_CST));
}
