// The exception frame through which a Windows thread hands its processor faults to its fault translator.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "platform/FaultChain.h"
#include "platform/FaultTranslator.h"

// One registration record chained at fs:[0] for the lifetime of the object,
// and the room its handler needs to hand a fault over to the translator. A
// thread translates faults only inside such a frame: construct one as a local
// of the thread's outermost function (the process entry has one for the main
// thread). Frames nest in the order of construction and end in reverse.
class ClFaultFrame {
public:
    ClFaultFrame();
    ~ClFaultFrame();
    ClFaultFrame(const ClFaultFrame&) = delete;
    ClFaultFrame& operator=(const ClFaultFrame&) = delete;

    // The innermost frame of the calling thread, or null.
    static ClFaultFrame* OfThisThread();

    FaultTranslator GetTranslator() const { return translator; }
    FaultTranslator SetTranslator(FaultTranslator newTranslator);
    // The chain kept with the fault whose pointers record is `pointers`, or null.
    const FaultChain* KeptChain(const EXCEPTION_POINTERS* pointers) const;

private:
    // The system's view of the frame: the record it walks from fs:[0].
    struct Registration {
        Registration* next;
        void* handler;
    };
    enum class Resume { AtFault, OneFrameUp };

    friend struct FaultDispatch;
    friend struct GuardDispatch;

    void ArmGuardPage();
    // Whether a handler hands this exception to the translator: a fault
    // being dispatched, neither an unwind nor a C++ exception.
    static bool Translatable(const EXCEPTION_RECORD& record);
    // Keeps a copy of the fault for the translator and readies the thread's
    // context to be resumed.
    void Keep(const EXCEPTION_RECORD& record, CONTEXT& context);

    Registration registration;
    ClFaultFrame* outerFrame;
    FaultTranslator translator;
    Resume resume;
    // The return address RaiseFault was "called" with.
    uintptr_t raiseReturn;
    // Set by a stack overflow: the guard page below the stack is used up
    // until it is armed again from a frame well above it.
    bool guardPageSpent;
    EXCEPTION_RECORD faultRecord;
    CONTEXT faultContext;
    EXCEPTION_POINTERS faultPointers;
    // Read by a guarded call's handler before it resumes the thread over the
    // faulting frames; any other fault leaves its chain on the stack.
    FaultChain faultChain;
    bool chainKept;
};
