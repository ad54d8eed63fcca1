// Processor faults on POSIX: the fault signals call the faulting thread's translator.
//
// One handler serves SIGSEGV, SIGFPE, SIGILL, SIGTRAP and SIGBUS. It runs on an
// alternate signal stack, so that it still runs when the thread's own stack is
// exhausted, builds the exception record and context from the signal, and
// calls the thread's translator, which throws. The program is compiled with
// -fnon-call-exceptions, so the exception unwinds from the handler through the
// signal frame into the code that faulted, and from there like any other.
#include "platform/FaultChain.h"
#include "platform/FaultTranslator.h"
#include "platform/GuardedCall.h"
#include "platform/posix/terminal.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdint.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <ucontext.h>
#include <unistd.h>
#include <unwind.h>

namespace {

const int g_faultSignals[] = {SIGSEGV, SIGFPE, SIGILL, SIGTRAP, SIGBUS};

// Room for the handler, the translator building its report and the unwinder's
// search for a catch clause.
const size_t kAlternateStackSize = 1024 * 1024;
// Extra main-thread stack granted after an overflow, so that the destructors
// that unwinding runs close to the limit have room to call functions.
const rlim_t kCleanupStack = 256 * 1024;
// A stack access faults this far below the stack pointer at most (a push, a
// call, a red-zone store, a probe of a large frame).
const uintptr_t kStackAccessReach = 64 * 1024;
// Without a known stack top, how far above the stack pointer a faulting
// access still counts as a stack access (the first store into a large frame).
const uintptr_t kLargeFrameReach = 1024 * 1024;

// Read by the handler: a plain value, no construction on first use.
thread_local FaultTranslator t_translator = nullptr;
// The frame of the innermost guarded call, or 0.
thread_local uintptr_t t_guardFrame = 0;

// The calling thread's alternate signal stack, released when the thread ends.
class AlternateStack {
public:
    ~AlternateStack() { Release(); }

    void Provide() {
        if (base) {
            return;
        }
        stack_t current = {};
        if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE) &&
            current.ss_size >= kAlternateStackSize) {
            return;
        }
        // One inaccessible page below the stack turns an overflow of the
        // handler itself into a plain crash instead of silent corruption.
        size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        void* mapping = mmap(nullptr, kAlternateStackSize + page, PROT_READ | PROT_WRITE,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (mapping == MAP_FAILED) {
            return;
        }
        mprotect(mapping, page, PROT_NONE);
        stack_t stack = {};
        stack.ss_sp = static_cast<char*>(mapping) + page;
        stack.ss_size = kAlternateStackSize;
        if (sigaltstack(&stack, nullptr) != 0) {
            munmap(mapping, kAlternateStackSize + page);
            return;
        }
        base = mapping;
        size = kAlternateStackSize + page;
    }

private:
    void Release() {
        if (!base) {
            return;
        }
        stack_t off = {};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
        munmap(base, size);
        base = nullptr;
    }

    void* base = nullptr;
    size_t size = 0;
};

thread_local AlternateStack t_alternateStack;

uintptr_t HexDigit(char c) {
    return static_cast<uintptr_t>(c >= 'a' ? c - 'a' + 10 : c - '0');
}

// The end of the first mapping that may be read or written and ends above
// the address: the one that holds it, or the stack it ran off the bottom of
// (guard pages are no access and skipped). 0 when the map cannot be read.
// Only the fault handler asks, so the map is read with open, read and close
// into a buffer on the stack and parsed by hand, which is safe in a handler.
uintptr_t StackTopAbove(uintptr_t address) {
    const int savedErrno = errno;
    const int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    uintptr_t top = 0;
    uintptr_t bounds[2] = {0, 0};
    int field = 0;  // The start, the end, the permissions, the rest of the line.
    bool accessible = false;
    char buffer[1024];
    while (fd >= 0 && top == 0) {
        const ssize_t count = read(fd, buffer, sizeof(buffer));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        for (ssize_t i = 0; i < count && top == 0; ++i) {
            const char c = buffer[i];
            if (c == '\n') {
                if (accessible && bounds[1] > address) {
                    top = bounds[1];
                }
                bounds[0] = bounds[1] = 0;
                field = 0;
                accessible = false;
            } else if (field < 2) {
                if (c == (field == 0 ? '-' : ' ')) {
                    ++field;
                } else {
                    bounds[field] = bounds[field] * 16 + HexDigit(c);
                }
            } else if (field == 2) {
                if (c == ' ') {
                    field = 3;
                } else if (c == 'r' || c == 'w') {
                    accessible = true;
                }
            }
        }
    }
    if (fd >= 0) {
        close(fd);
    }
    errno = savedErrno;
    return top;
}

// A fault at an address the thread's stack would hold, at or a little below
// the stack pointer, means the stack could not grow there.
bool IsStackOverflow(const siginfo_t* info, const greg_t* registers) {
    if (info->si_code <= 0 || info->si_code == SI_KERNEL) {
        return false;
    }
    uintptr_t address = reinterpret_cast<uintptr_t>(info->si_addr);
    uintptr_t stackPointer = static_cast<uintptr_t>(registers[REG_RSP]);
    uintptr_t lowest = stackPointer > kStackAccessReach ? stackPointer - kStackAccessReach : 0;
    if (address < lowest) {
        return false;
    }
    uintptr_t top = StackTopAbove(stackPointer);
    if (top == 0) {
        top = stackPointer + kLargeFrameReach;
    }
    return address < top;
}

DWORD FloatingPointCode(int signalCode) {
    switch (signalCode) {
    case FPE_INTDIV:
        return EXCEPTION_INT_DIVIDE_BY_ZERO;
    case FPE_INTOVF:
        return EXCEPTION_INT_OVERFLOW;
    case FPE_FLTDIV:
        return EXCEPTION_FLT_DIVIDE_BY_ZERO;
    case FPE_FLTOVF:
        return EXCEPTION_FLT_OVERFLOW;
    case FPE_FLTUND:
        return EXCEPTION_FLT_UNDERFLOW;
    case FPE_FLTRES:
        return EXCEPTION_FLT_INEXACT_RESULT;
    case FPE_FLTSUB:
        return EXCEPTION_ARRAY_BOUNDS_EXCEEDED;
    default:
        return EXCEPTION_FLT_INVALID_OPERATION;
    }
}

DWORD ExceptionCodeOf(int signal, const siginfo_t* info, const greg_t* registers) {
    switch (signal) {
    case SIGSEGV:
        return IsStackOverflow(info, registers) ? EXCEPTION_STACK_OVERFLOW : EXCEPTION_ACCESS_VIOLATION;
    case SIGFPE:
        return FloatingPointCode(info->si_code);
    case SIGILL:
        return EXCEPTION_ILLEGAL_INSTRUCTION;
    case SIGTRAP:
        return info->si_code == TRAP_TRACE ? EXCEPTION_SINGLE_STEP : EXCEPTION_BREAKPOINT;
    default:
        return EXCEPTION_IN_PAGE_ERROR;
    }
}

// Faults raised by the processor, or raised by the thread on itself, happen
// at a known instruction and can be thrown from; a signal sent from outside
// cannot.
bool IsSynchronous(const siginfo_t* info) {
    if (info->si_code > 0) {
        return true;
    }
    return (info->si_code == SI_TKILL || info->si_code == SI_USER) && info->si_pid == getpid();
}

// The frame that called the faulting function, as the unwinder restores it.
struct CallerFrame {
    uintptr_t faultAddress;
    bool pastFault;
    bool found;
    uintptr_t instruction;
    uintptr_t stackPointer;
    uintptr_t savedRegisters[6];
};

// DWARF numbers of the callee-saved registers rbx, rbp, r12, r13, r14, r15.
const int g_calleeSavedDwarf[6] = {3, 6, 12, 13, 14, 15};
const int g_calleeSavedContext[6] = {REG_RBX, REG_RBP, REG_R12, REG_R13, REG_R14, REG_R15};

_Unwind_Reason_Code FindCallerOfFault(_Unwind_Context* context, void* argument) {
    CallerFrame* frame = static_cast<CallerFrame*>(argument);
    int beforeInstruction = 0;
    uintptr_t instruction = _Unwind_GetIPInfo(context, &beforeInstruction);
    if (!frame->pastFault) {
        frame->pastFault = beforeInstruction && instruction == frame->faultAddress;
        return _URC_NO_REASON;
    }
    frame->instruction = instruction;
    frame->stackPointer = _Unwind_GetCFA(context);
    for (int i = 0; i < 6; ++i) {
        frame->savedRegisters[i] = _Unwind_GetGR(context, g_calleeSavedDwarf[i]);
    }
    frame->found = true;
    return _URC_END_OF_STACK;
}

// The instruction that overflowed the stack is often a prologue's push or a
// store outside every region of the function's exception table, where
// unwinding would end in std::terminate. So unwinding starts instead from
// the call in the caller, with the registers the caller had there; the
// faulting frame had not finished building anything worth destroying.
void StepOutOfFaultingFrame(greg_t* registers) {
    CallerFrame frame = {};
    frame.faultAddress = static_cast<uintptr_t>(registers[REG_RIP]);
    _Unwind_Backtrace(FindCallerOfFault, &frame);
    if (!frame.found || frame.instruction == 0) {
        return;
    }
    // Inside the call instruction, so the caller's call-site entry applies.
    registers[REG_RIP] = static_cast<greg_t>(frame.instruction - 1);
    registers[REG_RSP] = static_cast<greg_t>(frame.stackPointer);
    for (int i = 0; i < 6; ++i) {
        registers[g_calleeSavedContext[i]] = static_cast<greg_t>(frame.savedRegisters[i]);
    }
}

void GrantStackForCleanups() {
    rlimit limit;
    if (getrlimit(RLIMIT_STACK, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return;
    }
    rlim_t wanted = limit.rlim_cur + kCleanupStack;
    if (limit.rlim_max != RLIM_INFINITY && wanted > limit.rlim_max) {
        wanted = limit.rlim_max;
    }
    if (wanted <= limit.rlim_cur) {
        return;
    }
    limit.rlim_cur = wanted;
    setrlimit(RLIMIT_STACK, &limit);
}

// The signal stays blocked while the handler runs and is pending once the
// handler returns, so the process ends by the signal's default action, with
// the terminal put back as for any other signal that ends it.
void DieOfSignal(int signal) {
    RestoreTerminalsNow();
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    raise(signal);
}

// The handler runs with the floating-point settings the system gives every
// handler, and leaving it by an exception keeps them. So the faulting code's
// control settings (rounding, precision, which exceptions trap) are put back,
// with the exception flags cleared so that no trap is left pending.
void RestoreFloatingPointControl(const ucontext_t* context) {
    const _libc_fpstate* state = context->uc_mcontext.fpregs;
    if (state == nullptr) {
        return;
    }
    const unsigned int kSseExceptionFlags = 0x3f;
    unsigned int mxcsr = state->mxcsr & ~kSseExceptionFlags;
    unsigned short controlWord = state->cwd;
    asm volatile("fnclex\n\t"
                 "fldcw %0\n\t"
                 "ldmxcsr %1"
                 :
                 : "m"(controlWord), "m"(mxcsr));
}

// Leaving the handler by an exception skips the restoring of the signal
// mask, and a blocked fault signal would kill the process at the next fault.
void UnblockSignal(int signal) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

// The faulting code's frame chain is kept when it leads up to the guard's
// frame (whose frame pointer slot holds the caller's); otherwise, in code
// that uses the frame pointer register as it likes, the walk starts at the
// guard, in the program's own frames. Only words between the stack pointer
// and the guard's frame are read, which the thread's stack holds.
// The walk reads raw stack words, the sanitizer's red zones between the
// faulting code's locals included, so it is not instrumented.
__attribute__((no_sanitize("address"))) uintptr_t FrameToReport(uintptr_t framePointer, uintptr_t stackPointer, uintptr_t guardFrame) {
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

void OnFault(int signal, siginfo_t* info, void* context) {
    FaultTranslator translator = t_translator;
    if (!translator || !IsSynchronous(info)) {
        DieOfSignal(signal);
        return;
    }
    ucontext_t* interrupted = static_cast<ucontext_t*>(context);
    greg_t* registers = interrupted->uc_mcontext.gregs;
    EXCEPTION_RECORD record = {};
    CONTEXT processor = {};
    record.ExceptionCode = ExceptionCodeOf(signal, info, registers);
    processor.Eip = static_cast<DWORD_PTR>(registers[REG_RIP]);
    processor.Ebp = static_cast<DWORD_PTR>(registers[REG_RBP]);
    processor.Esp = static_cast<DWORD_PTR>(registers[REG_RSP]);
    if (t_guardFrame > processor.Esp) {
        processor.Ebp = FrameToReport(processor.Ebp, processor.Esp, t_guardFrame);
    }
    // After int3 the instruction pointer already stands behind the breakpoint.
    if (record.ExceptionCode == EXCEPTION_BREAKPOINT && info->si_code == SI_KERNEL) {
        processor.Eip -= 1;
    }
    record.ExceptionAddress = reinterpret_cast<PVOID>(processor.Eip);
    if (signal == SIGSEGV || signal == SIGBUS) {
        const greg_t kWriteAccess = 2;
        record.NumberParameters = 2;
        record.ExceptionInformation[0] = (registers[REG_ERR] & kWriteAccess) ? 1 : 0;
        record.ExceptionInformation[1] = reinterpret_cast<ULONG_PTR>(info->si_addr);
    }
    if (record.ExceptionCode == EXCEPTION_STACK_OVERFLOW) {
        StepOutOfFaultingFrame(registers);
        GrantStackForCleanups();
    }
    RestoreFloatingPointControl(interrupted);
    UnblockSignal(signal);
    EXCEPTION_POINTERS pointers = {&record, &processor};
    translator(record.ExceptionCode, &pointers);
    DieOfSignal(signal);
}

bool InstallHandlers() {
    struct sigaction action = {};
    action.sa_sigaction = OnFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal : g_faultSignals) {
        sigaction(signal, &action, nullptr);
    }
    return true;
}

}  // namespace

FaultTranslator SetFaultTranslator(FaultTranslator translator) {
    FaultTranslator previous = t_translator;
    if (translator) {
        static const bool installed = InstallHandlers();
        (void)installed;
        t_alternateStack.Provide();
    }
    t_translator = translator;
    return previous;
}

// The translator runs inside the signal handler, below the faulting code's
// frames or on a stack of its own: the report reads their chain where it is.
const FaultChain* GetFaultChain(const EXCEPTION_POINTERS* /*pointers*/) { return nullptr; }

// The fault signals unwind through every library's unwind tables, so a
// guarded call is a plain call; it only marks its frame for the report.
__attribute__((noinline)) void RunGuarded(void (*body)(void*), void* context) {
    struct Mark {
        uintptr_t outer;
        ~Mark() { t_guardFrame = outer; }
    } mark{t_guardFrame};
    t_guardFrame = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    body(context);
}
