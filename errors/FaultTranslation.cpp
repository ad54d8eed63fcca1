// Crash reports: the fault's kind, the faulting address and the frame chain, thrown as ClStructuredException.
#include "errors/FaultTranslation.h"

#include <string.h>

#include "base/Resources.h"
#include "errors/ClException.h"
#include "platform/FaultChain.h"
#include "platform/FaultTranslator.h"

namespace {

const UINT kHeadline = 3021;

struct FaultText {
    DWORD code;
    UINT id;
};

// Each entry's text takes the headline for its %s.
const FaultText g_faultTexts[] = {
    {EXCEPTION_ACCESS_VIOLATION, 3022},     {EXCEPTION_BREAKPOINT, 3023},
    {EXCEPTION_SINGLE_STEP, 3023},          {EXCEPTION_FLT_DENORMAL_OPERAND, 3024},
    {EXCEPTION_FLT_INEXACT_RESULT, 3024},   {EXCEPTION_FLT_INVALID_OPERATION, 3024},
    {EXCEPTION_FLT_STACK_CHECK, 3024},      {EXCEPTION_FLT_DIVIDE_BY_ZERO, 3025},
    {EXCEPTION_INT_DIVIDE_BY_ZERO, 3025},   {EXCEPTION_FLT_OVERFLOW, 3026},
    {EXCEPTION_FLT_UNDERFLOW, 3026},        {EXCEPTION_INT_OVERFLOW, 3026},
    {EXCEPTION_IN_PAGE_ERROR, 3027},        {EXCEPTION_ILLEGAL_INSTRUCTION, 3028},
    {EXCEPTION_STACK_OVERFLOW, 3029},
};

const DWORD kReserve = 2048;
const DWORD kRoomPerFrame = 324;
const char kEndOfStack[] = "----------------------------------\r\n";
const char kUnknownModule[] = "<unknown>";

// The translator is off while the report is built, so that a fault in the
// building ends the program instead of recursing; it is back on however the
// building ends, a failed allocation included.
class TranslatorPause {
public:
    TranslatorPause() { SetFaultTranslator(nullptr); }
    ~TranslatorPause() { SetFaultTranslator(TranslateFault); }
    TranslatorPause(const TranslatorPause&) = delete;
    TranslatorPause& operator=(const TranslatorPause&) = delete;
};

// The report's buffer with the count of characters written into it. Every
// piece is written in place; room is the space left before the terminator.
class DumpWriter {
public:
    explicit DumpWriter(ClString& report)
        : report(report), used(report.GetLength()), size(used + kReserve), buffer(report.GetBuffer(size)) {}

    void EnsureRoom() {
        if (Room() >= kRoomPerFrame) {
            return;
        }
        size += kReserve;
        buffer = report.GetBuffer(size);
    }

    void Put(const char* text) {
        DWORD length = static_cast<DWORD>(strlen(text));
        memcpy(buffer + used, text, length);
        used += length;
    }

    // In hex, at least 8 digits wide, blank-padded. wsprintfA's l size is 32
    // bits, as a long is on Windows; a wider address is written in two halves.
    void PutAddress(DWORD_PTR value) {
        const unsigned long long wide = value;
        const DWORD high = static_cast<DWORD>(wide >> 32);
        const DWORD low = static_cast<DWORD>(wide);
        used += static_cast<DWORD>(high != 0 ? wsprintfA(buffer + used, "%lx%08lx", high, low)
                                             : wsprintfA(buffer + used, "%8lx", low));
    }

    // The module's file name after a blank and a tab; left out when the room
    // is nearly gone.
    void PutModuleOf(DWORD_PTR address) {
        DWORD room = Room();
        if (room <= 4) {
            return;
        }
        Put(" \t");
        used += GetModuleNameOf(address, buffer + used, room - 4);
    }

    void PutInstruction(DWORD_PTR eip) {
        Put("\r\n\r\n  EIP: ");
        PutAddress(eip);
        Put("\r\n");
    }

    // The return address, the words read above it (" X" for the first that
    // could not be read) and the module the return address lies in.
    void PutFrame(const FaultChainFrame& frame) {
        PutAddress(frame.returnAddress);
        Put("  ");
        for (int k = 0; k < frame.wordCount; ++k) {
            Put("  ");
            PutAddress(frame.words[k]);
        }
        if (frame.wordCount < kChainWordsPerFrame) {
            Put(" X");
        }
        if (frame.returnAddress != 0) {
            PutModuleOf(frame.returnAddress);
        }
        Put("\r\n");
    }

    void Close() { report.ReleaseBuffer(used); }

private:
    DWORD Room() const { return size - used; }

    ClString& report;
    DWORD used;
    DWORD size;
    char* buffer;
};

}  // namespace

// The faulting instruction stands on the EIP line, at the platform's full
// width and without a module; the first frame line shows the caller of the
// faulting function.
void AppendStackDump(ClString& report, DWORD_PTR eip, DWORD_PTR ebp) {
    DumpWriter writer(report);
    writer.PutInstruction(eip);
    DWORD_PTR frame = ebp;
    for (int i = 0; i < kChainFrames; ++i) {
        writer.EnsureRoom();
        FaultChainFrame read;
        if (!ReadChainFrame(frame, read, frame)) {
            writer.Put(kEndOfStack);
            break;
        }
        writer.PutFrame(read);
    }
    writer.Close();
}

void AppendStackDump(ClString& report, DWORD_PTR eip, const FaultChain& chain) {
    DumpWriter writer(report);
    writer.PutInstruction(eip);
    for (int i = 0; i < chain.frameCount; ++i) {
        writer.EnsureRoom();
        writer.PutFrame(chain.frames[i]);
    }
    if (chain.frameCount < kChainFrames) {
        writer.EnsureRoom();
        writer.Put(kEndOfStack);
    }
    writer.Close();
}

DWORD GetModuleNameOf(DWORD_PTR address, char* destination, DWORD size) {
    if (size == 0) {
        return 0;
    }
    MEMORY_BASIC_INFORMATION region;
    DWORD length = 0;
    // Memory that belongs to no allocation has no base; asking for the file
    // of a null module would name the program itself.
    if (VirtualQuery(reinterpret_cast<LPCVOID>(address), &region, sizeof(region)) >= sizeof(region) &&
        region.AllocationBase != nullptr) {
        length = GetModuleFileNameA(static_cast<HMODULE>(region.AllocationBase), destination, size);
    }
    if (length == 0) {
        length = static_cast<DWORD>(sizeof(kUnknownModule) - 1);
        if (length > size - 1) {
            length = size - 1;
        }
        memcpy(destination, kUnknownModule, length);
        destination[length] = '\0';
        return length;
    }
    // A cut name fills the buffer; its terminator takes the last byte.
    if (length > size - 1) {
        length = size - 1;
        destination[length] = '\0';
    }
    char* separator = nullptr;
    for (char* at = destination; at < destination + length; ++at) {
        if (*at == '\\' || *at == '/') {
            separator = at;
        }
    }
    if (separator == nullptr || separator + 1 == destination + length) {
        return length;
    }
    DWORD nameLength = static_cast<DWORD>(destination + length - (separator + 1));
    memmove(destination, separator + 1, nameLength + 1);
    return nameLength;
}

[[noreturn]] void TranslateFault(unsigned int code, EXCEPTION_POINTERS* pointers) {
    ClString report;
    {
        TranslatorPause pause;
        report = FormatResource(kHeadline);
        for (const FaultText& entry : g_faultTexts) {
            if (entry.code == code) {
                report = FormatResource(entry.id, report.GetText());
                break;
            }
        }
        const FaultChain* chain = GetFaultChain(pointers);
        if (chain != nullptr) {
            AppendStackDump(report, pointers->ContextRecord->Eip, *chain);
        } else {
            AppendStackDump(report, pointers->ContextRecord->Eip, pointers->ContextRecord->Ebp);
        }
    }
    throw new ClStructuredException(report);
}
