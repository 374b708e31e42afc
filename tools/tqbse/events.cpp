// `tqbse events`: prints one server's events as they come, through a
// session of its own (tqbse_session.h), one message per line.
#include "commands.h"

#include <tqbse_session.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace tqbse::cli {
namespace {

// The wait in the library is cut into slices this long, so that Ctrl-C and
// the deadline are seen soon after they come.
constexpr int32_t kSliceMs = 200;

volatile std::sig_atomic_t g_stop = 0;

extern "C" void stopOnSignal(int)
{
    g_stop = 1;
}

struct EventsOptions {
    long long count = 0;   // 0: no limit
    double timeoutS = 0;   // 0: no deadline
};

std::optional<std::string> parseEventsOptions(const std::vector<std::string>& args, EventsOptions* o)
{
    for (size_t i = 0; i < args.size(); ++i) {
        std::string key = args[i], value;
        bool hasValue = false;
        if (const size_t eq = key.find('='); eq != std::string::npos && key.starts_with("--")) {
            value = key.substr(eq + 1);
            key.resize(eq);
            hasValue = true;
        }
        if (key != "--count" && key != "--timeout")
            return "events: unknown argument " + args[i] + " (it takes --count N and --timeout S)";
        if (!hasValue) {
            if (i + 1 >= args.size())
                return "events: " + key + " needs a value";
            value = args[++i];
        }
        std::size_t used = 0;
        try {
            if (key == "--count") {
                o->count = std::stoll(value, &used);
                if (used != value.size() || o->count <= 0)
                    used = 0;
            } else {
                o->timeoutS = std::stod(value, &used);
                if (used != value.size() || !(o->timeoutS > 0) || o->timeoutS > 1e9)
                    used = 0;
            }
        } catch (const std::exception&) {
            used = 0;
        }
        if (used == 0)
            return "events: " + key
                   + (key == "--count" ? " needs a positive whole number" : " needs a positive number of seconds");
    }
    return std::nullopt;
}

} // namespace

void printEventsOptions(FILE* out)
{
    std::fputs("Options of tqbse events:\n"
               "  --count N         stop after N events\n"
               "  --timeout S       stop after S seconds (exit status 4 when --count N events did not come)\n",
               out);
}

int runEvents(FILE* out, const Options& options, const std::vector<std::string>& args)
{
    EventsOptions o;
    if (const auto error = parseEventsOptions(args, &o)) {
        std::fprintf(stderr, "tqbse: %s\n", error->c_str());
        return kExitUsage;
    }
    tqbse_options sessionOptions{};
    sessionOptions.reply_timeout_ms = options.timeoutMs > 0 ? options.timeoutMs : 0;
    tqbse_session* session = nullptr;
    const int32_t opened = tqbse_open(options.server.c_str(), &sessionOptions, &session);
    if (opened < 0) {
        std::fprintf(stderr,
                     "tqbse: no connection to %s port 6002: %d %s\n"
                     "tqbse: check the server address (--server A.B.C.D) and that the server runs there\n",
                     options.server.c_str(), opened, errorText(opened).c_str());
        return opened == -14 ? kExitUnreachable : kExitFailed;
    }
    const auto before = std::signal(SIGINT, stopOnSignal);
    const auto beforeTerm = std::signal(SIGTERM, stopOnSignal);
    const auto started = std::chrono::steady_clock::now();
    const auto deadline = started + std::chrono::duration<double>(o.timeoutS);
    std::vector<char> buffer(1024);
    long long seen = 0;
    int rc = kExitOk;
    while (!g_stop && (o.count == 0 || seen < o.count)) {
        int32_t slice = kSliceMs;
        if (o.timeoutS > 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                    .count();
            if (left <= 0) {
                if (o.count > 0)
                    rc = kExitTimedOut;
                break;
            }
            slice = static_cast<int32_t>(left < slice ? left : slice);
        }
        int32_t length = 0;
        const int32_t got =
            tqbse_wait_event(session, slice, buffer.data(), static_cast<int32_t>(buffer.size()), &length);
        if (got == -13) {
            buffer.resize(static_cast<std::size_t>(length) + 1);
            continue;
        }
        if (got == 0) {
            std::fwrite(buffer.data(), 1, static_cast<std::size_t>(length), out);
            std::fputc('\n', out);
            std::fflush(out);
            ++seen;
        } else if (got != -14) {
            std::fprintf(stderr, "tqbse: events: %d %s\n", got, errorText(got).c_str());
            rc = kExitFailed;
            break;
        }
    }
    if (o.count > 0 && seen < o.count && rc == kExitOk && o.timeoutS > 0 && !g_stop)
        rc = kExitTimedOut;
    if (uint64_t dropped = 0; tqbse_events_dropped(session, &dropped) == 0 && dropped > 0)
        std::fprintf(stderr, "tqbse: events: %llu dropped (none were read for a while)\n",
                     static_cast<unsigned long long>(dropped));
    tqbse_close(session);
    std::signal(SIGINT, before);
    std::signal(SIGTERM, beforeTerm);
    return rc;  // Ctrl-C is the way to end an unbounded run: not a failure
}

} // namespace tqbse::cli
