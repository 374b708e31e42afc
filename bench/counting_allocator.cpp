// In a file of its own, so that no call site sees the replacement inlined
// next to a malloc or free.
#include "bench/counting_allocator.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

thread_local std::uint64_t tAllocations = 0;
std::atomic<std::int64_t> gLive{0};
std::atomic<std::int64_t> gPeak{0};

void held(std::int64_t bytes)
{
    const std::int64_t live = gLive.fetch_add(bytes, std::memory_order_relaxed) + bytes;
    if (live > gPeak.load(std::memory_order_relaxed))
        gPeak.store(live, std::memory_order_relaxed);
}

} // namespace

std::uint64_t tqbse::bench::allocationsOnThisThread() { return tAllocations; }
std::int64_t tqbse::bench::heapBytesLive() { return gLive.load(std::memory_order_relaxed); }
std::int64_t tqbse::bench::heapPeakBytes() { return gPeak.load(std::memory_order_relaxed); }
std::int64_t tqbse::bench::startHeapPeakWindow()
{
    const std::int64_t live = heapBytesLive();
    gPeak.store(live, std::memory_order_relaxed);
    return live;
}

// Every other form (arrays, nothrow) reaches these through the standard
// library's defaults; the over-aligned forms do not, and the library uses
// none.
void* operator new(std::size_t size)
{
    ++tAllocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        held(std::int64_t(malloc_usable_size(p)));
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept
{
    if (p)
        held(-std::int64_t(malloc_usable_size(p)));
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
