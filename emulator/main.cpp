// tqbse-emulator: the reference emulator of the plug-in server.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "emulator/model.h"
#include "emulator/options.h"
#include "emulator/request_handler.h"
#include "emulator/server.h"
#include "platform/platform.h"
#include "protocol/version.h"

namespace {

std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void onStopSignal(int) { stopRequested.store(true); }

} // namespace

int main(int argc, char** argv)
{
    using namespace tqbse::emu;
    const std::vector<std::string> args(argv + 1, argv + argc);

    Options options;
    std::string error;
    const bool parsed = parseOptions(args, &options, &error);
    for (const std::string& notice : options.notices)
        std::fprintf(stderr, "tqbse-emulator: %s\n", notice.c_str());
    if (!parsed) {
        std::fprintf(stderr, "tqbse-emulator: %s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(usageText().c_str(), stdout);
        return 0;
    }
    if (options.showVersion) {
        std::fputs(tqbse::programVersionLine("tqbse-emulator", TQBSE_BUILD_TEXT).c_str(), stdout);
        return 0;
    }

    Config config = defaultConfig();
    if (!options.configFile.empty() && !loadConfigFile(options.configFile, &config, &error)) {
        std::fprintf(stderr, "tqbse-emulator: %s\n", error.c_str());
        return 2;
    }
    if (options.version)
        config.version = *options.version;
    if (options.traceLength)
        config.traceLength = *options.traceLength;
    if (options.scenarioRunMs)
        config.scenarioRunMs = *options.scenarioRunMs;
    if (const auto missing = callsWithoutHandler(); !missing.empty()) {
        std::fprintf(stderr, "tqbse-emulator: no handler for %s\n", std::string(missing.front()).c_str());
        return 1;
    }

    if (tqbse::platform::socketLibraryStartup() != 0)
        return 1;
    Model model(config);
    ServerSettings settings;
    settings.bind = options.bind;
    settings.port = options.port;
    settings.trace = options.trace;
    settings.callbackOnScenarioEnd = options.callbackOnScenarioEnd;
    settings.callbackPort = options.callbackPort;
    settings.eventEveryMs = options.eventEveryMs;
    settings.eventName = options.eventName;
    settings.faults = options.faults;
    settings.requestMemory = options.requestMemory;
    options.replay.callbackPort = options.callbackPort;
    options.replay.from = options.bind;
    Replay replay(options.replay);
    if (!options.replay.file.empty() && !replay.load(&error)) {
        std::fprintf(stderr, "tqbse-emulator: %s\n", error.c_str());
        return 2;
    }
    for (const std::string& warning : replay.warnings())
        std::fprintf(stderr, "tqbse-emulator: warning: %s\n", warning.c_str());
    settings.replay = options.replay.file.empty() ? nullptr : &replay;
    {
        Server server(model, settings);
        if (!server.listen(&error)) {
            std::fprintf(stderr, "tqbse-emulator: %s\n", error.c_str());
            return 1;
        }

        std::signal(SIGINT, onStopSignal);
        std::signal(SIGTERM, onStopSignal);
#ifdef SIGPIPE
        // Sockets never raise it; standard output to a closed pipe must not either.
        std::signal(SIGPIPE, SIG_IGN);
#endif

        printLine("tqbse-emulator listening on " + options.bind + ':' + std::to_string(options.port));
        server.run(stopRequested);
        printLine("tqbse-emulator stopped");
    }
    tqbse::platform::socketLibraryCleanup();
    if (settings.replay) {
        replay.stop();
        printLine(replay.summary());
        return replay.allMatched() ? 0 : 3;
    }
    return 0;
}
