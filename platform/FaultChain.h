// A fault's frame-pointer chain as the crash report shows it, and the reading of its frames.
#pragma once

#include <windows.h>

// The frames a crash report shows at most, and the words of each beyond its
// saved frame pointer and return address.
const int kChainFrames = 64;
const int kChainWordsPerFrame = 3;

// One frame of the chain: its return address and the words above it, as many
// as could be read before the first that could not.
struct FaultChainFrame {
    DWORD_PTR returnAddress;
    DWORD_PTR words[kChainWordsPerFrame];
    int wordCount;
};

// The frames in the order the chain leads up the stack. Fewer than
// kChainFrames means that the walk came to a frame it could not read.
struct FaultChain {
    FaultChainFrame frames[kChainFrames];
    int frameCount;
};

// The chain the platform read at the fault whose exception pointers record
// is `pointers`, while the faulting frames were still on the stack; null
// when there is none and the chain is still there to be read from the
// context's frame pointer. Asked by the thread's translator, on the
// faulting thread.
const FaultChain* GetFaultChain(const EXCEPTION_POINTERS* pointers);

// Reads count words of this process's memory at address; false, and nothing
// faults, when any of them cannot be read.
inline bool ReadStackWords(DWORD_PTR address, DWORD_PTR* words, SIZE_T count) {
    SIZE_T read = 0;
    return ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<LPCVOID>(address), words,
                             count * sizeof(DWORD_PTR), &read) &&
           read == count * sizeof(DWORD_PTR);
}

// Reads the frame that frame pointer `frame` points at into `into` and the
// saved frame pointer that leads on into `next`. False when the saved frame
// pointer or the return address cannot be read.
inline bool ReadChainFrame(DWORD_PTR frame, FaultChainFrame& into, DWORD_PTR& next) {
    DWORD_PTR link[2];  // The saved frame pointer, then the return address.
    if (!ReadStackWords(frame, link, 2)) {
        return false;
    }
    next = link[0];
    into.returnAddress = link[1];
    into.wordCount = 0;
    while (into.wordCount < kChainWordsPerFrame &&
           ReadStackWords(frame + (2 + into.wordCount) * sizeof(DWORD_PTR), &into.words[into.wordCount], 1)) {
        ++into.wordCount;
    }
    return true;
}
