// Command-line options, and one call of an export: typed arguments in,
// outputs fetched into buffers sized by the matching length query.
#pragma once

#include "calls.h"
#include "protocol/call_frame.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace tqbse::cli {

// Exit codes of the tool.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;       // the call returned a negative code
inline constexpr int kExitUsage = 2;        // bad input; the server was not contacted
inline constexpr int kExitUnreachable = 3;  // no connection to the server
inline constexpr int kExitTimedOut = 4;     // no complete reply within --timeout

struct Options {
    std::string server = "127.0.0.1";
    std::array<int32_t, 4> octets{127, 0, 0, 1};
    bool json = false;
    bool csv = false;
    std::string file;  // an upload's content
    std::string out;   // where a download's text goes
    std::string trace; // the library's call trace (TQBSE_TRACE)
    int timeoutMs = 0; // reply deadline (TQBSE_REPLY_TIMEOUT_MS), 0 for none
    bool help = false;     // -h, --help
    bool version = false;  // --version
};

struct Command {
    Options options;
    std::vector<std::string> words;  // the command or call name, then its arguments
};

// "A.B.C.D" with every octet 0..255.
std::optional<std::array<int32_t, 4>> parseAddress(std::string_view text);
// Options may stand anywhere; "--" ends them (so that "-5" is always a value).
// Returns a one-line message on bad usage.
std::optional<std::string> parseCommandLine(const std::vector<std::string>& argv, Command* command);

struct CallResult {
    explicit CallResult(const CliCall& c) : call(&c), frame(*c.desc) {}
    const CliCall* call;
    int32_t code = 0;
    std::string failedStep;  // the size query's name when that query failed
    std::string serverReason; // why the emulator refused, when it said so
    CallFrame frame;         // the call's values; the outputs as the call wrote them
};

class Invocation {
public:
    // Checks and converts the typed arguments; nothing is sent. Returns a
    // one-line message naming the expected arguments on bad input.
    static std::optional<std::string> prepare(const CliCall& call, const std::vector<std::string>& args,
                                              const Options& options, Invocation* out);
    // Sizes text and trace outputs by their length query, then calls.
    CallResult run() const;
    // The text inputs whose parentheses do not pair up: the server takes a
    // message's tokens apart by pairing parentheses, so such a text reaches
    // it cut or mixed with the next token.
    std::vector<std::string> unbalancedTexts() const;

    const CliCall& call() const { return *call_; }

private:
    int32_t callOnce(CallResult* result, int32_t size) const;
    int32_t querySize(int32_t* size) const;

    const CliCall* call_ = nullptr;
    std::vector<std::string> args_;   // as typed, for the size query
    std::optional<CallFrame> inputs_; // the typed inputs, converted
};

// The text of a result code, through the library ("" if it has none).
std::string errorText(int32_t code);

// Connects to options.octets; the library's -14 when unreachable. With
// `timedOut`, tells whether a -14 came from a server that took the
// connection but did not answer within --timeout.
int32_t connectServer(const Options& options, bool* timedOut = nullptr);

// Reads a whole file for --file (bounded size); nullopt with a message.
std::optional<std::string> readFile(const std::string& path, std::string* error);

} // namespace tqbse::cli
