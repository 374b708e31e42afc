// The socket layer's diagnostics, the same on every system: standard output,
// flushed at once.
#include "platform/platform.h"

#include <cstdarg>
#include <cstdio>

namespace tqbse::platform {

void printDiagnostic(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

} // namespace tqbse::platform
