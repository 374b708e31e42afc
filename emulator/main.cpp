// tqbse-emulator: the reference emulator of the plug-in server.
#include <QStringList>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>

#include "emulator/model.h"
#include "emulator/options.h"
#include "emulator/request_handler.h"
#include "emulator/server.h"

namespace {

int stopPipe[2] = {-1, -1};

void onStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(stopPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char** argv)
{
    using namespace tqbse::emu;
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);

    Options options;
    QString error;
    if (!parseOptions(args, &options, &error)) {
        std::fprintf(stderr, "tqbse-emulator: %s\n", qPrintable(error));
        return 2;
    }
    if (options.help) {
        std::fputs(qPrintable(usageText()), stdout);
        return 0;
    }

    Config config = defaultConfig();
    if (!options.configFile.isEmpty() && !loadConfigFile(options.configFile, &config, &error)) {
        std::fprintf(stderr, "tqbse-emulator: %s\n", qPrintable(error));
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

    Model model(config);
    ServerSettings settings;
    settings.bind = options.bind;
    settings.port = options.port;
    settings.trace = options.trace;
    settings.callbackOnScenarioEnd = options.callbackOnScenarioEnd;
    settings.callbackPort = options.callbackPort;
    settings.faults = options.faults;
    Server server(model, settings);
    if (!server.listen(&error)) {
        std::fprintf(stderr, "tqbse-emulator: %s\n", qPrintable(error));
        return 1;
    }

    if (::pipe2(stopPipe, O_CLOEXEC) != 0)
        return 1;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    printLine("tqbse-emulator listening on " + options.bind + ':' + QByteArray::number(options.port));
    server.run(stopPipe[0]);
    printLine("tqbse-emulator stopped");
    return 0;
}
