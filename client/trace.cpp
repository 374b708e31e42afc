// The library's call trace: opening its file and writing its lines.
#include "client/trace.h"

#include "platform/platform.h"
#include "protocol/trace_line.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace tqbse::trace {
namespace detail {
std::atomic<bool> g_enabled{false};
} // namespace detail

namespace {

// The trace's destination, guarded by its mutex: the listener thread may
// write while the caller opens or closes.
struct Sink {
    std::mutex mutex;
    platform::AppendFile file;
    bool open = false;
    // Set by the first failed write: the trace is closed there and stays
    // closed for this path, so that it ends at the failure (a cut-off last
    // line at worst) and never goes on after a gap.
    bool failed = false;
    std::string path; // "-" for standard error
    std::string refusedPath; // the last path that could not be opened
};
Sink& sink()
{
    // Never destroyed: a listener thread may still write during exit.
    static Sink* const s = new Sink;
    return *s;
}

void closeLocked(Sink& s)
{
    detail::g_enabled.store(false, std::memory_order_relaxed);
    platform::closeAppendFile(&s.file);
    s.open = false;
    s.failed = false;
    s.path.clear();
}

// The exchange this thread made inside the export that runs now.
struct Pending {
    bool held = false;
    std::string request;
    std::string reply;
    int64_t sentAt = 0;
    int64_t duration = 0;
};
thread_local Pending t_pending;

void appendField(std::string& line, std::string_view key, std::string_view bytes)
{
    line += ",\"";
    line += key;
    line += "\":\"";
    appendTraceString(line, bytes);
    line += '"';
}

void appendNumber(std::string& line, std::string_view key, int64_t value)
{
    line += ",\"";
    line += key;
    line += "\":";
    line += std::to_string(value);
}

std::string startLine(int64_t at, std::string_view event)
{
    std::string line = "{\"t\":" + std::to_string(at);
    appendField(line, "event", event);
    return line;
}

// Ends the line and writes it whole with one system call (no buffer to
// flush). The first write that fails is said on standard error and ends
// the trace.
void writeLine(std::string& line)
{
    line += "}\n";
    Sink& s = sink();
    std::lock_guard lock(s.mutex);
    if (!s.open)
        return;
    const int error = platform::appendToFile(s.file, line.data(), line.size());
    if (error == 0)
        return;
    std::fprintf(stderr,
                 "tqBsePluginControlDll: writing the trace to TQBSE_TRACE=\"%s\" failed (%s); no further lines "
                 "are written to it\n",
                 s.path.c_str(), platform::fileErrorText(error).c_str());
    detail::g_enabled.store(false, std::memory_order_relaxed);
    platform::closeAppendFile(&s.file);
    s.open = false;
    s.failed = true;
}

} // namespace

int64_t nowMicros()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

void open()
{
    const char* path = std::getenv("TQBSE_TRACE");
    Sink& s = sink();
    std::lock_guard lock(s.mutex);
    if (path == nullptr || *path == '\0') {
        closeLocked(s);
        return;
    }
    if ((s.open || s.failed) && s.path == path)
        return; // the same trace goes on (or stays ended after a failed write)
    closeLocked(s);
    std::string why;
    if (platform::openAppendFile(path, &s.file, &why) != 0) {
        // Said once for each path, not at every Initialise.
        if (s.refusedPath != path)
            std::fprintf(stderr,
                         "tqBsePluginControlDll: TQBSE_TRACE=\"%s\" cannot be opened (%s); no trace is written\n",
                         path, why.c_str());
        s.refusedPath = path;
        return;
    }
    s.open = true;
    s.path = path;
    detail::g_enabled.store(true, std::memory_order_relaxed);
}

void close()
{
    Sink& s = sink();
    std::lock_guard lock(s.mutex);
    closeLocked(s);
}

void call(std::string_view name, std::string_view request, std::string_view reply, int32_t result,
          int64_t sentAtMicros, int64_t durationMicros)
{
    std::string line = startLine(sentAtMicros, "call");
    appendField(line, "name", name);
    appendField(line, "request", request);
    appendField(line, "reply", reply);
    appendNumber(line, "result", result);
    appendNumber(line, "us", durationMicros);
    writeLine(line);
}

void connection(std::string_view event, std::string_view detail)
{
    if (!enabled())
        return;
    std::string line = startLine(nowMicros(), event);
    appendField(line, "detail", detail);
    writeLine(line);
}

void staleBytes(std::string_view bytes) { connection("stale bytes discarded", bytes); }

void callback(std::string_view message, std::string_view answer)
{
    if (!enabled())
        return;
    std::string line = startLine(nowMicros(), "callback");
    appendField(line, "message", message);
    appendField(line, "answer", answer);
    writeLine(line);
}

int timedExchange(std::string_view request, FunctionRef<int()> exchange, FunctionRef<std::string_view()> reply)
{
    Pending& p = t_pending;
    p.sentAt = nowMicros();
    const auto started = std::chrono::steady_clock::now();
    const int rc = exchange();
    p.duration = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started)
                     .count();
    p.request.assign(request);
    p.reply.assign(reply());
    p.held = true;
    return rc;
}

int32_t finishCall(int32_t result)
{
    Pending& p = t_pending;
    if (!p.held)
        return result;
    p.held = false;
    const std::string_view request = p.request;
    call(request.substr(0, request.find('=')), request, p.reply, result, p.sentAt, p.duration);
    return result;
}

} // namespace tqbse::trace
