// The public header's declarations of the exports, each with its comment,
// grouped by family: the part of include/tqBsePluginControlDll.h between
// its BEGIN and END GENERATED EXPORTS lines.
#pragma once

#include <string>

namespace tqbse::reference {

inline constexpr const char* kHeaderBegin = "/* BEGIN GENERATED EXPORTS */\n";
inline constexpr const char* kHeaderEnd = "/* END GENERATED EXPORTS */\n";

std::string headerExports();

// The words of text in lines of at most `width` characters, the first
// starting with `first`, the others with `next`; each line ends in '\n'.
std::string wrapText(const std::string& text, std::size_t width, const std::string& first, const std::string& next);

} // namespace tqbse::reference
