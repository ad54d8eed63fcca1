// Processor faults on Windows: an exception frame at fs:[0] turns each fault into a call of the thread's translator.
//
// The translator must throw a C++ exception from the faulting thread, but it
// cannot throw from the exception handler itself: the system's dispatcher
// frames between the handler and the faulting code carry no unwind data. So
// the handler saves the exception record and context, rewrites the context so
// that the thread, once resumed, "calls" RaiseFault from the faulting
// instruction (its address + 1 pushed as the return address), and resumes it.
// RaiseFault calls the translator, and the exception it throws unwinds from
// there through the faulting frame, which -fnon-call-exceptions and
// -fasynchronous-unwind-tables describe at every instruction.
//
// Code without unwind data (system libraries, the dial-up supervisor) cannot
// be unwound. A fault there inside a guarded call resumes at the guard (see
// guarded.cpp); elsewhere it resumes at the first return address into this
// program, found on top of the stack or along the frame-pointer chain, which
// code without frame pointers can hide.
//
// A stack overflow leaves only the page that was the guard page to work in,
// and it mostly hits an instruction of a prologue or a stack store that has no
// entry in its function's exception table. The exception is then thrown one
// frame further up, from the call in the caller, whose registers the unwinder
// recovers. The guard page is armed again the next time a translator is
// installed well above it.
#include "platform/win32/FaultFrame.h"

#include <excpt.h>
#include <stddef.h>
#include <stdint.h>
#include <unwind.h>

#include <exception>

namespace {

const DWORD kUnwindingFlags = 0x2 | 0x4;  // EH_UNWINDING | EH_EXIT_UNWIND
const DWORD kMsvcCppException = 0xE06D7363;
// Bounds the walk along a frame-pointer chain and the list of fs:[0] records.
const unsigned kChainSteps = 1u << 20;
// The guard page is armed again only from this far above the stack limit, so
// that the frames still unwinding after an overflow do not touch it.
const uintptr_t kRearmDistance = 64 * 1024;
// The x87 status word's exception flags, error summary and busy bit.
const WORD kFpuFaultBits = 0x80FF;

DWORD g_frameSlot = TlsAlloc();
uintptr_t g_codeBegin = 0;
uintptr_t g_codeEnd = 0;

// Where the thread goes on after a fault: the stack pointer and the
// callee-saved registers of the frame that "calls" the throwing function, and
// the return address that call leaves. The offsets are read by ThrowFrom.
struct ResumePoint {
    uintptr_t esp;
    uintptr_t returnAddress;
    uintptr_t ebx;
    uintptr_t esi;
    uintptr_t edi;
    uintptr_t ebp;
};
static_assert(offsetof(ResumePoint, esp) == 0 && offsetof(ResumePoint, returnAddress) == 4 &&
                  offsetof(ResumePoint, ebx) == 8 && offsetof(ResumePoint, esi) == 12 &&
                  offsetof(ResumePoint, edi) == 16 && offsetof(ResumePoint, ebp) == 20,
              "ThrowFrom reads the fields at these offsets");

// The thread information block, which points to itself at fs:[0x18].
NT_TIB* ThreadBlock() {
    NT_TIB* block;
    asm("movl %%fs:0x18, %0" : "=r"(block));
    return block;
}

// Memory between the stack limit and the stack base is committed, so reading
// it cannot fault.
bool OnStack(uintptr_t address, uintptr_t size) {
    NT_TIB* block = ThreadBlock();
    uintptr_t limit = reinterpret_cast<uintptr_t>(block->StackLimit);
    uintptr_t base = reinterpret_cast<uintptr_t>(block->StackBase);
    return address >= limit && address <= base && base - address >= size;
}

bool InProgramCode(uintptr_t address) { return address >= g_codeBegin && address < g_codeEnd; }

void FindProgramCode() {
    if (g_codeEnd != 0) {
        return;
    }
    auto* image = reinterpret_cast<const BYTE*>(GetModuleHandleA(nullptr));
    auto* dosHeader = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS32*>(image + dosHeader->e_lfanew);
    g_codeBegin = reinterpret_cast<uintptr_t>(image) + headers->OptionalHeader.BaseOfCode;
    g_codeEnd = g_codeBegin + headers->OptionalHeader.SizeOfCode;
}

bool IsFloatingPointFault(DWORD code) {
    switch (code) {
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
        return true;
    default:
        return false;
    }
}

// For a fault in code without unwind data: the first return address into the
// program, either on top of the stack (a function without a frame of its own,
// called straight from the program) or along the frame-pointer chain.
bool FindReturnIntoProgram(const CONTEXT& context, ResumePoint& point) {
    uintptr_t esp = context.Esp;
    if (OnStack(esp, 4)) {
        uintptr_t top = *reinterpret_cast<const uintptr_t*>(esp);
        if (InProgramCode(top)) {
            point.esp = esp + 4;
            point.returnAddress = top;
            point.ebp = context.Ebp;
            return true;
        }
    }
    uintptr_t frame = context.Ebp;
    for (unsigned step = 0; step < kChainSteps && OnStack(frame, 8); ++step) {
        auto* link = reinterpret_cast<const uintptr_t*>(frame);
        if (InProgramCode(link[1])) {
            point.esp = frame + 8;
            point.returnAddress = link[1];
            point.ebp = link[0];
            return true;
        }
        if (link[0] <= frame) {
            return false;  // The chain leads toward the stack's base or it is broken.
        }
        frame = link[0];
    }
    return false;
}

// The stack probe that prologues of frames larger than a page call. It has no
// unwind data; it starts with "push ecx; push eax" and then touches the new
// frame page by page, so an overflow there is taken as an overflow at the
// call in the prologue that called it.
extern "C" void StackProbe() __asm__("___chkstk_ms");
const uintptr_t kStackProbeSize = 64;
const BYTE kProbeEntry[] = {0x51, 0x50};

bool LeaveStackProbe(const CONTEXT& context, ResumePoint& point) {
    auto* probe = reinterpret_cast<const BYTE*>(&StackProbe);
    uintptr_t offset = context.Eip - reinterpret_cast<uintptr_t>(probe);
    if (offset >= kStackProbeSize || probe[0] != kProbeEntry[0] || probe[1] != kProbeEntry[1]) {
        return false;
    }
    uintptr_t pushed = offset < sizeof(kProbeEntry) ? offset : sizeof(kProbeEntry);
    uintptr_t returnSlot = context.Esp + 4 * pushed;
    if (!OnStack(returnSlot, 4)) {
        return false;
    }
    point.returnAddress = *reinterpret_cast<const uintptr_t*>(returnSlot);
    point.esp = returnSlot + 4;
    return true;
}

// Which frame the exception is thrown from after a stack overflow, as the
// unwinder sees the stack from RaiseFault.
struct StepUp {
    uintptr_t faultReturn;
    int framesLeft;
    bool started;
    bool found;
    ResumePoint point;
};

_Unwind_Reason_Code StepUpFrame(_Unwind_Context* context, void* argument) {
    auto* step = static_cast<StepUp*>(argument);
    if (!step->started) {
        if (_Unwind_GetIP(context) != step->faultReturn) {
            return _URC_NO_REASON;  // RaiseFault itself.
        }
        step->started = true;
    }
    if (step->framesLeft > 0) {
        --step->framesLeft;
        step->point.esp = _Unwind_GetCFA(context);
        return _URC_NO_REASON;
    }
    // DWARF register numbers of 32-bit x86: ebx 3, ebp 5, esi 6, edi 7.
    step->point.returnAddress = _Unwind_GetIP(context);
    step->point.ebx = _Unwind_GetGR(context, 3);
    step->point.ebp = _Unwind_GetGR(context, 5);
    step->point.esi = _Unwind_GetGR(context, 6);
    step->point.edi = _Unwind_GetGR(context, 7);
    step->found = true;
    return _URC_END_OF_STACK;
}

}  // namespace

// The code the handler resumes the thread at, and the jump into a stepped-up
// frame. Both are plain assembly: they run where the stack holds no frame of
// theirs.
extern "C" void FaultStub() __asm__("ringwarden_fault_stub");
extern "C" void ThrowFrom(const ResumePoint* point) __asm__("ringwarden_throw_from");
extern "C" void RaiseFault() __asm__("ringwarden_raise_fault");
extern "C" void ThrowFault() __asm__("ringwarden_throw_fault");

asm(".text\n"
    "ringwarden_fault_stub:\n"
    "    pushl %eax\n"  // The return address the handler chose.
    "    jmp ringwarden_raise_fault\n"
    "ringwarden_throw_from:\n"
    "    movl 4(%esp), %eax\n"
    "    movl 4(%eax), %edx\n"
    "    movl 8(%eax), %ebx\n"
    "    movl 12(%eax), %esi\n"
    "    movl 16(%eax), %edi\n"
    "    movl 20(%eax), %ebp\n"
    "    movl 0(%eax), %esp\n"
    "    pushl %edx\n"
    "    jmp ringwarden_throw_fault\n");

struct FaultDispatch {
    static EXCEPTION_DISPOSITION Handle(EXCEPTION_RECORD* record, void* establisherFrame,
                                        CONTEXT* context) {
        if (!ClFaultFrame::Translatable(*record)) {
            return ExceptionContinueSearch;
        }
        auto* frame = reinterpret_cast<ClFaultFrame*>(static_cast<char*>(establisherFrame) -
                                                      offsetof(ClFaultFrame, registration));
        // Only the innermost frame holds the thread's translator.
        if (frame != ClFaultFrame::OfThisThread() || !frame->translator) {
            return ExceptionContinueSearch;
        }
        ResumePoint point = {};
        point.esp = context->Esp;
        point.ebp = context->Ebp;
        ClFaultFrame::Resume resume = ClFaultFrame::Resume::AtFault;
        if (record->ExceptionCode == EXCEPTION_STACK_OVERFLOW && LeaveStackProbe(*context, point)) {
            resume = ClFaultFrame::Resume::OneFrameUp;
        } else if (InProgramCode(context->Eip)) {
            point.returnAddress = context->Eip + 1;
            if (record->ExceptionCode == EXCEPTION_STACK_OVERFLOW) {
                resume = ClFaultFrame::Resume::OneFrameUp;
            }
        } else if (!FindReturnIntoProgram(*context, point)) {
            return ExceptionContinueSearch;
        }

        frame->Keep(*record, *context);
        frame->resume = resume;
        frame->raiseReturn = point.returnAddress;
        context->Esp = point.esp;
        context->Ebp = point.ebp;
        context->Eax = point.returnAddress;
        context->Eip = reinterpret_cast<DWORD>(&FaultStub);
        return ExceptionContinueExecution;
    }

    static void Raise() {
        ClFaultFrame* frame = ClFaultFrame::OfThisThread();
        if (frame->resume == ClFaultFrame::Resume::OneFrameUp) {
            StepUp step = {};
            step.faultReturn = frame->raiseReturn;
            step.framesLeft = 1;
            _Unwind_Backtrace(StepUpFrame, &step);
            // A caller outside the program (a callback's caller) has no
            // unwind data: then the exception leaves from the fault itself.
            if (step.found && InProgramCode(step.point.returnAddress)) {
                ThrowFrom(&step.point);
            }
        }
        Throw();
    }

    static void Throw() {
        ClFaultFrame* frame = ClFaultFrame::OfThisThread();
        FaultTranslator translator = frame->translator;
        if (translator) {
            translator(frame->faultRecord.ExceptionCode, &frame->faultPointers);
        }
        // The translator did not throw: the fault ends the process as it
        // would have without one.
        RaiseException(frame->faultRecord.ExceptionCode, EXCEPTION_NONCONTINUABLE, 0, nullptr);
        std::terminate();
    }
};

extern "C" EXCEPTION_DISPOSITION __cdecl FaultFrameHandler(EXCEPTION_RECORD* record, void* establisherFrame,
                                                           CONTEXT* context, void* /*dispatcherContext*/) {
    return FaultDispatch::Handle(record, establisherFrame, context);
}

// Entered with an arbitrarily aligned stack: the faulting code's.
extern "C" __attribute__((force_align_arg_pointer, noinline, used)) void RaiseFault() { FaultDispatch::Raise(); }
extern "C" __attribute__((force_align_arg_pointer, noinline, used)) void ThrowFault() { FaultDispatch::Throw(); }

ClFaultFrame::ClFaultFrame()
    : registration{nullptr, reinterpret_cast<void*>(&FaultFrameHandler)},
      outerFrame(static_cast<ClFaultFrame*>(TlsGetValue(g_frameSlot))),
      translator(nullptr),
      resume(Resume::AtFault),
      raiseReturn(0),
      guardPageSpent(false),
      faultRecord(),
      faultContext(),
      faultPointers(),
      faultChain(),
      chainKept(false) {
    FindProgramCode();
    asm volatile("movl %%fs:0, %0" : "=r"(registration.next));
    asm volatile("movl %0, %%fs:0" : : "r"(&registration) : "memory");
    TlsSetValue(g_frameSlot, this);
}

ClFaultFrame::~ClFaultFrame() {
    asm volatile("movl %0, %%fs:0" : : "r"(registration.next) : "memory");
    TlsSetValue(g_frameSlot, outerFrame);
}

bool ClFaultFrame::Translatable(const EXCEPTION_RECORD& record) {
    return !(record.ExceptionFlags & (kUnwindingFlags | EXCEPTION_NONCONTINUABLE)) &&
           record.ExceptionCode != kMsvcCppException;
}

void ClFaultFrame::Keep(const EXCEPTION_RECORD& record, CONTEXT& context) {
    faultRecord = record;
    faultRecord.ExceptionRecord = nullptr;
    faultContext = context;
    faultPointers.ExceptionRecord = &faultRecord;
    faultPointers.ContextRecord = &faultContext;
    chainKept = false;
    if (record.ExceptionCode == EXCEPTION_STACK_OVERFLOW) {
        guardPageSpent = true;
    }
    if (IsFloatingPointFault(record.ExceptionCode)) {
        // A pending x87 exception would fault again at the next
        // floating-point instruction.
        context.FloatSave.StatusWord &= ~kFpuFaultBits;
    }
}

const FaultChain* ClFaultFrame::KeptChain(const EXCEPTION_POINTERS* pointers) const {
    return chainKept && pointers == &faultPointers ? &faultChain : nullptr;
}

ClFaultFrame* ClFaultFrame::OfThisThread() { return static_cast<ClFaultFrame*>(TlsGetValue(g_frameSlot)); }

FaultTranslator ClFaultFrame::SetTranslator(FaultTranslator newTranslator) {
    if (newTranslator && guardPageSpent) {
        ArmGuardPage();
    }
    FaultTranslator previous = translator;
    translator = newTranslator;
    return previous;
}

void ClFaultFrame::ArmGuardPage() {
    uintptr_t here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    uintptr_t limit = reinterpret_cast<uintptr_t>(ThreadBlock()->StackLimit);
    if (here - limit < kRearmDistance) {
        return;  // Still close to the limit: a later installation tries again.
    }
    // Windows 98's runtime has no such function; looked up, not imported.
    typedef int(__cdecl * ResetFunction)(void);
    HMODULE runtime = GetModuleHandleA("msvcrt.dll");
    auto reset = reinterpret_cast<ResetFunction>(
        reinterpret_cast<void (*)()>(runtime ? GetProcAddress(runtime, "_resetstkoflw") : nullptr));
    if (reset) {
        reset();
    }
    guardPageSpent = false;
}

const FaultChain* GetFaultChain(const EXCEPTION_POINTERS* pointers) {
    ClFaultFrame* frame = ClFaultFrame::OfThisThread();
    return frame ? frame->KeptChain(pointers) : nullptr;
}

FaultTranslator SetFaultTranslator(FaultTranslator translator) {
    ClFaultFrame* frame = ClFaultFrame::OfThisThread();
    if (!frame) {
        return nullptr;
    }
    return frame->SetTranslator(translator);
}
