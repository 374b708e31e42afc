// One-line descriptions of messages for --trace, with numbers decoded.
#pragma once

#include <string>
#include <string_view>

namespace tqbse::emu {

// "Name(n=5, d=1e+09, s[12]\"first bytes\", da[4096]{0, 1, 2, ...})": ints,
// floats and doubles decoded, texts by length and their first printable
// bytes, arrays by length and first values. Undecodable tokens are shown
// raw (shortened).
std::string describeMessage(std::string_view message);

// A number as the trace shows it: ten significant digits in the shorter of
// fixed and exponent form (as printf's "%.10g"), halfway cases rounded away
// from zero, and no sign on zero or NaN.
std::string numberText(double value);

} // namespace tqbse::emu
