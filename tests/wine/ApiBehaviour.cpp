// Prints how the Win32 calls behave where the program relies on the details: the same source runs on the stand-in and under Wine.
//
// tests/wine/run-tests runs the POSIX build and the Windows build and compares
// their lines: the real API is the reference for the stand-in. Lines name the
// case, the result and the last error. Texts that each system words in its
// own way (error descriptions, paths) are reduced to what the program uses.
#include <windows.h>

#include <stdio.h>
#include <string.h>

namespace {

const DWORD kSentinel = 0xDEADBEEF;

void Line(const char* name, long result, DWORD error) {
    printf("%s: %ld, error %lu\n", name, result, static_cast<unsigned long>(error));
}

void Text(const char* name, const char* text, int count) {
    printf("%s: \"", name);
    for (int i = 0; i < count; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= ' ' && c < 0x7F && c != '"' && c != '\\') {
            putchar(c);
        } else {
            printf("\\x%02x", c);
        }
    }
    printf("\"\n");
}

void LoadStrings() {
    HINSTANCE self = GetModuleHandleA(nullptr);
    char buffer[300];
    const int sizes[] = {1, 2, 5, 26, 300};
    for (int size : sizes) {
        memset(buffer, 'x', sizeof(buffer));
        SetLastError(kSentinel);
        int count = LoadStringA(self, 3, buffer, size);
        char name[64];
        wsprintfA(name, "LoadStringA entry 3 into %d", size);
        Line(name, count, count > 0 ? 0 : GetLastError());
        Text(name, buffer, count + 1 < size ? count + 1 : size);
    }
    memset(buffer, 'x', sizeof(buffer));
    SetLastError(kSentinel);
    int count = LoadStringA(self, 24, buffer, sizeof(buffer));
    Line("LoadStringA missing entry 24", count, 0);
    Text("LoadStringA missing entry 24", buffer, 1);
}

void CompareTexts() {
    struct Pair {
        const char* first;
        int firstCount;
        const char* second;
        int secondCount;
    };
    const Pair pairs[] = {
        {"startserver", -1, "STARTSERVER", -1}, {"Modem1", -1, "modem2", -1}, {"b", -1, "A", -1},
        {"abc", 2, "ab", -1},                   {"ab", -1, "abc", -1},        {"", -1, "", -1},
        {"a b", -1, "A B", -1},                 {"/N", 2, "/n:", 2},          {"x", 0, "", 0},
    };
    for (const Pair& pair : pairs) {
        SetLastError(kSentinel);
        int result = CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, pair.first, pair.firstCount,
                                    pair.second, pair.secondCount);
        char name[96];
        wsprintfA(name, "CompareStringA \"%s\"/%d \"%s\"/%d", pair.first, pair.firstCount, pair.second,
                  pair.secondCount);
        Line(name, result, result != 0 ? 0 : GetLastError());
    }
}

void FormatSmall() {
    char buffer[2048];
    int count = wsprintfA(buffer, "[%8x][%8x][%x][%u][%d][%.4s][%-3d][%s]", 0x1234u, 0u, 0xABCDEFu, 4000000000u,
                          -5, "PPPoE", 7, "text");
    Line("wsprintfA layout", count, 0);
    Text("wsprintfA layout", buffer, count);

    char longText[1500];
    memset(longText, 'a', sizeof(longText) - 1);
    longText[sizeof(longText) - 1] = '\0';
    memset(buffer, 'x', sizeof(buffer));
    count = wsprintfA(buffer, "%s", longText);
    Line("wsprintfA of 1499 characters", count, 0);
    Line("wsprintfA of 1499 characters, terminator at", static_cast<long>(strlen(buffer)), 0);

    // A long is 32 bits on Windows: l takes an int's worth, so -1 reads as -1.
    count = wsprintfA(buffer, "[%ld][%li][%lu][%lx]", -1, -2, 4000000000u, 0xDEADBEEFu);
    Text("wsprintfA with l", buffer, count);
}

void DescribeErrors() {
    const DWORD codes[] = {ERROR_FILE_NOT_FOUND, ERROR_MOD_NOT_FOUND, ERROR_PROC_NOT_FOUND, ERROR_DLL_NOT_FOUND,
                           0x1234567};
    for (DWORD code : codes) {
        char* text = nullptr;
        SetLastError(kSentinel);
        DWORD count = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0,
                                     reinterpret_cast<LPSTR>(&text), 0, nullptr);
        DWORD error = count != 0 ? 0 : GetLastError();
        char name[64];
        wsprintfA(name, "FormatMessageA %lu", code);
        // Only whether there is a text and how it ends: the words are the system's own.
        Line(name, count != 0, error);
        if (count >= 2) {
            Text(name, text + count - 2, 2);
        }
        if (text) {
            LocalFree(text);
        }
    }
}

// Error 193's text holds an insert: without arguments only
// FORMAT_MESSAGE_IGNORE_INSERTS gets it, with the insert as it stands.
void DescribeWithInsert() {
    const DWORD flags[] = {FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM,
                           FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS};
    for (DWORD flag : flags) {
        char* text = nullptr;
        SetLastError(kSentinel);
        DWORD count = FormatMessageA(flag, nullptr, ERROR_BAD_EXE_FORMAT, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
        char name[64];
        wsprintfA(name, "FormatMessageA 193 with flags %lx", flag);
        Line(name, count != 0, count != 0 ? 0 : GetLastError());
        strcat(name, ", text holds the insert");
        Line(name, text != nullptr && strstr(text, "%1") != nullptr, 0);
        if (text) {
            LocalFree(text);
        }
    }
}

DWORD WINAPI Nothing(LPVOID) {
    return 0;
}

// Calls that the 9x family refuses and Wine's Windows 98 mode takes.
void NineXRules() {
    SetLastError(kSentinel);
    HANDLE thread = CreateThread(nullptr, 0, Nothing, nullptr, 0, nullptr);
    Line("CreateThread without a thread id", thread != nullptr, thread != nullptr ? 0 : GetLastError());
    if (thread != nullptr) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    SetLastError(kSentinel);
    BOOL ok = WriteFile(GetStdHandle(STD_ERROR_HANDLE), "", 0, nullptr, nullptr);
    Line("WriteFile without a byte count", ok, ok ? 0 : GetLastError());
    struct {
        OSVERSIONINFOA plain;
        BYTE more[8];
    } extended = {};
    extended.plain.dwOSVersionInfoSize = sizeof(extended);
    SetLastError(kSentinel);
    ok = GetVersionExA(&extended.plain);
    Line("GetVersionExA with size 156", ok, ok ? 0 : GetLastError());
}

// A missing library: Windows 95, 98 and ME set 1157 (ERROR_DLL_NOT_FOUND),
// the NT family 126 (ERROR_MOD_NOT_FOUND).
void LoadLibraries() {
    SetLastError(kSentinel);
    HMODULE missing = LoadLibraryA("no-such-library.dll");
    Line("LoadLibraryA missing", missing != nullptr, GetLastError());
    HMODULE self = GetModuleHandleA(nullptr);
    SetLastError(kSentinel);
    FARPROC procedure = GetProcAddress(self, "NoSuchProcedure");
    Line("GetProcAddress missing", procedure != nullptr, GetLastError());
}

void ModuleNames() {
    char full[1024];
    DWORD length = GetModuleFileNameA(nullptr, full, sizeof(full));
    const char* tail = full + length;
    while (tail > full && tail[-1] != '\\' && tail[-1] != '/') {
        --tail;
    }
    Line("GetModuleFileNameA ends in the program's name", strncmp(tail, "api_behaviour", 13) == 0, 0);
    // A name cut short: Windows 95, 98 and ME return size - 1 and terminate
    // it; the NT family returns size, unterminated on XP.
    char small[5];
    memset(small, 'x', sizeof(small));
    SetLastError(kSentinel);
    length = GetModuleFileNameA(nullptr, small, sizeof(small));
    Line("GetModuleFileNameA into 5", length, GetLastError());
    Line("GetModuleFileNameA into 5, terminated", memchr(small, 0, sizeof(small)) != nullptr, 0);

    MEMORY_BASIC_INFORMATION region;
    SIZE_T size = VirtualQuery(reinterpret_cast<LPCVOID>(&ModuleNames), &region, sizeof(region));
    Line("VirtualQuery of own code", size == sizeof(region), 0);
    Line("VirtualQuery allocation base is the module handle",
         region.AllocationBase == reinterpret_cast<PVOID>(GetModuleHandleA(nullptr)), 0);
}

void Console() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    Line("GetFileType of input (/dev/null)", GetFileType(input), 0);
    Line("GetFileType of output (a pipe)", GetFileType(output), 0);
    DWORD mode = 0;
    SetLastError(kSentinel);
    BOOL ok = GetConsoleMode(input, &mode);
    Line("GetConsoleMode of /dev/null", ok, ok ? 0 : GetLastError());
    DWORD written = 0;
    SetLastError(kSentinel);
    ok = WriteConsoleA(output, "x", 1, &written, nullptr);
    Line("WriteConsoleA to a pipe", ok, ok ? 0 : GetLastError());
    char key = 0;
    DWORD read = 7;
    SetLastError(kSentinel);
    ok = ReadFile(input, &key, 1, &read, nullptr);
    Line("ReadFile at the end of /dev/null", ok, ok ? 0 : GetLastError());
    Line("ReadFile at the end of /dev/null, bytes", read, 0);
}

void Versions() {
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = 100;
    SetLastError(kSentinel);
    BOOL ok = GetVersionExA(&version);
    Line("GetVersionExA with size 100", ok, ok ? 0 : GetLastError());
    LONG counter = 5;
    Line("InterlockedIncrement", InterlockedIncrement(&counter), 0);
    Line("InterlockedDecrement", InterlockedDecrement(&counter), 0);
}

}  // namespace

int main() {
    LoadStrings();
    CompareTexts();
    FormatSmall();
    DescribeErrors();
    DescribeWithInsert();
    LoadLibraries();
    ModuleNames();
    Console();
    Versions();
    NineXRules();
    return 0;
}
