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

// Bytes held through operator new, over every thread, counted as the
// allocator's usable size of each block (what the block really takes). The
// peak is exact for one thread; with several allocating at once it may miss
// a concurrent high point.
std::int64_t heapBytesLive();
// Starts a new peak window at the bytes held now, and returns them.
std::int64_t startHeapPeakWindow();
std::int64_t heapPeakBytes();

} // namespace tqbse::bench
