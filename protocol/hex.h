// Hex text: bytes to digits and back, and the kernels that check and decode
// the elements of a double array (16 hex digits and a comma each).
//
// Only the array kernels are vectorised, since a bulk reply spends its time
// there; everything else is plain code. Each kernel has its scalar twin in
// `scalar::`, compiled on every build: the unqualified name is the SSE2 form
// where the build has SSE2 and the twin otherwise, and tests run both on
// the same bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace tqbse::codec {

// An array element and its comma take this many bytes.
inline constexpr std::size_t kArrayElementStride = 17;

// Writes the two lower-case digits of each of `count` bytes at p; returns
// the end.
char* writeHex(char* p, const void* bytes, std::size_t count);
// Hex text of `count` bytes, two lower-case digits each, appended to `out`.
void appendHex(std::string& out, const void* bytes, std::size_t count);
// Decodes exactly 2*count hex digits (either case). On a bad pair the bytes
// before it are already stored and the rest untouched; a wrong length
// writes nothing.
bool hexToBytes(std::string_view text, void* destination, std::size_t count);
// The value of every byte as a hex digit (either case); 0xff for a byte
// that is not one.
inline constexpr std::array<uint8_t, 256> kHexDigitValue = [] {
    std::array<uint8_t, 256> t{};
    for (auto& v : t)
        v = 0xff;
    for (int c = '0'; c <= '9'; ++c)
        t[std::size_t(c)] = static_cast<uint8_t>(c - '0');
    for (int c = 'a'; c <= 'f'; ++c)
        t[std::size_t(c)] = static_cast<uint8_t>(c - 'a' + 10);
    for (int c = 'A'; c <= 'F'; ++c)
        t[std::size_t(c)] = static_cast<uint8_t>(c - 'A' + 10);
    return t;
}();

// The N bytes of the 2N hex digits at `digits`, all stored, with no branch
// per byte; true when every digit was valid. For a number token's few
// bytes, decoded into a scratch value first.
template <std::size_t N>
inline bool hexToBytesWhole(const char* digits, void* destination)
{
    uint8_t bytes[N];
    uint8_t bad = 0; // the table's high bits, once any digit is not one
    for (std::size_t i = 0; i < N; ++i) {
        const uint8_t hi = kHexDigitValue[static_cast<uint8_t>(digits[2 * i])];
        const uint8_t lo = kHexDigitValue[static_cast<uint8_t>(digits[2 * i + 1])];
        bad |= hi | lo;
        bytes[i] = static_cast<uint8_t>(hi << 4 | lo);
    }
    std::memcpy(destination, bytes, N);
    return (bad & 0xf0) == 0;
}

// `count` elements of 16 hex digits, separated by single commas, and
// nothing else (count > 0).
bool wellFormedElements(std::string_view elements, int32_t count);
// How many whole elements, each 16 hex digits (either case) and a comma,
// the n bytes at p begin with: the elements of an array token before its
// last, checked as they arrive (the last has no comma and is not counted).
std::size_t countCommaElements(const char* p, std::size_t n);
// Decodes `count` elements known well formed at p into destination.
void decodeElements(const char* p, int32_t count, double* destination);

namespace scalar {
bool wellFormedElements(std::string_view elements, int32_t count);
std::size_t countCommaElements(const char* p, std::size_t n);
void decodeElements(const char* p, int32_t count, double* destination);
} // namespace scalar

} // namespace tqbse::codec
