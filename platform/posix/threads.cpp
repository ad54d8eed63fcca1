// Win32 threads and handles over POSIX threads.
//
// A thread handle is a heap object that both the handle and the running
// thread hold: it carries the thread, its exit code and a done flag with a
// condition variable to wait on. Whichever of the two lets go last frees it:
// CloseHandle joins a finished thread and frees the object, or detaches a
// running one, which frees the object when its routine returns. Live thread
// handles are kept in a registry, so a stale or foreign handle fails with
// ERROR_INVALID_HANDLE instead of being followed.
#include <windows.h>

#include "platform/posix/ThreadSeam.h"
#include "platform/posix/handles.h"
#include "platform/posix/private.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <limits.h>
#include <mutex>
#include <new>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace {

struct ThreadObject {
    pthread_t thread;
    LPTHREAD_START_ROUTINE routine;
    LPVOID parameter;
    std::mutex lock;
    std::condition_variable changed;
    DWORD threadId = 0;
    bool done = false;
    bool handleClosed = false;
    DWORD exitCode = STILL_ACTIVE;
};

std::mutex g_registryLock;
std::vector<ThreadObject*> g_threads;
std::atomic<int> g_failNextCreations{0};

bool IsRegistered(ThreadObject* object)
{
    return std::find(g_threads.begin(), g_threads.end(), object) != g_threads.end();
}

// The thread object a handle stands for, or null with ERROR_INVALID_HANDLE.
ThreadObject* FindThread(HANDLE handle)
{
    auto* object = static_cast<ThreadObject*>(handle);
    std::lock_guard<std::mutex> guard(g_registryLock);
    if (IsRegistered(object)) {
        return object;
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

void* RunThread(void* argument)
{
    auto* object = static_cast<ThreadObject*>(argument);
    {
        std::lock_guard<std::mutex> guard(object->lock);
        object->threadId = GetCurrentThreadId();
    }
    object->changed.notify_all();
    DWORD exitCode = object->routine(object->parameter);
    bool orphaned;
    {
        std::lock_guard<std::mutex> guard(object->lock);
        object->exitCode = exitCode;
        object->done = true;
        orphaned = object->handleClosed;
        object->changed.notify_all();
    }
    if (orphaned) {
        delete object;
    }
    return nullptr;
}

}  // namespace

void FailNextThreadCreations(int count) { g_failNextCreations.store(count); }

DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }

DWORD WINAPI GetCurrentThreadId(void) { return static_cast<DWORD>(syscall(SYS_gettid)); }

// Only the default security, any stack size and no creation flags are
// supported; a suspended start fails with ERROR_NOT_SUPPORTED. The 9x family
// insists on a place for the thread's id, and without one creates no thread.
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stackSize, LPTHREAD_START_ROUTINE startAddress,
                           LPVOID parameter, DWORD creationFlags, LPDWORD threadId)
{
    if (startAddress == nullptr || threadId == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (creationFlags != 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    int pending = g_failNextCreations.load();
    while (pending > 0 && !g_failNextCreations.compare_exchange_weak(pending, pending - 1)) {
    }
    if (pending > 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto* object = new (std::nothrow) ThreadObject;
    if (object == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    object->routine = startAddress;
    object->parameter = parameter;
    {
        std::lock_guard<std::mutex> guard(g_registryLock);
        g_threads.push_back(object);
    }

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    if (stackSize != 0) {
        pthread_attr_setstacksize(&attributes, std::max<SIZE_T>(stackSize, PTHREAD_STACK_MIN));
    }
    int error = pthread_create(&object->thread, &attributes, RunThread, object);
    pthread_attr_destroy(&attributes);
    if (error != 0) {
        {
            std::lock_guard<std::mutex> guard(g_registryLock);
            g_threads.erase(std::find(g_threads.begin(), g_threads.end(), object));
        }
        delete object;
        SetLastErrorFromErrno(error);
        return nullptr;
    }
    {
        std::unique_lock<std::mutex> guard(object->lock);
        object->changed.wait(guard, [object] { return object->threadId != 0; });
        *threadId = object->threadId;
    }
    return object;
}

// Waits for a thread to end. Only thread handles can be waited for.
DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds)
{
    ThreadObject* object = FindThread(handle);
    if (object == nullptr) {
        return WAIT_FAILED;
    }
    std::unique_lock<std::mutex> guard(object->lock);
    auto isDone = [object] { return object->done; };
    if (milliseconds == INFINITE) {
        object->changed.wait(guard, isDone);
        return WAIT_OBJECT_0;
    }
    bool done = object->changed.wait_for(guard, std::chrono::milliseconds(milliseconds), isDone);
    return done ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

BOOL WINAPI GetExitCodeThread(HANDLE thread, LPDWORD exitCode)
{
    ThreadObject* object = FindThread(thread);
    if (object == nullptr) {
        return FALSE;
    }
    if (exitCode == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(object->lock);
    *exitCode = object->exitCode;
    return TRUE;
}

// Closes a thread handle, or the descriptor a file handle carries.
BOOL WINAPI CloseHandle(HANDLE handle)
{
    auto* object = static_cast<ThreadObject*>(handle);
    {
        std::lock_guard<std::mutex> guard(g_registryLock);
        auto found = std::find(g_threads.begin(), g_threads.end(), object);
        if (found == g_threads.end()) {
            object = nullptr;
        } else {
            g_threads.erase(found);
        }
    }
    if (object == nullptr) {
        if (handle == GetCurrentProcess()) {
            return TRUE;  // A pseudo handle: nothing to close, as on Windows.
        }
        int fd = DescriptorFromHandle(handle);
        ForgetConsoleAnswers(fd);
        if (fd < 0 || close(fd) != 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        return TRUE;
    }
    bool done;
    {
        std::lock_guard<std::mutex> guard(object->lock);
        done = object->done;
        object->handleClosed = !done;
        if (!done) {
            pthread_detach(object->thread);
        }
    }
    if (done) {
        pthread_join(object->thread, nullptr);
        delete object;
    }
    return TRUE;
}
