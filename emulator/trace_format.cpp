// One-line descriptions of messages for --trace.
#include "emulator/trace_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

#include "protocol/codec.h"

namespace tqbse::emu {
namespace {

constexpr std::size_t kTextShown = 24;
constexpr int32_t kArrayShown = 3;
constexpr int kSignificantDigits = 10;

std::string printable(std::string_view text, std::size_t limit)
{
    std::string out;
    for (std::size_t i = 0; i < text.size() && i < limit; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        out.push_back(c >= 0x20 && c < 0x7f && c != '"' ? char(c) : '.');
    }
    if (text.size() > limit)
        out.append("...");
    return out;
}

std::string describeToken(std::string_view token)
{
    if (token.starts_with("(n=")) {
        int32_t v = 0;
        if (codec::decodeInt(token, &v) == kSuccess)
            return "n=" + std::to_string(v);
    } else if (token.starts_with("(f=")) {
        float v = 0;
        if (codec::decodeFloat(token, &v) == kSuccess)
            return "f=" + numberText(v);
    } else if (token.starts_with("(d=")) {
        double v = 0;
        if (codec::decodeDouble(token, &v) == kSuccess)
            return "d=" + numberText(v);
    } else if (token.starts_with("(s=")) {
        codec::DecodedString s;
        if (codec::decodeString(token, &s) == kSuccess)
            return s.isNull ? std::string("s=NULL")
                            : "s[" + std::to_string(s.text.size()) + "]\"" + printable(s.text, kTextShown) + '"';
    } else if (token.starts_with("(da=")) {
        codec::DoubleArrayView view;
        if (codec::parseDoubleArray(token, &view) == kSuccess) {
            // Decode only the values shown, however long the array.
            const codec::DoubleArrayView head{std::min(view.count, kArrayShown), view.elements};
            std::vector<double> values(std::size_t(head.count));
            head.copyTo(values.data());
            std::string out = "da[" + std::to_string(view.count) + "]{";
            for (std::size_t i = 0; i < values.size(); ++i)
                out += (i ? ", " : "") + numberText(values[i]);
            if (view.count > kArrayShown)
                out += ", ...";
            return out + '}';
        }
    }
    return "raw[" + std::to_string(token.size()) + "]\"" + printable(token, kTextShown) + '"';
}

} // namespace

std::string numberText(double value)
{
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    if (value == 0)
        return "0";
    // The exact decimal expansion (a double has at most 767 significant
    // digits), then rounded by hand: to_chars rounds halfway cases to even.
    char exact[800];
    const std::to_chars_result r =
        std::to_chars(exact, exact + sizeof exact, std::fabs(value), std::chars_format::scientific, 770);
    const std::string_view text(exact, std::size_t(r.ptr - exact)); // d.ddd...e[+-]XX
    const std::size_t e = text.find('e');
    int exponent = 0;
    std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(), exponent);
    std::string digits(1, text[0]);
    digits.append(text.substr(2, e - 2)); // every significant digit, no point
    std::string kept = digits.substr(0, kSignificantDigits);
    if (digits.size() > std::size_t(kSignificantDigits) && digits[kSignificantDigits] >= '5') {
        int i = kSignificantDigits - 1;
        for (; i >= 0 && kept[std::size_t(i)] == '9'; --i)
            kept[std::size_t(i)] = '0';
        if (i >= 0) {
            ++kept[std::size_t(i)];
        } else {
            kept.insert(kept.begin(), '1');
            kept.pop_back();
            ++exponent;
        }
    }
    while (kept.size() > 1 && kept.back() == '0')
        kept.pop_back();

    std::string out = value < 0 ? "-" : "";
    if (exponent < -4 || exponent >= kSignificantDigits) {
        out += kept[0];
        if (kept.size() > 1)
            out += '.' + kept.substr(1);
        out += exponent < 0 ? "e-" : "e+";
        const int magnitude = std::abs(exponent);
        if (magnitude < 10)
            out += '0';
        out += std::to_string(magnitude);
    } else if (exponent < 0) {
        out += "0." + std::string(std::size_t(-exponent - 1), '0') + kept;
    } else if (kept.size() <= std::size_t(exponent) + 1) {
        out += kept + std::string(std::size_t(exponent) + 1 - kept.size(), '0');
    } else {
        out += kept.substr(0, std::size_t(exponent) + 1) + '.' + kept.substr(std::size_t(exponent) + 1);
    }
    return out;
}

std::string describeMessage(std::string_view message)
{
    const codec::SplitMessage split = codec::splitMessage(message);
    std::string out = printable(split.name, 96);
    out.push_back('(');
    for (std::size_t i = 0; i < split.params.size(); ++i) {
        if (i)
            out.append(", ");
        out.append(describeToken(split.params[i]));
    }
    out.push_back(')');
    return out;
}

} // namespace tqbse::emu
