// The version of everything built from this tree, as text, and the line a
// program prints for --version.
#pragma once

#include <tqBsePluginControlDll.h>

#include <string>
#include <string_view>

namespace tqbse {

// "6.0.0.0": the public header's TQBSE_VERSION_* (the version the library
// compares with the server's).
inline std::string versionText()
{
    return std::to_string(TQBSE_VERSION_MAJOR) + "." + std::to_string(TQBSE_VERSION_MINOR) + "." +
           std::to_string(TQBSE_VERSION_PATCH) + "." + std::to_string(TQBSE_VERSION_BUILD);
}

// "tqbse 6.0.0.0 (Release build, GNU 12.2.0, Linux x86_64)". `build` is
// the program's TQBSE_BUILD_TEXT, which cmake/program_info.cmake defines.
inline std::string programVersionLine(std::string_view program, std::string_view build)
{
    return std::string(program) + " " + versionText() + " (" + std::string(build) + ")\n";
}

} // namespace tqbse
