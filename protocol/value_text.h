// A value as text, as the tool shows it: the one formatting shared by the
// tool's printing of outputs and its decoding of a call trace.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/wire_value.h"

namespace tqbse {

// The shortest text that reads back as the same number: plain digits for
// everyday magnitudes (frequencies read 1950000000, not 1.95e+09), the
// exponent form for the very large and very small.
std::string formatDouble(double value);
std::string formatFloat(float value);

// How much of a long text or array is shown; the rest is summarised.
struct ShownLimits {
    std::size_t textBytes = SIZE_MAX;
    std::size_t arrayValues = SIZE_MAX;
};

// Bytes in double quotes, escaped as in a trace line; cut after
// `limit` bytes with the whole length said: "abc"… (812 bytes).
std::string quotedText(std::string_view bytes, std::size_t limit = SIZE_MAX);

// A value as text: an integer in decimal, a float or double by
// formatDouble, a text quoted (quotedText), NULL for the null text, an
// array as its count and values, "[812: 1, 2.5, 3, …]"; empty for None.
std::string valueText(const WireValue& value, const ShownLimits& limits = {});

} // namespace tqbse
