// The parenthesis scanner: token ends, the bulk parenthesis count, and the
// cut of a message into name and tokens.
#include "protocol/scanner.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tqbse::codec {
namespace {

#if defined(__SSE2__)
inline __m128i load16(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// Whether 64 bytes hold a "(" or ")", or (with `kZeros`) a zero byte. "("
// and ")" differ in their lowest bit only: clearing it and taking "(" away
// leaves 0 for either, and the minimum over the block is 0 only then (or
// at a zero byte, when the bytes themselves are taken into it).
template <bool kZeros>
inline bool blockHasEvent(const char* p)
{
    const __m128i lowBit = _mm_set1_epi8(char(0xfe));
    const __m128i open = _mm_set1_epi8('(');
    __m128i low = _mm_set1_epi8(char(0xff));
    for (int k = 0; k < 64; k += 16) {
        const __m128i v = load16(p + k);
        low = _mm_min_epu8(low, _mm_xor_si128(_mm_and_si128(v, lowBit), open));
        if constexpr (kZeros)
            low = _mm_min_epu8(low, v);
    }
    return _mm_movemask_epi8(_mm_cmpeq_epi8(low, _mm_setzero_si128())) != 0;
}

// The first 64-byte block from data[i] on that holds such a byte, or the
// offset where fewer than 64 bytes are left before `end`.
template <bool kZeros>
std::size_t skipQuietBlocks(const char* data, std::size_t i, std::size_t end)
{
    while (end - i >= 64 && !blockHasEvent<kZeros>(data + i))
        i += 64;
    return i;
}
#endif

// countParentheses with vector blocks (kVector, where the build has SSE2)
// or without.
template <bool kVector>
std::size_t count(std::string_view text, std::size_t from, unsigned stops, int64_t* depth, std::size_t* close)
{
    const char* data = text.data();
    const std::size_t end = text.size();
    const bool zeros = (stops & kStopAtZero) != 0;
    int64_t d = *depth;
    std::size_t closed = *close;
    std::size_t i = from;
    // One window of `length` (up to 16) bytes at i, as bit masks; false when
    // the count ends in it.
    const auto window = [&](unsigned opens, unsigned closes, unsigned nul, std::size_t length) {
        bool more = true;
        if (nul != 0) {
            length = std::size_t(std::countr_zero(nul));
            opens &= (1u << length) - 1;
            closes &= (1u << length) - 1;
            more = false;
        }
        if (closes == 0 || closed != 0 || d > 16) {
            d += std::popcount(opens) - std::popcount(closes);
        } else {
            for (unsigned events = opens | closes; events != 0; events &= events - 1) {
                const int k = std::countr_zero(events);
                if (opens >> k & 1u) {
                    ++d;
                } else if (--d == 0 && closed == 0) {
                    closed = i + std::size_t(k) + 1;
                    if (stops & kStopAtClose) {
                        i = closed;
                        return false;
                    }
                }
            }
        }
        i += length;
        return more;
    };
    bool more = true;
#if defined(__SSE2__)
    if constexpr (kVector) {
        const __m128i open = _mm_set1_epi8('(');
        const __m128i shut = _mm_set1_epi8(')');
        const __m128i zero = _mm_setzero_si128();
        while (more && end - i >= 64) {
            i = zeros ? skipQuietBlocks<true>(data, i, end) : skipQuietBlocks<false>(data, i, end);
            if (end - i < 64)
                break;
            for (int k = 0; k < 4 && more; ++k) {
                const __m128i v = load16(data + i);
                const auto bits = [&](__m128i c) { return unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, c))); };
                more = window(bits(open), bits(shut), zeros ? bits(zero) : 0u, 16);
            }
        }
    }
#endif
    while (more && i < end) {
        const std::size_t length = std::min<std::size_t>(16, end - i);
        unsigned opens = 0, closes = 0, nul = 0;
        for (std::size_t k = 0; k < length; ++k) {
            opens |= unsigned(data[i + k] == '(') << k;
            closes |= unsigned(data[i + k] == ')') << k;
            nul |= unsigned(zeros && data[i + k] == 0) << k;
        }
        more = window(opens, closes, nul, length);
    }
    *depth = d;
    *close = closed;
    return i;
}

// Position of the first `c`, or -1.
inline int64_t indexOf(std::string_view text, char c)
{
    const std::size_t at = text.find(c);
    return at == std::string_view::npos ? -1 : int64_t(at);
}

} // namespace

std::string_view textBeforeZero(std::string_view chunk)
{
    const void* zero = std::memchr(chunk.data(), 0, chunk.size());
    return zero ? chunk.substr(0, std::size_t(static_cast<const char*>(zero) - chunk.data())) : chunk;
}

std::size_t countParentheses(std::string_view text, std::size_t from, unsigned stops, int64_t* depth,
                             std::size_t* close)
{
    return count<true>(text, from, stops, depth, close);
}

std::size_t scalar::countParentheses(std::string_view text, std::size_t from, unsigned stops, int64_t* depth,
                                     std::size_t* close)
{
    return count<false>(text, from, stops, depth, close);
}

TokenBounds findTokenEnd(std::string_view text)
{
    const void* open = text.empty() ? nullptr : std::memchr(text.data(), '(', text.size());
    const std::size_t start = open ? std::size_t(static_cast<const char*>(open) - text.data()) + 1 : 0;
    // From just after the first "(" (or from the start when there is none)
    // at depth 1, to its first return to 0.
    int64_t depth = 1;
    std::size_t close = 0;
    countParentheses(text, start, kStopAtClose, &depth, &close);
    if (close == 0)
        return {-1, -1};
    return {int64_t(start), int64_t(close)};
}

void splitMessage(std::string_view message, SplitMessage* out)
{
    out->params.clear();
    out->params.reserve(8); // one allocation for any ordinary reply
    const int64_t eq = indexOf(message, '=');
    std::string_view rest = message;
    if (eq >= 0) {
        out->name = message.substr(0, std::size_t(eq));
        rest = message.substr(std::size_t(eq + 1));
    } else {
        out->name = message;
    }
    for (;;) {
        const TokenBounds b = findTokenEnd(rest);
        if (b.end < 0)
            break;
        out->params.push_back(rest.substr(0, std::size_t(b.end)));
        rest = rest.substr(std::size_t(b.end));
    }
}

SplitMessage splitMessage(std::string_view message)
{
    SplitMessage out;
    splitMessage(message, &out);
    return out;
}

} // namespace tqbse::codec
