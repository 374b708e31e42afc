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

} // namespace

std::string_view errorText(int32_t code)
{
    if (code < kLowestCode || code > kHighestCode)
        return {};
    return kTexts[std::size_t(code - kLowestCode)];
}

} // namespace tqbse
