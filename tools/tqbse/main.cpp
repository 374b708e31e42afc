// tqbse: calls any export of the library from the command line.
#include "commands.h"
#include "output.h"
#include "server_reason.h"
#include "trace_command.h"
#include "trace_target.h"
#include "platform/host.h"

#include <tqBsePluginControlDll.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace tqbse::cli {
namespace {

void printUsage(FILE* out)
{
    std::fputs(
        "Usage: tqbse [--server A.B.C.D] [--timeout MS] [--json | --csv] CALL [ARGS...]\n"
        "  or:  tqbse [--server A.B.C.D] [--json] info\n"
        "  or:  tqbse [--server A.B.C.D] shell\n"
        "  or:  tqbse [--server A.B.C.D] events [--count N] [--timeout S]\n"
        "  or:  tqbse [--json] list\n"
        "  or:  tqbse [--json] describe CALL\n"
        "  or:  tqbse trace FILE [TRACE-OPTION...]\n"
        "\n"
        "CALL is an export's name without its prefix, e.g. RX_CentreFrequency_Get 0.\n"
        "Arguments are typed by the call's row: int, flag (0/1/-1/true/false), float,\n"
        "double, text; text limits and buffer sizes are derived. Texts and traces are\n"
        "sized by asking their length first. 'describe CALL' shows what a call does,\n"
        "its parameters, the codes it can return and an example. 'events' prints the\n"
        "server's events (its messages to the callback port) one per line until Ctrl-C.\n"
        "\n"
        "Options:\n"
        "  --server A.B.C.D  the server (default 127.0.0.1, port 6002)\n"
        "  --timeout MS      give up on a call whose reply has not arrived within MS\n"
        "                    milliseconds (exit status 4); default: wait for ever\n"
        "  --json            machine-readable output\n"
        "  --csv             traces as x,y lines; other outputs as name,value\n"
        "  --file PATH       an upload's content from a file\n"
        "  --out PATH        write a downloaded text to a file\n"
        "  --trace FILE      append the library's call trace to FILE (- for stderr);\n"
        "                    a FILE that cannot be written is refused (exit status 2)\n"
        "  --                end of options (so that -5 is a value)\n"
        "  -h, --help        show this text\n"
        "  --version         show the tool's version and build, and the library it loaded\n"
        "\n",
        out);
    printTraceOptions(out);
    printEventsOptions(out);
    std::fputs("\nCommands of tqbse shell:\n", out);
    printShellHelp(out);
    std::fputs(
        "\n"
        "Exit status:\n"
        "  0  success or warning\n"
        "  1  negative result, or a --trace not written whole\n"
        "  2  bad input (server not contacted)\n"
        "  3  server unreachable\n"
        "  4  no reply within --timeout\n"
        "\n"
        "The library's own diagnostics go to standard error.\n",
        out);
}

bool needsConnection(const CallDesc& d)
{
    return d.kind != CallKind::Local && d.family != Family::ErrorMessages;
}

} // namespace

int connectOrExplain(const Options& options)
{
    bool timedOut = false;
    const int32_t rc = connectServer(options, &timedOut);
    if (rc != TQBSE_NO_RESPONSE)
        return kExitOk;
    if (timedOut) {
        std::fprintf(stderr,
                     "tqbse: Initialise: no complete reply from %s within %d ms (--timeout); the connection was "
                     "closed\n",
                     options.server.c_str(), options.timeoutMs);
        return kExitTimedOut;
    }
    std::fprintf(stderr,
                 "tqbse: no connection to %s port 6002: %d %s\n"
                 "tqbse: check the server address (--server A.B.C.D) and that the server runs there\n",
                 options.server.c_str(), rc, errorText(rc).c_str());
    return kExitUnreachable;
}

int runCallCommand(FILE* out, const Command& command, bool connect)
{
    const std::string& name = command.words[0];
    const std::vector<std::string> args(command.words.begin() + 1, command.words.end());
    const CliCall* call = findCliCall(name);
    if (!call) {
        sayUnknownCall(name);
        return kExitUsage;
    }
    Invocation invocation;
    if (const auto error = Invocation::prepare(*call, args, command.options, &invocation)) {
        std::fprintf(stderr, "tqbse: %s\n", error->c_str());
        return kExitUsage;
    }

    for (const std::string& text : invocation.unbalancedTexts())
        std::fprintf(stderr,
                     "tqbse: warning: the parentheses in %s do not pair up; the server takes a message apart at "
                     "its parentheses and will read this text cut short or run into the next argument\n",
                     text.c_str());
    const CallDesc& d = *call->desc;
    bool connected = false;
    if (connect && needsConnection(d)) {
        if (const int rc = connectOrExplain(command.options); rc != kExitOk)
            return rc;
        connected = true;
    }
    const auto started = std::chrono::steady_clock::now();
    CallResult result = invocation.run();
    const auto waitedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    // A call that ends in -14 after waiting the whole deadline ran out of
    // time: the library has closed the connection.
    if (connected && command.options.timeoutMs > 0 && result.code == TQBSE_NO_RESPONSE
        && waitedMs >= command.options.timeoutMs) {
        std::fprintf(stderr,
                     "tqbse: %s: no complete reply from %s within %d ms (--timeout); the connection was closed\n",
                     name.c_str(), command.options.server.c_str(), command.options.timeoutMs);
        tqBsePluginControlDll_Shutdown();
        return kExitTimedOut;
    }
    // A code the library has no text for is asked of the server.
    if (connect && !connected && d.family == Family::ErrorMessages && result.code == TQBSE_NO_RESPONSE) {
        if (const int rc = connectOrExplain(command.options); rc != kExitOk)
            return rc;
        connected = true;
        result = invocation.run();
    }
    if (d.shortName() == "Initialise")
        traceTarget().noteInitialise();
    if (d.shortName() == "Initialise" && result.code != TQBSE_NO_RESPONSE && result.code != TQBSE_BAD_ADDRESS_OCTET)
        connected = true;
    if (result.code < 0)
        result.serverReason = serverReasons().last(result.failedStep.empty() ? d.shortName() : result.failedStep);
    const int exitCode = printResult(out, command.options, result);
    if (connect && connected && d.shortName() != "Shutdown")
        tqBsePluginControlDll_Shutdown();
    return exitCode;
}

} // namespace tqbse::cli

int main(int argc, char** argv)
{
    using namespace tqbse::cli;
    // The library prints its socket diagnostics on standard output, some of
    // them from its listener thread at any time. Keep the tool's own output
    // apart: it goes to the original standard output, and the library's
    // printing is sent to standard error.
    std::fflush(stdout);
    const int outFd = ::dup(STDOUT_FILENO);
    FILE* out = outFd >= 0 ? ::fdopen(outFd, "w") : nullptr;
    if (!out || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        std::perror("tqbse");
        return kExitFailed;
    }

    if (argc > 1 && std::string(argv[1]) == "trace") {
        const int traced = runTraceCommand(out, std::vector<std::string>(argv + 2, argv + argc));
        std::fclose(out);
        return traced;
    }
    // `events` takes options of its own after it (its --timeout is in
    // seconds): the tool's options stand before it.
    std::vector<std::string> args(argv + 1, argv + argc), eventsArgs;
    for (size_t i = 0; i < args.size(); ++i) {
        Command before;
        if (args[i] == "events" && !parseCommandLine({args.begin(), args.begin() + std::ptrdiff_t(i)}, &before)
            && before.words.empty()) {
            eventsArgs.assign(args.begin() + std::ptrdiff_t(i) + 1, args.end());
            args.resize(i + 1);
            break;
        }
    }
    Command command;
    if (const auto error = parseCommandLine(args, &command)) {
        std::fprintf(stderr, "tqbse: %s\n", error->c_str());
        return kExitUsage;
    }
    // The library reads its reply deadline at Initialise.
    if (command.options.timeoutMs > 0)
        tqbse::platform::setEnvironment("TQBSE_REPLY_TIMEOUT_MS", std::to_string(command.options.timeoutMs).c_str());
    if (!command.options.trace.empty()) {
        std::string error;
        if (!traceTarget().check(command.options.trace, &error)) {
            std::fprintf(stderr, "tqbse: %s\n", error.c_str());
            std::fclose(out);
            return kExitUsage;
        }
        tqbse::platform::setEnvironment("TQBSE_TRACE", command.options.trace.c_str());
    }
    // The emulator's reasons for refused calls come back through the trace.
    serverReasons().setUp(command.options.trace);
    int rc = kExitOk;
    if (command.options.version) {
        printVersion(out);
    } else if (command.options.help || command.words.empty() || command.words[0] == "help") {
        printUsage(command.words.empty() && !command.options.help ? stderr : out);
        rc = command.words.empty() && !command.options.help ? kExitUsage : kExitOk;
    } else if (command.words[0] == "list" && command.words.size() == 1) {
        printList(out, command.options);
    } else if (command.words[0] == "describe" && command.words.size() == 2) {
        rc = runDescribe(out, command.words[1], command.options);
    } else if (command.words[0] == "info" && command.words.size() == 1) {
        rc = runInfo(out, command.options, true);
    } else if (command.words[0] == "events" && command.words.size() == 1) {
        rc = runEvents(out, command.options, eventsArgs);
    } else if (command.words[0] == "shell" && command.words.size() == 1) {
        rc = runShell(out, command.options);
    } else {
        rc = runCallCommand(out, command, true);
    }
    std::fclose(out);
    // A trace that was asked for and not written whole fails the run.
    if (std::string error; !command.options.trace.empty() && !traceTarget().verify(&error)) {
        std::fprintf(stderr, "tqbse: %s\n", error.c_str());
        return rc == kExitOk ? kExitFailed : rc;
    }
    return rc;
}
