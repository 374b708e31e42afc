#include "client/trace.h"

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

// The trace's destination. Guarded by g_mutex; the listener thread may write
// while the caller opens or closes.
struct Sink {
    std::mutex mutex;
    std::FILE* file = nullptr;
    std::string path; // "-" for standard error
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
    if (s.file != nullptr && s.file != stderr)
        std::fclose(s.file);
    s.file = nullptr;
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

// Ends the line and writes it whole, flushed.
void writeLine(std::string& line)
{
    line += "}\n";
    Sink& s = sink();
    std::lock_guard lock(s.mutex);
    if (s.file == nullptr)
        return;
    std::fwrite(line.data(), 1, line.size(), s.file);
    std::fflush(s.file);
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
    if (s.file != nullptr && s.path == path)
        return; // the same trace goes on
    closeLocked(s);
    std::FILE* file = std::string_view(path) == "-" ? stderr : std::fopen(path, "ab");
    if (file == nullptr) {
        static std::atomic_flag warned = ATOMIC_FLAG_INIT;
        if (!warned.test_and_set())
            std::fprintf(stderr, "tqBsePluginControlDll: TQBSE_TRACE=\"%s\" cannot be opened; no trace is written\n",
                         path);
        return;
    }
    s.file = file;
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
