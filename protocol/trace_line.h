// The lines of the library's call trace (docs/TRACE.md): one JSON object
// per line whose values are strings or integers. Strings carry bytes: every
// byte outside printable ASCII is written \u00XX, so one code point is one
// byte and any bytes come back exactly. The library writes these lines, the
// tool prints them and the emulator replays them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace tqbse {

// Appends the body of a JSON string holding `bytes` (no quotes): printable
// ASCII as itself, '"' and '\\' escaped, every other byte as \u00XX.
void appendTraceString(std::string& out, std::string_view bytes);

struct TraceLine {
    std::map<std::string, std::string, std::less<>> strings; // by key, as bytes
    std::map<std::string, int64_t, std::less<>> numbers;

    int64_t number(std::string_view key, int64_t otherwise = 0) const;
    // The bytes of a string field; empty when there is none.
    std::string_view text(std::string_view key) const;
    // "t": microseconds since the Unix epoch; "event": call, callback, connect, ...
    int64_t time() const { return number("t"); }
    std::string_view event() const { return text("event"); }
};

// Reads one line: a flat JSON object of string and integer values (a
// string may use any JSON escape; a \u escape above 00ff is refused).
// False when the line is anything else.
bool parseTraceLine(std::string_view line, TraceLine* out);

} // namespace tqbse
