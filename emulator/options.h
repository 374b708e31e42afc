// Command-line options of tqbse-emulator.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/faults.h"
#include "emulator/replay.h"
#include "emulator/request_memory.h"

namespace tqbse::emu {

struct Options {
    std::string bind = "127.0.0.1";
    int port = 6002;
    std::string configFile;
    std::optional<std::array<int32_t, 4>> version;
    std::optional<int32_t> traceLength;
    std::optional<int32_t> scenarioRunMs;
    bool trace = false;
    bool callbackOnScenarioEnd = false;
    int callbackPort = 6009;
    int eventEveryMs = 0;   // --event-every MS NAME; 0: no events
    std::string eventName;
    FaultOptions faults;
    ReplayOptions replay;
    std::size_t requestMemory = kDefaultRequestMemory; // --max-request-memory
    bool help = false;
    bool showVersion = false;          // --version alone: print the program's own
    std::vector<std::string> notices;  // lines for standard error, e.g. a deprecated spelling
};

// Parses the arguments after the program name. False with `error` set on a
// bad option or value.
bool parseOptions(const std::vector<std::string>& args, Options* options, std::string* error);
std::string usageText();

// A decimal integer: optional white space around it, an optional sign, and
// nothing else; false when it does not fit an int.
bool parseDecimal(std::string_view text, int* value);
// A number of bytes: decimal digits with an optional K, M or G (times 1024,
// 1024², 1024³); false when it is anything else or does not fit.
bool parseByteCount(std::string_view text, std::size_t* bytes);
// A dotted-quad IPv4 address, strictly: four decimal octets of at most 255
// without leading zeros (what inet_pton accepts). Host byte order.
bool parseIpv4Address(std::string_view text, uint32_t* address);

} // namespace tqbse::emu
