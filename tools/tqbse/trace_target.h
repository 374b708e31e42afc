// tqbse --trace FILE: the tool checks the trace it asks the library to
// write. The library says a trace it cannot open or write on standard error
// and goes on; the tool makes that its exit status.
#pragma once

#include <cstdint>
#include <string>

namespace tqbse::cli {

class TraceTarget {
public:
    // Before the library opens FILE: false with `error` when it cannot be
    // opened for appending without waiting (a folder, no permission, a FIFO
    // without a reader), or when a file that is not a regular one (a
    // device, a FIFO) does not take an empty line, which trace readers
    // skip. "-" (standard error) is not checked.
    bool check(const std::string& path, std::string* error);
    // The library connected (or tried to) at least once: it has written
    // lines, or meant to.
    void noteInitialise() { initialised_ = true; }
    // After the run: false with `error` when a regular file was not written
    // whole: it did not grow although the library traced, or its last line
    // is cut off.
    bool verify(std::string* error) const;

private:
    std::string path_;
    int64_t sizeBefore_ = -1; // -1: not a regular file, or not checked
    bool initialised_ = false;
};

// The run's trace target (one per process).
TraceTarget& traceTarget();

} // namespace tqbse::cli
