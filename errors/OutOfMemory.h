// The allocation-failure handler, and a test seam that makes an allocation fail.
#pragma once

#include <stddef.h>

#include <windows.h>

// Called with the requested size whenever the program's operator new finds no
// memory. Never returns: it throws a ClMemException* naming the size. When
// even that object cannot be built, it throws one of a few objects made in
// advance, whose text names no size; it never throws a null pointer.
[[noreturn]] int OnOutOfMemory(size_t size);

// How long a planned allocation failure lasts.
enum class AllocationFailure {
    Once,        // Only the chosen allocation fails.
    Persistent,  // It and every later one fail until CancelAllocationFailure.
};

// Makes the nth allocation from now (1 = the very next one) fail, as if the
// heap were exhausted, on whichever thread makes it. For tests.
void FailAllocationAfter(DWORD n, AllocationFailure mode = AllocationFailure::Once);
void CancelAllocationFailure();
// Whether the allocation chosen by the last FailAllocationAfter has come and
// failed; false again after the next FailAllocationAfter.
bool PlannedAllocationFailed();
