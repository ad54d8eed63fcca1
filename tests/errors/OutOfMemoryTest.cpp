// Tests of the replacement operator new, the allocation-failure handler and its last resort.
#include <stdint.h>
#include <unistd.h>

#include <new>
#include <string>

#include <gtest/gtest.h>

#include "errors/ClException.h"
#include "errors/OutOfMemory.h"

namespace {

// Runs action, expecting it to throw a ClMemException*; returns its text.
template <class Action>
std::string MemoryFailureText(Action action) {
    try {
        action();
    } catch (ClException* failure) {
        CancelAllocationFailure();
        EXPECT_NE(nullptr, dynamic_cast<ClMemException*>(failure));
        std::string text = failure->message.GetText();
        delete failure;
        return text;
    }
    CancelAllocationFailure();
    return "(nothing thrown)";
}

struct alignas(64) Wide {
    char bytes[64];
};

// The optimiser may drop a new whose result nobody reads; keeping the
// pointer in a volatile makes every allocation real.
void NewAndDeleteArray(size_t size) {
    char* volatile kept = new char[size];
    delete[] kept;
}

template <class T>
void NewAndDelete() {
    T* volatile kept = new T;
    delete kept;
}

TEST(OutOfMemory, FailedNewThrowsTheSizeItAskedFor) {
    FailAllocationAfter(1);
    EXPECT_EQ("Not enough memory\n\nUnable allocate 123 bytes", MemoryFailureText([] { NewAndDeleteArray(123); }));
    FailAllocationAfter(1);
    EXPECT_EQ("Not enough memory\n\nUnable allocate 64 bytes", MemoryFailureText([] { NewAndDelete<Wide>(); }));
}

TEST(OutOfMemory, TheNthAllocationFromNowFails) {
    FailAllocationAfter(3);
    char* volatile first = new char[1];
    char* volatile second = new char[1];
    EXPECT_EQ("Not enough memory\n\nUnable allocate 7 bytes", MemoryFailureText([] { NewAndDeleteArray(7); }));
    char* volatile after = new char[1];
    delete[] first;
    delete[] second;
    delete[] after;
}

TEST(OutOfMemory, NothrowFormsReturnNull) {
    FailAllocationAfter(1);
    EXPECT_EQ(nullptr, new (std::nothrow) char[10]);
    FailAllocationAfter(1);
    EXPECT_EQ(nullptr, new (std::nothrow) Wide);
    CancelAllocationFailure();
    Wide* wide = new (std::nothrow) Wide;
    ASSERT_NE(nullptr, wide);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(wide) % 64);
    delete wide;
}

TEST(OutOfMemory, WhenNothingCanBeAllocatedAnObjectMadeInAdvanceIsThrown) {
    // More rounds than there are objects in reserve: each one comes back
    // when its catcher deletes it.
    for (int round = 0; round < 10; ++round) {
        FailAllocationAfter(1, AllocationFailure::Persistent);
        EXPECT_EQ("Not enough memory", MemoryFailureText([] { NewAndDeleteArray(50); }));
    }
}

TEST(OutOfMemory, HeldReserveObjectsStayIntact) {
    ClException* held[3] = {};
    for (ClException*& slot : held) {
        FailAllocationAfter(1, AllocationFailure::Persistent);
        try {
            NewAndDeleteArray(8);
        } catch (ClException* failure) {
            slot = failure;
        }
        CancelAllocationFailure();
    }
    for (ClException* failure : held) {
        ASSERT_NE(nullptr, failure);
        EXPECT_STREQ("Not enough memory", failure->message.GetText());
    }
    EXPECT_NE(held[0], held[1]);
    for (ClException* failure : held) {
        delete failure;
    }
}

TEST(OutOfMemoryDeathTest, ExhaustedReserveEndsTheProcessInsteadOfThrowingNull) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            for (int i = 0; i < 100; ++i) {
                FailAllocationAfter(1, AllocationFailure::Persistent);
                try {
                    NewAndDeleteArray(8);
                } catch (ClException* failure) {
                    if (failure == nullptr) {
                        _exit(3);
                    }
                }
            }
            CancelAllocationFailure();
        },
        "");
}

}  // namespace
