// Command-line options of tqbse-emulator.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

#include "emulator/faults.h"

namespace tqbse::emu {

struct Options {
    QByteArray bind = "127.0.0.1";
    int port = 6002;
    QString configFile;
    std::optional<std::array<int32_t, 4>> version;
    std::optional<int32_t> traceLength;
    std::optional<int32_t> scenarioRunMs;
    bool trace = false;
    bool callbackOnScenarioEnd = false;
    int callbackPort = 6009;
    FaultOptions faults;
    bool help = false;
};

// Parses the arguments after the program name. False with `error` set on a
// bad option or value.
bool parseOptions(const QStringList& args, Options* options, QString* error);
QString usageText();

} // namespace tqbse::emu
