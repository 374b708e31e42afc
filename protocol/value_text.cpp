// Values as the tool shows them.
#include "protocol/value_text.h"

#include <charconv>
#include <cmath>
#include <vector>

#include "protocol/trace_line.h"

namespace tqbse {
namespace {

template <typename T>
std::string shortest(T value)
{
    char text[64];
    const T magnitude = std::fabs(value);
    const bool plain = value == 0 || (magnitude >= T(1e-5) && magnitude < T(1e16));
    const auto [end, ec] = plain ? std::to_chars(text, text + sizeof text, value, std::chars_format::fixed)
                                 : std::to_chars(text, text + sizeof text, value);
    return ec == std::errc() ? std::string(text, end) : std::string("?");
}

} // namespace

std::string formatDouble(double value) { return shortest(value); }
std::string formatFloat(float value) { return shortest(value); }

std::string quotedText(std::string_view bytes, std::size_t limit)
{
    std::string shown = "\"";
    appendTraceString(shown, bytes.substr(0, limit));
    shown += '"';
    if (bytes.size() > limit)
        shown.append("… (").append(std::to_string(bytes.size())).append(" bytes)");
    return shown;
}

std::string valueText(const WireValue& value, const ShownLimits& limits)
{
    switch (value.tag()) {
    case WireTag::Int:
        return std::to_string(value.asInt());
    case WireTag::Float:
        return formatFloat(value.asFloat());
    case WireTag::Double:
        return formatDouble(value.asDouble());
    case WireTag::String:
        return value.isNull() ? "NULL" : quotedText(value.text(), limits.textBytes);
    case WireTag::DoubleArray: {
        const std::vector<double> values = value.arrayValues();
        std::string text = "[";
        text.append(std::to_string(values.size())).append(":");
        for (std::size_t k = 0; k < values.size() && k < limits.arrayValues; ++k)
            text.append(k ? ", " : " ").append(formatDouble(values[k]));
        text.append(values.size() > limits.arrayValues ? ", …]" : "]");
        return text;
    }
    case WireTag::None:
        break;
    }
    return {};
}

} // namespace tqbse
