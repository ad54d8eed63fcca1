// Processor faults become exceptions that unwind: every kind, repeatedly, at -O0 and at -O2.
#include "platform/FaultTranslator.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <fenv.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <thread>

namespace {

struct Fault {
    unsigned code;
    DWORD_PTR eip;
    DWORD_PTR ebp;
    DWORD_PTR esp;
};

int g_liveGuards = 0;

struct Guard {
    Guard() { ++g_liveGuards; }
    ~Guard() { --g_liveGuards; }
};

// Read at run time, so the compiler can neither fold nor flag the faults.
volatile uintptr_t g_badAddress = 16;
volatile int g_one = 1;
volatile int g_zero = 0;
volatile int g_result = 0;
volatile double g_floatOne = 1.0;
volatile double g_floatZero = 0.0;
volatile double g_floatResult = 0.0;
DWORD_PTR g_breakpointAddress = 0;
const void* volatile g_pastEndOfFile = nullptr;

void ThrowFault(unsigned code, EXCEPTION_POINTERS* pointers) {
    const CONTEXT& context = *pointers->ContextRecord;
    throw Fault{code, context.Eip, context.Ebp, context.Esp};
}

}  // namespace

// Recurse ends by overflowing the stack, on purpose.
#pragma GCC diagnostic ignored "-Winfinite-recursion"

#pragma GCC push_options
#pragma GCC optimize("O0")
namespace atO0 {
#include "tests/app/FaultBodies.inc"
}  // namespace atO0
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC optimize("O2")
namespace atO2 {
#include "tests/app/FaultBodies.inc"
}  // namespace atO2
#pragma GCC pop_options

namespace {

struct FaultCase {
    const char* name;
    void (*body)();
    unsigned code;
};

const FaultCase kCases[] = {
    {"WriteToBadAddress_O0", atO0::WriteToBadAddress, EXCEPTION_ACCESS_VIOLATION},
    {"WriteToBadAddress_O2", atO2::WriteToBadAddress, EXCEPTION_ACCESS_VIOLATION},
    {"DivideByZero_O0", atO0::DivideByZero, EXCEPTION_INT_DIVIDE_BY_ZERO},
    {"DivideByZero_O2", atO2::DivideByZero, EXCEPTION_INT_DIVIDE_BY_ZERO},
    {"DivideFloatByZero_O0", atO0::DivideFloatByZero, EXCEPTION_FLT_DIVIDE_BY_ZERO},
    {"DivideFloatByZero_O2", atO2::DivideFloatByZero, EXCEPTION_FLT_DIVIDE_BY_ZERO},
    {"ExecuteInvalidInstruction_O0", atO0::ExecuteInvalidInstruction, EXCEPTION_ILLEGAL_INSTRUCTION},
    {"ExecuteInvalidInstruction_O2", atO2::ExecuteInvalidInstruction, EXCEPTION_ILLEGAL_INSTRUCTION},
    {"HitBreakpoint_O0", atO0::HitBreakpoint, EXCEPTION_BREAKPOINT},
    {"HitBreakpoint_O2", atO2::HitBreakpoint, EXCEPTION_BREAKPOINT},
    {"ReadBeyondMappedFile_O0", atO0::ReadBeyondMappedFile, EXCEPTION_IN_PAGE_ERROR},
    {"ReadBeyondMappedFile_O2", atO2::ReadBeyondMappedFile, EXCEPTION_IN_PAGE_ERROR},
    {"OverflowStack_O0", atO0::OverflowStack, EXCEPTION_STACK_OVERFLOW},
    {"OverflowStack_O2", atO2::OverflowStack, EXCEPTION_STACK_OVERFLOW},
};

// Runs the body with ThrowFault installed; the code of the fault it raised,
// or 0 when it raised none.
Fault CatchFault(void (*body)()) {
    FaultTranslator previous = SetFaultTranslator(ThrowFault);
    Fault caught = {};
    try {
        body();
    } catch (const Fault& fault) {
        caught = fault;
    }
    SetFaultTranslator(previous);
    return caught;
}

class FaultKinds : public testing::TestWithParam<FaultCase> {
protected:
    // A shared mapping of an empty file: reading it raises SIGBUS.
    void SetUp() override {
        char path[] = "/tmp/ringwarden-fault-XXXXXX";
        int file = mkstemp(path);
        ASSERT_GE(file, 0);
        unlink(path);
        mapping = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, file, 0);
        close(file);
        ASSERT_NE(mapping, MAP_FAILED);
        g_pastEndOfFile = mapping;
        feenableexcept(FE_DIVBYZERO);
        g_liveGuards = 0;
    }
    void TearDown() override {
        fedisableexcept(FE_ALL_EXCEPT);
        feclearexcept(FE_ALL_EXCEPT);
        munmap(mapping, 4096);
    }

    void* mapping = nullptr;
};

TEST_P(FaultKinds, BecomeExceptionsThatUnwindAgainAndAgain) {
    for (int round = 0; round < 3; ++round) {
        const Fault fault = CatchFault(GetParam().body);
        EXPECT_EQ(fault.code, GetParam().code) << "round " << round;
        EXPECT_NE(fault.eip, 0u);
        EXPECT_NE(fault.esp, 0u);
        // The frame that overflowed the stack may not have built its guard.
        if (GetParam().code == EXCEPTION_STACK_OVERFLOW) {
            EXPECT_LE(g_liveGuards, 1) << "round " << round;
        } else {
            EXPECT_EQ(g_liveGuards, 0) << "round " << round;
        }
        g_liveGuards = 0;
    }
}

INSTANTIATE_TEST_SUITE_P(AtBothLevels, FaultKinds, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

TEST(FaultTranslator, BreakpointReportsTheInstructionItself) {
    for (void (*body)() : {atO0::HitBreakpoint, atO2::HitBreakpoint}) {
        g_breakpointAddress = 0;
        const Fault fault = CatchFault(body);
        EXPECT_EQ(fault.code, EXCEPTION_BREAKPOINT);
        EXPECT_EQ(fault.eip, g_breakpointAddress);
    }
}

// A C library routine builds no frame; the fault still unwinds through it.
TEST(FaultTranslator, FaultInsideALoadedLibrary) {
    void* library = dlopen("libc.so.6", RTLD_NOW);
    ASSERT_NE(library, nullptr);
    static size_t (*length)(const char*) = nullptr;
    length = reinterpret_cast<size_t (*)(const char*)>(dlsym(library, "strlen"));
    ASSERT_NE(length, nullptr);
    for (int round = 0; round < 2; ++round) {
        const Fault fault = CatchFault([] { g_result = static_cast<int>(length(reinterpret_cast<const char*>(g_badAddress))); });
        EXPECT_EQ(fault.code, EXCEPTION_ACCESS_VIOLATION);
        Dl_info faulting = {};
        Dl_info routine = {};
        ASSERT_NE(dladdr(reinterpret_cast<void*>(fault.eip), &faulting), 0);
        ASSERT_NE(dladdr(reinterpret_cast<void*>(length), &routine), 0);
        EXPECT_EQ(faulting.dli_fbase, routine.dli_fbase);
    }
    dlclose(library);
}

TEST(FaultTranslator, ReturnsThePreviousTranslatorOfTheSameThread) {
    EXPECT_EQ(SetFaultTranslator(ThrowFault), nullptr);
    FaultTranslator seenByOtherThread = ThrowFault;
    std::thread([&] { seenByOtherThread = SetFaultTranslator(nullptr); }).join();
    EXPECT_EQ(seenByOtherThread, nullptr);
    EXPECT_EQ(SetFaultTranslator(nullptr), ThrowFault);
    EXPECT_EQ(SetFaultTranslator(nullptr), nullptr);
}

TEST(FaultTranslator, EachThreadHasItsOwn) {
    Fault caught = {};
    std::thread([&] { caught = CatchFault(atO2::WriteToBadAddress); }).join();
    EXPECT_EQ(caught.code, EXCEPTION_ACCESS_VIOLATION);
}

using FaultTranslatorDeathTest = testing::Test;

TEST_F(FaultTranslatorDeathTest, WithoutTranslatorTheFaultEndsTheProcess) {
    EXPECT_EXIT(
        {
            SetFaultTranslator(ThrowFault);
            SetFaultTranslator(nullptr);
            atO2::WriteToBadAddress();
        },
        testing::KilledBySignal(SIGSEGV), "");
    EXPECT_EXIT(
        {
            SetFaultTranslator(ThrowFault);
            SetFaultTranslator(nullptr);
            atO2::DivideByZero();
        },
        testing::KilledBySignal(SIGFPE), "");
}

void ReturnWithoutThrowing(unsigned, EXCEPTION_POINTERS*) {}

TEST_F(FaultTranslatorDeathTest, TranslatorThatReturnsLetsTheFaultEndTheProcess) {
    EXPECT_EXIT(
        {
            SetFaultTranslator(ReturnWithoutThrowing);
            atO2::ExecuteInvalidInstruction();
        },
        testing::KilledBySignal(SIGILL), "");
}

}  // namespace
