// Compiled into every Windows test program: a crash that nothing handles
// must fail the test. Under Wine such a process sometimes ends with status
// 0, so an unhandled-exception filter, installed before main() runs,
// reports the exception and terminates the process with a non-zero status
// itself. Windows' error dialogs are turned off so that a failing test never
// waits for a click.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>

#include "windows/tests/crash_status.h"

namespace {

LONG WINAPI onUnhandledException(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* record = info != nullptr ? info->ExceptionRecord : nullptr;
    std::fprintf(stderr, "unhandled exception 0x%08lx at %p: terminating with status %u\n",
                 record != nullptr ? static_cast<unsigned long>(record->ExceptionCode) : 0ul,
                 record != nullptr ? record->ExceptionAddress : nullptr, tqbse::test::kCrashStatus);
    std::fflush(stderr);
    ::TerminateProcess(::GetCurrentProcess(), tqbse::test::kCrashStatus);
    return EXCEPTION_EXECUTE_HANDLER;
}

// Runs with the program's static constructors, after the C runtime has set
// up its own filter, which this one replaces.
const struct CrashGuard {
    CrashGuard()
    {
        ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
        ::SetUnhandledExceptionFilter(onUnhandledException);
    }
} g_crashGuard;

} // namespace
