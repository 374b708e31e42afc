// In a file of its own, so that no call site sees the replacement inlined
// next to a malloc or free.
#include "bench/counting_allocator.h"

#include <cstdlib>
#include <new>

namespace {
thread_local std::uint64_t tAllocations = 0;
}

std::uint64_t tqbse::bench::allocationsOnThisThread() { return tAllocations; }

// Every other form (arrays, nothrow) reaches these through the standard
// library's defaults.
void* operator new(std::size_t size)
{
    ++tAllocations;
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
