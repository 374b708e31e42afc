// Threads on Windows: started with CreateThread, joined by waiting for the
// thread's handle and closing it, detached by closing the handle alone.
//
// A thread holds a reference to the module its code lives in (the DLL, or
// the program that links the library statically) from start to end, and
// ends with FreeLibraryAndExitThread. A host that calls FreeLibrary while
// the listener thread runs therefore does not unmap code that the thread is
// still executing: the DLL stays loaded until the thread has returned, and
// only then do its clean-up and static destructors run.
#include "platform/win32/winsock.h"

#include <new>

namespace tqbse::platform {
namespace {

struct Start {
    void (*entry)(void*);
    void* argument;
    HMODULE module;
};

DWORD WINAPI run(LPVOID p)
{
    const Start start = *static_cast<Start*>(p);
    delete static_cast<Start*>(p);
    start.entry(start.argument);
    if (start.module != nullptr)
        ::FreeLibraryAndExitThread(start.module, 0);
    return 0;
}

HANDLE threadHandle(const Thread& t) { return reinterpret_cast<HANDLE>(t.handle); }

// The module holding this code, with its reference count raised by one.
HMODULE pinOwnModule()
{
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&run), &module))
        return nullptr;
    return module;
}

} // namespace

int startThread(void (*entry)(void*), void* argument, Thread* thread)
{
    auto* start = new (std::nothrow) Start{entry, argument, nullptr};
    if (start == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    start->module = pinOwnModule();
    const HANDLE h = ::CreateThread(nullptr, 0, run, start, 0, nullptr);
    if (h == nullptr) {
        const DWORD error = ::GetLastError();
        if (start->module != nullptr)
            ::FreeLibrary(start->module);
        delete start;
        ::SetLastError(error);
        return int(error);
    }
    thread->handle = reinterpret_cast<std::uintptr_t>(h);
    thread->started = true;
    return 0;
}

void joinThread(Thread* thread)
{
    if (!thread->started)
        return;
    ::WaitForSingleObject(threadHandle(*thread), INFINITE);
    ::CloseHandle(threadHandle(*thread));
    *thread = Thread{};
}

void detachThread(Thread* thread)
{
    if (!thread->started)
        return;
    ::CloseHandle(threadHandle(*thread));
    *thread = Thread{};
}

bool isCurrentThread(const Thread& thread)
{
    return thread.started && ::GetThreadId(threadHandle(thread)) == ::GetCurrentThreadId();
}

} // namespace tqbse::platform
