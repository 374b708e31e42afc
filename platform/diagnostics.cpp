// The socket layer's diagnostics, the same on every system: standard output
// unless the host chose standard error or none, flushed at once.
#include "platform/platform.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace tqbse::platform {
namespace {
// Read by the listener thread while a caller's Initialise may set it.
std::atomic<DiagnosticsTarget> target{DiagnosticsTarget::Stdout};
} // namespace

void setDiagnosticsTarget(DiagnosticsTarget to) { target.store(to, std::memory_order_relaxed); }

bool parseDiagnosticsTarget(std::string_view setting, DiagnosticsTarget* to)
{
    if (setting == "stdout")
        *to = DiagnosticsTarget::Stdout;
    else if (setting == "stderr")
        *to = DiagnosticsTarget::Stderr;
    else if (setting == "off")
        *to = DiagnosticsTarget::Off;
    else
        return false;
    return true;
}

void printDiagnostic(const char* format, ...)
{
    const DiagnosticsTarget to = target.load(std::memory_order_relaxed);
    if (to == DiagnosticsTarget::Off)
        return;
    FILE* const stream = to == DiagnosticsTarget::Stderr ? stderr : stdout;
    va_list args;
    va_start(args, format);
    std::vfprintf(stream, format, args);
    va_end(args);
    std::fflush(stream);
}

} // namespace tqbse::platform
