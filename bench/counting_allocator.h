// The benchmark's counting allocator: it replaces the global operator new
// and delete of the program (the library is linked in statically, so its
// allocations are counted too).
#pragma once

#include <cstdint>

namespace tqbse::bench {

// Heap allocations made so far by the calling thread. Per thread, so that
// the canned server's threads do not count towards the calls measured on
// the benchmark's thread.
std::uint64_t allocationsOnThisThread();

} // namespace tqbse::bench
