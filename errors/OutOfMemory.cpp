// The program's operator new and delete, the allocation-failure handler and its test seam.
#include "errors/OutOfMemory.h"

#include <stdint.h>
#include <stdlib.h>

#include <atomic>
#include <exception>
#include <new>

#include "base/Resources.h"
#include "errors/ClException.h"

namespace {

// Planned failures (FailAllocationAfter): allocations still to go before the
// chosen one, 0 when none is planned, and whether failing goes on after it.
std::atomic<DWORD> g_countdown{0};
std::atomic<bool> g_persistent{false};
std::atomic<bool> g_failingAll{false};
std::atomic<bool> g_plannedFailed{false};

bool PlannedFailure() {
    if (g_failingAll.load(std::memory_order_relaxed)) {
        return true;
    }
    DWORD remaining = g_countdown.load(std::memory_order_relaxed);
    while (remaining != 0) {
        if (g_countdown.compare_exchange_weak(remaining, remaining - 1)) {
            if (remaining != 1) {
                return false;
            }
            g_failingAll.store(g_persistent.load());
            g_plannedFailed.store(true);
            return true;
        }
    }
    return false;
}

void* AllocateRaw(size_t size) {
    if (PlannedFailure()) {
        return nullptr;
    }
    return malloc(size != 0 ? size : 1);
}

// Over-aligned blocks keep the address malloc gave just in front of the
// address handed out, so the matching delete can find it. Written with plain
// malloc so it works the same on every target.
void* AllocateAligned(size_t size, std::align_val_t alignment) {
    const size_t align = static_cast<size_t>(alignment);
    const size_t extra = align + sizeof(void*);
    if (size > SIZE_MAX - extra) {
        return nullptr;
    }
    void* raw = AllocateRaw(size + extra);
    if (raw == nullptr) {
        return nullptr;
    }
    const uintptr_t start = reinterpret_cast<uintptr_t>(raw) + sizeof(void*);
    void** aligned = reinterpret_cast<void**>((start + align - 1) & ~(uintptr_t)(align - 1));
    aligned[-1] = raw;
    return aligned;
}

void FreeAligned(void* memory) {
    if (memory != nullptr) {
        free(static_cast<void**>(memory)[-1]);
    }
}

// The failure objects made in advance for when memory is gone. Each is built
// on demand in its own slot from a text made at start-up, which takes no
// allocation; deleting it gives the slot back.
const int kEmergencyCount = 4;
alignas(ClMemException) unsigned char g_emergencySlots[kEmergencyCount][sizeof(ClMemException)];
std::atomic<bool> g_emergencyTaken[kEmergencyCount];
const ClString g_emergencyText(3020, nullptr);

int EmergencySlotOf(const void* memory) {
    for (int i = 0; i < kEmergencyCount; ++i) {
        if (memory == g_emergencySlots[i]) {
            return i;
        }
    }
    return -1;
}

ClMemException* TakeEmergencyObject() {
    for (int i = 0; i < kEmergencyCount; ++i) {
        bool expected = false;
        if (g_emergencyTaken[i].compare_exchange_strong(expected, true)) {
            return ::new (g_emergencySlots[i]) ClMemException(0, g_emergencyText);
        }
    }
    return nullptr;
}

// Allocations that fail while the handler builds its own object must not
// start the handler again.
thread_local int t_handlerDepth = 0;

}  // namespace

int OnOutOfMemory(size_t size) {
    if (t_handlerDepth > 0) {
        throw std::bad_alloc();
    }
    const DWORD shown = size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(size);
    ClMemException* failure = nullptr;
    ++t_handlerDepth;
    try {
        failure = new ClMemException(shown, ClString());
    } catch (...) {
        failure = nullptr;
    }
    --t_handlerDepth;
    if (failure == nullptr) {
        failure = TakeEmergencyObject();
    }
    if (failure == nullptr) {
        // Every object made in advance is still held by a catcher: there is
        // nothing left to throw.
        std::terminate();
    }
    throw failure;
}

void FailAllocationAfter(DWORD n, AllocationFailure mode) {
    g_failingAll.store(false);
    g_plannedFailed.store(false);
    g_persistent.store(mode == AllocationFailure::Persistent);
    g_countdown.store(n);
}

void CancelAllocationFailure() {
    g_countdown.store(0);
    g_failingAll.store(false);
}

bool PlannedAllocationFailed() {
    return g_plannedFailed.load();
}

// Kept out of line, so that the compiler pairs this new with the class's own
// delete and does not take the global new it calls for a mismatch.
__attribute__((noinline)) void* ClMemException::operator new(size_t size) {
    return ::operator new(size);
}

void ClMemException::operator delete(void* memory) noexcept {
    const int slot = EmergencySlotOf(memory);
    if (slot < 0) {
        ::operator delete(memory);
        return;
    }
    g_emergencyTaken[slot].store(false);
}

void ClMemException::operator delete(void* memory, size_t) noexcept {
    ClMemException::operator delete(memory);
}

// The replacement global allocation functions. Every failing throwing form
// goes to OnOutOfMemory with the size asked for; the nothrow forms return
// null instead.
void* operator new(size_t size) {
    void* memory = AllocateRaw(size);
    if (memory == nullptr) {
        OnOutOfMemory(size);
    }
    return memory;
}

void* operator new[](size_t size) {
    return operator new(size);
}

void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return AllocateRaw(size);
}

void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return AllocateRaw(size);
}

void* operator new(size_t size, std::align_val_t alignment) {
    void* memory = AllocateAligned(size, alignment);
    if (memory == nullptr) {
        OnOutOfMemory(size);
    }
    return memory;
}

void* operator new[](size_t size, std::align_val_t alignment) {
    return operator new(size, alignment);
}

void* operator new(size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return AllocateAligned(size, alignment);
}

void* operator new[](size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return AllocateAligned(size, alignment);
}

void operator delete(void* memory) noexcept {
    free(memory);
}

void operator delete[](void* memory) noexcept {
    free(memory);
}

void operator delete(void* memory, size_t) noexcept {
    free(memory);
}

void operator delete[](void* memory, size_t) noexcept {
    free(memory);
}

void operator delete(void* memory, const std::nothrow_t&) noexcept {
    free(memory);
}

void operator delete[](void* memory, const std::nothrow_t&) noexcept {
    free(memory);
}

void operator delete(void* memory, std::align_val_t) noexcept {
    FreeAligned(memory);
}

void operator delete[](void* memory, std::align_val_t) noexcept {
    FreeAligned(memory);
}

void operator delete(void* memory, size_t, std::align_val_t) noexcept {
    FreeAligned(memory);
}

void operator delete[](void* memory, size_t, std::align_val_t) noexcept {
    FreeAligned(memory);
}

void operator delete(void* memory, std::align_val_t, const std::nothrow_t&) noexcept {
    FreeAligned(memory);
}

void operator delete[](void* memory, std::align_val_t, const std::nothrow_t&) noexcept {
    FreeAligned(memory);
}
