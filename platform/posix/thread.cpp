// Threads on POSIX: pthreads, started detached from nothing and joined or
// detached explicitly.
//
// Before the first thread starts, the shared object that holds this code is
// made resident for the rest of the process (RTLD_NODELETE): a host that
// calls dlclose while the listener thread runs (as .NET, Mono and LabVIEW do
// when they unload a native library) then cannot unmap code the thread is
// still executing. POSIX has no FreeLibraryAndExitThread, so a thread cannot
// drop its own reference as its last act; staying loaded is the safe rule.
#include "platform/platform.h"

#include <dlfcn.h>
#include <pthread.h>

#include <cerrno>

#include <new>

namespace tqbse::platform {
namespace {

struct Start {
    void (*entry)(void*);
    void* argument;
};

void* run(void* p)
{
    const Start start = *static_cast<Start*>(p);
    delete static_cast<Start*>(p);
    start.entry(start.argument);
    return nullptr;
}

pthread_t id(const Thread& t) { return static_cast<pthread_t>(t.handle); }

void keepModuleResident()
{
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&run), &info) == 0 || info.dli_fname == nullptr)
        return;
    // RTLD_NOLOAD only finds the module already loaded; the reference it
    // takes is given back at once, the NODELETE mark stays.
    if (void* self = ::dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE))
        ::dlclose(self);
}

} // namespace

int startThread(void (*entry)(void*), void* argument, Thread* thread)
{
    auto* start = new (std::nothrow) Start{entry, argument};
    if (start == nullptr)
        return ENOMEM;
    static const bool resident = (keepModuleResident(), true);
    (void)resident;
    pthread_t t{};
    if (const int rc = ::pthread_create(&t, nullptr, run, start); rc != 0) {
        delete start;
        return rc;
    }
    thread->handle = static_cast<std::uintptr_t>(t);
    thread->started = true;
    return 0;
}

void joinThread(Thread* thread)
{
    if (!thread->started)
        return;
    ::pthread_join(id(*thread), nullptr);
    *thread = Thread{};
}

void detachThread(Thread* thread)
{
    if (!thread->started)
        return;
    ::pthread_detach(id(*thread));
    *thread = Thread{};
}

bool isCurrentThread(const Thread& thread)
{
    return thread.started && ::pthread_equal(id(thread), ::pthread_self()) != 0;
}

} // namespace tqbse::platform
