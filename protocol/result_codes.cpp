// The text of every result code, from the one list of codes.
#include "protocol/result_codes.h"

#include <array>

namespace tqbse {
namespace {

// Texts indexed by code - kLowestCode, built from the one list.
constexpr auto makeTexts()
{
    std::array<std::string_view, kHighestCode - kLowestCode + 1> texts{};
#define TQ_RESULT_TEXT(name, value, header, text) texts[std::size_t((value) - kLowestCode)] = text;
    TQ_RESULT_CODES(TQ_RESULT_TEXT)
#undef TQ_RESULT_TEXT
    return texts;
}
constexpr auto kTexts = makeTexts();

constexpr auto makeNames()
{
    std::array<std::string_view, kHighestCode - kLowestCode + 1> names{};
#define TQ_RESULT_NAME(name, value, header, text) names[std::size_t((value) - kLowestCode)] = #header;
    TQ_RESULT_CODES(TQ_RESULT_NAME)
#undef TQ_RESULT_NAME
    return names;
}
constexpr auto kNames = makeNames();

} // namespace

std::string_view errorText(int32_t code)
{
    if (code < kLowestCode || code > kHighestCode)
        return {};
    return kTexts[std::size_t(code - kLowestCode)];
}

std::string_view resultName(int32_t code)
{
    if (code < kLowestCode || code > kHighestCode)
        return {};
    const std::string_view name = kNames[std::size_t(code - kLowestCode)];
    return name.starts_with("TQBSE_") ? name : std::string_view(); // -15 has no constant
}

} // namespace tqbse
