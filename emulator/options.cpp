#include "emulator/options.h"

#include <arpa/inet.h>

#include "emulator/model.h"

namespace tqbse::emu {
namespace {

bool toInt(const QString& text, int min, int max, int* out)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < min || v > max)
        return false;
    *out = v;
    return true;
}

} // namespace

QString usageText()
{
    return QStringLiteral(
        "Usage: tqbse-emulator [options]\n"
        "Reference emulator of the plug-in server: answers the library's requests on TCP.\n"
        "\n"
        "  --bind ADDR             IPv4 address to listen on (default 127.0.0.1)\n"
        "  --port N                TCP port to listen on (default 6002)\n"
        "  --config FILE           JSON content (lists, paths, values); see docs/EMULATOR.md\n"
        "  --version A.B.C.D       server version to report (default 6.0.0.0)\n"
        "  --trace-length N        points per trace, 0 to 1000000 (default 4096)\n"
        "  --scenario-ms N         how long an executed scenario runs (default 1500)\n"
        "  --trace                 print every request and reply, numbers decoded\n"
        "  --callback-on-scenario-end\n"
        "                          when a scenario ends, connect to the client's port 6009,\n"
        "                          send ScenarioFinished=(s=NAME) and print the answer\n"
        "  --callback-port N       port for that callback (default 6009)\n"
        "\n"
        "Fault injection (each restricted to one call by --fault-call):\n"
        "  --fault-call NAME       apply the faults below only to this call (full or short name)\n"
        "  --delay-ms N            wait N ms before each reply\n"
        "  --piece-size N          send each reply in pieces of N bytes ...\n"
        "  --piece-pause-ms N      ... with N ms between them (default 20)\n"
        "  --close-after N         answer N requests on a connection, then close it on the next\n"
        "  --close-mid-reply       send half of the reply, then close the connection\n"
        "  --wrong-name            reply under another function's name\n"
        "  --missing-outputs       reply with the result code alone\n"
        "  --bad-hex               break the hex digits of the first numeric output\n"
        "\n"
        "  --help                  show this text\n");
}

bool parseOptions(const QStringList& args, Options* o, QString* error)
{
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        auto value = [&](QString* out) {
            if (i + 1 >= args.size()) {
                *error = QStringLiteral("%1 needs a value").arg(a);
                return false;
            }
            *out = args[++i];
            return true;
        };
        auto intValue = [&](int min, int max, int* out) {
            QString v;
            if (!value(&v))
                return false;
            if (!toInt(v, min, max, out)) {
                *error = QStringLiteral("%1: bad value '%2'").arg(a, v);
                return false;
            }
            return true;
        };
        QString v;
        int n = 0;
        if (a == "--help" || a == "-h") {
            o->help = true;
        } else if (a == "--bind") {
            if (!value(&v))
                return false;
            in_addr addr{};
            if (inet_pton(AF_INET, v.toLatin1().constData(), &addr) != 1) {
                *error = QStringLiteral("--bind: not an IPv4 address '%1'").arg(v);
                return false;
            }
            o->bind = v.toLatin1();
        } else if (a == "--port") {
            if (!intValue(1, 65535, &o->port))
                return false;
        } else if (a == "--config") {
            if (!value(&o->configFile))
                return false;
        } else if (a == "--version") {
            if (!value(&v))
                return false;
            const QStringList parts = v.split('.');
            std::array<int32_t, 4> version{};
            bool ok = parts.size() == 4;
            for (int k = 0; ok && k < 4; ++k)
                version[std::size_t(k)] = parts[k].toInt(&ok);
            if (!ok) {
                *error = QStringLiteral("--version: expected A.B.C.D, got '%1'").arg(v);
                return false;
            }
            o->version = version;
        } else if (a == "--trace-length") {
            if (!intValue(0, kMaxTraceLength, &n))
                return false;
            o->traceLength = n;
        } else if (a == "--scenario-ms") {
            if (!intValue(0, 3600000, &n))
                return false;
            o->scenarioRunMs = n;
        } else if (a == "--trace") {
            o->trace = true;
        } else if (a == "--callback-on-scenario-end") {
            o->callbackOnScenarioEnd = true;
        } else if (a == "--callback-port") {
            if (!intValue(1, 65535, &o->callbackPort))
                return false;
        } else if (a == "--fault-call") {
            if (!value(&v))
                return false;
            o->faults.call = v.toLatin1();
        } else if (a == "--delay-ms") {
            if (!intValue(0, 600000, &o->faults.delayMs))
                return false;
        } else if (a == "--piece-size") {
            if (!intValue(1, 1 << 30, &o->faults.pieceSize))
                return false;
        } else if (a == "--piece-pause-ms") {
            if (!intValue(0, 60000, &o->faults.piecePauseMs))
                return false;
        } else if (a == "--close-after") {
            if (!intValue(0, 1 << 30, &o->faults.closeAfter))
                return false;
        } else if (a == "--close-mid-reply") {
            o->faults.closeMidReply = true;
        } else if (a == "--wrong-name") {
            o->faults.wrongName = true;
        } else if (a == "--missing-outputs") {
            o->faults.missingOutputs = true;
        } else if (a == "--bad-hex") {
            o->faults.badHex = true;
        } else {
            *error = QStringLiteral("unknown option '%1' (see --help)").arg(a);
            return false;
        }
    }
    return true;
}

} // namespace tqbse::emu
