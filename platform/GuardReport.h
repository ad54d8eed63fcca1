// Where a crash report's frame chain starts after a fault inside a guarded call.
#pragma once

#include <stdint.h>

// The faulting code's frame chain is kept when it leads up to the guard's
// frame (whose frame pointer slot holds the caller's); otherwise, in code
// that uses the frame pointer register as it likes, the walk starts at the
// guard, in the program's own frames. Only words between the stack pointer
// and the guard's frame are read, which the thread's stack holds.
// The walk reads raw stack words, the sanitizer's red zones between the
// faulting code's locals included, so it is not instrumented.
__attribute__((no_sanitize("address"))) inline uintptr_t FrameToReport(uintptr_t framePointer, uintptr_t stackPointer, uintptr_t guardFrame) {
    const unsigned kChainSteps = 1u << 20;
    uintptr_t frame = framePointer;
    for (unsigned step = 0; step < kChainSteps && frame >= stackPointer && frame < guardFrame; ++step) {
        uintptr_t next = *reinterpret_cast<const uintptr_t*>(frame);
        if (next <= frame) {
            break;
        }
        frame = next;
    }
    return frame == guardFrame ? framePointer : guardFrame;
}
