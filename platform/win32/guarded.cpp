// Guarded calls on Windows: an exception registration on the caller's stack that resumes a fault at the call.
//
// RunGuarded saves the callee-saved registers and links a registration record
// at fs:[0] on its own frame, as a __try block around the call would. A fault
// beneath it, in code of any kind, reaches the guard's handler before any
// handler further out; the handler keeps the fault for the translator and
// resumes the thread at GuardResume, which unlinks the record (and whatever
// the faulting code linked below it), restores the registers and the stack
// pointer that the caller had at its call of RunGuarded, and "calls"
// ThrowFault from there. The translator's exception then leaves from that
// call, which the caller's unwind data describes, and unwinds like any other.
// Nothing of the faulting code's frames is needed, so a library without frame
// pointers or unwind data cannot hide the way back.
//
// The translator builds its report on the stack from the guard downwards,
// over the faulting code's frames, so the handler reads the frame chain for
// the report before it resumes the thread, while those frames are still there.
#include "platform/FaultChain.h"
#include "platform/GuardedCall.h"
#include "platform/win32/FaultFrame.h"

#include <stddef.h>
#include <stdint.h>

namespace {

// What RunGuarded pushes, from the record at the stack pointer upwards. The
// offsets are used by the assembly below.
struct GuardRecord {
    void* next;
    void* handler;
    uintptr_t edi;
    uintptr_t esi;
    uintptr_t ebx;
    uintptr_t ebp;            // The caller's; RunGuarded's own frame pointer points here.
    uintptr_t returnAddress;  // Into the caller of RunGuarded.
};
static_assert(offsetof(GuardRecord, edi) == 8 && offsetof(GuardRecord, esi) == 12 &&
                  offsetof(GuardRecord, ebx) == 16 && offsetof(GuardRecord, ebp) == 20 &&
                  offsetof(GuardRecord, returnAddress) == 24 && sizeof(GuardRecord) == 28,
              "the assembly reads the fields at these offsets");

// The faulting code's part of the chain is followed from the fault's frame
// pointer as long as it climbs within the stack between the fault and the
// guard. Where it breaks off, or where the fault left no frame pointer there
// (code that uses the register as it likes), the walk goes on from the
// guard's frame, whose slot holds the caller's frame pointer: the program's
// own frames are always shown.
void ReadChainBelowGuard(FaultChain& chain, DWORD_PTR framePointer, DWORD_PTR stackPointer,
                         DWORD_PTR guardFrame) {
    chain.frameCount = 0;
    DWORD_PTR frame = framePointer;
    DWORD_PTR next = 0;
    while (frame >= stackPointer && frame < guardFrame && chain.frameCount < kChainFrames &&
           ReadChainFrame(frame, chain.frames[chain.frameCount], next)) {
        ++chain.frameCount;
        if (next <= frame) {
            break;
        }
        frame = next;
    }
    frame = guardFrame;
    while (chain.frameCount < kChainFrames && ReadChainFrame(frame, chain.frames[chain.frameCount], frame)) {
        ++chain.frameCount;
    }
}

}  // namespace

extern "C" void EnterGuard(void (*body)(void*), void* context) __asm__("ringwarden_enter_guard");
extern "C" void GuardResume() __asm__("ringwarden_guard_resume");
extern "C" EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD* record, void* establisherFrame,
                                                      CONTEXT* context, void* dispatcherContext)
    __asm__("ringwarden_guard_handler");

// The pushes keep the stack's alignment: body is entered as from an ordinary
// call. Only eax, ecx and edx are used besides the saved registers, as cdecl
// allows. GuardResume is entered with eax and esp at the record.
asm(".text\n"
    "ringwarden_enter_guard:\n"
    "    pushl %ebp\n"
    "    movl %esp, %ebp\n"
    "    pushl %ebx\n"
    "    pushl %esi\n"
    "    pushl %edi\n"
    "    pushl $ringwarden_guard_handler\n"
    "    pushl %fs:0\n"
    "    movl %esp, %fs:0\n"
    "    movl 28(%esp), %ecx\n"  // body
    "    movl 32(%esp), %eax\n"  // context
    "    pushl %eax\n"
    "    call *%ecx\n"
    "    addl $4, %esp\n"
    "    popl %fs:0\n"
    "    addl $4, %esp\n"
    "    popl %edi\n"
    "    popl %esi\n"
    "    popl %ebx\n"
    "    popl %ebp\n"
    "    ret\n"
    "ringwarden_guard_resume:\n"
    "    movl 0(%eax), %ecx\n"
    "    movl %ecx, %fs:0\n"
    "    movl 8(%eax), %edi\n"
    "    movl 12(%eax), %esi\n"
    "    movl 16(%eax), %ebx\n"
    "    movl 20(%eax), %ebp\n"
    "    movl 24(%eax), %edx\n"
    "    leal 28(%eax), %esp\n"
    "    pushl %edx\n"
    "    jmp ringwarden_throw_fault\n");

struct GuardDispatch {
    static EXCEPTION_DISPOSITION Handle(EXCEPTION_RECORD* record, void* establisherFrame, CONTEXT* context) {
        ClFaultFrame* frame = ClFaultFrame::OfThisThread();
        if (!ClFaultFrame::Translatable(*record) || !frame || !frame->translator) {
            return ExceptionContinueSearch;
        }
        auto* guard = static_cast<GuardRecord*>(establisherFrame);
        frame->Keep(*record, *context);
        ReadChainBelowGuard(frame->faultChain, context->Ebp, context->Esp,
                            reinterpret_cast<DWORD_PTR>(&guard->ebp));
        frame->chainKept = true;
        // Everything below the record is given up; the stub needs no stack
        // until it has moved back to the caller's.
        context->Esp = reinterpret_cast<DWORD>(guard);
        context->Eax = reinterpret_cast<DWORD>(guard);
        context->Eip = reinterpret_cast<DWORD>(&GuardResume);
        return ExceptionContinueExecution;
    }
};

extern "C" EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD* record, void* establisherFrame,
                                                      CONTEXT* context, void* /*dispatcherContext*/) {
    return GuardDispatch::Handle(record, establisherFrame, context);
}

void RunGuarded(void (*body)(void*), void* context) { EnterGuard(body, context); }
