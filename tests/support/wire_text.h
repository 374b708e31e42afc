// Tokens written out independently of the codec, so that tests compare the
// library's request text with text built another way.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace tqbse::test {

inline std::string hexOf(const void* p, std::size_t n)
{
    std::string out;
    const auto* b = static_cast<const unsigned char*>(p);
    for (std::size_t i = 0; i < n; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", b[i]);
        out.append(pair, 2);
    }
    return out;
}

inline std::string intToken(int32_t v) { return "(n=" + hexOf(&v, 4) + ")"; }
inline std::string floatToken(float v) { return "(f=" + hexOf(&v, 4) + ")"; }
inline std::string doubleToken(double v) { return "(d=" + hexOf(&v, 8) + ")"; }
inline std::string textToken(const char* s) { return s ? "(s=" + std::string(s) + ")" : std::string("(s=NULL)"); }

} // namespace tqbse::test
