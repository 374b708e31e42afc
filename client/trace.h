// The library's call trace (off by default). With TQBSE_TRACE set when
// Initialise runs (a file path, or "-" for standard error), every exchange,
// connection event and callback message is appended as one JSON line;
// docs/TRACE.md describes the lines. Both the caller's thread and the
// listener thread write: each line goes out whole under one lock, in one
// write of its own (nothing is buffered).
//
// When tracing is off, every hook costs one relaxed atomic load and a branch.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "client/function_ref.h"

namespace tqbse::trace {

namespace detail {
extern std::atomic<bool> g_enabled;
} // namespace detail

inline bool enabled() { return detail::g_enabled.load(std::memory_order_relaxed); }

// Reads TQBSE_TRACE and opens (or keeps, or closes) the trace to match. A
// trace that cannot be opened is said once on standard error and otherwise
// ignored. Opening never waits: a FIFO that no program reads is refused,
// and a pipe's reader never holds up a call (platform::openAppendFile). The
// first write that fails (a full disk, a reader that fell behind or went
// away) is said once on standard error and ends the trace: it is not
// reopened for the same path, so it never goes on after a gap.
void open();
// Closes the trace; tracing is off until the next open().
void close();

// Microseconds since the Unix epoch.
int64_t nowMicros();

// Writes one call line: the request and reply bytes as they were sent and
// received, the export's result, when the request was sent and how long the
// reply took.
void call(std::string_view name, std::string_view request, std::string_view reply, int32_t result,
          int64_t sentAtMicros, int64_t durationMicros);
// Writes one connection line: event is "connect", "connect failed", "close",
// "deadline expired" or "stale bytes discarded"; detail says where or what.
void connection(std::string_view event, std::string_view detail);
// A "stale bytes discarded" line carrying the bytes.
void staleBytes(std::string_view bytes);
// Writes one callback line: the message the listener received and the
// answer it sent (empty when it sent none).
void callback(std::string_view message, std::string_view answer);

// Runs one exchange and keeps its request, reply (as `reply` gives it after
// the exchange) and timing on this thread until the export that made it
// ends (finished()).
int timedExchange(std::string_view request, FunctionRef<int()> exchange, FunctionRef<std::string_view()> reply);
// Writes the call line of the exchange this thread made, if any, with the
// export's result. Returns `result`.
int32_t finishCall(int32_t result);
inline int32_t finished(int32_t result) { return enabled() ? finishCall(result) : result; }

} // namespace tqbse::trace
