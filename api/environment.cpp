// The settings Initialise reads from the environment, each with its rule
// for a value it cannot use: ignored, said once on standard error.
#include "api/environment.h"

#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace tqbse::environment {

// TQBSE_REPLY_TIMEOUT_MS, read at every Initialise: a positive number of
// milliseconds turns on the reply deadline for the connection it makes.
// Unset, empty or 0 leaves calls blocking until their reply has arrived.
// Anything else is ignored, and said so once on standard error.
int replyDeadline()
{
    const char* text = std::getenv("TQBSE_REPLY_TIMEOUT_MS");
    if (text == nullptr || *text == '\0')
        return 0;
    const std::string_view digits(text);
    int value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 10);
    if (error == std::errc() && end == digits.data() + digits.size() && value >= 0 && digits[0] != '-')
        return value;
    static std::atomic_flag warned = ATOMIC_FLAG_INIT;
    if (!warned.test_and_set())
        std::fprintf(stderr,
                     "tqBsePluginControlDll: TQBSE_REPLY_TIMEOUT_MS=\"%s\" is not a number of milliseconds; "
                     "calls wait for their replies without a deadline\n",
                     text);
    return 0;
}

// TQBSE_DIAGNOSTICS, read at every Initialise: where the socket layer's texts
// go ("stdout", the default, "stderr" or "off"). Unset or empty keeps
// standard output; anything else is said once on standard error and keeps
// standard output too.
platform::DiagnosticsTarget diagnostics()
{
    using platform::DiagnosticsTarget;
    const char* text = std::getenv("TQBSE_DIAGNOSTICS");
    DiagnosticsTarget target = DiagnosticsTarget::Stdout;
    if (text == nullptr || *text == '\0' || platform::parseDiagnosticsTarget(text, &target))
        return target;
    static std::atomic_flag warned = ATOMIC_FLAG_INIT;
    if (!warned.test_and_set())
        std::fprintf(stderr,
                     "tqBsePluginControlDll: TQBSE_DIAGNOSTICS=\"%s\" is not stdout, stderr or off; "
                     "diagnostics go to standard output\n",
                     text);
    return DiagnosticsTarget::Stdout;
}

// TQBSE_INTERRUPT_FD, read at every Initialise: a descriptor number (a
// socket handle on Windows) that the host makes readable to end a call
// waiting on the server, as a Python host does with its signal wake-up
// descriptor so that Ctrl-C ends a call to a stalled server. The call
// fails with -14 and the connection is dropped, as at a reply deadline.
// Unset or empty: calls cannot be interrupted this way (and cost nothing
// extra). Anything else is ignored, and said so once on standard error.
platform::SocketHandle interrupt()
{
    const char* text = std::getenv("TQBSE_INTERRUPT_FD");
    if (text == nullptr || *text == '\0')
        return platform::kInvalidSocket;
    const std::string_view digits(text);
    unsigned long long value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 10);
    if (error == std::errc() && end == digits.data() + digits.size() && value < platform::kInvalidSocket)
        return platform::SocketHandle(value);
    static std::atomic_flag warned = ATOMIC_FLAG_INIT;
    if (!warned.test_and_set())
        std::fprintf(stderr,
                     "tqBsePluginControlDll: TQBSE_INTERRUPT_FD=\"%s\" is not a descriptor number; "
                     "calls cannot be interrupted through it\n",
                     text);
    return platform::kInvalidSocket;
}

} // namespace tqbse::environment
