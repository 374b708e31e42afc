// The settings Initialise reads from the environment, each with its rule
// for a value it cannot use: ignored, said once on standard error.
#include "api/environment.h"

#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string_view>

namespace tqbse::environment {
namespace {

// The variable's text, null when unset or empty.
const char* valueOf(const char* name)
{
    const char* text = std::getenv(name);
    return text == nullptr || *text == '\0' ? nullptr : text;
}

// Whole decimal digits of `text` as a number no larger than `most`.
template <typename Number>
bool parseWhole(std::string_view text, Number most, Number* value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value, 10);
    return error == std::errc() && end == text.data() + text.size() && text[0] != '-' && *value <= most;
}

// Says once per process, on standard error, that `name`'s value `text` is
// ignored and what happens instead.
void sayIgnored(std::atomic_flag& said, const char* name, const char* text, const char* what)
{
    if (!said.test_and_set())
        std::fprintf(stderr, "tqBsePluginControlDll: %s=\"%s\" %s\n", name, text, what);
}

} // namespace

// TQBSE_REPLY_TIMEOUT_MS, read at every Initialise: a positive number of
// milliseconds turns on the reply deadline for the connection it makes.
// Unset, empty or 0 leaves calls blocking until their reply has arrived.
// Anything else is ignored, and said so once on standard error.
int replyDeadline()
{
    const char* text = valueOf("TQBSE_REPLY_TIMEOUT_MS");
    int value = 0;
    if (text == nullptr || parseWhole(text, std::numeric_limits<int>::max(), &value))
        return value;
    static std::atomic_flag said = ATOMIC_FLAG_INIT;
    sayIgnored(said, "TQBSE_REPLY_TIMEOUT_MS", text,
               "is not a number of milliseconds; calls wait for their replies without a deadline");
    return 0;
}

// TQBSE_DIAGNOSTICS, read at every Initialise: where the socket layer's texts
// go ("stdout", the default, "stderr" or "off"). Unset or empty keeps
// standard output; anything else is said once on standard error and keeps
// standard output too.
platform::DiagnosticsTarget diagnostics()
{
    using platform::DiagnosticsTarget;
    const char* text = valueOf("TQBSE_DIAGNOSTICS");
    DiagnosticsTarget target = DiagnosticsTarget::Stdout;
    if (text == nullptr || platform::parseDiagnosticsTarget(text, &target))
        return target;
    static std::atomic_flag said = ATOMIC_FLAG_INIT;
    sayIgnored(said, "TQBSE_DIAGNOSTICS", text, "is not stdout, stderr or off; diagnostics go to standard output");
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
    const char* text = valueOf("TQBSE_INTERRUPT_FD");
    unsigned long long value = 0;
    if (text == nullptr)
        return platform::kInvalidSocket;
    if (parseWhole(text, static_cast<unsigned long long>(platform::kInvalidSocket) - 1, &value))
        return platform::SocketHandle(value);
    static std::atomic_flag said = ATOMIC_FLAG_INIT;
    sayIgnored(said, "TQBSE_INTERRUPT_FD", text, "is not a descriptor number; calls cannot be interrupted through it");
    return platform::kInvalidSocket;
}

} // namespace tqbse::environment
