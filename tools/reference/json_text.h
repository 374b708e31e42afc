// JSON string literals, shared by the tool's outputs and the reference.
#pragma once

#include <string>
#include <string_view>

namespace tqbse::reference {

// A JSON string literal; bytes above 0x7f are taken as Latin-1.
std::string jsonString(std::string_view text);

} // namespace tqbse::reference
