// The crash report: its headline and fault line, the EIP line, the frame lines and their limits.
#include "errors/FaultTranslation.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "errors/ClException.h"
#include "errors/OutOfMemory.h"
#include "platform/FaultTranslator.h"

namespace {

const std::string kEndOfStack = "----------------------------------\r\n";

std::string Hex(const char* format, DWORD_PTR value) {
    char text[64];
    snprintf(text, sizeof(text), format, static_cast<unsigned long>(value));
    return text;
}

std::string FileNameOfModuleHolding(const void* address) {
    Dl_info info = {};
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) {
        return "";
    }
    const char* slash = strrchr(info.dli_fname, '/');
    return slash != nullptr ? slash + 1 : info.dli_fname;
}

__attribute__((noinline)) void SomeCodeOfThisProgram() { asm volatile(""); }

const DWORD_PTR kCodeAddress = reinterpret_cast<DWORD_PTR>(&SomeCodeOfThisProgram);

std::string Dump(DWORD_PTR eip, DWORD_PTR ebp, const std::string& before = "") {
    ClString report(before.c_str());
    AppendStackDump(report, eip, ebp);
    return std::string(report.GetText(), report.GetLength());
}

// One frame as the dump reads it: the saved frame pointer, the return
// address, then the words above them.
struct Frame {
    DWORD_PTR savedFrame;
    DWORD_PTR returnAddress;
    DWORD_PTR words[3];
};

std::string FrameLine(const Frame& frame, const std::string& module) {
    std::string line = Hex("%8lx  ", frame.returnAddress);
    for (DWORD_PTR word : frame.words) {
        line += Hex("  %8lx", word);
    }
    return line + " \t" + module + "\r\n";
}

TEST(AppendStackDump, WalksTheChainUntilAFrameCannotBeRead) {
    Frame outer = {0, kCodeAddress + 1, {7, 8, 9}};
    Frame inner = {reinterpret_cast<DWORD_PTR>(&outer), kCodeAddress, {0x10, 0xabcdef, 0}};
    const std::string dump = Dump(kCodeAddress + 2, reinterpret_cast<DWORD_PTR>(&inner), "Headline");
    EXPECT_EQ(dump, "Headline" + Hex("\r\n\r\n  EIP: %8lx\r\n", kCodeAddress + 2) +
                        FrameLine(inner, "test_errors") + FrameLine(outer, "test_errors") + kEndOfStack);
}

TEST(AppendStackDump, FramePointerZeroEndsAtOnce) {
    EXPECT_EQ(Dump(0, 0), "\r\n\r\n  EIP:        0\r\n" + kEndOfStack);
}

TEST(AppendStackDump, ModulesAreNamedByTheirFileNames) {
    void* routine = dlsym(RTLD_DEFAULT, "qsort");
    ASSERT_NE(routine, nullptr);
    Frame frame = {0, reinterpret_cast<DWORD_PTR>(routine), {1, 2, 3}};
    const std::string dump = Dump(0, reinterpret_cast<DWORD_PTR>(&frame));
    EXPECT_NE(dump.find(" \t" + FileNameOfModuleHolding(routine) + "\r\n"), std::string::npos) << dump;
}

TEST(AppendStackDump, AddressInNoModuleIsUnknownAndTheDumpGoesOn) {
    const std::string notCode(100, 'x');
    Frame outer = {0, kCodeAddress, {1, 2, 3}};
    Frame inner = {reinterpret_cast<DWORD_PTR>(&outer), reinterpret_cast<DWORD_PTR>(notCode.data()), {4, 5, 6}};
    DWORD_PTR stackAddress = reinterpret_cast<DWORD_PTR>(&inner);
    const std::string dump = Dump(stackAddress, stackAddress);
    EXPECT_EQ(dump, Hex("\r\n\r\n  EIP: %8lx\r\n", stackAddress) + FrameLine(inner, "<unknown>") +
                        FrameLine(outer, "test_errors") + kEndOfStack);
}

TEST(AppendStackDump, ReturnAddressZeroHasNoModule) {
    Frame frame = {0, 0, {1, 2, 3}};
    const std::string dump = Dump(0, reinterpret_cast<DWORD_PTR>(&frame));
    EXPECT_EQ(dump, "\r\n\r\n  EIP:        0\r\n" + Hex("%8lx  ", 0) + "         1         2         3\r\n" +
                        kEndOfStack);
}

TEST(AppendStackDump, UnreadableWordEndsItsLine) {
    const long page = sysconf(_SC_PAGESIZE);
    char* pages = static_cast<char*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(pages, MAP_FAILED);
    ASSERT_EQ(mprotect(pages + page, page, PROT_NONE), 0);
    auto* frame = reinterpret_cast<DWORD_PTR*>(pages + page - 3 * sizeof(DWORD_PTR));
    frame[0] = 0;
    frame[1] = kCodeAddress;
    frame[2] = 0x1234;
    const std::string dump = Dump(0, reinterpret_cast<DWORD_PTR>(frame));
    munmap(pages, 2 * page);
    EXPECT_EQ(dump, "\r\n\r\n  EIP:        0\r\n" + Hex("%8lx  ", kCodeAddress) + "      1234 X \ttest_errors\r\n" +
                        kEndOfStack);
}

// A frame that names itself as its caller never ends: the dump stops after
// 64 lines, with room found for all of them behind a long text.
TEST(AppendStackDump, StopsAfter64FramesWithoutTheEndLine) {
    Frame frame = {0, kCodeAddress, {1, 2, 3}};
    frame.savedFrame = reinterpret_cast<DWORD_PTR>(&frame);
    const std::string before(3000, 'x');
    const std::string dump = Dump(0, reinterpret_cast<DWORD_PTR>(&frame), before);
    std::string expected = before + "\r\n\r\n  EIP:        0\r\n";
    for (int i = 0; i < 64; ++i) {
        expected += FrameLine(frame, "test_errors");
    }
    EXPECT_EQ(dump, expected);
}

TEST(GetModuleNameOf, NamesTheFileOfTheModule) {
    char name[64];
    DWORD length = GetModuleNameOf(kCodeAddress, name, sizeof(name));
    EXPECT_STREQ(name, "test_errors");
    EXPECT_EQ(length, strlen(name));
}

TEST(GetModuleNameOf, UnknownIsCutToTheDestination) {
    char name[16];
    EXPECT_EQ(GetModuleNameOf(reinterpret_cast<DWORD_PTR>(name), name, sizeof(name)), 9u);
    EXPECT_STREQ(name, "<unknown>");
    memset(name, '#', sizeof(name));
    EXPECT_EQ(GetModuleNameOf(reinterpret_cast<DWORD_PTR>(name), name, 5), 4u);
    EXPECT_STREQ(name, "<unk");
    EXPECT_EQ(GetModuleNameOf(reinterpret_cast<DWORD_PTR>(name), name, 1), 0u);
    EXPECT_STREQ(name, "");
}

TEST(GetModuleNameOf, CutPathStaysInsideTheDestination) {
    char name[8];
    memset(name, '#', sizeof(name));
    DWORD length = GetModuleNameOf(kCodeAddress, name, 6);
    EXPECT_LT(length, 6u);
    EXPECT_EQ(length, strlen(name));
    EXPECT_EQ(name[6], '#');
    EXPECT_EQ(GetModuleNameOf(kCodeAddress, name, 0), 0u);
}

struct FaultLine {
    DWORD code;
    const char* opening;
};

class TranslateFaultLines : public testing::TestWithParam<FaultLine> {
protected:
    void TearDown() override { SetFaultTranslator(nullptr); }
};

// With no frame to walk, the report is its opening and the bare dump.
TEST_P(TranslateFaultLines, OpenTheReport) {
    CONTEXT context = {};
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = GetParam().code;
    EXCEPTION_POINTERS pointers = {&record, &context};
    ClException* caught = nullptr;
    try {
        TranslateFault(GetParam().code, &pointers);
    } catch (ClException* exception) {
        caught = exception;
    }
    ASSERT_NE(caught, nullptr);
    EXPECT_NE(dynamic_cast<ClStructuredException*>(caught), nullptr);
    EXPECT_EQ(caught->fromFault, 1);
    EXPECT_EQ(std::string(caught->message.GetText()),
              std::string(GetParam().opening) + "\r\n\r\n  EIP:        0\r\n" + kEndOfStack);
    delete caught;
    EXPECT_EQ(SetFaultTranslator(nullptr), TranslateFault);
}

INSTANTIATE_TEST_SUITE_P(
    FaultTable, TranslateFaultLines,
    testing::Values(FaultLine{EXCEPTION_ACCESS_VIOLATION, "APPLICATION ERROR!!!\n Access violation"},
                    FaultLine{EXCEPTION_BREAKPOINT, "APPLICATION ERROR!!!\n Debug attempt"},
                    FaultLine{EXCEPTION_SINGLE_STEP, "APPLICATION ERROR!!!\n Debug attempt"},
                    FaultLine{EXCEPTION_FLT_DENORMAL_OPERAND, "APPLICATION ERROR!!!\nFloating point operation error"},
                    FaultLine{EXCEPTION_FLT_INEXACT_RESULT, "APPLICATION ERROR!!!\nFloating point operation error"},
                    FaultLine{EXCEPTION_FLT_INVALID_OPERATION, "APPLICATION ERROR!!!\nFloating point operation error"},
                    FaultLine{EXCEPTION_FLT_STACK_CHECK, "APPLICATION ERROR!!!\nFloating point operation error"},
                    FaultLine{EXCEPTION_FLT_DIVIDE_BY_ZERO, "APPLICATION ERROR!!!\nDivide by zero"},
                    FaultLine{EXCEPTION_INT_DIVIDE_BY_ZERO, "APPLICATION ERROR!!!\nDivide by zero"},
                    FaultLine{EXCEPTION_FLT_OVERFLOW, "APPLICATION ERROR!!!\nOverflow"},
                    FaultLine{EXCEPTION_FLT_UNDERFLOW, "APPLICATION ERROR!!!\nOverflow"},
                    FaultLine{EXCEPTION_INT_OVERFLOW, "APPLICATION ERROR!!!\nOverflow"},
                    FaultLine{EXCEPTION_IN_PAGE_ERROR, "APPLICATION ERROR!!!\nPaging error"},
                    FaultLine{EXCEPTION_ILLEGAL_INSTRUCTION, "APPLICATION ERROR!!!\nInvalid instruction"},
                    FaultLine{EXCEPTION_STACK_OVERFLOW, "APPLICATION ERROR!!!\nStack overflow"},
                    FaultLine{EXCEPTION_ARRAY_BOUNDS_EXCEEDED, "APPLICATION ERROR!!!"}));

// Memory running out while the report is built is reported instead, and the
// translator is back for the next fault all the same.
TEST(TranslateFault, OutOfMemoryWhileBuildingLeavesTheTranslatorInstalled) {
    CONTEXT context = {};
    EXCEPTION_RECORD record = {};
    EXCEPTION_POINTERS pointers = {&record, &context};
    ClException* caught = nullptr;
    FailAllocationAfter(1);
    try {
        TranslateFault(EXCEPTION_ACCESS_VIOLATION, &pointers);
    } catch (ClException* exception) {
        caught = exception;
    }
    CancelAllocationFailure();
    ASSERT_NE(caught, nullptr);
    EXPECT_NE(dynamic_cast<ClMemException*>(caught), nullptr);
    delete caught;
    EXPECT_EQ(SetFaultTranslator(nullptr), TranslateFault);
}

volatile uintptr_t g_badAddress = 16;

// The local variable gives the function a frame of its own: the optimiser
// builds none for a leaf that needs no stack, and the chain would then start
// one frame further up.
__attribute__((noinline)) void WriteToBadAddress() {
    volatile int value = 1;
    *reinterpret_cast<volatile int*>(g_badAddress) = value;
}

__attribute__((noinline)) void CallFaultingFunction() {
    WriteToBadAddress();
    asm volatile("");
}

// A real fault, through the translator the program installs: the EIP line
// holds the address alone, and the first frame is the faulting function's caller.
TEST(TranslateFault, ReportsARealFaultWithItsCaller) {
    SetFaultTranslator(TranslateFault);
    ClException* caught = nullptr;
    try {
        CallFaultingFunction();
    } catch (ClException* exception) {
        caught = exception;
    }
    SetFaultTranslator(nullptr);
    ASSERT_NE(caught, nullptr);
    const std::string report = caught->message.GetText();
    delete caught;
    const std::string opening = "APPLICATION ERROR!!!\n Access violation\r\n\r\n  EIP: ";
    ASSERT_EQ(report.substr(0, opening.size()), opening);
    const size_t eipEnd = report.find("\r\n", opening.size());
    EXPECT_EQ(report.find_first_not_of(" 0123456789abcdef", opening.size()), eipEnd);
    const DWORD_PTR returnAddress = strtoul(report.c_str() + eipEnd + 2, nullptr, 16);
    const DWORD_PTR caller = reinterpret_cast<DWORD_PTR>(&CallFaultingFunction);
    EXPECT_GT(returnAddress, caller);
    EXPECT_LT(returnAddress, caller + 64);
}

}  // namespace
