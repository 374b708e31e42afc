// Threads on POSIX: pthreads, started detached from nothing and joined or
// detached explicitly.
#include "platform/platform.h"

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

} // namespace

int startThread(void (*entry)(void*), void* argument, Thread* thread)
{
    auto* start = new (std::nothrow) Start{entry, argument};
    if (start == nullptr)
        return ENOMEM;
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
