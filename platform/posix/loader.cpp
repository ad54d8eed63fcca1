// LoadLibraryA, GetProcAddress and FreeLibrary over dlopen.
//
// A Windows library name becomes a shared object name: lower case, a
// trailing ".dll" dropped, "lib" in front and ".so" behind, so
// "RASAPI32.DLL" is librasapi32.so. It is looked for first in the folder of
// the running executable, then through the dynamic linker's own search
// (LD_LIBRARY_PATH and the system folders). A name holding a "/" is a path
// and is loaded as it stands. Libraries load with RTLD_NOW | RTLD_LOCAL.
//
// A library that is not there fails with ERROR_DLL_NOT_FOUND, as on Windows
// 95, 98 and ME; the NT family sets ERROR_MOD_NOT_FOUND instead.
#include "platform/posix/private.h"

#include <ctype.h>
#include <errno.h>
#include <dlfcn.h>
#include <limits.h>
#include <mutex>
#include <string.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Each module handle the loader gave out, with its dlopen handle and how
// many LoadLibraryA calls it still has to be freed for.
struct LoadedModule {
    HMODULE module;
    void* dlopenHandle;
    unsigned loads;
};

std::mutex g_modulesLock;
std::vector<LoadedModule> g_modules;

std::string SharedObjectName(const char* fileName)
{
    std::string name;
    for (const char* p = fileName; *p != 0; ++p) {
        name += static_cast<char>(tolower(static_cast<unsigned char>(*p)));
    }
    const std::string extension = ".dll";
    if (name.size() > extension.size() && name.compare(name.size() - extension.size(), extension.size(), extension) == 0) {
        name.erase(name.size() - extension.size());
    }
    return "lib" + name + ".so";
}

// The kernel's link to the running program already names it by its real
// path: one readlink, no walk over the path's folders.
std::string ExecutableFolder()
{
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0) {
        return std::string();
    }
    path[length] = '\0';
    char* slash = strrchr(path, '/');
    return slash == nullptr ? std::string() : std::string(path, static_cast<size_t>(slash - path));
}

bool FileExists(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// Loads a file known to exist; one that will not load is no library.
void* OpenExisting(const std::string& path)
{
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        dlerror();
        SetLastError(ERROR_BAD_EXE_FORMAT);
    }
    return handle;
}

// Leaves the search to the dynamic linker, which tells only in words
// whether it found no file or a file it could not load.
void* OpenThroughSearch(const std::string& name)
{
    void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle != nullptr) {
        return handle;
    }
    const char* reason = dlerror();
    bool missing = reason == nullptr || strstr(reason, strerror(ENOENT)) != nullptr;
    SetLastError(missing ? ERROR_DLL_NOT_FOUND : ERROR_BAD_EXE_FORMAT);
    return nullptr;
}

void* Open(const char* fileName)
{
    if (strchr(fileName, '/') != nullptr) {
        if (!FileExists(fileName)) {
            SetLastError(ERROR_DLL_NOT_FOUND);
            return nullptr;
        }
        return OpenExisting(fileName);
    }
    std::string name = SharedObjectName(fileName);
    std::string folder = ExecutableFolder();
    if (!folder.empty() && FileExists(folder + "/" + name)) {
        return OpenExisting(folder + "/" + name);
    }
    return OpenThroughSearch(name);
}

}  // namespace

HMODULE WINAPI LoadLibraryA(LPCSTR fileName)
{
    if (fileName == nullptr || fileName[0] == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    void* handle = Open(fileName);
    if (handle == nullptr) {
        return nullptr;
    }
    HMODULE module = ModuleHandleOfDlopen(handle);
    if (module == nullptr) {
        dlclose(handle);
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(g_modulesLock);
    for (LoadedModule& loaded : g_modules) {
        if (loaded.module == module) {
            // dlopen counts its own references; one dlclose per load keeps them even.
            ++loaded.loads;
            return module;
        }
    }
    g_modules.push_back(LoadedModule{module, handle, 1});
    return module;
}

// Only the module's own exports count, as on Windows: dlsym would also find
// symbols of the libraries the module itself depends on.
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName)
{
    void* handle = nullptr;
    {
        std::lock_guard<std::mutex> guard(g_modulesLock);
        for (const LoadedModule& loaded : g_modules) {
            if (loaded.module == module) {
                handle = loaded.dlopenHandle;
            }
        }
    }
    if (handle == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // A name below 0x10000 is an ordinal, which shared objects do not have.
    if (reinterpret_cast<uintptr_t>(procName) < 0x10000) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* symbol = dlsym(handle, procName);
    if (symbol == nullptr || ModuleHandleOfAddress(symbol) != module) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL WINAPI FreeLibrary(HMODULE module)
{
    void* handle = nullptr;
    {
        std::lock_guard<std::mutex> guard(g_modulesLock);
        for (size_t i = 0; i < g_modules.size(); ++i) {
            if (g_modules[i].module != module) {
                continue;
            }
            handle = g_modules[i].dlopenHandle;
            if (--g_modules[i].loads == 0) {
                g_modules.erase(g_modules.begin() + static_cast<std::ptrdiff_t>(i));
            }
            break;
        }
    }
    if (handle == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    dlclose(handle);
    return TRUE;
}
