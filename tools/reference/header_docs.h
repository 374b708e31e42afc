// The public header's declarations of the exports, each with its comment,
// grouped by family: the part of include/tqBsePluginControlDll.h between
// its BEGIN and END GENERATED EXPORTS lines.
#pragma once

#include <string>

namespace tqbse::reference {

inline constexpr const char* kHeaderBegin = "/* BEGIN GENERATED EXPORTS */\n";
inline constexpr const char* kHeaderEnd = "/* END GENERATED EXPORTS */\n";

std::string headerExports();

// The session header's declarations of the session twins: the part of
// include/tqbse_session.h between its BEGIN and END GENERATED SESSION
// EXPORTS lines.
inline constexpr const char* kSessionHeaderBegin = "/* BEGIN GENERATED SESSION EXPORTS */\n";
inline constexpr const char* kSessionHeaderEnd = "/* END GENERATED SESSION EXPORTS */\n";
std::string sessionHeaderExports();

// The words of text in lines of at most `width` characters, the first
// starting with `first`, the others with `next`; each line ends in '\n'.
std::string wrapText(const std::string& text, std::size_t width, const std::string& first, const std::string& next);

} // namespace tqbse::reference
