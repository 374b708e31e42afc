// Parsing tqbse-emulator's command line.
#include "emulator/options.h"

#include <limits>

#include "emulator/model.h"

namespace tqbse::emu {
namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool toInt(const std::string& text, int min, int max, int* out)
{
    int v = 0;
    if (!parseDecimal(text, &v) || v < min || v > max)
        return false;
    *out = v;
    return true;
}

} // namespace

bool parseDecimal(std::string_view text, int* value)
{
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    const bool negative = !text.empty() && text.front() == '-';
    if (!text.empty() && (text.front() == '+' || text.front() == '-'))
        text.remove_prefix(1);
    if (text.empty())
        return false;
    int64_t magnitude = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > int64_t(std::numeric_limits<int>::max()) + 1)
            return false;
    }
    const int64_t v = negative ? -magnitude : magnitude;
    if (v > std::numeric_limits<int>::max())
        return false;
    *value = int(v);
    return true;
}

bool parseByteCount(std::string_view text, std::size_t* bytes)
{
    int shift = 0;
    if (!text.empty() && (text.back() == 'K' || text.back() == 'M' || text.back() == 'G')) {
        shift = text.back() == 'K' ? 10 : text.back() == 'M' ? 20 : 30;
        text.remove_suffix(1);
    }
    if (text.empty() || text.size() > 19)
        return false;
    uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + uint64_t(c - '0'); // 19 digits cannot overflow
    }
    if (value > (uint64_t(std::numeric_limits<std::size_t>::max()) >> shift))
        return false;
    *bytes = std::size_t(value << shift);
    return true;
}

bool parseIpv4Address(std::string_view text, uint32_t* address)
{
    uint32_t result = 0;
    int octets = 0;
    int current = -1; // the octet being read; -1 before its first digit
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            if (current == 0)
                return false; // a leading zero
            if (current < 0) {
                if (++octets > 4)
                    return false;
                current = 0;
            }
            current = current * 10 + (c - '0');
            if (current > 255)
                return false;
        } else if (c == '.' && current >= 0 && octets < 4) {
            result = (result << 8) | uint32_t(current);
            current = -1;
        } else {
            return false;
        }
    }
    if (octets < 4 || current < 0)
        return false;
    *address = (result << 8) | uint32_t(current);
    return true;
}

std::string usageText()
{
    return std::string(
        "Usage: tqbse-emulator [options]\n"
        "Reference emulator of the plug-in server: answers the library's requests on TCP.\n"
        "\n"
        "  --bind ADDR             IPv4 address to listen on (default 127.0.0.1)\n"
        "  --port N                TCP port to listen on (default 6002)\n"
        "  --config FILE           JSON content (lists, paths, values); see docs/EMULATOR.md\n"
        "  --server-version A.B.C.D\n"
        "                          the version GetServerVersion reports (default: this\n"
        "                          program's own; --version A.B.C.D is the old spelling)\n"
        "  --trace-length N        points per trace, 0 to 1000000 (default 4096)\n"
        "  --scenario-ms N         how long an executed scenario runs (default 1500)\n"
        "  --trace                 print every request and reply, numbers decoded\n"
        "  --callback-on-scenario-end\n"
        "                          when a scenario ends, connect to the client's port 6009,\n"
        "                          send ScenarioFinished=(s=NAME) and print the answer\n"
        "  --callback-port N       port for that callback (default 6009)\n"
        "  --event-every MS NAME   every MS ms, send NAME=(n=...) with the event's number\n"
        "                          (1, 2, ... as an integer token) to the callback port of\n"
        "                          the client that connected last, and print the answer\n"
        "  --max-request-memory BYTES\n"
        "                          the memory all unfinished requests together may hold\n"
        "                          (K, M or G for KiB, MiB, GiB; at least 1M; default 2G);\n"
        "                          a request that would pass it is refused and its\n"
        "                          connection closed. One request holds at most 512M.\n"
        "\n"
        "Fault injection (each restricted to one call by --fault-call):\n"
        "  --fault-call NAME       apply the faults below only to this call (full or short name)\n"
        "  --delay-ms N            wait N ms before each reply\n"
        "  --piece-size N          send each reply in pieces of N bytes ...\n"
        "  --piece-pause-ms N      ... with N ms between them (default 20)\n"
        "  --close-after N         answer N requests on a connection, then close it on the next\n"
        "  --close-mid-reply       send half of the reply, then close the connection\n"
        "  --stall-after N         send the first N bytes of the reply (0: none), then\n"
        "                          nothing more, keeping the connection open\n"
        "  --wrong-name            reply under another function's name\n"
        "  --missing-outputs       reply with the result code alone\n"
        "  --bad-hex               break the hex digits of the first numeric output\n"
        "  --token-pieces MS       send each reply a token per write, MS ms apart (every\n"
        "                          write but the last ends in \")\")\n"
        "  --send-twice            send each reply twice, back to back\n"
        "  --endless-text          answer with result 0 and a text token that never ends\n"
        "\n"
        "Replay of a library trace (TQBSE_TRACE, docs/TRACE.md):\n"
        "  --replay FILE           answer each request with the reply recorded for it\n"
        "  --match bytes|name      match requests byte for byte (default) or by name\n"
        "  --fallback error|model  answer an unmatched request with -8 (default) or the model\n"
        "  --replay-callbacks      send the recorded callback messages at their offsets\n"
        "\n"
        "  -h, --help              show this text\n"
        "  --version               show the program's version and build\n");
}

bool parseOptions(const std::vector<std::string>& args, Options* o, std::string* error)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= args.size()) {
                *error = a + " needs a value";
                return false;
            }
            *out = args[++i];
            return true;
        };
        auto intValue = [&](int min, int max, int* out) {
            std::string v;
            if (!value(&v))
                return false;
            if (!toInt(v, min, max, out)) {
                *error = a + ": bad value '" + v + "'";
                return false;
            }
            return true;
        };
        std::string v;
        int n = 0;
        if (a == "--help" || a == "-h") {
            o->help = true;
        } else if (a == "--bind") {
            if (!value(&v))
                return false;
            uint32_t address = 0;
            if (!parseIpv4Address(v, &address)) {
                *error = "--bind: not an IPv4 address '" + v + "'";
                return false;
            }
            o->bind = v;
        } else if (a == "--port") {
            if (!intValue(1, 65535, &o->port))
                return false;
        } else if (a == "--config") {
            if (!value(&o->configFile))
                return false;
        } else if (a == "--version" && (i + 1 >= args.size() || args[i + 1].starts_with("--"))) {
            o->showVersion = true;
        } else if (a == "--server-version" || a == "--version") {
            // --version with a value is the old spelling of --server-version.
            if (a == "--version")
                o->notices.push_back("--version A.B.C.D is deprecated: use --server-version A.B.C.D");
            if (!value(&v))
                return false;
            std::vector<std::string> parts(1);
            for (const char c : v) {
                if (c == '.')
                    parts.emplace_back();
                else
                    parts.back().push_back(c);
            }
            std::array<int32_t, 4> version{};
            bool ok = parts.size() == 4;
            for (std::size_t k = 0; ok && k < 4; ++k) {
                int part = 0;
                ok = parseDecimal(parts[k], &part);
                version[k] = part;
            }
            if (!ok) {
                *error = a + ": expected A.B.C.D, got '" + v + "'";
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
        } else if (a == "--event-every") {
            if (!intValue(1, 3600000, &o->eventEveryMs) || !value(&o->eventName))
                return false;
            if (o->eventName.empty() || o->eventName.find_first_of("=()", 0) != std::string::npos
                || o->eventName.find('\0') != std::string::npos) {
                *error = a + ": bad name '" + o->eventName + "' (not empty, without '=', '(' or ')')";
                return false;
            }
        } else if (a == "--max-request-memory") {
            if (!value(&v))
                return false;
            std::size_t bytes = 0;
            if (!parseByteCount(v, &bytes) || bytes < kMinRequestMemory) {
                *error = a + ": bad value '" + v + "' (a number of bytes, at least 1M)";
                return false;
            }
            o->requestMemory = bytes;
        } else if (a == "--fault-call") {
            if (!value(&v))
                return false;
            o->faults.call = v;
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
        } else if (a == "--stall-after") {
            if (!intValue(0, 1 << 30, &o->faults.stallAfter))
                return false;
        } else if (a == "--close-mid-reply") {
            o->faults.closeMidReply = true;
        } else if (a == "--wrong-name") {
            o->faults.wrongName = true;
        } else if (a == "--missing-outputs") {
            o->faults.missingOutputs = true;
        } else if (a == "--bad-hex") {
            o->faults.badHex = true;
        } else if (a == "--token-pieces") {
            if (!intValue(0, 60000, &o->faults.tokenPauseMs))
                return false;
        } else if (a == "--send-twice") {
            o->faults.sendTwice = true;
        } else if (a == "--endless-text") {
            o->faults.endlessText = true;
        } else if (a == "--replay") {
            if (!value(&o->replay.file))
                return false;
        } else if (a == "--match" || a == "--fallback") {
            if (!value(&v))
                return false;
            const bool byName = a == "--match";
            if (v != (byName ? "bytes" : "error") && v != (byName ? "name" : "model")) {
                *error = a + ": bad value '" + v + "'";
                return false;
            }
            (byName ? o->replay.matchByName : o->replay.fallbackModel) = v == "name" || v == "model";
        } else if (a == "--replay-callbacks") {
            o->replay.callbacks = true;
        } else {
            *error = "unknown option '" + a + "' (see --help)";
            return false;
        }
    }
    return true;
}

} // namespace tqbse::emu
