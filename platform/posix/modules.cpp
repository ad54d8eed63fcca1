// Module handles, module file names and memory queries over the loaded ELF modules.
#include <dlfcn.h>
#include <errno.h>
#include <link.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "platform/posix/private.h"

namespace {

// What the walk over the loaded modules reports about one module. The name is
// the dynamic linker's: empty for the main program, otherwise the path the
// library was loaded from.
struct ModuleView {
    HMODULE handle;
    const char* name;
    bool isMain;
    const dl_phdr_info* info;
};

template <class Visit>
struct WalkState {
    Visit& visit;
    bool first;
    bool stopped;
};

// Calls visit(const ModuleView&) for every loaded module, the main program
// first, until visit returns true. The callback runs under the dynamic
// linker's lock, so visitors must not allocate or load anything.
template <class Visit>
bool WalkModules(Visit visit) {
    WalkState<Visit> state{visit, true, false};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) -> int {
            auto* walk = static_cast<WalkState<Visit>*>(data);
            ElfW(Addr) lowest = ~static_cast<ElfW(Addr)>(0);
            for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
                if (info->dlpi_phdr[i].p_type == PT_LOAD && info->dlpi_phdr[i].p_vaddr < lowest) {
                    lowest = info->dlpi_phdr[i].p_vaddr;
                }
            }
            const bool isMain = walk->first;
            walk->first = false;
            if (lowest == ~static_cast<ElfW(Addr)>(0)) {
                return 0;
            }
            ModuleView view{reinterpret_cast<HMODULE>(info->dlpi_addr + lowest),
                            info->dlpi_name != nullptr ? info->dlpi_name : "", isMain, info};
            walk->stopped = walk->visit(view);
            return walk->stopped ? 1 : 0;
        },
        &state);
    return state.stopped;
}

const ElfW(Phdr)* SegmentHolding(const dl_phdr_info* info, uintptr_t address) {
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        const uintptr_t start = info->dlpi_addr + segment.p_vaddr;
        if (segment.p_type == PT_LOAD && address >= start && address - start < segment.p_memsz) {
            return &segment;
        }
    }
    return nullptr;
}

// Copies the real path of the module into path (PATH_MAX bytes); false when
// the module is not loaded.
bool ModulePath(HMODULE module, char* path) {
    const char* name = nullptr;
    bool isMain = false;
    const bool found = WalkModules([&](const ModuleView& view) {
        if (view.handle != module) {
            return false;
        }
        name = view.name;
        isMain = view.isMain;
        return true;
    });
    if (!found) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return false;
    }
    if (isMain) {
        const ssize_t length = readlink("/proc/self/exe", path, PATH_MAX - 1);
        if (length < 0) {
            SetLastErrorFromErrno(errno);
            return false;
        }
        path[length] = '\0';
        return true;
    }
    if (name[0] == '/' || realpath(name, path) == nullptr) {
        strncpy(path, name, PATH_MAX - 1);
        path[PATH_MAX - 1] = '\0';
    }
    return true;
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool PrefixEqualsNoCase(const char* a, const char* b, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

// A library asked for by its Windows name ("rasapi32.dll") is the POSIX
// library "librasapi32.so"; a name that already is a file name matches itself.
bool NameMatches(const char* path, const char* wanted) {
    const char* slash = strrchr(path, '/');
    const char* base = slash != nullptr ? slash + 1 : path;
    const size_t baseLength = strlen(base);
    size_t stem = strlen(wanted);
    if (baseLength == stem && PrefixEqualsNoCase(base, wanted, stem)) {
        return true;
    }
    if (stem > 4 && PrefixEqualsNoCase(wanted + stem - 4, ".dll", 4)) {
        stem -= 4;
    }
    return baseLength == stem + 6 && strncmp(base, "lib", 3) == 0 &&
           PrefixEqualsNoCase(base + 3, wanted, stem) && strcmp(base + 3 + stem, ".so") == 0;
}

}  // namespace

// The program is mapped once and never moves, and every string load asks
// for it: walk the modules the first time only.
HMODULE MainModuleHandle() {
    static const HMODULE handle = [] {
        HMODULE first = nullptr;
        WalkModules([&](const ModuleView& view) {
            first = view.handle;
            return true;
        });
        return first;
    }();
    return handle;
}

HMODULE ModuleHandleOfAddress(const void* address) {
    HMODULE handle = nullptr;
    const uintptr_t wanted = reinterpret_cast<uintptr_t>(address);
    WalkModules([&](const ModuleView& view) {
        if (SegmentHolding(view.info, wanted) == nullptr) {
            return false;
        }
        handle = view.handle;
        return true;
    });
    return handle;
}

HMODULE ModuleHandleOfDlopen(void* dlopenHandle) {
    link_map* map = nullptr;
    if (dlopenHandle == nullptr || dlinfo(dlopenHandle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) {
        return nullptr;
    }
    return ModuleHandleOfAddress(reinterpret_cast<const void*>(map->l_ld));
}

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
    if (moduleName == nullptr) {
        return MainModuleHandle();
    }
    HMODULE handle = nullptr;
    WalkModules([&](const ModuleView& view) {
        if (view.isMain || !NameMatches(view.name, moduleName)) {
            return false;
        }
        handle = view.handle;
        return true;
    });
    if (handle == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
    }
    return handle;
}

// A name that does not fit is cut to size - 1 characters and terminated, and
// the call returns size - 1, as on Windows 95, 98 and ME, without setting an
// error. (The NT family returns size; XP leaves the name unterminated.)
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
    if (fileName == nullptr && size != 0) {
        SetLastError(ERROR_NOACCESS);
        return 0;
    }
    char path[PATH_MAX];
    if (!ModulePath(module != nullptr ? module : MainModuleHandle(), path)) {
        return 0;
    }
    if (size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const size_t length = strlen(path);
    if (length < size) {
        memcpy(fileName, path, length + 1);
        return static_cast<DWORD>(length);
    }
    memcpy(fileName, path, size - 1);
    fileName[size - 1] = '\0';
    return size - 1;
}

// Memory inside a loaded module is reported as committed image memory whose
// allocation base is the module's handle; any other address as free memory,
// one page long, with no allocation base.
SIZE_T WINAPI VirtualQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION buffer, SIZE_T length) {
    if (buffer == nullptr) {
        SetLastError(ERROR_NOACCESS);
        return 0;
    }
    if (length < sizeof(MEMORY_BASIC_INFORMATION)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const uintptr_t pageSize = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t wanted = reinterpret_cast<uintptr_t>(address);
    const uintptr_t page = wanted & ~(pageSize - 1);
    memset(buffer, 0, sizeof(*buffer));
    buffer->BaseAddress = reinterpret_cast<PVOID>(page);
    buffer->RegionSize = pageSize;
    buffer->State = MEM_FREE;
    buffer->Protect = PAGE_NOACCESS;
    WalkModules([&](const ModuleView& view) {
        const ElfW(Phdr)* segment = SegmentHolding(view.info, wanted);
        if (segment == nullptr) {
            return false;
        }
        const uintptr_t end = view.info->dlpi_addr + segment->p_vaddr + segment->p_memsz;
        DWORD protect = PAGE_READONLY;
        if (segment->p_flags & PF_X) {
            protect = PAGE_EXECUTE_READ;
        } else if (segment->p_flags & PF_W) {
            protect = PAGE_READWRITE;
        }
        buffer->AllocationBase = view.handle;
        buffer->AllocationProtect = protect;
        buffer->RegionSize = ((end + pageSize - 1) & ~(pageSize - 1)) - page;
        buffer->State = MEM_COMMIT;
        buffer->Protect = protect;
        buffer->Type = MEM_IMAGE;
        return true;
    });
    return sizeof(MEMORY_BASIC_INFORMATION);
}
