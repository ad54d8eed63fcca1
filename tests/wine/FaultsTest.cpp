// Checks under Wine that processor faults on Windows become C++ exceptions that unwind.
//
// A standalone program: the cross build has no test framework. Each case
// prints one line, "ok" or "FAILED", and the exit code counts the failures.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "base/Resources.h"
#include "errors/ClException.h"
#include "errors/FaultTranslation.h"
#include "platform/win32/FaultFrame.h"

namespace {

struct Fault {
    unsigned code;
    DWORD eip;
};

int g_failures = 0;
int g_liveGuards = 0;

// The translator under test: it needs some stack for its report, as the
// program's does, and throws.
void ThrowFault(unsigned code, EXCEPTION_POINTERS* pointers) {
    char report[1536];
    wsprintfA(report, "code %08x at %08x", code, static_cast<unsigned>(pointers->ContextRecord->Eip));
    SetFaultTranslator(nullptr);
    Fault* fault = new Fault{code, static_cast<DWORD>(pointers->ContextRecord->Eip)};
    SetFaultTranslator(ThrowFault);
    if (report[0] == 'c') {
        throw fault;
    }
}

// Counts live objects, so a case sees whether unwinding ran destructors.
struct Guard {
    Guard() { ++g_liveGuards; }
    ~Guard() { --g_liveGuards; }
};

unsigned g_lastCode = 0;

void Check(bool passed, const char* what) {
    printf("%s %s (code %08x, live guards %d)\n", passed ? "ok    " : "FAILED", what, g_lastCode, g_liveGuards);
    g_liveGuards = 0;
    if (!passed) {
        ++g_failures;
    }
}

template <typename Body>
unsigned CaughtCode(Body body) {
    try {
        body();
    } catch (Fault* fault) {
        unsigned code = fault->code;
        delete fault;
        g_lastCode = code;
        return code;
    }
    g_lastCode = 0;
    return 0;
}

// Reads below about 1 MiB do not fault in Wine's Windows 98 mode: write.
__attribute__((noinline)) void WriteToBadAddress(int value) {
    Guard guard;
    int* volatile target = reinterpret_cast<int*>(0x10);
    *target = value;
}

volatile int g_quotient = 0;

__attribute__((noinline)) void Divide(volatile int dividend, volatile int divisor) {
    Guard guard;
    g_quotient = dividend / divisor;
}

volatile int g_depth = 0;
// Never reached: it keeps the recursions finite in the compiler's eyes.
volatile int g_bottom = -1;

__attribute__((noinline)) int Recurse(int level) {
    Guard guard;
    volatile char room[64];
    room[level % 64] = static_cast<char>(level);
    g_depth = level;
    if (level == g_bottom) {
        return 0;
    }
    return Recurse(level + 1) + room[(level + 1) % 64];
}

__attribute__((noinline)) int RecurseWithoutObjects(int level) {
    volatile char room[100];
    room[level % 100] = static_cast<char>(level);
    if (level == g_bottom) {
        return 0;
    }
    return RecurseWithoutObjects(level + 1) + room[(level + 3) % 100];
}

__attribute__((noinline)) int RecurseLargeFrames(int level) {
    Guard guard;
    volatile char room[20000];
    room[level % 20000] = static_cast<char>(level);
    if (level == g_bottom) {
        return 0;
    }
    return RecurseLargeFrames(level + 1) + room[(level + 7) % 20000];
}

// A fault inside a system library, which has no unwind data.
__attribute__((noinline)) void FaultInsideSystemLibrary() {
    Guard guard;
    typedef void*(__cdecl * Fill)(void*, int, size_t);
    auto fill = reinterpret_cast<Fill>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("msvcrt.dll"), "memset")));
    fill(reinterpret_cast<void*>(0x10), 0, 64);
}

__attribute__((noinline)) void FaultInsideFormatter() {
    Guard guard;
    wsprintfA(reinterpret_cast<char*>(0x20), "%s", "text");
}

// Some system functions check their pointers themselves: nothing to translate.
__attribute__((noinline)) bool SystemFunctionChecksPointer() {
    Guard guard;
    return lstrlenA(reinterpret_cast<const char*>(0x20)) == 0;
}

__attribute__((noinline)) void BreakIntoDebugger() {
    Guard guard;
    DebugBreak();
}

// The crash report that the program's own translator throws, or "".
template <typename Body>
ClString ReportOf(Body body) {
    try {
        body();
    } catch (ClException* exception) {
        ClString report = exception->message;
        delete exception;
        return report;
    }
    return ClString();
}

bool StartsWith(const ClString& text, const char* start) {
    return strncmp(text.GetText(), start, strlen(start)) == 0;
}

// The program's translator builds its report right where the fault left the
// stack: after an overflow that is the last page.
void RunProgramTranslatorCases() {
    g_hInstance = GetModuleHandleA(nullptr);
    SetFaultTranslator(TranslateFault);
    ClString report = ReportOf([] { Recurse(0); });
    Check(StartsWith(report, "APPLICATION ERROR!!!\nStack overflow\r\n\r\n  EIP: ") &&
              strstr(report.GetText(), "\tfaults_test.exe\r\n") != nullptr,
          "the program's crash report of a stack overflow");
    g_liveGuards = 0;
    SetFaultTranslator(TranslateFault);
    report = ReportOf([] { WriteToBadAddress(4); });
    Check(StartsWith(report, "APPLICATION ERROR!!!\n Access violation\r\n\r\n  EIP: ") && g_liveGuards == 0,
          "the program's crash report of a write fault");
    SetFaultTranslator(ThrowFault);
}

void RunCases() {
    for (int round = 0; round < 3; ++round) {
        Check(CaughtCode([] { WriteToBadAddress(1); }) == EXCEPTION_ACCESS_VIOLATION && g_liveGuards == 0,
              "a write fault unwinds its frame, again and again");
    }
    Check(CaughtCode([] { Divide(7, 0); }) == EXCEPTION_INT_DIVIDE_BY_ZERO && g_liveGuards == 0,
          "integer division by zero");
    Check(CaughtCode([] { WriteToBadAddress(2); }) == EXCEPTION_ACCESS_VIOLATION,
          "a fault after another kind of fault");

    for (int round = 0; round < 2; ++round) {
        unsigned code = CaughtCode([] { Recurse(0); });
        printf("       depth %d, live guards %d\n", g_depth, g_liveGuards);
        Check(code == EXCEPTION_STACK_OVERFLOW && g_liveGuards <= 1, "stack overflow with destructors");
        g_liveGuards = 0;
        SetFaultTranslator(ThrowFault);  // Arms the guard page again.
    }
    Check(CaughtCode([] { RecurseWithoutObjects(0); }) == EXCEPTION_STACK_OVERFLOW,
          "stack overflow without destructors");
    SetFaultTranslator(ThrowFault);
    Check(CaughtCode([] { RecurseLargeFrames(0); }) == EXCEPTION_STACK_OVERFLOW && g_liveGuards <= 1,
          "stack overflow in frames larger than a page");
    g_liveGuards = 0;
    SetFaultTranslator(ThrowFault);

    Check(CaughtCode(FaultInsideSystemLibrary) == EXCEPTION_ACCESS_VIOLATION && g_liveGuards == 0,
          "a fault inside the runtime library resumes in the program");
    Check(CaughtCode(FaultInsideFormatter) == EXCEPTION_ACCESS_VIOLATION && g_liveGuards == 0,
          "a fault inside a system library resumes in the program");
    bool checked = false;
    Check(CaughtCode([&checked] { checked = SystemFunctionChecksPointer(); }) == 0 && checked,
          "a fault that a system function handles itself stays there");
    Check(CaughtCode(BreakIntoDebugger) == EXCEPTION_BREAKPOINT && g_liveGuards == 0, "a breakpoint");
    Check(CaughtCode([] { WriteToBadAddress(3); }) == EXCEPTION_ACCESS_VIOLATION && g_liveGuards == 0,
          "a fault after all the others");
}

}  // namespace

int main() {
    ClFaultFrame faultFrame;
    Check(SetFaultTranslator(ThrowFault) == nullptr, "no translator before the first");
    RunCases();
    RunProgramTranslatorCases();
    Check(SetFaultTranslator(nullptr) == ThrowFault, "uninstalling returns the translator");
    printf("%d failed\n", g_failures);
    return g_failures;
}
