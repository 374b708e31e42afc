// The emulator's reason for a refused call, read back from the library's
// call trace: the emulator sends it as a text token after a negative
// result, and the trace holds every reply's bytes. The tool writes a trace
// of its own for this (a private file, removed at the end) unless the user
// asked for one (--trace FILE or TQBSE_TRACE), which it then reads instead.
#pragma once

#include <string>
#include <string_view>

namespace tqbse::cli {

class ServerReasons {
public:
    ServerReasons() = default;
    ServerReasons(const ServerReasons&) = delete;
    ServerReasons& operator=(const ServerReasons&) = delete;
    ~ServerReasons();

    // Before the first Initialise: picks the trace to read, or starts the
    // private one. `userTrace`: the --trace FILE, empty when none.
    void setUp(const std::string& userTrace);
    // The reason the server gave for the last call in the trace, when that
    // call is `shortName` and returned a negative result; empty otherwise.
    std::string last(std::string_view shortName) const;

private:
    std::string path_;        // the trace read back; empty when none can be (stderr, a FIFO)
    bool private_ = false;    // path_ is the tool's own file
};

// The run's reasons (one per process).
ServerReasons& serverReasons();

// The text token after a negative result in a reply ("" when there is none).
std::string reasonOfReply(std::string_view reply);

} // namespace tqbse::cli
