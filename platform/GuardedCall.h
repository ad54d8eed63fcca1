// Calls into code the program does not own, so that a processor fault anywhere inside it becomes the program's.
#pragma once

// Runs body(context). A processor fault anywhere beneath the call, at any
// depth and in code without frame pointers or unwind data, is handed to the
// calling thread's fault translator as though this call had faulted: the
// exception the translator throws leaves from the call, with the registers
// the caller had when it made it. Without a translator the fault ends the
// process. body itself must not throw.
void RunGuarded(void (*body)(void*), void* context);

// Calls function() under RunGuarded and returns its result.
template <class Function>
auto CallGuarded(const Function& function) -> decltype(function()) {
    using Result = decltype(function());
    struct Call {
        const Function& function;
        Result result;
        static void Run(void* context) {
            Call* call = static_cast<Call*>(context);
            call->result = call->function();
        }
    };
    Call call{function, Result()};
    RunGuarded(&Call::Run, &call);
    return call.result;
}
