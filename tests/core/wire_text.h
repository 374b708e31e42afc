// Tokens written out independently of the codec, so that tests compare the
// library's request text with text built another way.
#pragma once

#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace tqbse::test {

inline QByteArray hexOf(const void* p, std::size_t n)
{
    QByteArray out;
    const auto* b = static_cast<const unsigned char*>(p);
    for (std::size_t i = 0; i < n; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", b[i]);
        out.append(pair, 2);
    }
    return out;
}

inline QByteArray intToken(int32_t v) { return "(n=" + hexOf(&v, 4) + ")"; }
inline QByteArray floatToken(float v) { return "(f=" + hexOf(&v, 4) + ")"; }
inline QByteArray doubleToken(double v) { return "(d=" + hexOf(&v, 8) + ")"; }
inline QByteArray textToken(const char* s) { return s ? "(s=" + QByteArray(s) + ")" : QByteArray("(s=NULL)"); }

} // namespace tqbse::test
